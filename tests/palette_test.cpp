// Reading palette files, and matching a picture's colours with a reference
// palette.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "bmp_format.h"
#include "command_line.h"
#include "diagnostics.h"
#include "memory_sink.h"
#include "palette_file.h"
#include "palette_text.h"
#include "palette_lines.h"
#include "palette_match.h"
#include "process_runner.h"
#include "test_support.h"

namespace bmp2grid::test {
namespace {

using Rgb = std::array<int, 3>;

Rgb ColourAt(const ColourTable& table, int i) {
    const auto& entry = table[static_cast<std::size_t>(i)];
    return {entry[2], entry[1], entry[0]};
}

TEST(PaletteText, ParsesOrRefusesWithTheLine) {
    std::string many = "GIMP Palette\n";
    for (int i = 0; i < 300; ++i) many += std::to_string(i % 256) + " 0 0\n";
    std::string manyJasc = "JASC-PAL\r\n0100\r\n300\r\n";
    for (int i = 0; i < 300; ++i) manyJasc += "0 " + std::to_string(i % 256) + " 0\r\n";
    struct Case {
        const char* label;
        PaletteFormat format;
        std::string text;
        PaletteError error;
        std::int64_t line;
        int size;
        std::vector<Rgb> first;  // the first colours read
    };
    const Case cases[] = {
        {"GIMP with comments, name, columns, a colour name, no last line end", PaletteFormat::Gimp,
         "GIMP Palette\nName: terrain\nColumns: 4\n#\n# water\n  0  0 255\tdeep water\n\n10 20 30", PaletteError::None, 0,
         2, {{0, 0, 255}, {10, 20, 30}}},
        {"GIMP with CR LF and a byte-order mark", PaletteFormat::Gimp, "\xEF\xBB\xBFGIMP Palette\r\n1 2 3\r\n4\t5\t6 x\r\n",
         PaletteError::None, 0, 2, {{1, 2, 3}, {4, 5, 6}}},
        {"GIMP past 256 colours", PaletteFormat::Gimp, many, PaletteError::None, 0, 256, {{0, 0, 0}, {1, 0, 0}}},
        {"GIMP malformed line past the 256th colour", PaletteFormat::Gimp, many + "1 2\n", PaletteError::NotAColour,
         302, 0, {}},
        {"GIMP two numbers", PaletteFormat::Gimp, "GIMP Palette\n1 2 3\n4 5\n", PaletteError::NotAColour, 3, 0, {}},
        {"GIMP name stuck to a number", PaletteFormat::Gimp, "GIMP Palette\n1 2 3red\n", PaletteError::NotAColour, 2, 0,
         {}},
        {"GIMP value 256", PaletteFormat::Gimp, "GIMP Palette\n1 256 3\n", PaletteError::ValueOutOfRange, 2, 0, {}},
        {"GIMP negative value", PaletteFormat::Gimp, "GIMP Palette\n-1 2 3\n", PaletteError::ValueOutOfRange, 2, 0, {}},
        {"GIMP '-' after digits", PaletteFormat::Gimp, "GIMP Palette\n1 2 3-\n", PaletteError::NotAColour, 2, 0, {}},
        {"GIMP '-' alone", PaletteFormat::Gimp, "GIMP Palette\n1 - 3\n", PaletteError::NotAColour, 2, 0, {}},
        {"GIMP plus sign", PaletteFormat::Gimp, "GIMP Palette\n+1 2 3\n", PaletteError::NotAColour, 2, 0, {}},
        {"GIMP no colours: the line after the last", PaletteFormat::Gimp, "GIMP Palette\nName: x\n# none\n",
         PaletteError::NoColours, 4, 0, {}},
        {"GIMP empty file", PaletteFormat::Gimp, "", PaletteError::NotGimpPalette, 1, 0, {}},
        {"GIMP other first line", PaletteFormat::Gimp, "GIMP Palette 2\n1 2 3\n", PaletteError::NotGimpPalette, 1, 0,
         {}},
        {"GIMP binary junk", PaletteFormat::Gimp, std::string("GIMP Palette\n\x01\x02\0\xff\n", 18),
         PaletteError::NotAColour, 2, 0, {}},
        {"JASC with CR LF and no last line end", PaletteFormat::Jasc, "JASC-PAL\r\n0100\r\n2\r\n1 2 3\r\n4 5 6",
         PaletteError::None, 0, 2, {{1, 2, 3}, {4, 5, 6}}},
        {"JASC with alpha values and blank lines after", PaletteFormat::Jasc, "JASC-PAL\n0100\n1\n7 8 9 255\n\n\n",
         PaletteError::None, 0, 1, {{7, 8, 9}}},
        {"JASC past 256 colours", PaletteFormat::Jasc, manyJasc, PaletteError::None, 0, 256, {{0, 0, 0}, {0, 1, 0}}},
        {"JASC fewer colours than announced", PaletteFormat::Jasc, "JASC-PAL\n0100\n3\n1 2 3\n4 5 6\n",
         PaletteError::FewerColours, 6, 0, {}},
        {"JASC more colours than announced", PaletteFormat::Jasc, "JASC-PAL\n0100\n1\n1 2 3\n4 5 6\n",
         PaletteError::MoreColours, 5, 0, {}},
        {"JASC count 0", PaletteFormat::Jasc, "JASC-PAL\n0100\n0\n", PaletteError::NoColours, 3, 0, {}},
        {"JASC bad count", PaletteFormat::Jasc, "JASC-PAL\n0100\n2x\n", PaletteError::NotColourCount, 3, 0, {}},
        {"JASC bad version", PaletteFormat::Jasc, "JASC-PAL\n0200\n1\n1 2 3\n", PaletteError::NotJascVersion, 2, 0, {}},
        {"JASC header only", PaletteFormat::Jasc, "JASC-PAL\n", PaletteError::NotJascVersion, 2, 0, {}},
        {"JASC five numbers", PaletteFormat::Jasc, "JASC-PAL\n0100\n1\n1 2 3 4 5\n", PaletteError::NotAColour, 4, 0, {}},
        {"JASC alpha out of range", PaletteFormat::Jasc, "JASC-PAL\n0100\n1\n1 2 3 400\n", PaletteError::ValueOutOfRange,
         4, 0, {}},
        {"a RIFF palette named .pal", PaletteFormat::Jasc, std::string("RIFF\x10\0\0\0PAL data", 16),
         PaletteError::NotJascPalette, 1, 0, {}},
    };
    for (const Case& c : cases) {
        const PaletteResult result = ParsePaletteText(c.format, c.text);
        EXPECT_EQ(result.error, c.error) << c.label;
        EXPECT_EQ(result.line, c.line) << c.label;
        EXPECT_EQ(result.size, c.size) << c.label;
        for (std::size_t i = 0; i < c.first.size(); ++i)
            EXPECT_EQ(ColourAt(result.colours, static_cast<int>(i)), c.first[i]) << c.label << " colour " << i;
        // The same text fed in pieces gives the same result.
        if (c.text.size() < 200) {
            TempDir dir;
            WriteFile(dir / "p", c.text);
            const PaletteResult read = ReadPalette(dir / "p", c.format == PaletteFormat::Gimp ? "p.gpl" : "p.pal");
            EXPECT_EQ(read.error, c.error) << c.label;
            EXPECT_EQ(read.line, c.line) << c.label;
        }
    }
    // Every refusal has its message, naming the file and the line.
    EXPECT_EQ(PaletteFailureMessage(ParsePaletteText(PaletteFormat::Gimp, "GIMP Palette\n1 2\n"), "t.gpl"),
              "Can't convert t.gpl: line 2: not a colour\n");
}

// No line of a palette is skipped or cut for its length: every byte of a
// line counts, however long it is, and a colour keeps its index. Long runs
// of blanks sit around the 4 KiB and 64 KiB marks (the file is read in
// 64 KiB blocks), before, between and after the numbers, and in header,
// comment and name lines.
TEST(PaletteText, LongLinesAreReadWholeOrRefusedAtTheirLine) {
    const auto blanks = [](std::size_t n) { return std::string(n, ' '); };
    struct Case {
        std::string label;
        PaletteFormat format;
        std::string text;
        PaletteError error;
        std::int64_t line;             // of the refusal
        std::vector<Rgb> colours;      // all of them, when read
        std::vector<std::int64_t> at;  // the line of each
    };
    std::vector<Case> cases;
    for (const char* end : {"\n", "\r\n"}) {
        const std::string eol = end;
        const std::string crlf = eol == "\r\n" ? " (CR LF)" : "";
        for (std::size_t n : {4094u, 4095u, 4096u, 4097u, 65536u, 70000u}) {
            const std::string count = std::to_string(n) + crlf;
            cases.push_back({"GIMP " + count + " blanks before the numbers", PaletteFormat::Gimp,
                             "GIMP Palette" + eol + "1 1 1" + eol + blanks(n) + "2 2 2" + eol + "3 3 3" + eol,
                             PaletteError::None, 0, {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}}, {2, 3, 4}});
            cases.push_back({"JASC " + count + " blanks before the numbers", PaletteFormat::Jasc,
                             "JASC-PAL" + eol + "0100" + eol + "3" + eol + "1 1 1" + eol + blanks(n) + "2 2 2" + eol +
                                 "3 3 3" + eol,
                             PaletteError::None, 0, {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}}, {4, 5, 6}});
            cases.push_back({"GIMP " + count + " blanks between the numbers, then a name", PaletteFormat::Gimp,
                             "GIMP Palette" + eol + "10" + blanks(n) + "20\t" + blanks(n) + "30 " + blanks(n) + "sea" + eol,
                             PaletteError::None, 0, {{10, 20, 30}}, {2}});
            cases.push_back({"JASC " + count + " blanks before an alpha value", PaletteFormat::Jasc,
                             "JASC-PAL" + eol + "0100" + eol + "1" + eol + "7 8 9" + blanks(n) + "255" + eol,
                             PaletteError::None, 0, {{7, 8, 9}}, {4}});
            cases.push_back({"GIMP " + count + " blanks after the header", PaletteFormat::Gimp,
                             "GIMP Palette" + blanks(n) + eol + "4 5 6" + eol, PaletteError::None, 0, {{4, 5, 6}}, {2}});
            // What follows the blanks is read, and refused where it is wrong.
            cases.push_back({"GIMP a number cut by " + count + " blanks", PaletteFormat::Gimp,
                             "GIMP Palette" + eol + blanks(n - 2) + "255 0 0" + eol, PaletteError::None, 0,
                             {{255, 0, 0}}, {2}});
            cases.push_back({"GIMP more words " + count + " blanks after the header", PaletteFormat::Gimp,
                             "GIMP Palette" + blanks(n) + "x" + eol + "4 5 6" + eol, PaletteError::NotGimpPalette, 1,
                             {}, {}});
            cases.push_back({"GIMP a bad value after " + count + " blanks", PaletteFormat::Gimp,
                             "GIMP Palette" + eol + "1 2 3" + eol + blanks(n) + "1 2 300" + eol,
                             PaletteError::ValueOutOfRange, 3, {}, {}});
            cases.push_back({"JASC an alpha value out of range after " + count + " blanks", PaletteFormat::Jasc,
                             "JASC-PAL" + eol + "0100" + eol + "1" + eol + "7 8 9" + blanks(n) + "300" + eol,
                             PaletteError::ValueOutOfRange, 4, {}, {}});
            cases.push_back({"JASC a fifth number after " + count + " blanks", PaletteFormat::Jasc,
                             "JASC-PAL" + eol + "0100" + eol + "1" + eol + "7 8 9 255" + blanks(n) + "1" + eol,
                             PaletteError::NotAColour, 4, {}, {}});
            cases.push_back({"JASC a count followed by " + count + " blanks and more", PaletteFormat::Jasc,
                             "JASC-PAL" + eol + "0100" + eol + "1" + blanks(n) + "2" + eol + "7 8 9" + eol,
                             PaletteError::NotColourCount, 3, {}, {}});
        }
        const std::string crlfLabel = crlf.empty() ? "" : crlf;
        const std::string longName(100000, 'n');
        cases.push_back({"GIMP long comment, Name: and colour name lines" + crlfLabel, PaletteFormat::Gimp,
                         "GIMP Palette" + eol + "Name: " + longName + eol + "#" + longName + eol + "1 2 3 " + longName +
                             eol + blanks(5000) + "# " + longName + eol + "4 5 6" + eol,
                         PaletteError::None, 0, {{1, 2, 3}, {4, 5, 6}}, {4, 6}});
        cases.push_back({"JASC blank lines of 70000 blanks after the last colour" + crlfLabel, PaletteFormat::Jasc,
                         "JASC-PAL" + eol + "0100" + eol + "1" + eol + "1 2 3" + eol + blanks(70000) + eol +
                             blanks(70000),
                         PaletteError::None, 0, {{1, 2, 3}}, {4}});
        cases.push_back({"a number of 5000 digits" + crlfLabel, PaletteFormat::Gimp,
                         "GIMP Palette" + eol + std::string(5000, '0') + "7 8 9" + eol, PaletteError::None, 0,
                         {{7, 8, 9}}, {2}});
    }
    for (const Case& c : cases) {
        TempDir dir;
        const std::string name = c.format == PaletteFormat::Gimp ? "p.gpl" : "p.pal";
        WriteFile(dir / name, c.text);
        // Whole, from the file in blocks, and a byte at a time.
        const PaletteResult results[] = {ParsePaletteText(c.format, c.text), ReadPalette(dir / name, name),
                                         ParsePaletteText(c.format, c.text, 1)};
        for (const PaletteResult& result : results) {
            EXPECT_EQ(result.error, c.error) << c.label;
            EXPECT_EQ(result.line, c.line) << c.label;
            EXPECT_EQ(result.size, static_cast<int>(c.colours.size())) << c.label;
            for (std::size_t i = 0; i < std::min(c.colours.size(), static_cast<std::size_t>(result.size)); ++i) {
                EXPECT_EQ(ColourAt(result.colours, static_cast<int>(i)), c.colours[i]) << c.label << " colour " << i;
                EXPECT_EQ(result.colourLines[i], c.at[i]) << c.label << " colour " << i;
            }
        }
    }
}

