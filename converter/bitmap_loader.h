// Loading an 8-bit palettized BMP picture. An uncompressed picture in a
// regular file stays in the file and its rows are read as they are needed;
// one from memory, a pipe or a device keeps its bytes; an RLE8 picture is
// decoded into memory (a regular file's stream read a window at a time and
// never held whole). The BMP storage layout (pixel data offset, row stride,
// rows stored bottom first) stays in here.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "byte_buffer.h"
#include "picture.h"
#include "platform.h"

namespace bmp2grid {

// Interprets a whole BMP file held in memory. Takes ownership of the bytes.
LoadResult DecodeBitmap(ByteBuffer file, const LoadOptions& options);

// Whether a file starting with `first` looks like a BMP: "BM", then, where
// `first` reaches that far, an info header of one of the sizes BMP writers
// use (12, 16, 40, 52, 56, 64, 108 or 124 bytes). The loader itself looks at
// no signature; this is for picking pictures among other files.
bool IsBmpStart(std::span<const std::uint8_t> first);

// Loads the picture at `path`, with the same results as DecodeBitmap on
// the file's bytes. A regular file is read at offsets: the headers and the
// colour table, then an RLE8 picture's stream a window at a time up to its
// end-of-bitmap marker; an uncompressed picture's rows are left in the file.
// Anything else (a pipe, a device) is read in sequence, dropping the bytes
// the checks don't need; it is refused as soon as its headers fail a check,
// and read to its end only when they pass.
LoadResult LoadBitmap(const std::string& path, const LoadOptions& options);

// LoadBitmap for an input already opened. `taken` holds the bytes already
// read from the start of an input that is read in sequence (to tell its
// format; any number of them); it is empty for a file read at offsets.
LoadResult LoadBitmap(std::shared_ptr<platform::InputFile> file, std::span<const std::uint8_t> taken,
                      const LoadOptions& options);

}  // namespace bmp2grid
