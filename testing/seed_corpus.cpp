#include "seed_corpus.h"

#include "builtin_palette.h"
#include "memory_sink.h"
#include "png_writer.h"

namespace bmp2grid::fuzzing {

using test::BmpOptions;
using test::Bytes;
using test::MakeBmp;
using test::MakeBmpWithPixelBlock;
using test::Storage;

std::vector<std::pair<std::string, Bytes>> SeedCorpus() {
    std::vector<std::pair<std::string, Bytes>> seeds;
    auto add = [&seeds](std::string name, Bytes bytes) { seeds.emplace_back(std::move(name), std::move(bytes)); };
    const IndexedPicture picture = test::RandomPicture(13, 7, 99);

    for (std::uint32_t header : {12u, 16u, 40u, 52u, 56u, 64u, 108u, 124u}) {
        BmpOptions o;
        o.headerSize = header;
        o.paletteEntries = 16;
        add("header-" + std::to_string(header), MakeBmp(picture, o));
    }
    BmpOptions topDown;
    topDown.storage = Storage::TopDown;
    topDown.paletteEntries = 4;
    add("top-down", MakeBmp(picture, topDown));
    BmpOptions rle;
    rle.storage = Storage::Rle8;
    rle.paletteEntries = 4;
    add("rle8-literals", MakeBmp(picture, rle));
    rle.rleLiterals = false;
    add("rle8-runs", MakeBmp(picture, rle));
    BmpOptions odd;
    odd.gapBeforePixels = 9;
    odd.trailing = Bytes(7, 0x5A);
    odd.paletteEntries = 2;
    add("gap-and-trailing", MakeBmp(test::CountingPicture(5, 3), odd));

    // Hand-made RLE8 streams: every escape code, early ends, padding runs.
    add("rle8-delta", MakeBmpWithPixelBlock(6, 4, 1, {2, 7, 0, 2, 1, 1, 3, 9, 0, 0, 0, 3, 1, 2, 3, 0, 0, 1}));
    add("rle8-early-eol", MakeBmpWithPixelBlock(6, 3, 1, {1, 4, 0, 0, 1, 5, 0, 0, 0, 1}));
    add("rle8-early-eob", MakeBmpWithPixelBlock(6, 3, 1, {6, 2, 0, 1}));
    add("rle8-into-padding", MakeBmpWithPixelBlock(5, 2, 1, {8, 1, 0, 0, 0, 7, 1, 2, 3, 4, 5, 6, 7, 0, 0, 0, 0, 1}));
    add("rle8-trailing", MakeBmpWithPixelBlock(2, 1, 1, {2, 3, 0, 1, 0xAA, 0xBB}));
    add("rle8-cut", MakeBmpWithPixelBlock(4, 2, 1, {4, 1, 0, 0, 0, 5, 1, 2}));
    add("rle8-top-down", MakeBmpWithPixelBlock(4, -2, 1, {4, 1, 0, 1}));

    // Sizes at the edges.
    add("width-0", MakeBmpWithPixelBlock(0, 4, 0, {}));
    add("rows-0", MakeBmpWithPixelBlock(4, 0, 0, {}));
    add("width-1", MakeBmp(test::CountingPicture(1, 5)));
    add("height-min", MakeBmpWithPixelBlock(4, INT32_MIN, 0, Bytes(16, 1)));
    add("width-negative", MakeBmpWithPixelBlock(-4, 2, 0, Bytes(8, 1)));

    // Refusals and truncations.
    BmpOptions rgb;
    rgb.bitCount = 24;
    rgb.paletteEntries = 0;
    add("24-bit", MakeBmp(test::CountingPicture(3, 2), rgb));
    add("compression-3", MakeBmpWithPixelBlock(4, 1, 3, Bytes(4, 1)));
    Bytes whole = MakeBmp(picture);
    add("truncated-rows", Bytes(whole.begin(), whole.end() - 3));
    add("truncated-palette", Bytes(whole.begin(), whole.begin() + 60));
    add("truncated-header", Bytes(whole.begin(), whole.begin() + 10));
    return seeds;
}

std::vector<std::pair<std::string, Bytes>> PngSeedCorpus() {
    std::vector<std::pair<std::string, Bytes>> seeds;
    const ColourTable palette = BuiltInPalette();
    auto add = [&](std::string name, const IndexedPicture& picture) {
        MemorySink sink;
        WritePng(sink, picture, palette);
        seeds.emplace_back(std::move(name), Bytes(sink.text().begin(), sink.text().end()));
    };
    add("png-13x7", test::RandomPicture(13, 7, 99));
    add("png-1x1", test::CountingPicture(1, 1));
    add("png-width-1", test::CountingPicture(1, 5));
    add("png-4x3", test::CountingPicture(4, 3));
    add("png-300x2", test::RandomPicture(300, 2, 5));
    // Every bit depth read, and grey, from the tests' own PNG writer.
    for (int depth : {1, 2, 4, 8}) {
        IndexedPicture picture = test::RandomPicture(11, 5, static_cast<std::uint32_t>(depth));
        for (auto& pixel : picture.pixels) pixel = static_cast<std::uint8_t>(pixel % (1 << depth));
        test::PngOptions options;
        options.bitDepth = depth;
        options.paletteEntries = 1 << depth;
        seeds.emplace_back("png-depth-" + std::to_string(depth), test::MakePng(picture, options));
    }
    test::PngOptions grey;
    grey.colourType = 0;
    seeds.emplace_back("png-grey", test::MakePng(test::RandomPicture(9, 4, 3), grey));
    return seeds;
}

}  // namespace bmp2grid::fuzzing
