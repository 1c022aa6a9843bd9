#include "refused_indices.h"

#include <cstddef>
#include <cstring>

namespace bmp2grid {
namespace {

// Sixteen pixels at a time, in the compiler's vector type: SSE2 on x86,
// whatever the target has elsewhere, plain bytes where it has nothing.
using Lanes = std::uint8_t __attribute__((vector_size(16)));

}  // namespace

RefusedIndices::RefusedIndices(const std::array<std::uint8_t, 256>& refused) : table_(refused) {
    // The runs of refused indices and of allowed ones.
    RunList runs[2];
    for (int i = 0; i < 256;) {
        const std::uint8_t kind = refused[static_cast<std::size_t>(i)];
        int end = i;
        while (end < 256 && refused[static_cast<std::size_t>(end)] == kind) ++end;
        RunList& list = runs[kind != 0 ? 0 : 1];
        if (list.count < kMaxRuns) {
            list.first[static_cast<std::size_t>(list.count)] = static_cast<std::uint8_t>(i);
            list.span[static_cast<std::size_t>(list.count)] = static_cast<std::uint8_t>(end - 1 - i);
        }
        ++list.count;
        i = end;
    }
    allowed_ = runs[1].count < runs[0].count;
    runs_ = runs[allowed_ ? 1 : 0];
}

std::int64_t RefusedIndices::First(const std::uint8_t* pixels, std::int64_t count) const {
    switch (runs_.count) {
        case 1: return allowed_ ? Runs<1, true>(pixels, count) : Runs<1, false>(pixels, count);
        case 2: return allowed_ ? Runs<2, true>(pixels, count) : Runs<2, false>(pixels, count);
        case 3: return allowed_ ? Runs<3, true>(pixels, count) : Runs<3, false>(pixels, count);
        case 4: return allowed_ ? Runs<4, true>(pixels, count) : Runs<4, false>(pixels, count);
        default: return Table(pixels, 0, count);
    }
}

// Looks each pixel from `i` on up in the table, eight at a time with no
// branch between them.
std::int64_t RefusedIndices::Table(const std::uint8_t* pixels, std::int64_t i, std::int64_t count) const {
    const auto& t = table_;
    for (; i + 8 <= count; i += 8) {
        const std::uint8_t* p = pixels + i;
        if ((t[p[0]] | t[p[1]] | t[p[2]] | t[p[3]] | t[p[4]] | t[p[5]] | t[p[6]] | t[p[7]]) != 0) break;
    }
    for (; i < count; ++i)
        if (t[pixels[i]] != 0) return i;
    return count;
}

// Compares blocks of 64 pixels with the runs (of refused indices, or with
// kAllowed of the allowed ones), 16 at a time, with no branch inside a
// block; the block with a refused pixel is searched in the table.
template <int kRuns, bool kAllowed>
std::int64_t RefusedIndices::Runs(const std::uint8_t* pixels, std::int64_t count) const {
    constexpr std::int64_t kBlock = 64;
    constexpr std::int64_t kLanes = sizeof(Lanes);
    Lanes first[kRuns];
    Lanes span[kRuns];
    for (std::size_t r = 0; r < kRuns; ++r)
        for (std::int64_t k = 0; k < kLanes; ++k) {
            first[r][k] = runs_.first[r];
            span[r][k] = runs_.span[r];
        }
    std::int64_t i = 0;
    for (; i + kBlock <= count; i += kBlock) {
        Lanes hit = {};
        for (std::int64_t at = i; at < i + kBlock; at += kLanes) {
            Lanes v;
            std::memcpy(&v, pixels + at, sizeof v);
            Lanes in = {};
            for (std::size_t r = 0; r < kRuns; ++r) in |= static_cast<Lanes>(static_cast<Lanes>(v - first[r]) <= span[r]);
            hit |= kAllowed ? ~in : in;
        }
        std::uint64_t halves[2];
        std::memcpy(halves, &hit, sizeof halves);
        if ((halves[0] | halves[1]) != 0) break;
    }
    return Table(pixels, i, count);
}

}  // namespace bmp2grid
