// Map text: the documented worked example, stride and padding, wrapping,
// shifts past the width, degenerate sizes, and a comparison of the block
// writer with a plain per-cell formatter over many random pictures.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include <filesystem>

#include "bmp_format.h"
#include "command_line.h"
#include "diagnostics.h"
#include "map_writer.h"
#include "memory_sink.h"
#include "platform.h"
#include "process_runner.h"
#include "test_support.h"

namespace bmp2grid::test {
namespace {

std::string Convert(const IndexedPicture& picture, SampleMode mode, const BmpOptions& options = {},
                    bool overlapped = false) {
    LoadResult loaded = DecodeBytes(MakeBmp(picture, options));
    EXPECT_TRUE(loaded.ok()) << LoadErrorReason(loaded);
    return MapText(loaded.picture, mode, overlapped);
}

std::string Cells(std::initializer_list<int> values) {
    std::string line;
    for (int v : values) line += std::to_string(v) + ",0,0,0,0\t";
    return line + "\r\n";
}

TEST(MapWriter, DocumentedExampleBothModes) {
    const IndexedPicture picture = CountingPicture(4, 3);  // 10 11 12 13 / 20 .. / 30 ..
    EXPECT_EQ(Convert(picture, SampleMode::TwoToOne),
              "2,3\r\n" + Cells({10, 12}) + Cells({21, 23}) + Cells({32, 30}));
    EXPECT_EQ(Convert(picture, SampleMode::OneToOne),
              "4,3\r\n" + Cells({10, 11, 12, 13}) + Cells({20, 21, 22, 23}) + Cells({31, 32, 33, 30}));
}

TEST(MapWriter, PaddedRowsUseTheStride) {
    // Width 5 is stored with 3 padding bytes per row; the padding holds 0xEE
    // so reading it instead of the next row would show.
    const IndexedPicture picture = CountingPicture(5, 3);
    Bytes file = MakeBmp(picture);
    const std::size_t offBits = file.size() - 3 * 8;
    for (std::size_t row = 0; row < 3; ++row)
        for (std::size_t pad = 5; pad < 8; ++pad) file[offBits + row * 8 + pad] = 0xEE;
    LoadResult loaded = DecodeBytes(file);
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(MapText(loaded.picture, SampleMode::OneToOne),
              "5,3\r\n" + Cells({10, 11, 12, 13, 14}) + Cells({20, 21, 22, 23, 24}) +
                  Cells({31, 32, 33, 34, 30}));
}

TEST(MapWriter, OddWidthTwoToOneWritesTheAnnouncedCellCount) {
    const IndexedPicture picture = CountingPicture(5, 2);
    EXPECT_EQ(Convert(picture, SampleMode::TwoToOne), "2,2\r\n" + Cells({10, 12}) + Cells({21, 23}));
}

TEST(MapWriter, ShiftsLargerThanTheWidthWrap) {
    // Width 3, 8 rows: row 7 is shifted by 7 columns in the two-to-one mode
    // and by 3 in the one-to-one mode, both more than the width.
    const IndexedPicture picture = CountingPicture(3, 8, 0);
    const std::string twoToOne = Convert(picture, SampleMode::TwoToOne);
    // Row 7 reads column (0 + 7) mod 3 = 1: the value 71.
    EXPECT_EQ(twoToOne.substr(twoToOne.rfind("\r\n", twoToOne.size() - 3) + 2), Cells({71}));
    const std::string oneToOne = Convert(picture, SampleMode::OneToOne);
    // Row 7 reads columns 3, 4, 5 mod 3 = 0, 1, 2.
    EXPECT_EQ(oneToOne.substr(oneToOne.rfind("\r\n", oneToOne.size() - 3) + 2), Cells({70, 71, 72}));
}

TEST(MapWriter, DegenerateSizes) {
    struct Case {
        std::int32_t width, rows;
        SampleMode mode;
        std::string expected;
    };
    const Case cases[] = {
        {0, 3, SampleMode::TwoToOne, "0,3\r\n\r\n\r\n\r\n"},
        {0, 2, SampleMode::OneToOne, "0,2\r\n\r\n\r\n"},
        {1, 2, SampleMode::TwoToOne, "0,2\r\n\r\n\r\n"},
        {4, 0, SampleMode::TwoToOne, "2,0\r\n"},
        {1, 3, SampleMode::OneToOne, "1,3\r\n" + Cells({10}) + Cells({20}) + Cells({30})},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Convert(CountingPicture(c.width, c.rows), c.mode), c.expected)
            << c.width << "x" << c.rows;
    }
}

TEST(MapWriter, AllPaletteIndicesAreWrittenAsUnsignedDecimal) {
    IndexedPicture picture{256, 1, {}};
    for (int v = 0; v < 256; ++v) picture.pixels.push_back(static_cast<std::uint8_t>(v));
    EXPECT_EQ(Convert(picture, SampleMode::OneToOne), ReferenceMap(picture, SampleMode::OneToOne));
}

TEST(MapWriter, RowsLongerThanOneOutputBlock) {
    // A row of 200000 cells spans more than one 1 MiB output block.
    const IndexedPicture picture = RandomPicture(200001, 3, 7);
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne})
        EXPECT_EQ(Convert(picture, mode), ReferenceMap(picture, mode));
}

