// bmp2grid: converts an 8-bit palettized BMP picture, an indexed or 8-bit
// grey PNG, or a Tiled map (TMX or TMJ), into map text.
//
// This is the only place that prints or chooses the exit status: 0 when the
// map was written, 1 for every failure, each failure named by one line
// (where OutputTarget says messages go).
#include <string>

#include "batch_run.h"

#include "command_line.h"
#include "convert_picture.h"
#include "diagnostics.h"
#include "picture_loader.h"
#include "platform.h"
#include "run_files.h"
#include "program_entry.h"

int ProgramMain(int argc, char** argv) {
    using namespace bmp2grid;
    platform::KeepStandardStreamsOpen();
    platform::ReportWriteFailuresAsErrors();

    // Parse.
    const ParsedCommandLine parsed = ParseArguments(argc, argv);
    const char* program = argc > 0 ? argv[0] : nullptr;
    switch (parsed.action) {
        case ParsedCommandLine::Action::Convert:
            break;
        case ParsedCommandLine::Action::ShowUsage:
            platform::PrintToConsole(UsageLine(program));
            return parsed.exitStatus;
        case ParsedCommandLine::Action::ShowHelp:
            platform::PrintToConsole(HelpText(program));
            return 0;
        case ParsedCommandLine::Action::ShowVersion:
            platform::PrintToConsole(VersionLine("bmp2grid"));
            return 0;
    }
    if (parsed.batch.batch() || parsed.batch.watch) {
        BatchRules rules;
        rules.outputExtension = "txt";
        rules.takes = [](const std::string& path) { return LooksLikePicture(path); };
        const ConvertJob convert = [&](const BatchJob& job, MessageLines& lines) {
            ConverterArgs args = parsed.args;
            args.inputPath = job.input;
            args.outputPath = job.output;
            return ConvertPicture(args, lines);
        };
        return RunFiles(parsed.batch, {parsed.args.inputPath, parsed.args.outputPath}, rules, convert);
    }
    ConsoleLines console;
    return ConvertPicture(parsed.args, console) ? 0 : 1;
}