// The palette fuzz target's seeds, through its check that no line is dropped.
TEST(PaletteText, FuzzSeedsKeepEveryLine) {
    for (const auto& [name, text] : fuzzing::PaletteSeeds())
        EXPECT_TRUE(fuzzing::PaletteLinesHold(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())) << name;
}

TEST(PaletteText, FormatFromNameOrFirstLine) {
    struct Case {
        std::string name;
        std::string start;
        PaletteFormat format;
    };
    const Case cases[] = {
        {"terrain.gpl", "BM", PaletteFormat::Gimp},  // the name decides
        {"TERRAIN.PAL", "GIMP Palette\n", PaletteFormat::Jasc},
        {"-", "GIMP Palette\r\n1 2 3", PaletteFormat::Gimp},
        {"-", "\xEF\xBB\xBFJASC-PAL\n0100", PaletteFormat::Jasc},
        {"terrain.bmp", "JASC-PAL", PaletteFormat::Jasc},
        {"terrain.bmp", "BM\x36\x04", PaletteFormat::Picture},
        {"pal", "", PaletteFormat::Picture},
    };
    for (const Case& c : cases) EXPECT_EQ(PaletteFormatOf(c.name, c.start), c.format) << c.name;
}

// Everything a palette result holds: its refusal (and a picture's), its
// colours and the lines they came from.
void ExpectSameResult(const PaletteResult& a, const PaletteResult& b, const std::string& label) {
    EXPECT_EQ(a.error, b.error) << label;
    EXPECT_EQ(a.format, b.format) << label;
    EXPECT_EQ(a.line, b.line) << label;
    EXPECT_EQ(a.picture.error, b.picture.error) << label;
    EXPECT_EQ(a.picture.compression, b.picture.compression) << label;
    EXPECT_EQ(a.picture.pngColourType, b.picture.pngColourType) << label;
    EXPECT_EQ(a.picture.pngBitDepth, b.picture.pngBitDepth) << label;
    EXPECT_EQ(a.picture.reason, b.picture.reason) << label;
    EXPECT_EQ(a.size, b.size) << label;
    EXPECT_EQ(a.colours, b.colours) << label;
    EXPECT_EQ(a.colourLines, b.colourLines) << label;
}

