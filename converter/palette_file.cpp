#include "palette_file.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>
#include <utility>

#include "picture_loader.h"
#include "platform.h"

namespace bmp2grid {
namespace {

constexpr std::string_view kGimpHeader = "GIMP Palette";
constexpr std::string_view kJascHeader = "JASC-PAL";
constexpr std::string_view kJascVersion = "0100";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// Only the start of a line is looked at: the numbers come first, and what
// follows them (a GIMP colour's name) is not read. Longer lines are cut
// here, so a file without line ends holds no more than this in memory.
constexpr std::size_t kLineKept = 4096;

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

constexpr int kMissing = -1;
constexpr int kOutOfRange = 256;

// Reads a decimal number (digits, with an optional leading '-') at the start
// of `s` after blanks, and moves past it; -1 if there is none, 256 if it is
// out of 0..255.
int ReadNumber(std::string_view& s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    std::size_t i = 0;
    const bool negative = i < s.size() && s[i] == '-';
    if (negative) ++i;
    const std::size_t digitsFrom = i;
    long long v = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) v = std::min(v * 10 + (s[i] - '0'), 1000000000LL);
    if (i == digitsFrom) return kMissing;
    // A number runs up to a blank or the line's end.
    if (i < s.size() && !IsBlank(s[i])) return kMissing;
    s.remove_prefix(i);
    if (negative || v > 255) return kOutOfRange;
    return static_cast<int>(v);
}

// The palette error for what ReadNumber gave, None for a value.
PaletteError NumberError(int number) {
    if (number == kMissing) return PaletteError::NotAColour;
    if (number == kOutOfRange) return PaletteError::ValueOutOfRange;
    return PaletteError::None;
}

// Reads a GIMP or JASC palette a line at a time, fed in pieces of any size.
class PaletteTextParser {
public:
    explicit PaletteTextParser(PaletteFormat format) { result_.format = format; }

    // False once the palette has been refused: the rest need not be fed.
    bool Feed(std::string_view piece) {
        while (!piece.empty() && result_.ok()) {
            const std::size_t end = piece.find('\n');
            const std::string_view part = piece.substr(0, end);
            if (line_.size() < kLineKept) line_.append(part.substr(0, kLineKept - line_.size()));
            if (end == std::string_view::npos) break;
            piece.remove_prefix(end + 1);
            EndLine();
        }
        return result_.ok();
    }

    PaletteResult Finish() {
        if (result_.ok() && (!line_.empty() || number_ == 0)) EndLine();  // the last line needs no line end
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
    }

    void EndLine() {
        ++number_;
        std::string_view text = line_;
        if (number_ == 1 && text.substr(0, kByteOrderMark.size()) == kByteOrderMark)
            text.remove_prefix(kByteOrderMark.size());
        if (result_.format == PaletteFormat::Gimp) {
            GimpLine(text);
        } else {
            JascLine(text);
        }
        line_.clear();
    }

    void GimpLine(std::string_view text) {
        const std::string_view trimmed = Trim(text);
        if (number_ == 1) {
            if (trimmed != kGimpHeader) Fail(PaletteError::NotGimpPalette);
            return;
        }
        if (trimmed.empty() || trimmed.front() == '#' || trimmed.starts_with("Name:") ||
            trimmed.starts_with("Columns:"))
            return;
        // Three numbers, then the colour's name if it has one.
        Colour(trimmed);
    }

    void JascLine(std::string_view text) {
        std::string_view trimmed = Trim(text);
        switch (number_) {
            case 1:
                if (trimmed != kJascHeader) Fail(PaletteError::NotJascPalette);
                return;
            case 2:
                if (trimmed != kJascVersion) Fail(PaletteError::NotJascVersion);
                return;
            case 3: {
                std::size_t i = 0;
                long long count = 0;
                for (; i < trimmed.size() && trimmed[i] >= '0' && trimmed[i] <= '9'; ++i)
                    count = std::min(count * 10 + (trimmed[i] - '0'), 1000000000000LL);
                if (i == 0 || i != trimmed.size()) return Fail(PaletteError::NotColourCount);
                if (count == 0) return Fail(PaletteError::NoColours);
                announced_ = count;
                return;
            }
            default:
                break;
        }
        if (colours_ == announced_) {
            if (!trimmed.empty()) Fail(PaletteError::MoreColours);
            return;
        }
        // Three numbers, and a fourth (alpha, not used) that some programs add.
        Colour(trimmed);
        if (result_.ok() && !Trim(rest_).empty()) {
            const PaletteError alpha = NumberError(ReadNumber(rest_));
            if (alpha != PaletteError::None) return Fail(alpha);
            if (!Trim(rest_).empty()) Fail(PaletteError::NotAColour);
        }
    }

