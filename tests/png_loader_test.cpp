// PNG input: every kind read gives its indices, every other kind and every
// damaged file is refused with its reason, rows are decoded one at a time,
// memory, files and pipes agree, and a BMP reached through the signature
// check loads as before. Also grid2bmp's PNG writer, read back.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <thread>

#include "bitmap_loader.h"
#include "builtin_palette.h"
#include "command_line.h"
#include "diagnostics.h"
#include "map_reader.h"
#include "memory_sink.h"
#include "picture_loader.h"
#include "png_loader.h"
#include "png_writer.h"
#include "process_runner.h"
#include "test_support.h"

namespace bmp2grid::test {
namespace {

const std::string kData = BMP2GRID_TEST_DATA;

ByteBuffer BufferOf(const Bytes& bytes) {
    ByteBuffer buffer;
    if (!buffer.Reserve(bytes.size() + 1)) throw std::runtime_error("out of memory");
    if (!bytes.empty()) std::memcpy(buffer.data(), bytes.data(), bytes.size());
    buffer.SetSize(bytes.size());
    return buffer;
}

Bytes FileBytes(const std::string& path) {
    const std::string text = ReadFile(path);
    return Bytes(text.begin(), text.end());
}

// What the program makes of a loaded picture in `mode`: the message of a
// refusal, or the size report and the map text (and the message of rows
// that turn out faulty as they are decoded).
std::string OutcomeOf(LoadResult& loaded, SampleMode mode, const std::string& name) {
    if (!loaded.ok()) return LoadFailureMessage(loaded, name);
    std::string outcome = SizeReport(loaded.picture);
    MemorySink sink;
    EXPECT_TRUE(WriteMapHeader(sink, loaded.picture, mode));
    const MapWriteResult written = WriteMapRows(sink, loaded.picture, mode);
    if (written.status == MapWriteStatus::InputFailed) return outcome + RowsFailureMessage(written.input, name);
    EXPECT_EQ(written.status, MapWriteStatus::Ok) << name;
    return outcome + std::string(sink.text());
}

// The outcome in both modes, each from a load of its own.
std::string Outcome(const std::function<LoadResult()>& load, const std::string& name) {
    std::string outcome;
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
        LoadResult loaded = load();
        const std::string modeOutcome = OutcomeOf(loaded, mode, name);
        outcome += modeOutcome;
        if (modeOutcome.find("Can't convert") != std::string::npos) break;
    }
    return outcome;
}

// Loads with LoadPicture from a named pipe that a second thread writes
// `bytes` into, so that the picture is read as a stream; and makes its
// outcome in `mode` while the pipe is open, since a stream's rows are read
// as the map is written.
struct PipeLoad {
    LoadResult result;
    std::string outcome;
};

PipeLoad LoadThroughPipe(const Bytes& bytes, SampleMode mode = SampleMode::TwoToOne) {
    TempDir dir;
    const std::string path = dir / "pipe";
    if (::mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
    std::signal(SIGPIPE, SIG_IGN);  // the reader may close the pipe early
    std::thread writer([&] {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return;
        const std::uint8_t* data = bytes.data();
        std::size_t size = bytes.size();
        while (size > 0) {
            const ssize_t n = ::write(fd, data, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            data += n;
            size -= static_cast<std::size_t>(n);
        }
        ::close(fd);
    });
    PipeLoad load;
    load.result = LoadPicture(path, LoadOptions{});
    load.outcome = OutcomeOf(load.result, mode, "f");
    load.result.picture.pixels.reset();  // closes the pipe
    writer.join();
    return load;
}

std::string OutcomeInMemory(const Bytes& bytes, const std::string& name) {
    return Outcome([&] { return DecodePicture(BufferOf(bytes), LoadOptions{}); }, name);
}

std::string OutcomeOfFile(const std::string& path, const std::string& name) {
    return Outcome([&] { return LoadPicture(path, LoadOptions{}); }, name);
}

IndexedPicture WithIndicesBelow(IndexedPicture picture, int count) {
    for (auto& pixel : picture.pixels) pixel = static_cast<std::uint8_t>(pixel % count);
    return picture;
}

TEST(PngLoader, EveryKindReadGivesItsIndices) {
    struct Kind {
        int colourType;
        int depth;
    };
    const Kind kinds[] = {{3, 1}, {3, 2}, {3, 4}, {3, 8}, {0, 8}};
    // Widths that end a row on every bit of a byte, and a single column.
    for (const Kind& kind : kinds)
        for (std::int64_t width : {1, 7, 8, 9, 13, 17}) {
            const IndexedPicture picture = WithIndicesBelow(RandomPicture(width, 6, 11), 1 << kind.depth);
            PngOptions options;
            options.colourType = kind.colourType;
            options.bitDepth = kind.depth;
            options.paletteEntries = 1 << kind.depth;
            const Bytes png = MakePng(picture, options);
            const std::string label = "type " + std::to_string(kind.colourType) + " depth " +
                                      std::to_string(kind.depth) + " width " + std::to_string(width);
            LoadResult loaded = DecodePicture(BufferOf(png), LoadOptions{});
            ASSERT_TRUE(loaded.ok()) << label << ": " << LoadErrorReason(loaded);
            EXPECT_EQ(loaded.picture.storedBytes, 6 * ((width * kind.depth + 7) / 8)) << label;
            // Rows come one at a time: no pixels are held.
            EXPECT_EQ(loaded.picture.Where(), PixelStore::Kept::AsDecoded) << label;
            for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
                LoadResult again = DecodePicture(BufferOf(png), LoadOptions{});
                EXPECT_EQ(MapText(again.picture, mode), ReferenceMap(picture, mode)) << label;
            }
            if (kind.colourType == 3) {
                EXPECT_EQ(loaded.picture.colourCount, 1 << kind.depth);
                EXPECT_EQ(loaded.picture.colours[1], (std::array<std::uint8_t, 4>{0x54, 254, 1, 0})) << label;
            }
        }
}

TEST(PngLoader, OtherKindsAreRefusedByColourTypeAndDepth) {
    struct Kind {
        int colourType;
        int depth;
    };
    const Kind kinds[] = {{0, 1}, {0, 2}, {0, 4}, {0, 16}, {2, 8}, {2, 16}, {3, 8}, {4, 8}, {4, 16}, {6, 8}, {6, 16}};
    for (const Kind& kind : kinds) {
        PngOptions options;
        options.colourType = kind.colourType;
        options.bitDepth = kind.depth;
        const std::string outcome = OutcomeInMemory(MakePng(CountingPicture(3, 2, 0), options), "k.png");
        if (kind.colourType == 3) {
            EXPECT_EQ(outcome.substr(0, 6), "Size: ");
            continue;
        }
        EXPECT_EQ(outcome, "Can't convert k.png: PNG colour type " + std::to_string(kind.colourType) +
                               " bit depth " + std::to_string(kind.depth) + " carries no palette indices\n");
    }
}

TEST(PngLoader, DamagedFilesAreRefusedWithTheirReasons) {
    const Bytes good = MakePng(CountingPicture(5, 4));
    const std::string size = "Size: 5x4 (should be 20 bytes, is 20 bytes)\n";
    auto cut = [&good](std::size_t length) { return Bytes(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(length)); };
    Bytes badHeaderCrc = good;
    badHeaderCrc[8 + 8 + 13] ^= 1;
    IndexedPicture wide{std::int64_t{1} << 20, 1, Bytes(std::size_t{1} << 20, 3)};
    IndexedPicture wider{(std::int64_t{1} << 20) + 1, 1, Bytes((std::size_t{1} << 20) + 1, 3)};
    struct Case {
        std::string name;
        Bytes file;
        std::string outcome;  // the whole outcome, or its end after the size reports
    };
    const Case cases[] = {
        {"signature alone", cut(8), "Can't convert p.png: PNG file is truncated\n"},
        {"header cut short", cut(20), "Can't convert p.png: PNG file is truncated\n"},
        {"image data cut short", cut(good.size() - 20), size + "Can't convert p.png: PNG file is truncated\n"},
        {"no IEND", cut(good.size() - 12), size + "Can't convert p.png: PNG file is truncated\n"},
        {"header CRC", badHeaderCrc, "Can't convert p.png: IHDR: CRC error\n"},
        {"2^20 wide", MakePng(wide), ""},
        {"2^20 + 1 wide", MakePng(wider),
         "Can't convert p.png: Invalid IHDR data (Image width exceeds user limit in IHDR)\n"},
        {"palette too short for 8 bits", MakePng(CountingPicture(2, 2), PngOptions{8, 3, 0}),
         "Can't convert p.png: Invalid palette\n"},
    };
    for (const Case& c : cases) {
        const std::string outcome = OutcomeInMemory(c.file, "p.png");
        if (c.outcome.empty()) {
            EXPECT_EQ(outcome.substr(0, 6), "Size: ") << c.name << ": " << outcome.substr(0, 200);
        } else {
            EXPECT_EQ(outcome, c.outcome) << c.name;
        }
    }
}

// `png` with `chunk` put in before its first chunk of type `before`.
Bytes WithChunkBefore(const Bytes& png, const char* before, const Bytes& chunk) {
    const auto at = static_cast<std::ptrdiff_t>(FindPngChunk(png, before).at);
    Bytes spliced(png.begin(), png.begin() + at);
    spliced.insert(spliced.end(), chunk.begin(), chunk.end());
    spliced.insert(spliced.end(), png.begin() + at, png.end());
    return spliced;
}

// `png` without its chunks of type `type`.
Bytes WithoutChunk(const Bytes& png, const char* type) {
    Bytes kept(png.begin(), png.begin() + 8);
    for (std::size_t at = 8; at + 8 <= png.size();) {
        const std::size_t length = std::size_t{png[at]} << 24 | std::size_t{png[at + 1]} << 16 |
                                   std::size_t{png[at + 2]} << 8 | png[at + 3];
        const auto end = png.begin() + static_cast<std::ptrdiff_t>(std::min(png.size(), at + 12 + length));
        if (std::memcmp(&png[at + 4], type, 4) != 0)
            kept.insert(kept.end(), png.begin() + static_cast<std::ptrdiff_t>(at), end);
        at += 12 + length;
    }
    return kept;
}

Bytes WithBadCrc(Bytes chunk) {
    chunk.back() ^= 1;
    return chunk;
}

TEST(PngLoader, ChunksAroundTheImageDataAreCheckedAlike) {
    // A damaged file is never taken for a sound one, wherever the damage
    // lies; and a refusal's bracket holds only a warning that explains it,
    // never one about a chunk that was skipped.
    const Bytes good = MakePng(CountingPicture(5, 4));
    const std::string size = "Size: 5x4 (should be 20 bytes, is 20 bytes)\n";
    const Bytes critical = PngChunk("XYZW", Bytes{1, 2, 3});
    const Bytes damagedTime = WithBadCrc(PngChunk("tIME", Bytes{0x07, 0xea, 1, 1, 0, 0, 0}));
    const Bytes damagedText = WithBadCrc(PngChunk("tEXt", Bytes{'a', 0, 'b'}));
    IndexedPicture wider{(std::int64_t{1} << 20) + 1, 1, Bytes((std::size_t{1} << 20) + 1, 3)};
    struct Case {
        std::string name;
        Bytes file;
        std::string outcome;  // whole, as read row by row; empty: the same as the sound file's
    };
    const Case cases[] = {
        {"unknown critical chunk after the image data", WithChunkBefore(good, "IEND", critical),
         size + "Can't convert p.png: XYZW: unhandled critical chunk\n"},
        {"unknown critical chunk before the image data", WithChunkBefore(good, "IDAT", critical),
         "Can't convert p.png: XYZW: unhandled critical chunk\n"},
        {"skipped chunk with a bad CRC, then no palette",
         WithoutChunk(WithChunkBefore(good, "PLTE", damagedTime), "PLTE"),
         "Can't convert p.png: IDAT: Missing PLTE before IDAT\n"},
        {"skipped chunk with a bad CRC, then a bad palette",
         WithChunkBefore(WithChunkBefore(WithoutChunk(good, "PLTE"), "IDAT", damagedText), "IDAT",
                         PngChunk("PLTE", Bytes(4, 0))),
         "Can't convert p.png: PLTE: invalid\n"},
        {"skipped chunks with bad CRCs, nothing else wrong",
         WithChunkBefore(WithChunkBefore(good, "IDAT", damagedTime), "IEND", damagedText), ""},
        {"header faults, told by the header's own warning", MakePng(wider),
         "Can't convert p.png: Invalid IHDR data (Image width exceeds user limit in IHDR)\n"},
    };
    const std::string sound = OutcomeInMemory(good, "p.png");
    for (const Case& c : cases) {
        EXPECT_EQ(OutcomeInMemory(c.file, "p.png"), c.outcome.empty() ? sound : c.outcome) << c.name;
        // Decoded whole (interlaced, or a palette picture), the same refusal,
        // before any size report.
        LoadOptions whole;
        whole.decodePngWhole = true;
        LoadResult loaded = DecodePicture(BufferOf(c.file), whole);
        const std::string expected = c.outcome.empty() ? std::string() : c.outcome.substr(c.outcome.find("Can't"));
        EXPECT_EQ(loaded.ok() ? std::string() : LoadFailureMessage(loaded, "p.png"), expected) << c.name << ", whole";
    }
}

TEST(PngLoader, RealWorldRefusals) {
    const std::string size = "Size: 37x23 (should be 851 bytes, is 851 bytes)\n";
    const std::pair<const char*, std::string> cases[] = {
        {"pillow-rgb.png", "Can't convert f: PNG colour type 2 bit depth 8 carries no palette indices\n"},
        {"pillow-grey16.png", "Can't convert f: PNG colour type 0 bit depth 16 carries no palette indices\n"},
        {"png-truncated.png", size + "Can't convert f: PNG file is truncated\n"},
        {"png-bad-crc.png", size + "Can't convert f: IDAT: CRC error\n"},
        {"png-huge-ihdr.png", "Can't convert f: Invalid IHDR data (Image width exceeds user limit in IHDR)\n"},
    };
    for (const auto& [file, outcome] : cases) EXPECT_EQ(OutcomeOfFile(kData + "/" + file, "f"), outcome) << file;
}

TEST(PngLoader, InterlacedOrAskedForIsDecodedWhole) {
    LoadResult interlaced = LoadPicture(kData + "/imagemagick-interlaced.png", LoadOptions{});
    ASSERT_TRUE(interlaced.ok());
    EXPECT_EQ(interlaced.picture.Where(), PixelStore::Kept::InMemory);
    LoadOptions limited;
    limited.maxDecodedPixels = 37 * 23 - 1;
    EXPECT_EQ(LoadPicture(kData + "/imagemagick-interlaced.png", limited).error, LoadError::TooLarge);
    LoadOptions whole;
    whole.decodePngWhole = true;
    LoadResult plain = LoadPicture(kData + "/imagemagick-png8.png", whole);
    ASSERT_TRUE(plain.ok());
    EXPECT_EQ(plain.picture.Where(), PixelStore::Kept::InMemory);
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne})
        EXPECT_EQ(MapText(plain.picture, mode), MapText(interlaced.picture, mode));
}

