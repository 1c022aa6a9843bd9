// Text as Windows' wide-character functions take it and as the programs
// hold it: every name and message is UTF-8 inside the programs, on Windows
// as on POSIX. Windows only.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace bmp2grid::platform {

// UTF-8 as UTF-16; nothing when `text` is not UTF-8.
std::optional<std::wstring> WideFromUtf8(std::string_view text);

// UTF-16 as UTF-8. A lone surrogate, which a Windows name may hold and
// UTF-8 can't, becomes the three bytes its code would take: never UTF-8, so
// WideFromUtf8 refuses such a name rather than taking it for another.
std::string Utf8FromWide(std::wstring_view text);

// `path` (UTF-8, as the programs hold every name) as Windows' wide-character
// file functions take it, or nothing when it is not UTF-8: no file has such
// a name (an argument with a lone surrogate, which Windows allows, comes
// that way; see Utf8FromWide), so it is refused, never taken for another.
// A path too long for the ordinary form is given in the `\\?\` form.
std::optional<std::wstring> WidePath(const std::string& path);

}  // namespace bmp2grid::platform
