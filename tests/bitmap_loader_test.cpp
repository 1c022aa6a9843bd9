// Loading: header variants, storage orders, the RLE8 decoder, every
// refusal with its reason, and the same results from memory, files and pipes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <stdexcept>
#include <thread>

#include "bitmap_loader.h"
#include "bmp_format.h"
#include "command_line.h"
#include "diagnostics.h"
#include "process_runner.h"
#include "test_support.h"

namespace bmp2grid::test {
namespace {

// Where in the file the fields the cases change lie.
constexpr std::size_t kOffBitsAt = bmp::kPixelOffsetOffset;
constexpr std::size_t kInfoAt = bmp::kFileHeaderSize;
constexpr std::size_t kBiSizeAt = kInfoAt + bmp::info::kSize;
constexpr std::size_t kWidthAt = kInfoAt + bmp::info::kWidth;
constexpr std::size_t kHeightAt = kInfoAt + bmp::info::kHeight;
constexpr std::size_t kBitCountAt = kInfoAt + bmp::info::kBitCount;
constexpr std::size_t kCompressionAt = kInfoAt + bmp::info::kCompression;

void Put32(Bytes& b, std::size_t at, std::uint64_t v) { bmp::Put32(b.data() + at, static_cast<std::uint32_t>(v)); }

// Loads `file` through a named pipe, as a stream, while a second thread
// writes it followed by `zeros` zero bytes. `written` tells how much the
// writer got into the pipe before the reader closed it.
struct StreamLoad {
    LoadResult result;
    std::uint64_t written = 0;
};

StreamLoad LoadThroughPipe(const Bytes& file, std::uint64_t zeros = 0) {
    TempDir dir;
    const std::string path = dir / "pipe";
    if (::mkfifo(path.c_str(), 0600) != 0) throw std::runtime_error("mkfifo failed");
    std::signal(SIGPIPE, SIG_IGN);  // the reader may close the pipe early
    std::uint64_t written = 0;
    std::thread writer([&] {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
        if (fd < 0) return;
        auto put = [&](const std::uint8_t* data, std::size_t size) {
            while (size > 0) {
                const ssize_t n = ::write(fd, data, size);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) return false;
                data += n;
                size -= static_cast<std::size_t>(n);
                written += static_cast<std::uint64_t>(n);
            }
            return true;
        };
        const Bytes block(64 * 1024, 0);
        bool open = put(file.data(), file.size());
        for (std::uint64_t left = zeros; open && left > 0;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
            open = put(block.data(), n);
            left -= n;
        }
        ::close(fd);
    });
    StreamLoad load{LoadBitmap(path, LoadOptions{}), 0};
    writer.join();
    load.written = written;
    return load;
}

// The same bytes loaded from memory, from a regular file and from a pipe.
struct EveryWay {
    LoadResult memory, file, stream;
};

EveryWay LoadEveryWay(const Bytes& bytes) {
    TempDir dir;
    WriteFile(dir / "pic.bmp", bytes);
    return {DecodeBytes(bytes), LoadBitmap(dir / "pic.bmp", LoadOptions{}), LoadThroughPipe(bytes).result};
}

// Whether two loads agree on everything the program uses.
void ExpectSameLoad(const LoadResult& a, const LoadResult& b, const std::string& label) {
    ASSERT_EQ(a.error, b.error) << label;
    EXPECT_EQ(a.compression, b.compression) << label;
    if (!a.ok()) return;
    const Picture& x = a.picture;
    const Picture& y = b.picture;
    EXPECT_EQ(x.width, y.width) << label;
    EXPECT_EQ(x.rows, y.rows) << label;
    EXPECT_EQ(x.storedBytes, y.storedBytes) << label;
    EXPECT_EQ(x.colourCount, y.colourCount) << label;
    EXPECT_EQ(x.colours, y.colours) << label;
    for (SampleMode mode : {SampleMode::TwoToOne, SampleMode::OneToOne})
        EXPECT_EQ(MapText(x, mode), MapText(y, mode)) << label;
}

TEST(BitmapLoader, EveryHeaderVariantAndStorageGivesThePicture) {
    const IndexedPicture picture = RandomPicture(13, 9, 42);
    const std::uint32_t headers[] = {12, 16, 40, 52, 56, 64, 108, 124, 200};
    for (std::uint32_t header : headers)
        for (Storage storage : {Storage::BottomUp, Storage::TopDown, Storage::Rle8}) {
            // The core header has no compression field and unsigned heights;
            // a 16-byte header has no compression field either.
            if ((header == 12 || header == 16) && storage != Storage::BottomUp) continue;
            BmpOptions options;
            options.headerSize = header;
            options.storage = storage;
            LoadResult loaded = DecodeBytes(MakeBmp(picture, options));
            ASSERT_TRUE(loaded.ok()) << header << ": " << LoadErrorReason(loaded);
            EXPECT_EQ(loaded.picture.width, 13);
            EXPECT_EQ(loaded.picture.rows, 9);
            EXPECT_EQ(PictureOf(loaded.picture).pixels, picture.pixels)
                << "header " << header << " storage " << static_cast<int>(storage);
        }
}

TEST(BitmapLoader, PaletteIsReadForBothEntrySizes) {
    for (std::uint32_t header : {12u, 40u}) {
        BmpOptions options;
        options.headerSize = header;
        options.paletteEntries = 16;
        LoadResult loaded = DecodeBytes(MakeBmp(CountingPicture(2, 2), options));
        ASSERT_TRUE(loaded.ok());
        EXPECT_EQ(loaded.picture.colourCount, 16);
        const std::array<std::uint8_t, 4> entry5{5, 250, 5 ^ 0x55, 0};
        EXPECT_EQ(loaded.picture.colours[5], entry5) << header;
    }
}

TEST(BitmapLoader, AcceptsOddButSoundFiles) {
    const IndexedPicture picture = CountingPicture(6, 4);
    BmpOptions gapAndTrailing;
    gapAndTrailing.gapBeforePixels = 37;
    gapAndTrailing.trailing = Bytes(11, 0xAB);
    Bytes file = MakeBmp(picture, gapAndTrailing);
    file[0] = 'X';  // the signature is not examined
    file[1] = 'Y';
    LoadResult loaded = DecodeBytes(file);
    ASSERT_TRUE(loaded.ok()) << LoadErrorReason(loaded);
    EXPECT_EQ(PictureOf(loaded.picture).pixels, picture.pixels);
    // Trailing bytes count in the pixel block length: 4 rows of stride 8, plus 11.
    EXPECT_EQ(loaded.picture.storedBytes, 4 * 8 + 11);

    // Row padding may be missing after the last row.
    Bytes unpadded = MakeBmp(picture);
    unpadded.resize(unpadded.size() - 2);
    EXPECT_TRUE(DecodeBytes(unpadded).ok());

    // A file that ends at the pixel offset is a sound empty picture when
    // there are no pixels to read.
    LoadResult empty = DecodeBytes(MakeBmpWithPixelBlock(0, 5, 0, {}));
    ASSERT_TRUE(empty.ok());
    EXPECT_EQ(empty.picture.storedBytes, 0);
    EXPECT_EQ(MapText(empty.picture, SampleMode::OneToOne), "0,5\r\n\r\n\r\n\r\n\r\n\r\n");
}

TEST(BitmapLoader, TopDownPictureUsesThePositiveRowCount) {
    BmpOptions options;
    options.storage = Storage::TopDown;
    const IndexedPicture picture = CountingPicture(4, 3);
    LoadResult loaded = DecodeBytes(MakeBmp(picture, options));
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(loaded.picture.rows, 3);
    EXPECT_EQ(MapText(loaded.picture, SampleMode::TwoToOne), ReferenceMap(picture, SampleMode::TwoToOne));
}

struct Refusal {
    const char* name;
    Bytes file;
    LoadError error;
    std::uint32_t compression = 0;  // for UnsupportedCompression
};

std::vector<Refusal> Refusals() {
    const Bytes sound = MakeBmp(CountingPicture(4, 3));
    auto with = [&](std::size_t at, std::uint32_t value) {
        Bytes b = sound;
        Put32(b, at, value);
        return b;
    };
    auto bitCount = [&](std::uint16_t bits) {
        BmpOptions o;
        o.bitCount = bits;
        return MakeBmp(CountingPicture(4, 3), o);
    };
    BmpOptions coreOptions;
    coreOptions.headerSize = 12;
    coreOptions.bitCount = 24;
    Bytes infoTooShort = MakeBmpWithPixelBlock(4, 3, 0, Bytes(12, 1));
    Put32(infoTooShort, kOffBitsAt, kInfoAt + 15);  // 15 info bytes: the bit count is cut off
    Bytes coreTooShort = sound;
    Put32(coreTooShort, kBiSizeAt, bmp::kCoreHeaderSize);
    Put32(coreTooShort, kOffBitsAt, kInfoAt + 11);
    Bytes truncated = sound;
    truncated.resize(truncated.size() - 1);  // last row one byte short
    const Bytes rleCut = MakeBmpWithPixelBlock(4, 1, 1, {4, 7, 0, 0});  // no end-of-bitmap
    const Bytes rleTooManyRows = MakeBmpWithPixelBlock(4, 1, 1, {4, 7, 0, 0, 2, 7, 0, 1});
    const Bytes rleLiteralCut = MakeBmpWithPixelBlock(4, 1, 1, {0, 4, 1, 2, 3});
    const Bytes rleDeltaCut = MakeBmpWithPixelBlock(4, 2, 1, {0, 2, 1});
    const Bytes rleDeltaOut = MakeBmpWithPixelBlock(4, 2, 1, {0, 2, 0, 2, 1, 5, 0, 1});
    const Bytes rleEmpty = MakeBmpWithPixelBlock(4, 1, 1, {});
    const Bytes rleHuge = MakeBmpWithPixelBlock(INT32_MAX, INT32_MAX, 1, {0, 1});

    return {
        {"empty file", {}, LoadError::FileShorterThanHeader},
        {"13 bytes", Bytes(sound.begin(), sound.begin() + 13), LoadError::FileShorterThanHeader},
        {"offset below 14", with(kOffBitsAt, 13), LoadError::OffsetIntoFileHeader},
        {"offset past the end", with(kOffBitsAt, static_cast<std::uint32_t>(sound.size() + 1)),
         LoadError::EndsBeforePixelData},
        {"offset 2^32-1", with(kOffBitsAt, 0xFFFFFFFF), LoadError::EndsBeforePixelData},
        {"no room for biSize", with(kOffBitsAt, 17), LoadError::InfoHeaderTooShort},
        {"info block too short", infoTooShort, LoadError::InfoHeaderTooShort},
        {"core info block too short", coreTooShort, LoadError::InfoHeaderTooShort},
        {"1 bit", bitCount(1), LoadError::NotEightBit},
        {"4 bit", bitCount(4), LoadError::NotEightBit},
        {"16 bit", bitCount(16), LoadError::NotEightBit},
        {"24 bit", bitCount(24), LoadError::NotEightBit},
        {"32 bit", bitCount(32), LoadError::NotEightBit},
        {"24 bit core header", MakeBmp(CountingPicture(4, 3), coreOptions), LoadError::NotEightBit},
        {"compression 3", with(kCompressionAt, 3), LoadError::UnsupportedCompression, 3},
        {"compression 2", with(kCompressionAt, 2), LoadError::UnsupportedCompression, 2},
        {"negative width", with(kWidthAt, static_cast<std::uint32_t>(-4)), LoadError::NegativeWidth},
        {"height -2^31", with(kHeightAt, 0x80000000u), LoadError::HeightOutOfRange},
        {"top-down RLE8", MakeBmpWithPixelBlock(4, -1, 1, {4, 7, 0, 1}), LoadError::Rle8TopDown},
        {"truncated rows", truncated, LoadError::PixelDataTruncated},
        {"huge rows, tiny file", with(kWidthAt, 100000), LoadError::PixelDataTruncated},
        {"RLE8 without end marker", rleCut, LoadError::CorruptRle},
        {"RLE8 empty stream", rleEmpty, LoadError::CorruptRle},
        {"RLE8 row past the last", rleTooManyRows, LoadError::CorruptRle},
        {"RLE8 literal cut short", rleLiteralCut, LoadError::CorruptRle},
        {"RLE8 delta cut short", rleDeltaCut, LoadError::CorruptRle},
        {"RLE8 delta past the last row", rleDeltaOut, LoadError::CorruptRle},
        {"RLE8 beyond memory", rleHuge, LoadError::NoMemory},
    };
}

TEST(BitmapLoader, RefusesWithTheMatchingReason) {
    for (const Refusal& r : Refusals()) {
        LoadResult loaded = DecodeBytes(r.file);
        EXPECT_EQ(loaded.error, r.error) << r.name;
        EXPECT_EQ(loaded.compression, r.compression) << r.name;
    }
}

TEST(BitmapLoader, ChecksComeInTheDocumentedOrder) {
    // A 24-bit picture with an unsupported compression and a negative width
    // is refused for its bit count first.
    BmpOptions options;
    options.bitCount = 24;
    Bytes file = MakeBmp(CountingPicture(4, 3), options);
    Put32(file, kCompressionAt, 7);
    Put32(file, kWidthAt, static_cast<std::uint32_t>(-4));
    EXPECT_EQ(DecodeBytes(file).error, LoadError::NotEightBit);
    // Compression comes before the width.
    file[kBitCountAt] = 8;
    const LoadResult compression = DecodeBytes(file);
    EXPECT_EQ(compression.error, LoadError::UnsupportedCompression);
    EXPECT_EQ(compression.compression, 7u);
}

TEST(BitmapLoader, FilesStreamsAndMemoryGiveTheSameResults) {
    std::vector<std::pair<std::string, Bytes>> fixtures;
    for (Refusal& r : Refusals()) fixtures.emplace_back(r.name, std::move(r.file));
    const IndexedPicture picture = RandomPicture(13, 9, 7);
    for (std::uint32_t header : {12u, 16u, 40u, 124u})
        for (Storage storage : {Storage::BottomUp, Storage::TopDown, Storage::Rle8}) {
            if ((header == 12 || header == 16) && storage != Storage::BottomUp) continue;
            BmpOptions options;
            options.headerSize = header;
            options.storage = storage;
            options.paletteEntries = 20;
            options.gapBeforePixels = 3;
            options.trailing = Bytes(5, 0xAB);
            fixtures.emplace_back("header " + std::to_string(header) + " storage " +
                                      std::to_string(static_cast<int>(storage)),
                                  MakeBmp(picture, options));
        }
    // Gaps of several reads between the colour table and the pixels, with
    // a full colour table and a colour table cut short by the pixel data.
    for (Storage storage : {Storage::BottomUp, Storage::Rle8}) {
        BmpOptions gap;
        gap.storage = storage;
        gap.gapBeforePixels = 300000;
        fixtures.emplace_back("300000-byte gap", MakeBmp(picture, gap));
        BmpOptions farTable;
        farTable.storage = storage;
        farTable.headerSize = 200000;  // the colour table starts 200014 bytes in
        farTable.paletteEntries = 256;
        fixtures.emplace_back("200000-byte info header", MakeBmp(picture, farTable));
        Bytes cutTable = MakeBmp(picture, farTable);
        Put32(cutTable, kOffBitsAt, kInfoAt + 200000 + 10);  // room for two and a half entries
        fixtures.emplace_back("colour table cut short", cutTable);
    }
    // An info header size below 20 puts the colour table among the fields.
    for (std::uint32_t biSize : {0u, 2u, 13u}) {
        Bytes file = MakeBmp(picture);
        Put32(file, kBiSizeAt, biSize);
        fixtures.emplace_back("biSize " + std::to_string(biSize), file);
    }
    fixtures.emplace_back("no rows, ends at the pixel data", MakeBmpWithPixelBlock(4, 0, 0, {}));

    for (const auto& [name, bytes] : fixtures) {
        const EveryWay loaded = LoadEveryWay(bytes);
        ExpectSameLoad(loaded.memory, loaded.file, name + " (file)");
        ExpectSameLoad(loaded.memory, loaded.stream, name + " (stream)");
    }
}

TEST(BitmapLoader, ColourTableFarFromTheFileHeaderIsRead) {
    BmpOptions options;
    options.headerSize = 200000;
    options.paletteEntries = 256;
    const LoadResult loaded = DecodeBytes(MakeBmp(CountingPicture(4, 3), options));
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(loaded.picture.colourCount, 256);
    const std::array<std::uint8_t, 4> entry200{200, 55, 200 ^ 0x55, 0};
    EXPECT_EQ(loaded.picture.colours[200], entry200);
}

TEST(BitmapLoader, InfoBlockEndingBeforeTheCompressionFieldIsNotReadPastIt) {
    // An info block of 16 to 19 bytes whose biSize claims 20 or more: the
    // compression field lies past the block, over the pixels (7 7 7 7 ...,
    // which read as compression would be refused) or past the end of a file
    // that has no pixels.
    for (std::uint32_t biSize : {20u, 40u, 124u})
        for (std::uint32_t infoLength = 16; infoLength < 20; ++infoLength)
            for (std::int32_t rows : {2, 0}) {
                Bytes file = MakeBmpWithPixelBlock(4, rows, 0, Bytes(static_cast<std::size_t>(rows) * 4, 7));
                Bytes shortened(file.begin(), file.begin() + kInfoAt + infoLength);
                shortened.insert(shortened.end(), file.end() - rows * 4, file.end());
                for (std::size_t at = kCompressionAt; at < kInfoAt + infoLength; ++at) shortened[at] = 0xEE;
                Put32(shortened, kOffBitsAt, kInfoAt + infoLength);
                Put32(shortened, kBiSizeAt, biSize);
                const std::string label = "biSize " + std::to_string(biSize) + ", " +
                                          std::to_string(infoLength) + " info bytes, " +
                                          std::to_string(rows) + " rows";
                const EveryWay loaded = LoadEveryWay(shortened);
                for (const LoadResult* result : {&loaded.memory, &loaded.file, &loaded.stream}) {
                    ASSERT_TRUE(result->ok()) << label << ": " << LoadErrorReason(*result);
                    EXPECT_EQ(MapText(result->picture, SampleMode::OneToOne),
                              ReferenceMap(IndexedPicture{4, rows, Bytes(static_cast<std::size_t>(rows) * 4, 7)},
                                           SampleMode::OneToOne))
                        << label;
                }
            }
}

TEST(BitmapLoader, StreamIsRefusedAsSoonAsItsHeadersFail) {
    // Each input is followed by far more bytes than the headers' checks
    // need, as from a pipe that never ends; the refusal must come without
    // reading them, so the writer is cut off long before it is done.
    constexpr std::uint64_t kEndless = 64u << 20;
    std::vector<std::pair<std::string, Bytes>> fixtures;
    for (Refusal& r : Refusals()) {
        // These refusals need the end of the input.
        for (LoadError needsTheEnd : {LoadError::FileShorterThanHeader, LoadError::EndsBeforePixelData,
                                      LoadError::PixelDataTruncated, LoadError::CorruptRle, LoadError::NoMemory})
            if (r.error == needsTheEnd) r.name = nullptr;
        if (r.name != nullptr) fixtures.emplace_back(r.name, std::move(r.file));
    }
    fixtures.emplace_back("zeros alone", Bytes{});
    BmpOptions rgbAfterAGap;
    rgbAfterAGap.bitCount = 24;
    rgbAfterAGap.gapBeforePixels = 1u << 20;
    fixtures.emplace_back("24 bit after a 1 MiB gap", MakeBmp(CountingPicture(4, 3), rgbAfterAGap));
    ASSERT_GT(fixtures.size(), 15u);

    for (const auto& [name, bytes] : fixtures) {
        const LoadResult expected = DecodeBytes(bytes.empty() ? Bytes(14, 0) : bytes);
        ASSERT_FALSE(expected.ok()) << name;
        const StreamLoad load = LoadThroughPipe(bytes, kEndless);
        EXPECT_EQ(load.result.error, expected.error) << name;
        EXPECT_EQ(load.result.compression, expected.compression) << name;
        EXPECT_LT(load.written, bytes.size() + kEndless) << name << ": read to the end";
    }
}

TEST(Rle8Decoder, HandlesEveryCode) {
    struct Case {
        const char* name;
        std::int32_t width, height;
        Bytes stream;
        Bytes topRows;
    };
    const Case cases[] = {
        {"runs and end of line", 3, 2, {3, 1, 0, 0, 2, 2, 1, 3, 0, 0, 0, 1}, {2, 2, 3, 1, 1, 1}},
        {"odd literal with pad byte", 3, 1, {0, 3, 7, 8, 9, 0, 0, 1}, {7, 8, 9}},
        {"even literal", 4, 1, {0, 4, 1, 2, 3, 4, 0, 1}, {1, 2, 3, 4}},
        {"delta skips pixels, which stay 0", 3, 2, {1, 5, 0, 2, 1, 1, 1, 6, 0, 1}, {0, 0, 6, 5, 0, 0}},
        {"early end of bitmap", 2, 2, {2, 9, 0, 1}, {0, 0, 9, 9}},
        {"early end of line", 3, 2, {1, 4, 0, 0, 1, 5, 0, 1}, {5, 0, 0, 4, 0, 0}},
        {"run into the row padding", 3, 2, {4, 1, 0, 0, 4, 2, 0, 0, 0, 1}, {2, 2, 2, 1, 1, 1}},
        {"literal into the row padding", 3, 1, {0, 5, 1, 2, 3, 4, 5, 0, 0, 1}, {1, 2, 3}},
        {"bytes after the end are ignored", 1, 1, {1, 3, 0, 1, 9, 9, 9}, {3}},
        {"no final end of line", 2, 1, {2, 8, 0, 1}, {8, 8}},
        {"end of line on the last row", 1, 1, {1, 8, 0, 0, 0, 0, 0, 1}, {8}},
    };
    for (const Case& c : cases) {
        LoadResult loaded = DecodeBytes(MakeBmpWithPixelBlock(c.width, c.height, 1, c.stream));
        ASSERT_TRUE(loaded.ok()) << c.name << ": " << LoadErrorReason(loaded);
        EXPECT_EQ(PictureOf(loaded.picture).pixels, c.topRows) << c.name;
    }
}

TEST(Rle8Decoder, KeepsTheCompressedLengthForTheSizeReport) {
    const Bytes stream = {3, 1, 0, 0, 3, 2, 0, 1, 0xAA};
    LoadResult loaded = DecodeBytes(MakeBmpWithPixelBlock(3, 2, 1, stream));
    ASSERT_TRUE(loaded.ok());
    EXPECT_EQ(loaded.picture.storedBytes, 9);
}

TEST(Rle8Decoder, RefusesPicturesOverTheCallersLimit) {
    Bytes file = MakeBmpWithPixelBlock(100, 100, 1, {0, 1});
    ByteBuffer buffer;
    ASSERT_TRUE(buffer.Reserve(file.size()));
    std::copy(file.begin(), file.end(), buffer.data());
    buffer.SetSize(file.size());
    LoadOptions options;
    options.maxDecodedPixels = 9999;
    EXPECT_EQ(DecodeBitmap(std::move(buffer), options).error, LoadError::TooLarge);
}

// Decodes bytes in memory as DecodeBitmap does, with the given options.
LoadResult DecodeWith(const Bytes& file, const LoadOptions& options) {
    ByteBuffer buffer;
    if (!buffer.Reserve(file.size() + 1)) throw std::runtime_error("out of memory");
    std::copy(file.begin(), file.end(), buffer.data());
    buffer.SetSize(file.size());
    return DecodeBitmap(std::move(buffer), options);
}

TEST(Rle8Decoder, ReadsTheStreamThroughWindowsOfAnySize) {
    // Small windows split codes, deltas and literal runs (with and without
    // their pad byte) at every position, and put the end of a stream cut
    // short, or of one whose end-of-bitmap marker comes before bytes that
    // don't belong to it, at every place in a window.
    BmpOptions literals;
    literals.storage = Storage::Rle8;
    literals.trailing = Bytes(9, 0xAB);
    const IndexedPicture picture = RandomPicture(13, 9, 11);
    const Bytes sound = MakeBmp(picture, literals);
    const std::size_t streamStart = sound.size() - literals.trailing.size() - EncodeRle8(picture, true).size();
    std::vector<std::pair<std::string, Bytes>> fixtures = {
        {"literal runs and trailing bytes", sound},
        {"runs, deltas, early end of line",
         MakeBmpWithPixelBlock(5, 4, 1, {2, 3, 0, 2, 1, 1, 0, 5, 1, 2, 3, 4, 5, 0, 0, 0, 0, 0, 3, 7, 0, 1, 0xEE})},
        {"cut in a delta", MakeBmpWithPixelBlock(5, 4, 1, {2, 3, 0, 2, 1})},
        {"cut in a literal's pad byte", MakeBmpWithPixelBlock(5, 1, 1, {0, 3, 1, 2, 3})},
        {"a literal below the last row", MakeBmpWithPixelBlock(3, 1, 1, {0, 0, 0, 3, 1, 2, 3, 0, 0, 1})},
    };
    for (std::size_t cut = streamStart; cut + literals.trailing.size() < sound.size(); cut += 7)
        fixtures.emplace_back("cut after " + std::to_string(cut - streamStart) + " bytes",
                              Bytes(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(cut)));
    TempDir dir;
    for (const auto& [name, bytes] : fixtures) {
        const LoadResult expected = DecodeBytes(bytes);
        WriteFile(dir / "pic.bmp", bytes);
        for (std::size_t window : {2, 3, 4, 5, 7, 8, 13, 64}) {
            LoadOptions options;
            options.rle8WindowBytes = window;
            const std::string label = name + ", window " + std::to_string(window);
            ExpectSameLoad(expected, LoadBitmap(dir / "pic.bmp", options), label + " (file)");
            ExpectSameLoad(expected, DecodeWith(bytes, options), label + " (memory)");
        }
    }
}

TEST(Rle8Decoder, StreamLongerThanTheWindowEndsInTheNextOne) {
    // A stream of runs and literals a little over 1 MiB, whole and cut short
    // around the first window's end, read from a file, from memory and from
    // a pipe with the default window.
    BmpOptions literals;
    literals.storage = Storage::Rle8;
    const IndexedPicture picture = RandomPicture(1023, 2700, 5);
    const Bytes whole = MakeBmp(picture, literals);
    const std::size_t streamStart = whole.size() - EncodeRle8(picture, true).size();
    ASSERT_GT(whole.size() - streamStart, kRle8WindowBytes + 2);
    const LoadResult loaded = LoadEveryWay(whole).file;
    ASSERT_TRUE(loaded.ok()) << LoadErrorReason(loaded);
    EXPECT_EQ(PictureOf(loaded.picture).pixels, picture.pixels);
    const std::size_t streamLengths[] = {kRle8WindowBytes - 1, kRle8WindowBytes, kRle8WindowBytes + 1,
                                         whole.size() - streamStart - 1};
    for (std::size_t streamLength : streamLengths) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(streamStart + streamLength));
        const EveryWay each = LoadEveryWay(cut);
        const std::string label = "stream of " + std::to_string(streamLength) + " bytes";
        EXPECT_EQ(each.memory.error, LoadError::CorruptRle) << label;
        ExpectSameLoad(each.memory, each.file, label + " (file)");
        ExpectSameLoad(each.memory, each.stream, label + " (stream)");
    }
}

TEST(Rle8Decoder, BytesAfterTheEndOfBitmapAreNeverRead) {
    // A 2x2 picture followed by a terabyte of file (sparse: it takes no
    // room, but reading it, or holding it, would never end).
    const Bytes picture = MakeBmpWithPixelBlock(2, 2, 1, {2, 5, 0, 0, 1, 8, 1, 9, 0, 1});
    constexpr std::int64_t kFileSize = std::int64_t{1} << 40;
    TempDir dir;
    WriteFile(dir / "pic.bmp", picture);
    ASSERT_EQ(::truncate((dir / "pic.bmp").c_str(), kFileSize), 0) << "no sparse file of 1 TiB here";
    const LoadResult loaded = LoadBitmap(dir / "pic.bmp", LoadOptions{});
    ASSERT_TRUE(loaded.ok()) << LoadErrorReason(loaded);
    EXPECT_EQ(PictureOf(loaded.picture).pixels, (Bytes{8, 9, 5, 5}));
    // The size report's figure still runs to the end of the file.
    EXPECT_EQ(loaded.picture.storedBytes, kFileSize - static_cast<std::int64_t>(picture.size()) + 10);
}

}  // namespace
}  // namespace bmp2grid::test
