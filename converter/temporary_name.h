// Names for the temporary files an output is written to before it replaces
// its target.
#pragma once

#include <string>
#include <string_view>

namespace bmp2grid::platform {

// "<folder>.<name>.bmp2grid-tmp-<8 random characters>" for a target
// "<folder><name>", where the folder part ends at the last of `separators`:
// a file beside the target whose name says what it is.
std::string TemporaryNameFor(const std::string& target, std::string_view separators);

}  // namespace bmp2grid::platform
