#include "convert_in_memory.h"

#include <cstring>
#include <string>

#include "bitmap_loader.h"
#include "map_writer.h"

namespace bmp2grid::fuzzing {
namespace {

std::string PerCellRendering(const BitmapImage& image, SampleMode mode) {
    const std::int64_t columns = MapColumnCount(image.width, mode);
    std::string text = std::to_string(columns) + "," + std::to_string(image.rows) + "\r\n";
    for (std::int64_t y = 0; y < image.rows; ++y) {
        for (std::int64_t c = 0; c < columns; ++c)
            text += std::to_string(image.Row(y)[SampledColumn(c, y, image.width, mode)]) + ",0,0,0,0\t";
        text += "\r\n";
    }
    return text;
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
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
        StringSink sink;
        if (!WriteMapHeader(sink, image, mode) || WriteMapRows(sink, image, mode) != MapWriteStatus::Ok)
            return false;
        if (sink.text != PerCellRendering(image, mode)) return false;
    }
    return true;
}

}  // namespace bmp2grid::fuzzing
