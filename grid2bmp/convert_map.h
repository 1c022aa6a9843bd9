// One map text turned into a picture or a Tiled map, as a single run of
// grid2bmp does it and as each file of a batch or a watch is converted.
#pragma once

#include "grid_command_line.h"
#include "message_lines.h"

namespace bmp2grid {

// Converts the map text `args.mapPath` into `args.outputPath` (and a Tiled
// map's tile sheet beside it); the size report, a note on extra values and
// every refusal go to `lines`, each as one line. True when the output was
// written; otherwise it is left as it was.
bool ConvertMap(const GridArgs& args, MessageLines& lines);

}  // namespace bmp2grid
