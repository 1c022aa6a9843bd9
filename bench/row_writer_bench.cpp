// Micro-benchmark of the row writer alone: map text bytes per second into a
// sink that discards them, for both sampling modes.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>

#include "map_writer.h"
#include "test_support.h"

namespace {

class CountingSink final : public bmp2grid::OutputSink {
public:
    bool Write(const char* data, std::size_t size) override {
        benchmark::DoNotOptimize(data);
        bytes += size;
        return true;
    }
    std::size_t bytes = 0;
};

// A 2048 x 2048 picture of terrain indices in runs, loaded from an
// uncompressed BMP held in memory.
const bmp2grid::Picture& Picture() {
    static const bmp2grid::LoadResult loaded = [] {
        bmp2grid::IndexedPicture picture{2048, 2048, bmp2grid::test::Bytes(2048 * 2048)};
        std::mt19937 gen(1);
        std::uint8_t value = 0;
        for (auto& pixel : picture.pixels) {
            if (gen() % 40 == 0) value = static_cast<std::uint8_t>(gen() % 200);
            pixel = value;
        }
        return bmp2grid::test::DecodeBytes(bmp2grid::test::MakeBmp(picture));
    }();
    if (!loaded.ok()) std::abort();
    return loaded.picture;
}

void BM_WriteMapRows(benchmark::State& state, bmp2grid::SampleMode mode) {
    const bmp2grid::Picture& image = Picture();
    std::size_t bytes = 0;
    for (auto _ : state) {
        CountingSink sink;
        bmp2grid::WriteMapRows(sink, image, mode);
        bytes += sink.bytes;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(bytes));
}

BENCHMARK_CAPTURE(BM_WriteMapRows, TwoToOne, bmp2grid::SampleMode::TwoToOne)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_WriteMapRows, OneToOne, bmp2grid::SampleMode::OneToOne)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
