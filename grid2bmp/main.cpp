// grid2bmp: turns map text back into an 8-bit BMP picture, or an 8-bit
// indexed PNG, that any viewer or paint program opens, or a Tiled map (TMX
// or TMJ) with its tile sheet beside it; converting that picture with
// bmp2grid in the same mode gives back the same map text.
//
// Exit status 0 when the picture was written, 1 for every failure, each
// failure named by one line (where OutputTarget says messages go).
#include <string>

#include "batch_run.h"
#include "convert_map.h"
#include "diagnostics.h"
#include "grid_command_line.h"
#include "platform.h"
#include "program_entry.h"
#include "run_files.h"

int ProgramMain(int argc, char** argv) {
    using namespace bmp2grid;
    platform::KeepStandardStreamsOpen();
    platform::ReportWriteFailuresAsErrors();

    // Parse.
    const ParsedArguments<GridArgs> parsed = ParseGridArguments(argc, argv);
    switch (parsed.action) {
        case ParsedArguments<GridArgs>::Action::Convert:
            break;
        case ParsedArguments<GridArgs>::Action::ShowUsage:
            platform::PrintToConsole(GridUsageLine(argc > 0 ? argv[0] : nullptr));
            return parsed.exitStatus;
        case ParsedArguments<GridArgs>::Action::ShowHelp:
            platform::PrintToConsole(GridHelpText(argc > 0 ? argv[0] : nullptr));
            return 0;
        case ParsedArguments<GridArgs>::Action::ShowVersion:
            platform::PrintToConsole(VersionLine("grid2bmp"));
            return 0;
    }
    if (parsed.batch.batch() || parsed.batch.watch) {
        BatchRules rules;
        rules.outputExtension = ExtensionOf(parsed.args.format);
        rules.takes = [](const std::string& path) { return IsMapTextName(path); };
        const ConvertJob convert = [&](const BatchJob& job, MessageLines& lines) {
            GridArgs args = parsed.args;
            args.mapPath = job.input;
            args.outputPath = job.output;
            return ConvertMap(args, lines);
        };
        return RunFiles(parsed.batch, {parsed.args.mapPath, parsed.args.outputPath}, rules, convert);
    }
    ConsoleLines console;
    return ConvertMap(parsed.args, console) ? 0 : 1;
}