TEST(PngLoader, MemoryFilesAndPipesAgree) {
    std::vector<std::string> files;
    for (const char* name : {"pillow-p1.png", "pillow-p2.png", "pillow-p4.png", "pillow-p8.png", "pillow-l.png",
                             "imagemagick-png8.png", "imagemagick-interlaced.png", "netpbm.png", "pillow-rgb.png",
                             "pillow-grey16.png", "png-truncated.png", "png-bad-crc.png", "png-huge-ihdr.png"})
        files.push_back(name);
    TempDir dir;
    // A PNG under 14 bytes long, which is read in sequence even as a file.
    const Bytes good = MakePng(CountingPicture(2, 2));
    WriteFile(dir / "short.png", Bytes(good.begin(), good.begin() + 12));
    files.push_back("short.png");
    for (const std::string& name : files) {
        const std::string path = name == "short.png" ? dir / name : kData + "/" + name;
        const Bytes bytes = FileBytes(path);
        const std::string expected = OutcomeInMemory(bytes, "f");
        EXPECT_EQ(OutcomeOfFile(path, "f"), expected) << name;
        LoadResult inMemory = DecodePicture(BufferOf(bytes), LoadOptions{});
        EXPECT_EQ(LoadThroughPipe(bytes).outcome, OutcomeOf(inMemory, SampleMode::TwoToOne, "f")) << name;
    }
    EXPECT_EQ(OutcomeOfFile(dir / "short.png", "f"), "Can't convert f: PNG file is truncated\n");
}

