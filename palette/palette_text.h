// GIMP (.gpl) and JASC (.pal) palette text, and telling a palette file's
// format from its name and first bytes.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

#include "palette.h"

namespace bmp2grid {

// How many of a palette file's first bytes tell its format: room for the
// longest first line looked for after a byte-order mark, and its line end.
constexpr std::size_t kPaletteFormatBytes = 32;

// Which format a palette file is in. A name ending in ".gpl" or ".pal" (in
// any case) says GIMP or JASC; otherwise a first line of "GIMP Palette" or
// "JASC-PAL" does; anything else is a picture. `start` holds the file's
// first bytes: only the first kPaletteFormatBytes are looked at, so a first
// line cut there is judged by what it holds up to the cut.
PaletteFormat PaletteFormatOf(std::string_view name, std::string_view start);

// Reads GIMP or JASC palette text handed over in pieces of any size; only
// the line being read is held.
class PaletteTextReader {
public:
    explicit PaletteTextReader(PaletteFormat format);
    ~PaletteTextReader();
    PaletteTextReader(const PaletteTextReader&) = delete;
    PaletteTextReader& operator=(const PaletteTextReader&) = delete;

    // False once the palette has been refused: the rest need not be fed.
    bool Feed(std::string_view piece);
    // The text has ended: the outcome.
    PaletteResult Finish();

private:
    class Parser;
    std::unique_ptr<Parser> parser_;
};

// Reads GIMP or JASC palette text given whole. With `piece` above 0, the
// text is fed in pieces of that many bytes, as a stream may give it (the
// tests and the palette fuzz target compare both).
PaletteResult ParsePaletteText(PaletteFormat format, std::string_view text, std::size_t piece = 0);

}  // namespace bmp2grid