// A palette file's bytes given whole (as the web page gives them) are read
// as the file holding them is: the format told by the name, else by the
// first line, else a picture; the same colours and the same refusal, in the
// same words.
TEST(PaletteBytes, ReadAsTheFileHoldingThemIs) {
    const std::string data = BMP2GRID_TEST_DATA;
    const auto bytesOf = [](const std::string& text) { return Bytes(text.begin(), text.end()); };
    const auto cut = [](Bytes bytes, std::size_t size) {
        bytes.resize(size);
        return bytes;
    };
    const auto fileBytes = [](const std::string& path) {
        const std::string text = ReadFile(path);
        return Bytes(text.begin(), text.end());
    };
    BmpOptions four;
    four.paletteEntries = 4;
    BmpOptions rle;
    rle.storage = Storage::Rle8;
    BmpOptions deep;
    deep.bitCount = 24;
    const Bytes bmp = MakeBmp(CountingPicture(5, 3, 0), four);
    const std::string gimp = "GIMP Palette\nName: x\n# two\n1 2 3\n4 5 6 sea\n";
    const std::string jasc = "JASC-PAL\r\n0100\r\n2\r\n1 2 3\r\n4 5 6 255\r\n";
    struct Case {
        std::string label;
        std::string name;
        Bytes bytes;
        PaletteFormat format;
        PaletteError error;
        int size;  // colours read
    };
    const Case cases[] = {
        {"a BMP", "ref.bmp", bmp, PaletteFormat::Picture, PaletteError::None, 4},
        {"an RLE8 BMP named without an ending", "ref", MakeBmp(CountingPicture(7, 4, 0), rle), PaletteFormat::Picture,
         PaletteError::None, 256},
        {"a PNG", "ref.png", MakePng(CountingPicture(5, 3, 0)), PaletteFormat::Picture, PaletteError::None, 256},
        {"a GIMP palette", "ref.GPL", bytesOf(gimp), PaletteFormat::Gimp, PaletteError::None, 2},
        {"a JASC palette", "ref.pal", bytesOf(jasc), PaletteFormat::Jasc, PaletteError::None, 2},
        {"a GIMP palette told by its first line", "ref", bytesOf(gimp), PaletteFormat::Gimp, PaletteError::None, 2},
        {"a JASC palette told by its first line after a byte-order mark", "ref.txt", bytesOf("\xEF\xBB\xBF" + jasc),
         PaletteFormat::Jasc, PaletteError::None, 2},
        // Only the first 32 bytes tell the format: a header line that goes
        // on past them is a GIMP palette's, refused at its first line.
        {"a first line cut by the bytes that tell the format", "ref",
         bytesOf("GIMP Palette" + std::string(25, ' ') + "x\n1 2 3\n"), PaletteFormat::Gimp,
         PaletteError::NotGimpPalette, 0},
        {"a GIMP palette refused at line 3", "ref.gpl", bytesOf("GIMP Palette\n1 2 3\n4 5 x\n"),
         PaletteFormat::Gimp, PaletteError::NotAColour, 0},
        {"a JASC palette that ends early", "ref.pal", bytesOf("JASC-PAL\n0100\n3\n1 2 3\n"), PaletteFormat::Jasc,
         PaletteError::FewerColours, 0},
        {"an empty .gpl", "ref.gpl", {}, PaletteFormat::Gimp, PaletteError::NotGimpPalette, 0},
        {"a picture named .gpl", "ref.gpl", bmp, PaletteFormat::Gimp, PaletteError::NotGimpPalette, 0},
        {"an empty file", "ref", {}, PaletteFormat::Picture, PaletteError::Picture, 0},
        {"a BMP cut in its headers", "ref.bmp", cut(bmp, 30), PaletteFormat::Picture, PaletteError::Picture, 0},
        {"a BMP cut in its pixels", "ref.bmp", cut(bmp, bmp.size() - 8), PaletteFormat::Picture,
         PaletteError::Picture, 0},
        {"a 24-bit BMP", "ref.bmp", MakeBmp(CountingPicture(2, 2, 0), deep), PaletteFormat::Picture,
         PaletteError::Picture, 0},
        {"a PNG without indices", "ref.png", fileBytes(data + "/pillow-rgb.png"), PaletteFormat::Picture,
         PaletteError::Picture, 0},
        {"a PNG cut in its pixels", "ref.png", fileBytes(data + "/png-truncated.png"), PaletteFormat::Picture,
         PaletteError::Picture, 0},
        {"a PNG whose data fails its check", "ref.png", fileBytes(data + "/png-bad-crc.png"), PaletteFormat::Picture,
         PaletteError::Picture, 0},
    };
    TempDir dir;
    for (const Case& c : cases) {
        WriteFile(dir / "palette", c.bytes);
        ByteBuffer bytes;
        ASSERT_TRUE(bytes.Reserve(c.bytes.size() + 1));
        std::copy(c.bytes.begin(), c.bytes.end(), bytes.data());
        bytes.SetSize(c.bytes.size());
        const PaletteResult given = DecodePalette(std::move(bytes), c.name);
        const PaletteResult read = ReadPalette(dir / "palette", c.name);
        EXPECT_EQ(given.format, c.format) << c.label;
        EXPECT_EQ(given.error, c.error) << c.label << ": " << PaletteFailureMessage(given, c.name);
        EXPECT_EQ(given.size, c.size) << c.label;
        ExpectSameResult(given, read, c.label);
        EXPECT_EQ(PaletteFailureMessage(given, c.name), PaletteFailureMessage(read, c.name)) << c.label;
    }
}