TEST(PictureLoader, TheSignatureNotTheNameDecides) {
    TempDir dir;
    const IndexedPicture picture = RandomPicture(6, 5, 2);
    WriteFile(dir / "png.bmp", MakePng(picture));
    WriteFile(dir / "bmp.png", MakeBmp(picture));
    LoadResult png = LoadPicture(dir / "png.bmp", LoadOptions{});
    LoadResult bmp = LoadPicture(dir / "bmp.png", LoadOptions{});
    ASSERT_TRUE(png.ok() && bmp.ok());
    EXPECT_EQ(png.picture.Where(), PixelStore::Kept::AsDecoded);
    EXPECT_EQ(bmp.picture.Where(), PixelStore::Kept::InFile);  // only the BMP reader keeps rows in the file
    EXPECT_EQ(MapText(png.picture, SampleMode::OneToOne), ReferenceMap(picture, SampleMode::OneToOne));
    EXPECT_EQ(MapText(bmp.picture, SampleMode::OneToOne), ReferenceMap(picture, SampleMode::OneToOne));
}

TEST(PictureLoader, BmpsAndTheirRefusalsAreAsBefore) {
    // Through the signature check, from a file and from a pipe, whose first
    // bytes it takes and hands on: short inputs on either side of the 8
    // bytes of a signature and the 14 of a file header, and whole pictures.
    const Bytes sound = MakeBmp(RandomPicture(7, 4, 3));
    BmpOptions rle;
    rle.storage = Storage::Rle8;
    std::vector<Bytes> inputs = {MakeBmp(RandomPicture(7, 4, 3), rle), sound};
    for (std::size_t length : {0, 1, 2, 7, 8, 9, 13, 14, 15, 60})
        inputs.emplace_back(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(length));
    BmpOptions rgb;
    rgb.bitCount = 24;
    inputs.push_back(MakeBmp(CountingPicture(3, 2), rgb));
    TempDir dir;
    for (const Bytes& bytes : inputs) {
        const std::string label = std::to_string(bytes.size()) + " bytes";
        WriteFile(dir / "pic.bmp", bytes);
        // The BMP loader reached directly, from memory.
        std::string expected;
        for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne}) {
            LoadResult loaded = DecodeBytes(bytes);
            const std::string outcome = OutcomeOf(loaded, mode, "f");
            EXPECT_EQ(LoadThroughPipe(bytes, mode).outcome, outcome) << label;
            expected += outcome;
            if (outcome.find("Can't convert") != std::string::npos) break;
        }
        EXPECT_EQ(OutcomeOfFile(dir / "pic.bmp", "f"), expected) << label;
    }
}