    // Reads three numbers at the start of `text` as a colour and keeps it if
    // it is among the first 256; the rest of the line is left in rest_.
    void Colour(std::string_view text) {
        const int red = ReadNumber(text);
        const int green = ReadNumber(text);
        const int blue = ReadNumber(text);
        for (const int value : {red, green, blue}) {
            const PaletteError error = NumberError(value);
            if (error != PaletteError::None) return Fail(error);
        }
        rest_ = text;
        if (colours_ < static_cast<long long>(result_.colours.size())) {
            result_.colours[static_cast<std::size_t>(colours_)] = {static_cast<std::uint8_t>(blue),
                                                                   static_cast<std::uint8_t>(green),
                                                                   static_cast<std::uint8_t>(red), 0};
            result_.size = static_cast<int>(colours_ + 1);
        }
        ++colours_;
    }

    PaletteResult result_;
    std::string line_;
    std::string_view rest_;
    std::int64_t number_ = 0;  // lines ended so far
    long long colours_ = 0;
    long long announced_ = 0;  // JASC: the colour count on line 3
};

PaletteResult PictureRefused(const LoadResult& loaded) {
    PaletteResult result;
    result.error = PaletteError::Picture;
    result.picture.error = loaded.error;
    result.picture.compression = loaded.compression;
    result.picture.pngColourType = loaded.pngColourType;
    result.picture.pngBitDepth = loaded.pngBitDepth;
    result.picture.reason = loaded.reason;
    return result;
}

PaletteResult PaletteOfPicture(const LoadResult& loaded) {
    if (!loaded.ok()) return PictureRefused(loaded);
    // A PNG whose rows are decoded only as they are asked for is decoded to
    // its end here, so that a damaged palette picture is refused as it is as
    // an input (an interlaced PNG, decoded whole, already was).
    if (RowSource* rows = loaded.image.rowSource.get())
        for (std::int64_t y = 0; y < loaded.image.rows; ++y)
            if (rows->Row(y) == nullptr) return PictureRefused(rows->Failure());
    PaletteResult result;
    result.size = loaded.image.paletteSize;
    result.colours = loaded.image.palette;
    return result;
}

PaletteResult CantRead() {
    LoadResult failed;
    failed.error = LoadError::ReadFailed;
    return PictureRefused(failed);
}

// Reads a text palette from `file` in pieces, after its first bytes `start`.
PaletteResult ReadPaletteText(PaletteFormat format, platform::InputFile& file, std::string_view start) {
    PaletteTextParser parser(format);
    if (!parser.Feed(start)) return parser.Finish();
    std::uint8_t block[64 * 1024];
    for (;;) {
        const long long n = file.Read(block, sizeof block);
        if (n < 0) return CantRead();
        if (n == 0 || !parser.Feed(std::string_view(reinterpret_cast<const char*>(block), static_cast<std::size_t>(n))))
            break;
    }
    return parser.Finish();
}

}  // namespace

PaletteFormat PaletteFormatOf(std::string_view name, std::string_view start) {
    if (EndsWithNoCase(name, ".gpl")) return PaletteFormat::Gimp;
    if (EndsWithNoCase(name, ".pal")) return PaletteFormat::Jasc;
    const std::string_view first = FirstLine(start);
    if (first == kGimpHeader) return PaletteFormat::Gimp;
    if (first == kJascHeader) return PaletteFormat::Jasc;
    return PaletteFormat::Picture;
}

PaletteResult ParsePaletteText(PaletteFormat format, std::string_view text) {
    PaletteTextParser parser(format);
    parser.Feed(text);
    return parser.Finish();
}

PaletteResult ReadPalette(const std::string& path, std::string_view name) {
    auto file = std::make_shared<platform::InputFile>();
    if (file->Open(path) != platform::ReadStatus::Ok) {
        LoadResult missing;
        missing.error = LoadError::CantOpen;
        return PictureRefused(missing);
    }
    // Enough of the start, read in sequence, to tell the formats apart: the
    // longest first line looked for, after a byte-order mark, and its line
    // end.
    std::uint8_t head[32];
    std::size_t got = 0;
    while (got < sizeof head) {
        const long long n = file->Read(head + got, sizeof head - got);
        if (n < 0) return CantRead();
        if (n == 0) break;
        got += static_cast<std::size_t>(n);
    }
    const std::string_view start(reinterpret_cast<const char*>(head), got);
    const PaletteFormat format = PaletteFormatOf(name, start);
    switch (format) {
        case PaletteFormat::Gimp:
        case PaletteFormat::Jasc:
            return ReadPaletteText(format, *file, start);
        case PaletteFormat::Picture:
            break;
    }
    // A picture: its colour table. A regular file is opened again and read
    // at offsets; a stream goes on from the bytes already read.
    if (file->IsRegularFile()) return PaletteOfPicture(LoadPicture(path, LoadOptions{}));
    return PaletteOfPicture(LoadPicture(std::move(file), std::span<const std::uint8_t>(head, got), LoadOptions{}));
}

}  // namespace bmp2grid