// A picture from MakeBmp whose colour table is reversed and its indices
// rewritten to match: the same colours under other indices.
IndexedPicture Reversed(IndexedPicture picture) {
    for (auto& px : picture.pixels) px = static_cast<std::uint8_t>(255 - px);
    return picture;
}

void ReverseColourTable(Bytes& file, std::size_t entrySize) {
    const std::size_t table = bmp::kFileHeaderSize + bmp::Get32(file.data() + bmp::kFileHeaderSize);
    for (std::size_t i = 0; i < 128; ++i)
        for (std::size_t c = 0; c < entrySize; ++c)
            std::swap(file[table + i * entrySize + c], file[table + (255 - i) * entrySize + c]);
}

// MakeBmp's colours: entry i is (i, 255 - i, i ^ 0x55) as blue, green, red.
ColourTable FixtureColours() {
    ColourTable table{};
    for (int i = 0; i < 256; ++i)
        table[static_cast<std::size_t>(i)] = {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
                                              static_cast<std::uint8_t>(i ^ 0x55), 0};
    return table;
}

std::string RemappedMap(const Picture& image, SampleMode mode, const PaletteMatch& match) {
    MemorySink sink;
    EXPECT_TRUE(WriteMapHeader(sink, image, mode));
    EXPECT_EQ(WriteMapRows(sink, image, mode, match.values).status, MapWriteStatus::Ok);
    return std::string(sink.text());
}

