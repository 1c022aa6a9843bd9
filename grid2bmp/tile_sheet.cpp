#include "tile_sheet.h"

#include <cstdint>
#include <exception>

#include "indexed_picture.h"
#include "png_writer.h"

namespace bmp2grid {

bool WriteTileSheet(OutputSink& output, const ColourTable& palette, tiled::Shape shape) {
    const std::int64_t tileWidth = tiled::TileWidth(shape);
    IndexedPicture sheet;
    sheet.width = tiled::kSheetColumns * tileWidth;
    sheet.rows = tiled::kSheetRows * tiled::kTileHeight;
    try {
        sheet.pixels.resize(static_cast<std::size_t>(sheet.width * sheet.rows));
    } catch (const std::exception&) {
        return false;
    }
    for (std::int64_t y = 0; y < sheet.rows; ++y)
        for (std::int64_t x = 0; x < sheet.width; ++x)
            sheet.pixels[static_cast<std::size_t>(y * sheet.width + x)] =
                static_cast<std::uint8_t>(y / tiled::kTileHeight * tiled::kSheetColumns + x / tileWidth);
    return WritePng(output, sheet, palette);
}

std::string_view FileNameOf(std::string_view path) {
#ifdef _WIN32
    const std::size_t slash = path.find_last_of("/\\:");
#else
    const std::size_t slash = path.rfind('/');
#endif
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string SheetPathBeside(std::string_view mapPath) {
    const std::string_view name = FileNameOf(mapPath);
    return std::string(mapPath.substr(0, mapPath.size() - name.size())) + tiled::SheetFileName(name);
}

}  // namespace bmp2grid
