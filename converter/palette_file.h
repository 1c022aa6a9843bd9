// Reading a palette from a file: the colour table of a picture that
// bmp2grid reads, a GIMP palette (.gpl) or a JASC palette (.pal). The one
// place both programs' `--palette` options read their palettes.
#pragma once

#include <string>
#include <string_view>

#include "byte_buffer.h"
#include "palette.h"

namespace bmp2grid {

// Reads the palette in a whole file held in memory; takes ownership of the
// bytes. `name` is the file's name as typed (for its ending). The result is
// the one ReadPalette gives for a file holding these bytes.
PaletteResult DecodePalette(ByteBuffer file, std::string_view name);

// Reads the palette in the file at `path`; `name` is the path as typed (for
// its ending). "-" is to be given as platform::StandardInputPath(), like any
// input. A text palette is read in blocks and never held; a picture in a
// regular file is read at offsets (only the headers and the colour table);
// a picture from a stream is read in sequence, as an input picture is, and
// refused as soon as its headers fail a check.
PaletteResult ReadPalette(const std::string& path, std::string_view name);

}  // namespace bmp2grid
