#include "picture.h"

#include <new>

namespace bmp2grid {
namespace {

class HeldRowReader final : public RowReader {
public:
    explicit HeldRowReader(const HeldPixels& pixels) : pixels_(pixels) {}
    const std::uint8_t* Row(std::int64_t y) override { return pixels_.HeldRow(y); }

private:
    const HeldPixels& pixels_;
};

}  // namespace

std::unique_ptr<RowReader> HeldPixels::ReadRows(std::int64_t) const {
    return std::unique_ptr<RowReader>(new (std::nothrow) HeldRowReader(*this));
}

}  // namespace bmp2grid
