// One picture converted into map text, as a single run of bmp2grid does it
// and as each file of a batch or a watch is converted.
#pragma once

#include "command_line.h"
#include "message_lines.h"

namespace bmp2grid {

// Converts `args.inputPath` into map text at `args.outputPath`; the size
// report and every refusal go to `lines`, each as one line. True when the
// map was written; otherwise the output is left as it was.
bool ConvertPicture(const ConverterArgs& args, MessageLines& lines);

}  // namespace bmp2grid