TEST(PaletteMatch, SameColoursUnderOtherIndicesGiveTheSameMap) {
    const IndexedPicture picture = RandomPicture(13, 9, 3);
    const ColourTable reference = FixtureColours();
    for (std::uint32_t header : {12u, 40u, 124u})
        for (Storage storage : {Storage::BottomUp, Storage::TopDown, Storage::Rle8}) {
            if (header == 12 && storage != Storage::BottomUp) continue;
            BmpOptions options;
            options.headerSize = header;
            options.storage = storage;
            Bytes file = MakeBmp(Reversed(picture), options);
            ReverseColourTable(file, header == 12 ? bmp::kCorePaletteEntrySize : bmp::kPaletteEntrySize);
            const LoadResult loaded = DecodeBytes(file);
            ASSERT_TRUE(loaded.ok());
            const PaletteMatch match = MatchPalette(loaded.picture, reference, 256);
            ASSERT_TRUE(match.ok()) << header << " " << static_cast<int>(storage);
            for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne})
                EXPECT_EQ(RemappedMap(loaded.picture, mode, match), ReferenceMap(picture, mode))
                    << "header " << header << " storage " << static_cast<int>(storage);
        }
}

TEST(PaletteMatch, MatchingRules) {
    // A 4 x 2 picture of indices 0..3; its colour table has 4 entries.
    const IndexedPicture picture{4, 2, {0, 1, 2, 3, 3, 2, 1, 0}};
    BmpOptions options;
    options.paletteEntries = 4;
    const ColourTable own = FixtureColours();
    struct Case {
        const char* label;
        std::vector<int> reference;  // the reference palette as indices into MakeBmp's colours
        std::vector<int> values;     // expected value of indices 0..3
    };
    const Case cases[] = {
        {"the same palette", {0, 1, 2, 3}, {0, 1, 2, 3}},
        {"trimmed to the used colours, in a new order", {3, 1, 0, 2}, {2, 1, 3, 0}},
        {"duplicates keep the picture's own index", {1, 1, 2, 2, 0, 3}, {4, 1, 2, 5}},
        {"more colours than the picture's", {9, 8, 3, 2, 1, 0, 7}, {5, 4, 3, 2}},
    };
    for (const Case& c : cases) {
        ColourTable reference{};
        for (std::size_t i = 0; i < c.reference.size(); ++i) reference[i] = own[static_cast<std::size_t>(c.reference[i])];
        const LoadResult loaded = DecodeBytes(MakeBmp(picture, options));
        const PaletteMatch match = MatchPalette(loaded.picture, reference, static_cast<int>(c.reference.size()));
        ASSERT_TRUE(match.ok()) << c.label;
        for (std::size_t i = 0; i < c.values.size(); ++i) EXPECT_EQ(match.values[i], c.values[i]) << c.label << " " << i;
    }
}

