// bmp2grid: converts an 8-bit palettized BMP picture, or an indexed or 8-bit
// grey PNG, into map text.
//
// This is the only place that prints or chooses the exit status: 0 when the
// map was written, 1 for every failure, each failure named by one line on
// standard output (on standard error from the moment the output is opened,
// if the output is where standard output goes).
#include <string>

#include "bitmap_loader.h"
#include "command_line.h"
#include "map_writer.h"
#include "messages.h"
#include "palette_file.h"
#include "palette_match.h"
#include "picture_loader.h"
#include "platform.h"
#include "program_entry.h"

int ProgramMain(int argc, char** argv) {
    using namespace bmp2grid;
    platform::KeepStandardStreamsOpen();
    platform::ReportWriteFailuresAsErrors();
    Messages messages;
    const ParsedCommandLine parsed = ParseArguments(argc, argv);
    if (parsed.action == ParsedCommandLine::Action::ShowUsage) {
        messages.Print(UsageLine(argc > 0 ? argv[0] : nullptr));
        return parsed.exitStatus;
    }
    if (parsed.action == ParsedCommandLine::Action::ShowHelp) {
        messages.Print(HelpText(argc > 0 ? argv[0] : nullptr));
        return 0;
    }
    if (parsed.action == ParsedCommandLine::Action::ShowVersion) {
        messages.Print(VersionLine("bmp2grid"));
        return 0;
    }
    const ConverterArgs& args = parsed.args;
    // An output name that can never work is refused before any conversion work.
    if (!platform::OutputPathIsPossible(OutputPathToOpen(args.outputPath))) return messages.Fail("Can't open " + args.outputPath + "\n");

    const bool remap = args.palettePath.has_value();
    const std::string palettePath = args.palettePath.value_or("");
    PaletteResult reference;
    if (remap) {
        reference = ReadPalette(InputPathToOpen(palettePath), palettePath);
        if (!reference.ok()) return messages.Fail(PaletteFailureMessage(reference, palettePath));
    }
    // With a reference palette, each index's value comes from the two
    // palettes, and every pixel is checked before any of the map leaves: an
    // output replaced once complete is opened first and the pixels are
    // checked as the map is written to its temporary file, so the picture
    // is read once; one written directly (a device, a pipe, standard output)
    // is opened only once every pixel is checked, in a pass of its own, so a
    // PNG's rows are then decoded into memory to be read twice.
    platform::OutputFile replaced;
    platform::OutputFile direct;
    platform::OutputFile* output = &replaced;
    const std::string outputPath = OutputPathToOpen(args.outputPath);
    platform::OutputFile::OpenStatus opened = platform::OutputFile::OpenStatus::Ok;
    LoadOptions options;
    if (remap) {
        opened = replaced.Open(outputPath, platform::OutputFile::Targets::ReplacedOnly);
        options.decodePngWhole = opened == platform::OutputFile::OpenStatus::Direct;
    }
    LoadResult loaded = LoadPicture(InputPathToOpen(args.inputPath), options);
    if (!loaded.ok()) return messages.Fail(LoadFailureMessage(loaded, args.inputPath));
    const Picture& image = loaded.picture;
    PaletteMatch match;
    if (remap) match = MatchColours(image, reference.colours, reference.size);

    // Without a reference palette the output is created only now that the
    // input has been checked in full, so a rejected picture never touches
    // an existing map.
    if (!remap) opened = replaced.Open(outputPath);
    if (opened == platform::OutputFile::OpenStatus::Direct) {
        CheckPixels(image, match);
        if (!match.ok()) return messages.Fail(PaletteMatchFailureMessage(match, args.inputPath, palettePath));
        output = &direct;
        opened = direct.Open(outputPath);
    }
    messages.Follow(*output);
    if (opened != platform::OutputFile::OpenStatus::Ok) return messages.Fail("Can't open " + args.outputPath + "\n");
    const std::string cantWrite = "Can't write " + args.outputPath + "\n";
    if (!WriteMapHeader(*output, image, args.mode)) return messages.Fail(cantWrite);
    // With a reference palette the size report waits until every pixel has
    // been checked.
    if (!remap) messages.Print(SizeReport(image));
    PixelCheck check(image, match);
    const MapWriteResult written =
        remap ? WriteMapRows(*output, image, args.mode, match.values, output == &replaced ? &check : nullptr)
              : WriteMapRows(*output, image, args.mode);
    switch (written.status) {
        case MapWriteStatus::Ok:
            break;
        case MapWriteStatus::OutputFailed:
            return messages.Fail(cantWrite);
        case MapWriteStatus::InputFailed:
            // The picture's file shrank or failed while it was being read,
            // or a PNG's rows turned out faulty as they were decoded.
            return messages.Fail(RowsFailureMessage(written.input, args.inputPath));
        case MapWriteStatus::NoMemory:
            // Memory for the output blocks or the row window ran out.
            return messages.Fail("Can't convert " + args.inputPath + ": not enough memory\n");
        case MapWriteStatus::Refused:
            // A pixel the reference palette can't place; the output is
            // left as it was.
            return messages.Fail(PaletteMatchFailureMessage(match, args.inputPath, palettePath));
    }
    if (remap) messages.Print(SizeReport(image));
    // Close the input before the output takes its place: the output may
    // replace the input itself, which Windows refuses while it is open.
    loaded.picture.pixels.reset();
    if (!output->Commit()) return messages.Fail(cantWrite);
    return 0;
}
