// Loading the input picture, whichever format it is in: a PNG, known by its
// signature, a Tiled map (TMX or TMJ), known by its first characters, or
// else a BMP.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "byte_buffer.h"
#include "picture.h"
#include "platform.h"

namespace bmp2grid {

// Opens `path` and loads the picture in it, whatever the file's name: a PNG
// (png_loader.h) when its first 8 bytes are PNG's signature; a TMX or TMJ
// map (tiled_loader.h) when its first kTiledSniffBytes say so
// (IsTmxStart, IsTmjStart); otherwise a BMP (bitmap_loader.h), whose
// signature is not examined. LoadOptions::tileLayer given for a BMP or PNG
// is refused (LayerOfPicture). A regular file's
// signature is read at its offset; a stream's first bytes are handed on to
// the loader, so a pipe or a device is read once, in sequence.
LoadResult LoadPicture(const std::string& path, const LoadOptions& options);

// The same for a file opened already and not yet read in sequence, or a
// regular file read so only (its offsets are not moved by that).
LoadResult LoadPicture(std::shared_ptr<platform::InputFile> file, const LoadOptions& options);

// The same for a stream opened already, whose first bytes, `taken` (at
// least kTiledSniffBytes unless the stream ended sooner), have been read
// from it to tell its format.
LoadResult LoadPicture(std::shared_ptr<platform::InputFile> file, std::span<const std::uint8_t> taken,
                       const LoadOptions& options);

// Whether the file at `path` starts as a picture bmp2grid reads: a BMP's
// "BM", PNG's signature, or a TMX's or TMJ's first characters. How a batch
// picks the pictures among a folder's files; a file named as an input is
// loaded whatever it starts with.
bool LooksLikePicture(const std::string& path);

// The same for a whole file held in memory; takes ownership of the bytes.
LoadResult DecodePicture(ByteBuffer file, const LoadOptions& options);

}  // namespace bmp2grid