// A sink that fails once `limit` bytes have been written.
class FailingSink final : public OutputSink {
public:
    explicit FailingSink(std::size_t limit) : limit_(limit) {}
    bool Write(const char*, std::size_t size) override {
        written_ += size;
        return written_ <= limit_;
    }

private:
    std::size_t limit_;
    std::size_t written_ = 0;
};

TEST(PngWriter, WritesWhatTheLoaderReadsBack) {
    const ColourTable palette = BuiltInPalette();
    for (const IndexedPicture& picture : {CountingPicture(1, 1), RandomPicture(13, 7, 1), RandomPicture(2000, 300, 4)}) {
        const std::string label = std::to_string(picture.width) + "x" + std::to_string(picture.rows);
        MemorySink sink;
        ASSERT_TRUE(WritePng(sink, picture, palette)) << label;
        // The same bytes as the rows written one at a time.
        MemorySink rows;
        PngRowWriter writer(rows, palette);
        writer.Begin(picture.width, picture.rows);
        for (std::int64_t y = 0; y < picture.rows; ++y) {
            std::copy(picture.Row(y), picture.Row(y) + picture.width, writer.Row(y));
            writer.RowDone(y);
        }
        EXPECT_TRUE(writer.ok());
        EXPECT_TRUE(rows.text() == sink.text()) << label;
        const Bytes png(sink.text().begin(), sink.text().end());
        LoadResult loaded = DecodePicture(BufferOf(png), LoadOptions{});
        ASSERT_TRUE(loaded.ok()) << label << LoadErrorReason(loaded);
        EXPECT_EQ(loaded.picture.colours, palette) << label;  // blue, green, red, 0 both
        EXPECT_TRUE(MapText(loaded.picture, SampleMode::OneToOne) == ReferenceMap(picture, SampleMode::OneToOne)) << label;
    }
}

