#include "palette_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <utility>

#include "map_text_format.h"

namespace bmp2grid {
namespace {

constexpr std::string_view kGimpHeader = "GIMP Palette";
constexpr std::string_view kJascHeader = "JASC-PAL";
constexpr std::string_view kJascVersion = "0100";
// A UTF-8 byte-order mark before the first line is skipped, as map text's is.
using map_text::kByteOrderMark;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool EndsWithNoCase(std::string_view name, std::string_view ending) {
    if (name.size() < ending.size()) return false;
    return std::equal(ending.begin(), ending.end(), name.end() - static_cast<std::ptrdiff_t>(ending.size()),
                      [](char a, char b) { return a == (b >= 'A' && b <= 'Z' ? b - 'A' + 'a' : b); });
}

// The first line of `start`, without a UTF-8 byte-order mark before it and
// blanks after it.
std::string_view FirstLine(std::string_view start) {
    if (start.substr(0, kByteOrderMark.size()) == kByteOrderMark) start.remove_prefix(kByteOrderMark.size());
    return Trim(start.substr(0, start.find('\n')));
}

// Lines are read a byte at a time and never held: a line of any length is
// read whole, in the same small memory, so a file without line ends costs
// none. What a line's meaning needs is kept as it goes by: the start of
// its text after the leading blanks (enough to tell a header, a comment or
// a GIMP `Name:` line), how long that text is up to its last non-blank,
// and its first words read as numbers.
constexpr std::size_t kStartKept = 64;
constexpr std::size_t kWordsRead = 4;  // three values and a JASC alpha; later words are only counted

constexpr int kMissing = -1;
constexpr int kOutOfRange = 256;

// A word read as a decimal number (digits, with an optional leading '-').
struct Number {
    bool negative = false;
    bool digits = false;
    bool bad = false;  // a byte that is neither
    long long magnitude = 0;  // held at 10^12 once past it

    void Add(char c, bool first) {
        if (first && c == '-') {
            negative = true;
        } else if (c >= '0' && c <= '9') {
            digits = true;
            magnitude = std::min(magnitude * 10 + (c - '0'), 1000000000000LL);
        } else {
            bad = true;
        }
    }

    // -1 if the word is not a number, 256 if it is out of 0..255.
    int Value() const {
        if (bad || !digits) return kMissing;
        if (negative || magnitude > 255) return kOutOfRange;
        return static_cast<int>(magnitude);
    }
};

// The palette error for a word's Value(), None for a value.
PaletteError NumberError(int number) {
    if (number == kMissing) return PaletteError::NotAColour;
    if (number == kOutOfRange) return PaletteError::ValueOutOfRange;
    return PaletteError::None;
}

// What is known of the line being read.
struct LineScan {
    std::string start;               // the first kStartKept bytes after the leading blanks
    std::int64_t length = 0;         // bytes after the leading blanks
    std::int64_t trimmedLength = 0;  // the same, up to and including the last non-blank
    std::size_t words = 0;           // runs of non-blanks begun
    bool inWord = false;
    std::array<Number, kWordsRead> numbers{};

    void Add(char c) {
        if (IsBlank(c)) {
            inWord = false;
            if (length == 0) return;  // a leading blank
        } else {
            const bool first = !inWord;
            if (first) ++words;
            inWord = true;
            if (words <= kWordsRead) numbers[words - 1].Add(c, first);
        }
        if (start.size() < kStartKept) start.push_back(c);
        ++length;
        if (!IsBlank(c)) trimmedLength = length;
    }

    // The line without its leading and trailing blanks, if it is short
    // enough to have been kept whole.
    bool TrimmedIs(std::string_view text) const {
        return trimmedLength <= static_cast<std::int64_t>(kStartKept) &&
               std::string_view(start).substr(0, static_cast<std::size_t>(trimmedLength)) == text;
    }

    bool Blank() const { return trimmedLength == 0; }

    void Clear() {
        start.clear();  // its memory is kept for the next line
        length = trimmedLength = 0;
        words = 0;
        inWord = false;
        numbers = {};
    }
};

// Reads a GIMP or JASC palette a line at a time, fed in pieces of any size.
}  // namespace

class PaletteTextReader::Parser {
public:
    explicit Parser(PaletteFormat format) { result_.format = format; }

    // False once the palette has been refused: the rest need not be fed.
    bool Feed(std::string_view piece) {
        for (const char c : piece) {
            if (!result_.ok()) break;
            Byte(c);
        }
        return result_.ok();
    }

    PaletteResult Finish() {
        if (result_.ok()) {
            EndByteOrderMark();
            if (lineHasBytes_ || number_ == 0) EndLine();  // the last line needs no line end
        }
        if (!result_.ok()) return std::move(result_);
        if (result_.format == PaletteFormat::Jasc) {
            if (number_ < 3) return Refuse(kHeaderLineErrors[number_]);
            if (colours_ < announced_) return Refuse(PaletteError::FewerColours);
        }
        if (colours_ == 0) return Refuse(PaletteError::NoColours);
        return std::move(result_);
    }

private:
    // A JASC palette that ends before its header lines is refused at the
    // first missing one.
    static constexpr PaletteError kHeaderLineErrors[3] = {PaletteError::NotJascPalette, PaletteError::NotJascVersion,
                                                         PaletteError::NotColourCount};

