#include "tiled_format.h"

namespace bmp2grid::tiled {

std::string SheetFileName(std::string_view mapFileName) {
    const std::size_t dot = mapFileName.rfind('.');
    const std::string_view stem = dot == std::string_view::npos || dot == 0 ? mapFileName : mapFileName.substr(0, dot);
    std::string name(stem);
    name += kSheetSuffix;
    return name;
}

}  // namespace bmp2grid::tiled
