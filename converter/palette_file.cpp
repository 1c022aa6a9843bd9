#include "palette_file.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "palette_text.h"
#include "picture_loader.h"
#include "platform.h"

namespace bmp2grid {
namespace {

PaletteResult PictureRefused(const LoadFailure& failure) {
    PaletteResult result;
    result.error = PaletteError::Picture;
    result.picture = failure;
    return result;
}

PaletteResult PaletteOfPicture(const LoadResult& loaded) {
    if (!loaded.ok()) return PictureRefused(loaded);
    // A PNG whose rows are decoded only as they are asked for is decoded to
    // its end here, so that a damaged palette picture is refused as it is as
    // an input (an interlaced PNG, decoded whole, already was).
    if (loaded.picture.Where() == PixelStore::Kept::AsDecoded) {
        const std::unique_ptr<RowReader> rows = loaded.picture.ReadRows();
        if (rows == nullptr) return PictureRefused(Failure(LoadError::NoMemory));
        for (std::int64_t y = 0; y < loaded.picture.rows; ++y)
            if (rows->Row(y) == nullptr) return PictureRefused(rows->Failure());
    }
    PaletteResult result;
    result.size = loaded.picture.colourCount;
    result.colours = loaded.picture.colours;
    return result;
}

// A picture read for its colours.
LoadOptions ForColours() {
    LoadOptions options;
    options.forColours = true;
    return options;
}

PaletteResult CantRead() { return PictureRefused(Failure(LoadError::ReadFailed)); }

// Reads a text palette from `file` in pieces, after its first bytes `start`.
PaletteResult ReadPaletteText(PaletteFormat format, platform::InputFile& file, std::string_view start) {
    PaletteTextReader parser(format);
    if (!parser.Feed(start)) return parser.Finish();
    std::uint8_t block[64 * 1024];
    for (;;) {
        const long long n = file.Read(block, sizeof block);
        if (n < 0) return CantRead();
        if (n == 0 || !parser.Feed(std::string_view(reinterpret_cast<const char*>(block), static_cast<std::size_t>(n))))
            break;
    }
    return parser.Finish();
}

}  // namespace

PaletteResult DecodePalette(ByteBuffer file, std::string_view name) {
    const std::string_view bytes(reinterpret_cast<const char*>(file.data()), file.size());
    const PaletteFormat format = PaletteFormatOf(name, bytes);
    if (format != PaletteFormat::Picture) return ParsePaletteText(format, bytes);
    return PaletteOfPicture(DecodePicture(std::move(file), ForColours()));
}

// What DecodePalette does, without holding the file: the same format rule,
// the same text parser, the same colour table of a picture; what is left
// here is how the file is read (and that it can fail to open or to read).
PaletteResult ReadPalette(const std::string& path, std::string_view name) {
    auto file = std::make_shared<platform::InputFile>();
    if (file->Open(path) != platform::ReadStatus::Ok) return PictureRefused(Failure(LoadError::CantOpen));
    // Enough of the start, read in sequence, to tell the formats apart.
    std::uint8_t head[kPaletteFormatBytes];
    std::size_t got = 0;
    while (got < sizeof head) {
        const long long n = file->Read(head + got, sizeof head - got);
        if (n < 0) return CantRead();
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    const std::string_view start(reinterpret_cast<const char*>(head), got);
    const PaletteFormat format = PaletteFormatOf(name, start);
    switch (format) {
        case PaletteFormat::Gimp:
        case PaletteFormat::Jasc:
            return ReadPaletteText(format, *file, start);
        case PaletteFormat::Picture:
            break;
    }
    // A picture: its colour table. A regular file is read at offsets, from
    // where it stood when opened; a stream goes on from the bytes already
    // read.
    if (file->IsRegularFile()) return PaletteOfPicture(LoadPicture(std::move(file), ForColours()));
    return PaletteOfPicture(LoadPicture(std::move(file), std::span<const std::uint8_t>(head, got), ForColours()));
}

}  // namespace bmp2grid