// A picture whose first row's cell records take exactly `bytes` bytes in
// `mode`: cells of three digits (12 bytes each) with as many of two digits
// (11 bytes) first as make up the difference, so that every cell but the
// last leaves room for the longest record and the row is written whole into
// the first block. The other rows are random.
IndexedPicture FirstRowOfBytes(std::int64_t bytes, SampleMode mode, std::int64_t rows, std::uint32_t seed) {
    const std::int64_t cells = (bytes + 11) / 12;
    const std::int64_t twoDigits = cells * 12 - bytes;
    const std::int64_t step = mode == SampleMode::TwoToOne ? 2 : 1;
    IndexedPicture picture = RandomPicture(cells * step, rows, seed);
    for (std::int64_t c = 0; c < cells; ++c)
        picture.pixels[static_cast<std::size_t>(c * step)] = c < twoDigits ? 42 : 200;
    return picture;
}

TEST(MapWriter, RowsEndingJustBeforeABlockEndMatchPerCellReference) {
    // The first row's cells end `gap` bytes before the end of the first
    // block, so that its line end fits, fits exactly, is split from its
    // cells or lands just past the block, and the next row starts there.
    // Written from memory (directly, and with formatting on its own thread,
    // which takes a map of eight blocks or more), and from the picture's
    // file a window of 1000 columns at a time.
    TempDir dir;
    constexpr auto kBlock = static_cast<std::int64_t>(kMapBlockBytes);
    std::uint32_t seed = 300;
    for (std::int64_t gap : {0, 1, 2, 3, 4, 5})
        for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
            const std::string name = "gap " + std::to_string(gap) + " mode " + std::to_string(static_cast<int>(mode));
            const IndexedPicture picture = FirstRowOfBytes(kBlock - gap, mode, 3, ++seed);
            const std::string expected = ReferenceMap(picture, mode);
            const std::size_t header = expected.find("\r\n") + 2;
            ASSERT_EQ(static_cast<std::int64_t>(expected.find("\r\n", header) - header), kBlock - gap) << name;
            LoadResult loaded = DecodeBytes(MakeBmp(picture));
            ASSERT_TRUE(loaded.ok()) << LoadErrorReason(loaded);
            EXPECT_TRUE(MapText(loaded.picture, mode) == expected) << name << ", in memory";
            WriteFile(dir / "pic.bmp", MakeBmp(picture));
            LoadResult kept = LoadBitmap(dir / "pic.bmp", LoadOptions{});
            ASSERT_TRUE(kept.ok()) << LoadErrorReason(kept);
            EXPECT_TRUE(MapText(kept.picture, mode, false, 1000) == expected) << name << ", read in pieces";
            const IndexedPicture nineRows = FirstRowOfBytes(kBlock - gap, mode, 9, ++seed);
            LoadResult big = DecodeBytes(MakeBmp(nineRows));
            ASSERT_TRUE(big.ok()) << LoadErrorReason(big);
            EXPECT_TRUE(MapText(big.picture, mode, true) == ReferenceMap(nineRows, mode)) << name << ", overlapped";
        }
}

