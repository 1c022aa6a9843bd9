// Loading the input picture, whichever format it is in: a PNG, known by its
// signature, or else a BMP.
#pragma once

#include <memory>
#include <span>
#include <string>

#include "byte_buffer.h"
#include "picture.h"
#include "platform.h"

namespace bmp2grid {

// Opens `path` and loads the picture in it: a PNG (png_loader.h) when its
// first 8 bytes are PNG's signature, whatever the file's name; otherwise a
// BMP (bitmap_loader.h), whose signature is not examined. A regular file's
// signature is read at its offset; a stream's first bytes are handed on to
// the loader, so a pipe or a device is read once, in sequence.
LoadResult LoadPicture(const std::string& path, const LoadOptions& options);

// The same for a file opened already and not yet read in sequence, or a
// regular file read so only (its offsets are not moved by that).
LoadResult LoadPicture(std::shared_ptr<platform::InputFile> file, const LoadOptions& options);

// The same for a stream opened already, whose first bytes, `taken` (at
// least 8 unless the stream ended sooner), have been read from it to tell
// its format.
LoadResult LoadPicture(std::shared_ptr<platform::InputFile> file, std::span<const std::uint8_t> taken,
                       const LoadOptions& options);

// The same for a whole file held in memory; takes ownership of the bytes.
LoadResult DecodePicture(ByteBuffer file, const LoadOptions& options);

}  // namespace bmp2grid
