// bmp2grid: converts an 8-bit palettized BMP picture into map text.
//
// This is the only place that prints or chooses the exit status: 0 when the
// map was written, 1 for every failure, each failure named by one line on
// standard output.
#include <string>

#include "bitmap_loader.h"
#include "command_line.h"
#include "map_writer.h"
#include "platform.h"

namespace {

using bmp2grid::platform::PrintToConsole;

void PrintUsage(const char* programName) { PrintToConsole(bmp2grid::UsageLine(programName)); }

int Fail(const std::string& line) {
    PrintToConsole(line);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    using namespace bmp2grid;
    platform::ReportWriteFailuresAsErrors();
    const ParsedCommandLine parsed = ParseArguments(argc, argv);
    if (parsed.action == ParsedCommandLine::Action::ShowUsage) {
        PrintUsage(argc > 0 ? argv[0] : nullptr);
        return parsed.exitStatus;
    }
    const ConverterArgs& args = parsed.args;

    LoadResult loaded = LoadBitmap(args.inputPath);
    if (loaded.status != LoadStatus::Ok) return Fail(LoadFailureMessage(loaded, args.inputPath));
    const BitmapImage& image = loaded.image;

    // The output is created only now that the input has been checked in
    // full, so a rejected picture never touches an existing map.
    platform::OutputFile output;
    if (output.Open(args.outputPath) != platform::OutputFile::OpenStatus::Ok) {
        return Fail("Can't open " + args.outputPath + "\n");
    }
    const std::string cantWrite = "Can't write " + args.outputPath + "\n";
    if (!WriteMapHeader(output, image, args.mode)) return Fail(cantWrite);
    PrintToConsole(SizeReport(image));
    switch (WriteMapRows(output, image, args.mode)) {
        case MapWriteStatus::Ok:
            break;
        case MapWriteStatus::OutputFailed:
            return Fail(cantWrite);
        case MapWriteStatus::InputFailed:
            // The picture's file shrank or failed while it was being read.
            return Fail("Can't convert " + args.inputPath + ": pixel data could not be read\n");
    }
    // Close the input before the output takes its place: the output may
    // replace the input itself, which Windows refuses while it is open.
    loaded.image.file.reset();
    if (!output.Commit()) return Fail(cantWrite);
    return 0;
}
