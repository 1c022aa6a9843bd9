#include "picture_loader.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <utility>

#include "bitmap_loader.h"
#include "bmp_format.h"
#include "png_loader.h"
#include "tiled_loader.h"

namespace bmp2grid {
namespace {

enum class Format { Bmp, Png, Tmx, Tmj };

Format FormatOf(std::span<const std::uint8_t> first) {
    if (IsPngSignature(first)) return Format::Png;
    if (IsTmxStart(first)) return Format::Tmx;
    if (IsTmjStart(first)) return Format::Tmj;
    return Format::Bmp;
}

// A tile layer can be picked only in a Tiled map.
bool LayerOfPicture(Format format, const LoadOptions& options) {
    return options.tileLayer.has_value() && (format == Format::Bmp || format == Format::Png);
}

}  // namespace

LoadResult LoadPicture(const std::string& path, const LoadOptions& options) {
    auto file = std::make_shared<platform::InputFile>();
    if (file->Open(path) != platform::ReadStatus::Ok) return Refused(LoadError::CantOpen);
    return LoadPicture(std::move(file), options);
}

LoadResult LoadPicture(std::shared_ptr<platform::InputFile> file, const LoadOptions& options) {
    std::uint8_t first[kTiledSniffBytes] = {};
    // A regular file that the BMP loader reads at offsets is looked at the
    // same way; anything else (the BMP loader reads a file whose size is
    // given as under a file header's in sequence too) is read in sequence,
    // and the bytes taken go on to the loader.
    if (file->IsRegularFile() && file->Size() >= static_cast<std::int64_t>(bmp::kFileHeaderSize)) {
        const auto size = static_cast<std::size_t>(std::min<std::int64_t>(file->Size(), sizeof first));
        if (!file->ReadAt(0, first, size)) return Refused(LoadError::ReadFailed);
        const Format format = FormatOf(std::span<const std::uint8_t>(first, size));
        if (LayerOfPicture(format, options)) return Refused(LoadError::LayerOfPicture);
        switch (format) {
            case Format::Png:
                return LoadPng(std::move(file), {}, options);
            case Format::Tmx:
                return LoadTmx(std::move(file), {}, options);
            case Format::Tmj:
                return LoadTmj(std::move(file), {}, options);
            case Format::Bmp:
                break;
        }
        return LoadBitmap(std::move(file), {}, options);
    }
    std::size_t taken = 0;
    while (taken < sizeof first) {
        const long long n = file->Read(first + taken, sizeof first - taken);
        if (n < 0) return Refused(LoadError::ReadFailed);
        if (n == 0) break;
        taken += static_cast<std::size_t>(n);
    }
    return LoadPicture(std::move(file), std::span<const std::uint8_t>(first, taken), options);
}

LoadResult LoadPicture(std::shared_ptr<platform::InputFile> file, std::span<const std::uint8_t> taken,
                       const LoadOptions& options) {
    const Format format = FormatOf(taken);
    if (LayerOfPicture(format, options)) return Refused(LoadError::LayerOfPicture);
    switch (format) {
        case Format::Png:
            return LoadPng(std::move(file), taken, options);
        case Format::Tmx:
            return LoadTmx(std::move(file), taken, options);
        case Format::Tmj:
            return LoadTmj(std::move(file), taken, options);
        case Format::Bmp:
            break;
    }
    return LoadBitmap(std::move(file), taken, options);
}

bool LooksLikePicture(const std::string& path) {
    platform::InputFile file;
    if (file.Open(path) != platform::ReadStatus::Ok || !file.IsRegularFile()) return false;
    std::uint8_t first[kTmxRootSniffBytes] = {};
    const auto size = static_cast<std::size_t>(std::min<std::int64_t>(file.Size(), sizeof first));
    if (size < 2 || !file.ReadAt(0, first, size)) return false;
    const std::span<const std::uint8_t> all(first, size);
    const std::span<const std::uint8_t> start = all.first(std::min(size, kTiledSniffBytes));
    // XML is a map only if its root is one: a tile set beside the maps is not.
    if (IsTmxStart(start)) return IsTmxMapRoot(all);
    return IsBmpStart(start) || IsPngSignature(start) || IsTmjStart(start);
}

LoadResult DecodePicture(ByteBuffer file, const LoadOptions& options) {
    const Format format = FormatOf(std::span<const std::uint8_t>(file.data(), file.size()).first(
        std::min<std::size_t>(file.size(), kTiledSniffBytes)));
    if (LayerOfPicture(format, options)) return Refused(LoadError::LayerOfPicture);
    switch (format) {
        case Format::Png:
            return DecodePng(std::move(file), options);
        case Format::Tmx:
            return DecodeTmx(std::move(file), options);
        case Format::Tmj:
            return DecodeTmj(std::move(file), options);
        case Format::Bmp:
            break;
    }
    return DecodeBitmap(std::move(file), options);
}

}  // namespace bmp2grid