// References of 1, 2, 255 and 256 colours, read from a picture (BMP and
// PNG), a GIMP palette and a JASC palette, and a picture with every index
// once whose colour at the index equal to the reference's size is black, a
// colour the reference lacks (and what a table holds past its colours):
// the indices below that size keep their values and the pixel of that
// index is the one refused. The entry just past the reference is never
// matched, even when it holds the picture's very colour.
TEST(PaletteMatch, TheEntryPastTheReferenceIsNeverMatched) {
    const ColourTable own = FixtureColours();
    IndexedPicture picture{16, 16, {}};
    for (int i = 0; i < 256; ++i) picture.pixels.push_back(static_cast<std::uint8_t>(i));
    const LoadResult ownColours = DecodeBytes(MakeBmp(picture));
    ASSERT_TRUE(ownColours.ok());
    for (const int size : {1, 2, 255, 256}) {
        std::string colours;
        for (int i = 0; i < size; ++i) {
            const Rgb rgb = ColourAt(own, i);
            colours += std::to_string(rgb[0]) + " " + std::to_string(rgb[1]) + " " + std::to_string(rgb[2]) + "\n";
        }
        TempDir dir;
        WriteFile(dir / "ref.gpl", "GIMP Palette\n" + colours);
        WriteFile(dir / "ref.pal", "JASC-PAL\n0100\n" + std::to_string(size) + "\n" + colours);
        BmpOptions bmpOptions;
        bmpOptions.paletteEntries = size;
        WriteFile(dir / "ref.bmp", MakeBmp(CountingPicture(1, 1, 0), bmpOptions));
        PngOptions pngOptions;
        pngOptions.paletteEntries = size;
        WriteFile(dir / "ref.png", MakePng(CountingPicture(1, 1, 0), pngOptions));
        for (const char* name : {"ref.gpl", "ref.pal", "ref.bmp", "ref.png"}) {
            const std::string label = std::string(name) + " of " + std::to_string(size) + " colours";
            // The picture's colours are the reference's (MakePng's are
            // MakeBmp's with red and blue swapped), with black at `size`.
            Bytes file = MakeBmp(picture);
            const bool png = std::string(name) == "ref.png";
            for (std::size_t i = 0; i < 256; ++i) {
                std::uint8_t* entry = file.data() + bmp::kFileHeaderSize + 40 + 4 * i;
                if (png) std::swap(entry[0], entry[2]);
                if (static_cast<int>(i) == size) std::fill(entry, entry + 3, 0);
            }
            const LoadResult loaded = DecodeBytes(file);
            ASSERT_TRUE(loaded.ok());
            const PaletteResult reference = ReadPalette(dir / name, name);
            ASSERT_TRUE(reference.ok()) << label << ": " << PaletteFailureMessage(reference, name);
            ASSERT_EQ(reference.size, size) << label;
            const PaletteMatch match = MatchPalette(loaded.picture, reference.colours, reference.size);
            for (int i = 0; i < size; ++i) {
                EXPECT_EQ(match.values[static_cast<std::size_t>(i)], i) << label << " index " << i;
                EXPECT_EQ(match.refused[static_cast<std::size_t>(i)], 0) << label << " index " << i;
            }
            if (size == 256) {
                EXPECT_TRUE(match.ok()) << label;
                continue;
            }
            EXPECT_EQ(match.error, PaletteMatchError::UnknownColour) << label;
            EXPECT_EQ(match.index, size) << label;
            EXPECT_EQ(match.column, size % 16) << label;
            EXPECT_EQ(match.row, size / 16) << label;
            EXPECT_EQ(PaletteMatchFailureMessage(match, "pic.bmp", name),
                      "Can't convert pic.bmp: colour #000000 at column " + std::to_string(size % 16) + ", row " +
                          std::to_string(size / 16) + " is not in " + name + "\n")
                << label;
        }
        // The picture's own colours, the reference holding all of them but
        // counting only the first `size`.
        const PaletteMatch match = MatchPalette(ownColours.picture, own, size);
        EXPECT_EQ(match.ok(), size == 256) << size;
        if (size < 256) {
            EXPECT_EQ(match.index, size);
            EXPECT_EQ(match.refused[static_cast<std::size_t>(size)], 1) << size;
        }
    }
}

TEST(PaletteMatch, RefusesTheFirstPixelFromTheTopLeft) {
    // Pixel (5, 2) is the first of index 7, whose colour the reference
    // lacks; (1, 3) and (0, 4) come later.
    IndexedPicture picture{9, 6, Bytes(54, 1)};
    auto set = [&picture](int x, int y, std::uint8_t v) { picture.pixels[static_cast<std::size_t>(y * 9 + x)] = v; };
    set(5, 2, 7);
    set(8, 2, 7);
    set(1, 3, 7);
    set(0, 4, 9);
    ColourTable reference = FixtureColours();
    reference[7] = {1, 2, 3, 0};
    for (Storage storage : {Storage::BottomUp, Storage::TopDown, Storage::Rle8}) {
        BmpOptions options;
        options.storage = storage;
        const LoadResult loaded = DecodeBytes(MakeBmp(picture, options));
        const PaletteMatch match = MatchPalette(loaded.picture, reference, 256);
        EXPECT_EQ(match.error, PaletteMatchError::UnknownColour);
        EXPECT_EQ(match.column, 5);
        EXPECT_EQ(match.row, 2);
        EXPECT_EQ(PaletteMatchFailureMessage(match, "pic.bmp", "ref.gpl"),
                  "Can't convert pic.bmp: colour #52F807 at column 5, row 2 is not in ref.gpl\n");
    }
    // An index past a short colour table; index 9 comes first once 7 is known.
    BmpOptions shortTable;
    shortTable.paletteEntries = 8;
    const LoadResult loaded = DecodeBytes(MakeBmp(picture, shortTable));
    const PaletteMatch past = MatchPalette(loaded.picture, FixtureColours(), 256);
    EXPECT_EQ(past.error, PaletteMatchError::IndexPastTable);
    EXPECT_EQ(PaletteMatchFailureMessage(past, "pic.bmp", "ref.gpl"),
              "Can't convert pic.bmp: index 9 at column 0, row 4 is past the picture's 8 colours\n");
}