TEST(MapWriter, MatchesPerCellReferenceForRandomPictures) {
    const Storage storages[] = {Storage::BottomUp, Storage::TopDown, Storage::Rle8};
    const std::uint32_t headers[] = {12, 40, 124};
    std::uint32_t seed = 1;
    for (std::int32_t width : {1, 2, 3, 4, 5, 7, 8, 13, 64, 255, 301})
        for (std::int32_t rows : {1, 2, 5, 40, 700})
            for (Storage storage : storages)
                for (std::uint32_t header : headers) {
                    if (header == 12 && storage != Storage::BottomUp) continue;
                    const IndexedPicture picture = RandomPicture(width, rows, ++seed);
                    BmpOptions options;
                    options.headerSize = header;
                    options.storage = storage;
                    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
                        ASSERT_EQ(Convert(picture, mode, options), ReferenceMap(picture, mode))
                            << width << "x" << rows << " storage " << static_cast<int>(storage)
                            << " header " << header << " mode " << static_cast<int>(mode);
                    }
                }
}

TEST(MapWriter, LargeMapsMatchPerCellReference) {
    // Big enough that formatting runs on its own thread where the sink asks
    // for it, with odd and even widths and more rows than columns so the
    // shifts wrap several times.
    const IndexedPicture odd = RandomPicture(1501, 2400, 11);
    const IndexedPicture even = RandomPicture(1024, 1100, 12);
    BmpOptions rle;
    rle.storage = Storage::Rle8;
    BmpOptions topDown;
    topDown.storage = Storage::TopDown;
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne})
        for (bool overlapped : {true, false}) {
            EXPECT_TRUE(Convert(odd, mode, {}, overlapped) == ReferenceMap(odd, mode));
            EXPECT_TRUE(Convert(odd, mode, rle, overlapped) == ReferenceMap(odd, mode));
            EXPECT_TRUE(Convert(even, mode, topDown, overlapped) == ReferenceMap(even, mode));
        }
}

TEST(MapWriter, PicturesReadFromTheirFileMatchPerCellReference) {
    // Uncompressed pictures in regular files are read a window of rows at a
    // time; these span many windows, one row wider than a window, and files
    // whose last stored row has no padding.
    TempDir dir;
    struct Case {
        std::int32_t width, rows;
        Storage storage;
        bool trimLastPadding;
    };
    const Case cases[] = {
        {1501, 2400, Storage::BottomUp, false}, {1501, 2400, Storage::TopDown, true},
        {1502, 900, Storage::BottomUp, true},   {1048583, 3, Storage::BottomUp, true},
        {7, 5, Storage::TopDown, false},        {33, 70, Storage::Rle8, false},
    };
    std::uint32_t seed = 50;
    for (const Case& c : cases) {
        const IndexedPicture picture = RandomPicture(c.width, c.rows, ++seed);
        BmpOptions options;
        options.storage = c.storage;
        Bytes file = MakeBmp(picture, options);
        if (c.trimLastPadding) file.resize(file.size() - static_cast<std::size_t>(bmp::RowStride(c.width) - c.width));
        WriteFile(dir / "pic.bmp", file);
        LoadResult loaded = LoadBitmap(dir / "pic.bmp", LoadOptions{});
        ASSERT_TRUE(loaded.ok()) << LoadErrorReason(loaded);
        EXPECT_EQ((loaded.picture.Where() == PixelStore::Kept::InFile), c.storage != Storage::Rle8) << "kept in its file";
        for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne})
            for (bool overlapped : {false, true})
                EXPECT_TRUE(MapText(loaded.picture, mode, overlapped) == ReferenceMap(picture, mode))
                    << c.width << "x" << c.rows << " mode " << static_cast<int>(mode);
    }
}

TEST(MapWriter, RowsWiderThanTheWindowAreReadInPieces) {
    // A row wider than the window is read a window of columns at a time:
    // from the row's start column to the right edge, then from the left
    // edge on. Windows of a few bytes take small pictures through that path
    // with every kind of start column (shifts past the width, odd widths,
    // windows ending on and between the cells), top-down and bottom-up, and
    // with the last row's padding cut off; windows that hold whole rows take
    // the usual path.
    TempDir dir;
    std::uint32_t seed = 900;
    for (std::int32_t width : {1, 2, 3, 4, 5, 6, 7, 8, 9, 12, 13, 31, 64, 101})
        for (std::int32_t rows : {1, 2, 3, 7, 40})
            for (Storage storage : {Storage::BottomUp, Storage::TopDown})
                for (bool trimLastPadding : {false, true}) {
                    const IndexedPicture picture = RandomPicture(width, rows, ++seed);
                    BmpOptions options;
                    options.storage = storage;
                    Bytes file = MakeBmp(picture, options);
                    if (trimLastPadding) file.resize(file.size() - static_cast<std::size_t>(bmp::RowStride(width) - width));
                    WriteFile(dir / "pic.bmp", file);
                    LoadResult loaded = LoadBitmap(dir / "pic.bmp", LoadOptions{});
                    ASSERT_TRUE(loaded.ok()) << LoadErrorReason(loaded);
                    ASSERT_EQ(loaded.picture.Where(), PixelStore::Kept::InFile);
                    for (std::int64_t window : {1, 2, 3, 4, 5, 7, 16, 1000})
                        for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne})
                            ASSERT_EQ(MapText(loaded.picture, mode, false, window), ReferenceMap(picture, mode))
                                << width << "x" << rows << " storage " << static_cast<int>(storage) << " trimmed "
                                << trimLastPadding << " window " << window << " mode " << static_cast<int>(mode);
                }
}

