#include "platform_common.h"

#include <chrono>
#include <cstdint>
#include <random>

namespace bmp2grid::platform {

std::string TemporaryNameFor(const std::string& target, std::string_view separators) {
    static std::mt19937_64 generator{
        std::random_device{}() ^
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    const std::size_t cut = target.find_last_of(separators);
    const std::size_t nameStart = cut == std::string::npos ? 0 : cut + 1;
    std::string name = target.substr(0, nameStart) + "." + target.substr(nameStart) + ".bmp2grid-tmp-";
    for (int i = 0; i < 8; ++i) name += kChars[generator() % (sizeof kChars - 1)];
    return name;
}

// The same on every platform: it needs only the InputFile interface.
ReadStatus ReadWholeFile(const std::string& path, ByteBuffer& contents) {
    InputFile file;
    const ReadStatus opened = file.Open(path);
    return opened == ReadStatus::Ok ? file.ReadToEnd(contents) : opened;
}

}  // namespace bmp2grid::platform