TEST(PngWriter, AFailedWriteIsKeptAndTheRowsAreStillTaken) {
    const IndexedPicture picture = RandomPicture(3000, 200, 8);  // more than libpng's first buffers
    for (std::size_t limit : {0, 10, 900, 5000}) {
        FailingSink sink(limit);
        PngRowWriter writer(sink, BuiltInPalette());
        writer.Begin(picture.width, picture.rows);
        for (std::int64_t y = 0; y < picture.rows; ++y) {
            std::uint8_t* row = writer.Row(y);
            ASSERT_NE(row, nullptr) << limit;
            std::copy(picture.Row(y), picture.Row(y) + picture.width, row);
            writer.RowDone(y);
        }
        EXPECT_FALSE(writer.ok()) << limit;
        EXPECT_FALSE(WritePng(sink, picture, BuiltInPalette())) << limit;
    }
}

TEST(PngWriter, MapTextWiderThanAPngIsRefused) {
    // 2^19 cells per row in two-to-one mode are 2^20 pixels: the widest PNG.
    struct Case {
        std::string header;
        MapTextError error;
    };
    const Case cases[] = {{"524288,1\r\n", MapTextError::FewerRows}, {"524289,1\r\n", MapTextError::TooLarge}};
    for (const Case& c : cases) {
        PictureCollector collector(SampleMode::TwoToOne, -1);
        MapTextReader reader(SampleMode::TwoToOne, collector, PngMaxWidth());
        reader.Feed(c.header.data(), c.header.size());
        EXPECT_EQ(reader.Finish().error, c.error) << c.header;
    }
}

}  // namespace
}  // namespace bmp2grid::test
