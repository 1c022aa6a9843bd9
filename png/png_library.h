// What the programs need of libpng, kept in one place: its structs made
// with our error, warning and memory callbacks and our limits, and the one
// small function where its errors (a longjmp) land.
//
// Included by the .cpp files that read or write PNG only.
#pragma once

#include <png.h>

#include <cstdint>

namespace bmp2grid::png {

// The widest PNG read or written. libpng holds a few rows of the picture
// at a time (three times its width in bytes, about), so this bounds what
// a hostile header can make it allocate. A row's memory is all that a
// PNG's width costs; its height costs none, so it may be any PNG allows.
constexpr std::uint32_t kMaxWidth = std::uint32_t{1} << 20;
constexpr std::uint32_t kMaxHeight = 0x7fffffff;  // PNG's own limit, 2^31 - 1
// The largest chunk libpng may allocate room for; our reads keep no
// ancillary chunk, so none needs more.
constexpr png_alloc_size_t kMaxChunkBytes = png_alloc_size_t{1} << 20;

// What libpng said, filled by its callbacks.
struct Report {
    char error[160] = {};      // the message of the error that stopped it
    char warning[160] = {};    // its last warning
    // The chunks being read when the error and the last warning came (0 for
    // none, or outside any chunk): a warning explains an error only when
    // both came from the same chunk.
    png_uint_32 errorChunk = 0;
    png_uint_32 warningChunk = 0;
    bool outOfMemory = false;  // an allocation failed
};

// A read struct with its info struct, or a write struct, set up with the
// callbacks (reporting to `report`, which must outlive it) and the limits
// above. Null when libpng could not make it (memory ran out).
png_structp NewReadStruct(Report& report);
png_structp NewWriteStruct(Report& report);

// A step of work for libpng: calls into it, and holds no C++ object with a
// destructor, since an error leaves it through a longjmp.
using Step = void (*)(png_structp png, void* data);

// Runs `step(png, data)`. Returns false when libpng reported an error
// during it (its Report says which). The only place that calls setjmp.
bool Guarded(png_structp png, Step step, void* data);

}  // namespace bmp2grid::png
