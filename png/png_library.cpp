#include "png_library.h"

#include <csetjmp>
#include <cstdlib>
#include <cstring>

namespace bmp2grid::png {
namespace {

void Copy(char (&to)[160], const char* message) {
    std::strncpy(to, message != nullptr ? message : "", sizeof to - 1);
    to[sizeof to - 1] = '\0';
}

Report& ReportOf(png_const_structrp png) { return *static_cast<Report*>(png_get_error_ptr(png)); }

extern "C" void OnError(png_structp png, png_const_charp message) {
    Copy(ReportOf(png).error, message);
    ReportOf(png).errorChunk = png_get_io_chunk_type(png);
    png_longjmp(png, 1);
}

// Library code never prints: warnings are kept, the last one only. A
// header that fails several checks is refused with the last: a picture too
// wide for a 32-bit process is first told so, then that it exceeds our
// width limit, which every build tells alike.
extern "C" void OnWarning(png_structp png, png_const_charp message) {
    Copy(ReportOf(png).warning, message);
    ReportOf(png).warningChunk = png_get_io_chunk_type(png);
}

extern "C" png_voidp Allocate(png_structp png, png_alloc_size_t size) {
    void* memory = std::malloc(size);
    if (memory == nullptr) static_cast<Report*>(png_get_mem_ptr(png))->outOfMemory = true;
    return memory;
}

extern "C" void Free(png_structp, png_voidp memory) { std::free(memory); }

void SetLimits(png_structp png) {
    png_set_user_limits(png, kMaxWidth, kMaxHeight);
    png_set_chunk_malloc_max(png, kMaxChunkBytes);
}

}  // namespace

png_structp NewReadStruct(Report& report) {
    png_structp png = png_create_read_struct_2(PNG_LIBPNG_VER_STRING, &report, OnError, OnWarning, &report,
                                               Allocate, Free);
    if (png == nullptr) return nullptr;
    SetLimits(png);
    // Every ancillary chunk but tRNS is skipped unread, never stored: only
    // the indices and the palette matter. (1 keeps no chunk in the cache.)
    png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
    png_set_chunk_cache_max(png, 1);
    return png;
}

png_structp NewWriteStruct(Report& report) {
    png_structp png = png_create_write_struct_2(PNG_LIBPNG_VER_STRING, &report, OnError, OnWarning, &report,
                                                Allocate, Free);
    if (png != nullptr) SetLimits(png);
    return png;
}

bool Guarded(png_structp png, Step step, void* data) {
    if (setjmp(png_jmpbuf(png)) != 0) return false;
    step(png, data);
    return true;
}

}  // namespace bmp2grid::png
