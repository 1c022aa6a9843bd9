#include "palette_lines.h"

#include <algorithm>
#include <string_view>

#include "palette_file.h"
#include "palette_text.h"

namespace bmp2grid::fuzzing {
namespace {

// The text split as the palette rules split it, read whole from memory:
// lines end at LF; blanks are space, TAB, CR, VT and FF; a UTF-8
// byte-order mark before line 1 is not part of it.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && IsBlank(line[i])) ++i;
        const std::size_t from = i;
        while (i < line.size() && !IsBlank(line[i])) ++i;
        if (i > from) words.push_back(line.substr(from, i - from));
    }
    return words;
}

std::vector<std::string_view> Lines(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::vector<std::string_view> lines;
    for (;;) {
        const std::size_t end = text.find('\n');
        if (end == std::string_view::npos) break;
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end + 1);
    }
    if (!text.empty()) lines.push_back(text);
    return lines;
}

// A word of digits only, whatever its length, is the number `value`.
bool WordIs(std::string_view word, int value) {
    if (word.empty() || !std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    while (word.size() > 1 && word.front() == '0') word.remove_prefix(1);
    return word == std::to_string(value);
}

bool Same(const PaletteResult& a, const PaletteResult& b) {
    return a.error == b.error && a.line == b.line && a.size == b.size && a.colours == b.colours &&
           a.colourLines == b.colourLines;
}

bool Holds(PaletteFormat format, std::string_view text, std::size_t piece) {
    const PaletteResult result = ParsePaletteText(format, text);
    if (!Same(result, ParsePaletteText(format, text, piece))) return false;
    const std::vector<std::string_view> lines = Lines(text);
    const auto count = static_cast<std::int64_t>(lines.size());
    if (!result.ok()) return result.line >= 1 && result.line <= count + 1 && result.size == 0;

    const auto wordsOf = [&lines](std::int64_t line) { return Words(lines[static_cast<std::size_t>(line - 1)]); };
    // The lines that hold colours, in order.
    std::vector<std::int64_t> colourLines;
    if (format == PaletteFormat::Gimp) {
        if (count < 1 || wordsOf(1) != std::vector<std::string_view>{"GIMP", "Palette"}) return false;
        for (std::int64_t line = 2; line <= count; ++line) {
            const std::vector<std::string_view> words = wordsOf(line);
            if (words.empty() || words[0].starts_with('#') || words[0].starts_with("Name:") ||
                words[0].starts_with("Columns:"))
                continue;
            colourLines.push_back(line);
        }
    } else {
        if (count < 3 || wordsOf(1) != std::vector<std::string_view>{"JASC-PAL"} ||
            wordsOf(2) != std::vector<std::string_view>{"0100"} || wordsOf(3).size() != 1)
            return false;
        for (std::int64_t line = 4; line <= count; ++line)
            if (!wordsOf(line).empty()) colourLines.push_back(line);
    }
    // Only the first 256 colours are kept.
    if (result.size != static_cast<int>(std::min<std::size_t>(colourLines.size(), 256))) return false;
    for (int i = 0; i < result.size; ++i) {
        const auto index = static_cast<std::size_t>(i);
        if (result.colourLines[index] != colourLines[index]) return false;
        const std::vector<std::string_view> words = wordsOf(colourLines[index]);
        const auto& colour = result.colours[index];  // blue, green, red
        if (words.size() < 3 || !WordIs(words[0], colour[2]) || !WordIs(words[1], colour[1]) ||
            !WordIs(words[2], colour[0]) || colour[3] != 0)
            return false;
        // A JASC colour line holds nothing more than an alpha value.
        if (format == PaletteFormat::Jasc && words.size() > 3) {
            if (words.size() > 4) return false;
            bool alpha = false;
            for (int value = 0; value < 256 && !alpha; ++value) alpha = WordIs(words[3], value);
            if (!alpha) return false;
        }
    }
    return true;
}

}  // namespace

bool PaletteLinesHold(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    // Pieces of 1 to 64 bytes, chosen by the input's length.
    const std::size_t piece = 1 + size % 64;
    return Holds(PaletteFormat::Gimp, text, piece) && Holds(PaletteFormat::Jasc, text, piece);
}

std::vector<std::pair<std::string, std::string>> PaletteSeeds() {
    const std::string blanks(4100, ' ');
    return {
        {"terrain.gpl", "GIMP Palette\nName: terrain\nColumns: 4\n#\n# water\n  0  0 255\tdeep water\n\n10 20 30"},
        {"crlf-bom.gpl", "\xEF\xBB\xBFGIMP Palette\r\n1 2 3\r\n4\t5\t6 x\r\n"},
        {"long-lines.gpl", "GIMP Palette\n1 1 1\n" + blanks + "2 2 2\n#" + blanks + "x\n3 3 3 " + blanks + "name\n"},
        {"long-gaps.gpl", "GIMP Palette" + blanks + "\n3" + blanks + "3\t" + blanks + "3\n"},
        {"refused.gpl", "GIMP Palette\n1 2 3\n4 5\n"},
        {"terrain.pal", "JASC-PAL\r\n0100\r\n3\r\n1 2 3\r\n4 5 6 255\r\n7 8 9\r\n\r\n"},
        {"long-lines.pal", "JASC-PAL\n0100\n2\n" + blanks + "1 2 3\n4 5 6" + blanks + "255\n" + blanks + "\n"},
        {"long-alpha.pal", "JASC-PAL\n0100\n1\n4 5 6" + blanks + "300\n"},
        {"more.pal", "JASC-PAL\n0100\n1\n1 2 3\n4 5 6\n"},
    };
}

}  // namespace bmp2grid::fuzzing
