#include "convert_in_memory.h"

#include <cstring>
#include <string>

#include "bitmap_loader.h"
#include "command_line.h"
#include "map_writer.h"
#include "test_support.h"

namespace bmp2grid::fuzzing {

bool ConvertInMemory(const std::uint8_t* data, std::size_t size) {
    ByteBuffer file;
    if (!file.Reserve(size + 1)) return true;
    if (size > 0) std::memcpy(file.data(), data, size);
    file.SetSize(size);
    LoadOptions options;
    options.maxDecodedPixels = kMaxDecodedPixels;
    const LoadResult loaded = DecodeBitmap(std::move(file), options);
    // A refusal must carry a reason the program can print, or have a message
    // of its own.
    if (!loaded.ok()) return !LoadErrorReason(loaded).empty() || loaded.error == LoadError::NotEightBit;
    const BitmapImage& image = loaded.image;
    if (image.rows > kMaxMapCells || image.width * image.rows > kMaxMapCells) return true;
    const IndexedPicture pixels = test::PictureOf(image);
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
        StringSink sink;
        if (!WriteMapHeader(sink, image, mode) || WriteMapRows(sink, image, mode) != MapWriteStatus::Ok)
            return false;
        if (sink.text != test::ReferenceMap(pixels, mode)) return false;
    }
    return true;
}

}  // namespace bmp2grid::fuzzing