TEST(MapWriter, WideRowsOfALargeMapMatchPerCellReference) {
    // Rows of 1501 columns read 1000 columns at a time, in a map big enough
    // to be formatted on its own thread where the sink asks for it.
    TempDir dir;
    const IndexedPicture picture = RandomPicture(1501, 2400, 77);
    WriteFile(dir / "pic.bmp", MakeBmp(picture));
    LoadResult loaded = LoadBitmap(dir / "pic.bmp", LoadOptions{});
    ASSERT_TRUE(loaded.ok()) << LoadErrorReason(loaded);
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne})
        for (bool overlapped : {false, true})
            EXPECT_TRUE(MapText(loaded.picture, mode, overlapped, 1000) == ReferenceMap(picture, mode))
                << "mode " << static_cast<int>(mode) << " overlapped " << overlapped;
}

TEST(MapWriter, PictureFileShrinkingMidWayIsAnInputFailure) {
    TempDir dir;
    WriteFile(dir / "pic.bmp", MakeBmp(RandomPicture(3000, 1000, 8)));
    LoadResult loaded = LoadBitmap(dir / "pic.bmp", LoadOptions{});
    ASSERT_TRUE(loaded.ok());
    std::filesystem::resize_file(dir / "pic.bmp", 1000000);  // another program cuts it short
    for (bool overlapped : {false, true})
        for (std::int64_t window : {kRowWindowBytes, std::int64_t{1000}}) {  // whole rows, pieces of rows
            MemorySink sink;
            class Overlapped final : public OutputSink {
            public:
                bool Write(const char*, std::size_t) override { return true; }
                bool OverlapsWork() const override { return true; }
            } overlappedSink;
            OutputSink& output = overlapped ? static_cast<OutputSink&>(overlappedSink) : sink;
            EXPECT_EQ(WriteMapRows(output, loaded.picture, SampleMode::TwoToOne, window).status, MapWriteStatus::InputFailed)
                << "overlapped " << overlapped << " window " << window;
        }
}

// A sink that fails after a number of bytes, like a disk that fills up.
class FailingSink final : public OutputSink {
public:
    FailingSink(std::size_t capacity, bool overlapped) : capacity_(capacity), overlapped_(overlapped) {}
    bool Write(const char*, std::size_t size) override {
        if (size > capacity_) return false;
        capacity_ -= size;
        return true;
    }
    bool OverlapsWork() const override { return overlapped_; }

private:
    std::size_t capacity_;
    bool overlapped_;
};

TEST(MapWriter, ReportsAFailingSink) {
    LoadResult loaded = DecodeBytes(MakeBmp(RandomPicture(3000, 400, 3)));
    ASSERT_TRUE(loaded.ok());
    FailingSink none(0, false);
    EXPECT_FALSE(WriteMapHeader(none, loaded.picture, SampleMode::TwoToOne));
    for (bool overlapped : {true, false}) {
        FailingSink partWay(3u << 20, overlapped);  // fills up after three blocks
        EXPECT_EQ(WriteMapRows(partWay, loaded.picture, SampleMode::OneToOne).status, MapWriteStatus::OutputFailed);
        FailingSink nearTheEnd(12u << 20, overlapped);  // about 13 MiB of map text; 12 fit
        EXPECT_EQ(WriteMapRows(nearTheEnd, loaded.picture, SampleMode::OneToOne).status, MapWriteStatus::OutputFailed);
    }
}