    void Byte(char c) {
        lineHasBytes_ = true;
        // A UTF-8 byte-order mark at the very start is not part of line 1;
        // its bytes are held until it is whole or is not one.
        if (number_ == 0 && markHeld_ >= 0) {
            if (c == kByteOrderMark[static_cast<std::size_t>(markHeld_)]) {
                if (++markHeld_ == static_cast<int>(kByteOrderMark.size())) markHeld_ = -1;
                return;
            }
            EndByteOrderMark();
        }
        if (c == '\n') {
            EndLine();
            lineHasBytes_ = false;
        } else {
            scan_.Add(c);
        }
    }

    // The bytes held as the start of a byte-order mark that is not one
    // belong to line 1.
    void EndByteOrderMark() {
        if (markHeld_ > 0)
            for (int i = 0; i < markHeld_; ++i) scan_.Add(kByteOrderMark[static_cast<std::size_t>(i)]);
        markHeld_ = -1;
    }

    // Refuses the palette at the line after the last one read.
    PaletteResult Refuse(PaletteError error) {
        ++number_;
        Fail(error);
        return std::move(result_);
    }

    // A refused palette has no colours.
    void Fail(PaletteError error) {
        result_.error = error;
        result_.line = number_;
        result_.size = 0;
        result_.colours = {};
        result_.colourLines = {};
    }

    void EndLine() {
        ++number_;
        if (result_.format == PaletteFormat::Gimp) {
            GimpLine();
        } else {
            JascLine();
        }
        scan_.Clear();
    }

    void GimpLine() {
        if (number_ == 1) {
            if (!scan_.TrimmedIs(kGimpHeader)) Fail(PaletteError::NotGimpPalette);
            return;
        }
        const std::string_view start = scan_.start;
        if (scan_.Blank() || start.starts_with('#') || start.starts_with("Name:") || start.starts_with("Columns:"))
            return;
        // Three numbers, then the colour's name if it has one.
        Colour();
    }

    void JascLine() {
        switch (number_) {
            case 1:
                if (!scan_.TrimmedIs(kJascHeader)) Fail(PaletteError::NotJascPalette);
                return;
            case 2:
                if (!scan_.TrimmedIs(kJascVersion)) Fail(PaletteError::NotJascVersion);
                return;
            case 3: {
                // Digits only.
                const Number& count = scan_.numbers[0];
                if (scan_.words != 1 || count.bad || count.negative || !count.digits)
                    return Fail(PaletteError::NotColourCount);
                if (count.magnitude == 0) return Fail(PaletteError::NoColours);
                announced_ = count.magnitude;
                return;
            }
            default:
                break;
        }
        if (colours_ == announced_) {
            if (!scan_.Blank()) Fail(PaletteError::MoreColours);
            return;
        }
        // Three numbers, and a fourth (alpha, not used) that some programs add.
        Colour();
        if (result_.ok() && scan_.words > 3) {
            const PaletteError alpha = NumberError(scan_.numbers[3].Value());
            if (alpha != PaletteError::None) return Fail(alpha);
            if (scan_.words > 4) Fail(PaletteError::NotAColour);
        }
    }

    // The line's first three words as a colour, kept if it is among the
    // first 256.
    void Colour() {
        for (std::size_t i = 0; i < 3; ++i) {
            const PaletteError error = NumberError(i < scan_.words ? scan_.numbers[i].Value() : kMissing);
            if (error != PaletteError::None) return Fail(error);
        }
        if (colours_ < static_cast<long long>(result_.colours.size())) {
            const auto index = static_cast<std::size_t>(colours_);
            auto& colour = result_.colours[index];  // blue, green, red, 0
            for (std::size_t i = 0; i < 3; ++i) colour[2 - i] = static_cast<std::uint8_t>(scan_.numbers[i].Value());
            result_.colourLines[index] = number_;
            result_.size = static_cast<int>(colours_ + 1);
        }
        ++colours_;
    }

    PaletteResult result_;
    LineScan scan_;
    bool lineHasBytes_ = false;  // bytes read since the last line end
    int markHeld_ = 0;           // bytes of a byte-order mark held; -1 once decided
    std::int64_t number_ = 0;    // lines ended so far
    long long colours_ = 0;
    long long announced_ = 0;  // JASC: the colour count on line 3
};


PaletteTextReader::PaletteTextReader(PaletteFormat format) : parser_(std::make_unique<Parser>(format)) {}
PaletteTextReader::~PaletteTextReader() = default;
bool PaletteTextReader::Feed(std::string_view piece) { return parser_->Feed(piece); }
PaletteResult PaletteTextReader::Finish() { return parser_->Finish(); }

PaletteFormat PaletteFormatOf(std::string_view name, std::string_view start) {
    if (EndsWithNoCase(name, ".gpl")) return PaletteFormat::Gimp;
    if (EndsWithNoCase(name, ".pal")) return PaletteFormat::Jasc;
    const std::string_view first = FirstLine(start.substr(0, kPaletteFormatBytes));
    if (first == kGimpHeader) return PaletteFormat::Gimp;
    if (first == kJascHeader) return PaletteFormat::Jasc;
    return PaletteFormat::Picture;
}

PaletteResult ParsePaletteText(PaletteFormat format, std::string_view text, std::size_t piece) {
    PaletteTextReader parser(format);
    if (piece == 0) piece = text.size();
    while (!text.empty() && parser.Feed(text.substr(0, piece))) text.remove_prefix(std::min(piece, text.size()));
    return parser.Finish();
}

}  // namespace bmp2grid
