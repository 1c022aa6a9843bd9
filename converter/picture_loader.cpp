#include "picture_loader.h"

#include <cstdint>
#include <memory>
#include <span>
#include <utility>

#include "bitmap_loader.h"
#include "bmp_format.h"
#include "png_loader.h"

namespace bmp2grid {

LoadResult LoadPicture(const std::string& path, const LoadOptions& options) {
    auto file = std::make_shared<platform::InputFile>();
    if (file->Open(path) != platform::ReadStatus::Ok) return Refused(LoadError::CantOpen);
    return LoadPicture(std::move(file), options);
}

LoadResult LoadPicture(std::shared_ptr<platform::InputFile> file, const LoadOptions& options) {
    std::uint8_t signature[kPngSignatureSize] = {};
    // A regular file that the BMP loader reads at offsets is looked at the
    // same way; anything else (the BMP loader reads a file whose size is
    // given as under a file header's in sequence too) is read in sequence,
    // and the bytes taken go on to the loader.
    if (file->IsRegularFile() && file->Size() >= static_cast<std::int64_t>(bmp::kFileHeaderSize)) {
        if (!file->ReadAt(0, signature, sizeof signature)) return Refused(LoadError::ReadFailed);
        if (IsPngSignature(signature)) return LoadPng(std::move(file), {}, options);
        return LoadBitmap(std::move(file), {}, options);
    }
    std::size_t taken = 0;
    while (taken < sizeof signature) {
        const long long n = file->Read(signature + taken, sizeof signature - taken);
        if (n < 0) return Refused(LoadError::ReadFailed);
        if (n == 0) break;
        taken += static_cast<std::size_t>(n);
    }
    return LoadPicture(std::move(file), std::span<const std::uint8_t>(signature, taken), options);
}

LoadResult LoadPicture(std::shared_ptr<platform::InputFile> file, std::span<const std::uint8_t> taken,
                       const LoadOptions& options) {
    if (IsPngSignature(taken)) return LoadPng(std::move(file), taken, options);
    return LoadBitmap(std::move(file), taken, options);
}

LoadResult DecodePicture(ByteBuffer file, const LoadOptions& options) {
    if (IsPngSignature(std::span<const std::uint8_t>(file.data(), file.size())))
        return DecodePng(std::move(file), options);
    return DecodeBitmap(std::move(file), options);
}

}  // namespace bmp2grid
