#include "convert_picture.h"

#include <string>

#include "diagnostics.h"
#include "map_writer.h"
#include "output_target.h"
#include "palette_file.h"
#include "palette_match.h"
#include "picture_loader.h"
#include "platform.h"

namespace bmp2grid {

bool ConvertPicture(const ConverterArgs& args, MessageLines& lines) {

    // Plan the output. A name that can never work is refused before any
    // conversion work. An output replaced through a temporary file is
    // opened by Prepare() (the previous file stays whole until the map is
    // complete); one written directly (a device, a pipe, standard output)
    // only once the picture has been checked in full, so a refused picture
    // never touches an existing map. An output that can't be made is named
    // only after the picture's own faults.
    OutputTarget output(args.outputPath, &lines);
    if (!output.Possible()) return output.Fail(CantOpenMessage(args.outputPath));
    const bool remap = args.palettePath.has_value();
    const std::string palettePath = args.palettePath.value_or("");
    PaletteResult reference;
    if (remap) {
        reference = ReadPalette(InputPathToOpen(palettePath), palettePath);
        if (!reference.ok()) return output.Fail(PaletteFailureMessage(reference, palettePath));
        // How the picture is loaded depends on how the output is written.
        output.Prepare();
    }

    // Load. With a reference palette, every pixel is checked before any of
    // the map leaves: as the map is written to a replaced output's temporary
    // file, so the picture is read once; for a direct output, in a pass of
    // its own before the output is opened, so a PNG's rows are then decoded
    // into memory to be read twice. Without one, the output is prepared only
    // once the picture has loaded, so that no temporary file waits beside
    // the target while a slow input arrives.
    LoadOptions options;
    options.decodePngWhole = remap && output.plan() == OutputTarget::Plan::Direct;
    options.tileLayer = args.layer;
    options.matchesColours = remap;
    LoadResult loaded = LoadPicture(InputPathToOpen(args.inputPath), options);
    if (!loaded.ok()) return output.Fail(LoadFailureMessage(loaded, args.inputPath));
    const Picture& picture = loaded.picture;
    if (!remap) output.Prepare();
    const OutputTarget::Plan plan = output.plan();

    // Check.
    PaletteMatch match;
    if (remap) {
        match = MatchColours(picture, reference.colours, reference.size);
        if (plan == OutputTarget::Plan::Direct) {
            CheckPixels(picture, match);
            if (!match.ok()) return output.Fail(PaletteMatchFailureMessage(match, args.inputPath, palettePath));
        }
    }
    if (!output.Open()) return output.Fail(CantOpenMessage(args.outputPath));

    // Write. With a reference palette the size report waits until every
    // pixel has been checked.
    platform::OutputFile& file = output.file();
    if (!WriteMapHeader(file, picture, args.mode)) return output.Fail(CantWriteMessage(args.outputPath));
    if (!remap) output.Print(SizeReport(picture));
    PixelCheck check(picture, match);
    const MapWriteResult written =
        remap ? WriteMapRows(file, picture, args.mode, match.values,
                             plan == OutputTarget::Plan::Replaced ? &check : nullptr)
              : WriteMapRows(file, picture, args.mode);
    switch (written.status) {
        case MapWriteStatus::Ok:
            break;
        case MapWriteStatus::OutputFailed:
            return output.Fail(CantWriteMessage(args.outputPath));
        case MapWriteStatus::InputFailed:
            // The picture's file shrank or failed while it was being read,
            // or a PNG's rows turned out faulty as they were decoded.
            return output.Fail(RowsFailureMessage(written.input, args.inputPath));
        case MapWriteStatus::NoMemory:
            return output.Fail(NoMemoryMessage(args.inputPath));
        case MapWriteStatus::Refused:
            // A pixel the reference palette can't place; the output is
            // left as it was.
            return output.Fail(PaletteMatchFailureMessage(match, args.inputPath, palettePath));
    }
    if (remap) output.Print(SizeReport(picture));

    // Commit. The input is closed first: the output may replace the input
    // itself, which Windows refuses while it is open.
    loaded.picture.pixels.reset();
    if (!output.Commit()) return output.Fail(CantWriteMessage(args.outputPath));
    return true;
}

}  // namespace bmp2grid