// However the refused indices lie (one run, all but a few, every other
// one), the first refused pixel is found wherever it is in a long row.
TEST(PaletteMatch, FindsTheRefusedPixelWhereverItIs) {
    struct Case {
        const char* label;
        std::vector<int> known;  // the indices whose colours the reference has
        std::uint8_t refused;    // a pixel of this index is refused
    };
    std::vector<int> allBut200, odd;
    for (int i = 0; i < 256; ++i) {
        if (i != 200) allBut200.push_back(i);
        if (i % 2 == 1) odd.push_back(i);
    }
    const Case cases[] = {
        {"one index refused", allBut200, 200},
        {"all but three refused", {1, 5, 9}, 7},
        {"all but one refused", {1}, 255},
        {"every other index refused", odd, 2},
    };
    const ColourTable own = FixtureColours();
    for (const Case& c : cases) {
        ColourTable reference{};
        for (std::size_t i = 0; i < c.known.size(); ++i) reference[i] = own[static_cast<std::size_t>(c.known[i])];
        for (std::int64_t column : {0, 1, 63, 64, 65, 127, 128, 190, 199}) {
            IndexedPicture picture{200, 5, Bytes(1000, 1)};
            picture.pixels[static_cast<std::size_t>(3 * 200 + column)] = c.refused;
            picture.pixels[static_cast<std::size_t>(4 * 200)] = c.refused;  // later
            const LoadResult loaded = DecodeBytes(MakeBmp(picture));
            const PaletteMatch match = MatchPalette(loaded.picture, reference, static_cast<int>(c.known.size()));
            EXPECT_EQ(match.error, PaletteMatchError::UnknownColour) << c.label << " " << column;
            EXPECT_EQ(match.column, column) << c.label;
            EXPECT_EQ(match.row, 3) << c.label;
            EXPECT_EQ(match.index, c.refused) << c.label;
        }
        // Without the refused pixels the picture is sound.
        const LoadResult sound = DecodeBytes(MakeBmp(IndexedPicture{200, 5, Bytes(1000, 1)}));
        EXPECT_TRUE(MatchPalette(sound.picture, reference, static_cast<int>(c.known.size())).ok()) << c.label;
    }
}

TEST(PaletteMatch, PictureKeptInItsFileIsReadInWindows) {
    TempDir dir;
    IndexedPicture picture = RandomPicture(50, 40, 5);
    for (auto& px : picture.pixels) px = static_cast<std::uint8_t>(px % 100);
    picture.pixels[static_cast<std::size_t>(31 * 50 + 47)] = 200;
    picture.pixels[static_cast<std::size_t>(32 * 50 + 3)] = 201;
    ColourTable reference = FixtureColours();
    reference[200] = reference[201] = {0, 0, 0, 0};
    for (Storage storage : {Storage::BottomUp, Storage::TopDown}) {
        BmpOptions options;
        options.storage = storage;
        WriteFile(dir / "pic.bmp", MakeBmp(picture, options));
        const LoadResult loaded = LoadBitmap(dir / "pic.bmp", LoadOptions{});
        ASSERT_TRUE(loaded.ok());
        ASSERT_EQ(loaded.picture.Where(), PixelStore::Kept::InFile);
        // Windows of several rows, of one row, and narrower than a row.
        for (std::int64_t window : {std::int64_t{1} << 20, std::int64_t{200}, std::int64_t{52}, std::int64_t{7}}) {
            const PaletteMatch match = MatchPalette(loaded.picture, reference, 256, window);
            EXPECT_EQ(match.error, PaletteMatchError::UnknownColour) << window;
            EXPECT_EQ(match.column, 47) << window;
            EXPECT_EQ(match.row, 31) << window;
        }
    }
}

// Checked row by row as the map is written: the same pixel is refused, in
// every way rows are read (in memory, a window of rows from the file, rows
// wider than the window in pieces, two threads), rows without cells too.
TEST(PaletteMatch, CheckWhileWritingRefusesTheSamePixel) {
    TempDir dir;
    struct Case {
        std::int64_t width;
        std::int64_t rows;
        std::int64_t column;  // of the refused pixel, in row rows - 2
        std::int64_t window;
        bool overlapped;
    };
    const Case cases[] = {
        {50, 40, 47, std::int64_t{1} << 20, false},
        {50, 40, 3, 200, false},
        {50, 40, 49, 7, false},             // rows wider than the window
        {1, 6, 0, std::int64_t{1} << 20, false},  // two-to-one: no cells, the pixels still count
        {3000, 1500, 2999, std::int64_t{1} << 20, true},  // a map big enough for two threads
    };
    for (const Case& c : cases) {
        IndexedPicture picture{c.width, c.rows, Bytes(static_cast<std::size_t>(c.width * c.rows), 4)};
        const std::int64_t row = c.rows - 2;
        picture.pixels[static_cast<std::size_t>(row * c.width + c.column)] = 200;
        picture.pixels[static_cast<std::size_t>((c.rows - 1) * c.width)] = 201;
        ColourTable reference = FixtureColours();
        reference[200] = reference[201] = {0, 0, 0, 0};
        WriteFile(dir / "pic.bmp", MakeBmp(picture));
        for (bool inFile : {true, false}) {
            const LoadResult loaded = inFile ? LoadBitmap(dir / "pic.bmp", LoadOptions{}) : DecodeBytes(MakeBmp(picture));
            ASSERT_TRUE(loaded.ok());
            for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
                PaletteMatch match = MatchColours(loaded.picture, reference, 256);
                ASSERT_TRUE(match.checkPixels);
                PixelCheck check(loaded.picture, match);
                class Sink final : public OutputSink {
                public:
                    explicit Sink(bool overlapped) : overlapped_(overlapped) {}
                    bool Write(const char*, std::size_t) override { return true; }
                    bool OverlapsWork() const override { return overlapped_; }

                private:
                    bool overlapped_;
                } sink(c.overlapped);
                EXPECT_EQ(WriteMapRows(sink, loaded.picture, mode, match.values, &check, c.window).status,
                          MapWriteStatus::Refused)
                    << c.width << " window " << c.window;
                EXPECT_EQ(match.error, PaletteMatchError::UnknownColour);
                EXPECT_EQ(match.column, c.column) << c.width << " window " << c.window;
                EXPECT_EQ(match.row, row) << c.width << " window " << c.window;
            }
        }
    }
}

