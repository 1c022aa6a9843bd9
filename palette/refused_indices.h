// Finding the first pixel, in a run of pixels, whose palette index is refused.
#pragma once

#include <array>
#include <cstdint>

namespace bmp2grid {

// The indices a pixel may not have, and a quick way to find the first pixel
// with one. Where the refused indices, or the others, form a few runs
// (indices past a short colour table, a block of unused colours, the few
// colours a map uses), pixels are compared with the runs sixteen at a time;
// otherwise each pixel is looked up in a table.
class RefusedIndices {
public:
    // `refused[i]` is nonzero for each index i a pixel may not have.
    explicit RefusedIndices(const std::array<std::uint8_t, 256>& refused);

    // Where in `pixels[0, count)` the first refused index is, or `count`.
    std::int64_t First(const std::uint8_t* pixels, std::int64_t count) const;

private:
    static constexpr int kMaxRuns = 4;
    struct RunList {
        int count = 0;
        std::array<std::uint8_t, kMaxRuns> first{};
        std::array<std::uint8_t, kMaxRuns> span{};  // last - first
    };

    std::int64_t Table(const std::uint8_t* pixels, std::int64_t i, std::int64_t count) const;
    template <int kRuns, bool kAllowed>
    std::int64_t Runs(const std::uint8_t* pixels, std::int64_t count) const;

    std::array<std::uint8_t, 256> table_;
    RunList runs_;
    bool allowed_ = false;
};

}  // namespace bmp2grid
