#include "platform_common.h"

#include <chrono>
#include <cstdint>
#include <random>

namespace bmp2grid::platform {

std::string_view FileNameOf(std::string_view path, std::string_view separators) {
    const std::size_t cut = path.find_last_of(separators);
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::string TemporaryNameFor(const std::string& target, std::string_view separators,
                             std::size_t maxNameBytes) {
    static std::mt19937_64 generator{
        RandomSeed() ^ static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count())};
    static const char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    constexpr std::string_view kTag = ".bmp2grid-tmp-";
    constexpr std::size_t kRandom = 8;
    constexpr std::size_t kAdded = 1 + kTag.size() + kRandom;

    std::string_view name = FileNameOf(target, separators);
    const std::string_view folder = std::string_view(target).substr(0, target.size() - name.size());
    const std::size_t room = maxNameBytes > kAdded ? maxNameBytes - kAdded : 0;
    if (name.size() > room) {
        std::size_t keep = room;
        while (keep > 0 && (static_cast<unsigned char>(name[keep]) & 0xC0) == 0x80) --keep;
        name = name.substr(0, keep);
    }
    std::string result;
    result.reserve(folder.size() + name.size() + kAdded);
    result.append(folder).append(".").append(name).append(kTag);
    for (std::size_t i = 0; i < kRandom; ++i) result += kChars[generator() % (sizeof kChars - 1)];
    return result;
}

}  // namespace bmp2grid::platform
