#include "convert_in_memory.h"

#include <cstring>
#include <string>

#include "bitmap_loader.h"
#include "map_writer.h"
#include "test_support.h"

namespace bmp2grid::fuzzing {
namespace {

// The loaded picture's pixels, top row first, for the reference rendering.
test::Picture PixelsOf(const BitmapImage& image) {
    test::Picture picture{static_cast<std::int32_t>(image.width), static_cast<std::int32_t>(image.rows), {}};
    picture.pixels.reserve(static_cast<std::size_t>(image.width * image.rows));
    for (std::int64_t y = 0; y < image.rows; ++y)
        picture.pixels.insert(picture.pixels.end(), image.Row(y), image.Row(y) + image.width);
    return picture;
}

}  // namespace

bool ConvertInMemory(const std::uint8_t* data, std::size_t size) {
    ByteBuffer file;
    if (!file.Reserve(size + 1)) return true;
    if (size > 0) std::memcpy(file.data(), data, size);
    file.SetSize(size);
    const LoadResult loaded = DecodeBitmap(std::move(file), kMaxDecodedPixels);
    if (loaded.status != LoadStatus::Ok) return !loaded.reason.empty() || loaded.status != LoadStatus::CantConvert;
    const BitmapImage& image = loaded.image;
    if (image.rows > kMaxMapCells || image.width * image.rows > kMaxMapCells) return true;
    const test::Picture pixels = PixelsOf(image);
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
        StringSink sink;
        if (!WriteMapHeader(sink, image, mode) || WriteMapRows(sink, image, mode) != MapWriteStatus::Ok)
            return false;
        if (sink.text != test::ReferenceMap(pixels, mode)) return false;
    }
    return true;
}

}  // namespace bmp2grid::fuzzing