TEST(MapWriter, SpaceSetAsideIsAllWritten) {
    // A big map asks its output to set aside the room its rows take at the
    // least, and never more: space set aside and left unwritten is not
    // handed back by every file system (btrfs keeps an extent whole). With
    // every record as short as the shortest, that is the whole map.
    class Recording final : public OutputSink {
    public:
        bool Write(const char*, std::size_t size) override {
            written += static_cast<std::int64_t>(size);
            return true;
        }
        void Reserve(std::int64_t size) override { reservations.push_back({written, size}); }
        std::int64_t written = 0;
        std::vector<std::pair<std::int64_t, std::int64_t>> reservations;  // at, size
    };
    IndexedPicture oneDigit = RandomPicture(1600, 1000, 4);
    for (auto& px : oneDigit.pixels) px %= 10;
    IndexMap identity{}, threeDigits{};
    for (std::size_t i = 0; i < 256; ++i) {
        identity[i] = static_cast<std::uint8_t>(i);
        threeDigits[i] = static_cast<std::uint8_t>(100 + i % 156);
    }
    struct Picture {
        const char* name;
        IndexedPicture picture;
        const IndexMap& values;
        bool whole;  // the reservation is the whole map
    };
    const Picture pictures[] = {
        {"indices of one to three digits", RandomPicture(1600, 1000, 4), identity, false},
        {"indices of one digit", oneDigit, identity, true},
        {"values of three digits", RandomPicture(1600, 1000, 4), threeDigits, true},
    };
    for (const Picture& p : pictures) {
        LoadResult loaded = DecodeBytes(MakeBmp(p.picture));
        ASSERT_TRUE(loaded.ok());
        for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
            Recording sink;
            ASSERT_EQ(WriteMapRows(sink, loaded.picture, mode, p.values).status, MapWriteStatus::Ok);
            ASSERT_EQ(sink.reservations.size(), 1u) << p.name;
            EXPECT_EQ(sink.reservations[0].first, 0) << p.name;
            EXPECT_LE(sink.reservations[0].second, sink.written) << p.name;
            if (p.whole) {
                EXPECT_EQ(sink.reservations[0].second, sink.written) << p.name;
            }
            EXPECT_GT(sink.reservations[0].second, sink.written * 5 / 6) << p.name;
        }
    }

    // Through a file; space set aside beyond the map by another caller is
    // handed back before the file is put in place.
    LoadResult loaded = DecodeBytes(MakeBmp(RandomPicture(1600, 1000, 4)));
    ASSERT_TRUE(loaded.ok());
    TempDir dir;
    const std::string expected = ReferenceMap(RandomPicture(1600, 1000, 4), SampleMode::OneToOne);
    struct Case {
        const char* temporary;     // BMP2GRID_NAMED_TEMPORARY
        std::int64_t extra;        // a further reservation before the rows
    };
    const Case cases[] = {
        {"0", 0},
        {"1", 0},
        {"0", std::int64_t{64} << 20},
        {"1", std::int64_t{64} << 20},
        {"0", std::int64_t{1} << 62},  // more than any file system holds: refused, and harmless
    };
    for (const Case& c : cases) {
        ::setenv("BMP2GRID_NAMED_TEMPORARY", c.temporary, 1);
        platform::OutputFile out;
        ASSERT_EQ(out.Open(dir / "map.txt"), platform::OutputFile::OpenStatus::Ok);
        ASSERT_TRUE(WriteMapHeader(out, loaded.picture, SampleMode::OneToOne));
        if (c.extra > 0) out.Reserve(c.extra);
        ASSERT_EQ(WriteMapRows(out, loaded.picture, SampleMode::OneToOne).status, MapWriteStatus::Ok);
        ASSERT_TRUE(out.Commit());
        EXPECT_TRUE(ReadFile(dir / "map.txt") == expected) << c.temporary << " " << c.extra;
        // A file system may add a little for its own records, never a whole
        // row of blocks.
        struct stat st {};
        ASSERT_EQ(::stat((dir / "map.txt").c_str(), &st), 0);
        EXPECT_LE(static_cast<std::int64_t>(st.st_blocks) * 512, st.st_size + (std::int64_t{256} << 10))
            << c.temporary << " " << c.extra;
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"map.txt"});
    }
    ::unsetenv("BMP2GRID_NAMED_TEMPORARY");
}

}  // namespace
}  // namespace bmp2grid::test