// A picture's colours listed in a GIMP or JASC palette, the first one's line
// starting with blanks past 4 KiB: each cell still holds the colour's index
// in the palette, as `bmp2grid --palette` writes it.
TEST(PaletteMatch, ALongLineKeepsEveryColoursIndex) {
    const IndexedPicture picture{4, 2, {1, 2, 1, 2, 3, 1, 2, 3}};
    BmpOptions options;
    options.paletteEntries = 4;
    const LoadResult loaded = DecodeBytes(MakeBmp(picture, options));
    ASSERT_TRUE(loaded.ok());
    std::string colours;
    for (int i = 0; i < 4; ++i) {
        const Rgb rgb = ColourAt(FixtureColours(), i);
        colours += (i == 0 ? std::string(5000, ' ') : "") + std::to_string(rgb[0]) + " " + std::to_string(rgb[1]) +
                   " " + std::to_string(rgb[2]) + "\r\n";
    }
    TempDir dir;
    WriteFile(dir / "ref.gpl", "GIMP Palette\r\n" + colours);
    WriteFile(dir / "ref.pal", "JASC-PAL\r\n0100\r\n4\r\n" + colours);
    for (const char* name : {"ref.gpl", "ref.pal"}) {
        const PaletteResult reference = ReadPalette(dir / name, name);
        ASSERT_TRUE(reference.ok()) << name << ": " << PaletteFailureMessage(reference, name);
        const PaletteMatch match = MatchPalette(loaded.picture, reference.colours, reference.size);
        ASSERT_TRUE(match.ok()) << name;
        for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne})
            EXPECT_EQ(RemappedMap(loaded.picture, mode, match), ReferenceMap(picture, mode)) << name;
    }
}

// The same indexed picture saved by tools that order or trim its colour
// table their own way (tests/data/make_fixtures.sh) gives the same map with
// the reference palette, and a different one without it.
TEST(PaletteMatch, RealWorldFilesWithOtherPaletteOrders) {
    const std::string data = BMP2GRID_TEST_DATA;
    const std::string indices = ReadFile(data + "/map.indices");
    const IndexedPicture picture{37, 23, Bytes(indices.begin(), indices.end())};
    const PaletteResult reference = ReadPalette(data + "/palette.gpl", "palette.gpl");
    ASSERT_TRUE(reference.ok());
    ASSERT_EQ(reference.size, 6);
    for (const char* file : {"pillow.bmp", "imagemagick.bmp", "netpbm-os2.bmp", "pillow-trimmed.bmp",
                             "pillow-quantized.bmp", "imagemagick-remapped.bmp"}) {
        const LoadResult loaded = LoadBitmap(data + "/" + file, LoadOptions{});
        ASSERT_TRUE(loaded.ok()) << file;
        const PaletteMatch match = MatchPalette(loaded.picture, reference.colours, reference.size);
        ASSERT_TRUE(match.ok()) << file << ": " << PaletteMatchFailureMessage(match, file, "palette.gpl");
        for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne})
            EXPECT_EQ(RemappedMap(loaded.picture, mode, match), ReferenceMap(picture, mode)) << file;
        // A picture as the reference palette gives the same.
        const PaletteResult own = ReadPalette(data + "/pillow.bmp", "pillow.bmp");
        const PaletteMatch ownMatch = MatchPalette(loaded.picture, own.colours, own.size);
        ASSERT_TRUE(ownMatch.ok()) << file;
        EXPECT_EQ(RemappedMap(loaded.picture, SampleMode::TwoToOne, ownMatch),
                  ReferenceMap(picture, SampleMode::TwoToOne)) << file;
    }
    for (const char* reordered : {"pillow-trimmed.bmp", "pillow-quantized.bmp", "imagemagick-remapped.bmp"}) {
        const LoadResult loaded = LoadBitmap(data + "/" + reordered, LoadOptions{});
        EXPECT_NE(MapText(loaded.picture, SampleMode::TwoToOne), ReferenceMap(picture, SampleMode::TwoToOne)) << reordered;
    }
}

}  // namespace
}  // namespace bmp2grid::test
