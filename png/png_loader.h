// Loading an indexed or 8-bit grey PNG picture, through libpng.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "byte_buffer.h"
#include "picture.h"
#include "platform.h"

namespace bmp2grid {

// A PNG file's first bytes.
constexpr std::size_t kPngSignatureSize = 8;
bool IsPngSignature(std::span<const std::uint8_t> first);

// Loads a PNG from an input already opened: indexed (colour type 3) at 1, 2,
// 4 or 8 bits, or 8-bit grey (colour type 0, whose grey values are the
// indices); each pixel's index is its cell value. Any other kind is refused
// with PngWithoutIndices; a file libpng refuses gives PngRefused and its
// words. Only the header chunks are read here: a non-interlaced picture's
// rows are decoded one at a time as they are read (kept AsDecoded),
// so neither the file nor the picture is held; an interlaced one is decoded
// whole (and refused with TooLarge over LoadOptions::maxDecodedPixels).
// `taken` holds the bytes already read from the start of an input read in
// sequence; it is empty for a regular file, which is read at offsets.
// The size report's pixel block is the bytes the rows decode to at the
// file's bit depth: rows x ceil(width x depth / 8).
LoadResult LoadPng(std::shared_ptr<platform::InputFile> file, std::span<const std::uint8_t> taken,
                   const LoadOptions& options);

// The same for a whole PNG file held in memory; takes ownership of the bytes.
LoadResult DecodePng(ByteBuffer file, const LoadOptions& options);

}  // namespace bmp2grid
