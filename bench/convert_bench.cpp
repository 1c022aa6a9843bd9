// Whole-program benchmark of bmp2grid on a big map-like picture.
//
//   bmp2grid_bench [--runs N] [--size PIXELS] [--dir FOLDER] [--converter PATH] [--deb-build PATH]
//                  [--only png|file|small|tiled|batch]
//
// 1. Draws an 8192 x 8192 8-bit picture of a few terrain indices in patches.
// 2. Converts it to /dev/null in both modes with bmp2grid and with a baseline
//    that reads the whole file into memory and writes one fprintf per cell
//    into a buffered stream, alternating, and prints the median times and the
//    speed ratio.
// 3. Converts it to a file in both modes, alternating with a plain sequential
//    write of the same number of bytes to a file in the same folder, and
//    with that write after setting its space aside as bmp2grid does, and
//    prints the ratios. Before each timed run the files are removed and
//    dirty pages are flushed (untimed), so no side pays for another's
//    writeback.
// Before each timed conversion the picture is read once, untimed, so that
// every run finds it in the page cache.
// 3a. Converts it with and without --palette (a GIMP palette of the
//    picture's 8 terrain colours in reverse order, so every pixel is checked
//    and every index rewritten), alternating, to /dev/null and to a file,
//    and prints the ratio.
// 4. Prints bmp2grid's peak resident memory, as the kernel accounted it for
//    the finished process, for the picture stored plainly and as RLE8.
// 5. Times the small map (64 x 40) with bmp2grid, grid2bmp and the baseline:
//    their start-up, in medians of many alternating runs (SmallMapLatency);
//    with --deb-build, also the bmp2grid at PATH, built as the Debian
//    package builds it (build/deb/converter/bmp2grid after the deb workflow).
// 6. Converts the picture's two-to-one map text back to a BMP file with
//    grid2bmp, alternating with `wc -l` on the same text, and prints both
//    speeds in MB/s of map text and grid2bmp's peak resident memory.
// 7. RLE8 read from its file a window at a time: peak memory for noisy
//    8192 x 8192 and 16384 x 16384 pictures of literal runs, and time and
//    memory for a tiny picture followed by 4 GiB that is never read.
// 8. The same picture as an 8-bit indexed PNG (grid2bmp's writer) converted
//    to /dev/null and to a file, alternating with the BMP, and the PNG's
//    peak memory.
// 9. The picture's one-to-one map text (as many cells as pixels) converted
//    by grid2bmp to a TMX, alternating with the same text to a BMP, both to
//    files, and printed in MB/s of map text, with the TMX's peak memory;
//    then that TMX read back by bmp2grid -1 into map text, alternating with
//    the picture as a BMP, in MB/s of TMX, with its peak memory.
// 10. Batches (--only batch alone, since it writes its own pictures):
//    1,000 pictures of the sample's size (64 x 40) converted by one
//    `bmp2grid --out-dir` run, alternating with 1,000 separate runs (goal:
//    the batch in at most a quarter of the time), and their maps back by
//    grid2bmp the same two ways; then 16 pictures of 4096 x 4096 in one
//    batch (one worker per processor), alternating with 16 separate runs
//    one after another (goal: at least 1.7 times the throughput on 2 cores).
//
// The baseline runs as a child process too (this program started with
// --baseline), so both sides pay for process start and reading alike.
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "bmp_format.h"
#include "builtin_palette.h"
#include "memory_sink.h"
#include "png_writer.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// --- The picture --------------------------------------------------------

// Terrain in patches: a coarse random grid of terrain indices, blown up with
// a little jitter along the patch edges, like a painted map.
std::vector<std::uint8_t> MapLikePixels(int size) {
    std::mt19937 gen(2026);
    const int cell = 64;
    const int coarse = size / cell + 2;
    const std::uint8_t terrain[] = {0, 1, 2, 3, 4, 5, 12, 37};
    std::vector<std::uint8_t> grid(static_cast<std::size_t>(coarse * coarse));
    for (auto& g : grid) g = terrain[gen() % 8];
    std::vector<std::uint8_t> pixels(static_cast<std::size_t>(size) * static_cast<std::size_t>(size));
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const int jx = x + static_cast<int>(gen() % 7), jy = y + static_cast<int>(gen() % 7);
            pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(size) + static_cast<std::size_t>(x)] =
                grid[static_cast<std::size_t>((jy / cell) * coarse + jx / cell)];
        }
    return pixels;
}

void WriteBmp(const std::string& path, const bmp2grid::IndexedPicture& picture, bool rle) {
    bmp2grid::test::BmpOptions options;
    if (rle) {
        options.storage = bmp2grid::test::Storage::Rle8;
        options.rleLiterals = false;  // runs only, as simple encoders write
    }
    bmp2grid::test::WriteFile(path, bmp2grid::test::MakeBmp(picture, options));
}

// --- The baseline: whole file in memory, one fprintf per cell -------------

struct CloseFile {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, CloseFile>;

int Baseline(bool oneToOne, const char* in, const char* out) {
    const File input(std::fopen(in, "rb"));
    if (input == nullptr) return 1;
    struct stat st;
    ::stat(in, &st);
    std::vector<std::uint8_t> file(static_cast<std::size_t>(st.st_size));
    if (std::fread(file.data(), 1, file.size(), input.get()) != file.size()) return 1;
    namespace bmp = bmp2grid::bmp;
    const std::uint32_t offBits = bmp::Get32(&file[bmp::kPixelOffsetOffset]);
    const std::uint8_t* info = &file[bmp::kFileHeaderSize];
    const auto w = static_cast<std::int32_t>(bmp::Get32(info + bmp::info::kWidth));
    const auto h = static_cast<std::int32_t>(bmp::Get32(info + bmp::info::kHeight));
    const std::uint8_t* pixels = file.data() + offBits;
    const File output(std::fopen(out, "w"));
    if (output == nullptr) return 1;
    const int step = oneToOne ? 1 : 2;
    int stride = w;
    while (stride % 4 != 0) ++stride;
    std::fprintf(output.get(), "%d,%d\r\n", oneToOne ? w : w / 2, h);
    for (int y = 0; y < h; ++y) {
        const int shift = oneToOne ? y / 2 : y;
        const int r = h - 1 - y;
        for (int x = 0; x < w; x += step)
            std::fprintf(output.get(), "%d,0,0,0,0\t", pixels[r * stride + (x + shift) % w]);
        std::fprintf(output.get(), "\r\n");
    }
    return 0;
}

// --- Measuring -------------------------------------------------------------

struct Sample {
    double seconds;
    long peakKiB;
};

Sample RunChild(const std::vector<std::string>& argv) {
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, 1);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "child %s failed\n", argv[0].c_str());
        std::exit(1);
    }
    return {seconds, usage.ru_maxrss};
}

// Reads a file once so that the timed run after it finds it in the page
// cache: this machine's kernel reclaims cold page cache on its own, which
// otherwise makes some runs read the picture from disk and others not.
void WarmUp(const std::string& path) {
    std::vector<char> buffer(1 << 20);
    const int fd = ::open(path.c_str(), O_RDONLY);
    while (::read(fd, buffer.data(), buffer.size()) > 0) {
    }
    ::close(fd);
}

// Writes `bytes` bytes to a new file in 1 MiB blocks; with `setAside`, sets
// their space aside first as bmp2grid does for a big map (fallocate, then a
// truncation that hands back nothing here), so that the two writes differ
// only in how the bytes are made.
double PlainWrite(const std::string& path, std::uintmax_t bytes, bool setAside = false) {
    const auto start = Clock::now();
    std::vector<char> block(1 << 20, 'x');
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (setAside) {
        if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes)) != 0) std::exit(1);
    }
    for (std::uintmax_t left = bytes; left > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uintmax_t>(left, block.size()));
        if (::write(fd, block.data(), n) != static_cast<ssize_t>(n)) std::exit(1);
        left -= n;
    }
    if (setAside && ::ftruncate(fd, static_cast<off_t>(bytes)) != 0) std::exit(1);
    ::close(fd);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Median and best (least disturbed) of a set of timings. On a shared
// virtual machine some runs pay for the host's memory management; the best
// run shows the program's own cost, the median what a user typically sees.
struct Timing {
    double median;
    double best;
};

Timing Summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    if (std::getenv("BMP2GRID_BENCH_SAMPLES") != nullptr) {
        for (double x : v) std::fprintf(stderr, " %.3f", x);
        std::fprintf(stderr, "\n");
    }
    return {v[v.size() / 2], v.front()};
}

// --- Small map latency -----------------------------------------------------

// A small map costs its programs little but their start: the 64 x 40
// picture of map-like terrain (the sample map's size) is converted, one
// process at a time and alternating, by bmp2grid (two-to-one), by grid2bmp
// (that map text back to a picture) and by the baseline, each to a file of
// its own that is replaced every run, and the medians of many runs are
// compared: bmp2grid must be no slower than the baseline, grid2bmp no slower
// than bmp2grid. The baseline is this program, which loads the shared C++
// runtime as it starts, as a plain C program would not; so /bin/true, a
// program of the C library alone that does nothing, runs in the same rounds
// and shows what starting any process costs here. `debBuild`, when given, is
// a bmp2grid built as the Debian package builds it (the deb preset: linked
// against the system's shared libraries), timed in the same rounds beside
// the static one.
void SmallMapLatency(const std::string& work, const std::string& converter, const std::string& self,
                     const std::string& debBuild) {
    constexpr int kWidth = 64, kRows = 40, kRounds = 401, kWarmUp = 20;
    const std::string picture = work + "/small.bmp", text = work + "/small.txt";
    {
        std::vector<std::uint8_t> pixels = MapLikePixels(kWidth);
        pixels.resize(static_cast<std::size_t>(kWidth) * kRows);
        WriteBmp(picture, bmp2grid::IndexedPicture{kWidth, kRows, pixels}, false);
    }
#ifdef GRID2BMP_EXE
    const std::string grid2bmp = GRID2BMP_EXE;
#else
    // The build puts both programs side by side: build/.../converter/bmp2grid
    // and build/.../grid2bmp/grid2bmp.
    const std::string grid2bmp = (fs::path(converter).parent_path().parent_path() / "grid2bmp" / "grid2bmp").string();
#endif
    const std::string doNothing = "/bin/true";
    enum Side { kBmp2Grid, kGrid2Bmp, kBaseline, kDoNothing, kDebBuild, kSides };
    const std::vector<std::string> sides[kSides] = {
        {converter, picture, text},
        {grid2bmp, text, work + "/small-back.bmp"},
        {self, "--baseline", "-2", picture, work + "/small-baseline.txt"},
        {doNothing},
        {debBuild, picture, work + "/small-deb.txt"},
    };
    const bool runs[kSides] = {true, fs::exists(grid2bmp), true, fs::exists(doNothing), !debBuild.empty()};
    std::vector<double> times[kSides];
    RunChild(sides[kBmp2Grid]);  // grid2bmp's input
    for (int round = 0; round < kWarmUp + kRounds; ++round) {
        for (int side = 0; side < kSides; ++side) {
            if (!runs[side]) continue;
            const double seconds = RunChild(sides[side]).seconds;
            if (round >= kWarmUp) times[side].push_back(seconds);
        }
    }
    std::printf("\nSmall map, %d x %d picture (%d x %d map), to a file: median of %d alternating runs\n", kWidth,
                kRows, kWidth / 2, kRows, kRounds);
    const Timing converted = Summarise(times[kBmp2Grid]), baseline = Summarise(times[kBaseline]);
    std::printf("  %-28s %6.3f ms  (best %.3f ms)  goal: no slower than the baseline: %s\n", "bmp2grid",
                converted.median * 1e3, converted.best * 1e3, converted.median <= baseline.median ? "met" : "NOT MET");
    if (runs[kDebBuild]) {
        const Timing deb = Summarise(times[kDebBuild]);
        std::printf("  %-28s %6.3f ms  (best %.3f ms)  %.2fx bmp2grid's time (best runs %.2fx): %s\n",
                    "bmp2grid, the .deb's build", deb.median * 1e3, deb.best * 1e3, deb.median / converted.median,
                    deb.best / converted.best, debBuild.c_str());
    }
    if (runs[kGrid2Bmp]) {
        const Timing back = Summarise(times[kGrid2Bmp]);
        std::printf("  %-28s %6.3f ms  (best %.3f ms)  goal: no slower than bmp2grid: %s\n", "grid2bmp",
                    back.median * 1e3, back.best * 1e3, back.median <= converted.median ? "met" : "NOT MET");
    } else {
        std::printf("  grid2bmp: not built (%s)\n", grid2bmp.c_str());
    }
    std::printf("  %-28s %6.3f ms  (best %.3f ms)  loads the shared C++ runtime\n", "baseline (fprintf per cell)",
                baseline.median * 1e3, baseline.best * 1e3);
    if (runs[kDoNothing]) {
        const Timing floor = Summarise(times[kDoNothing]);
        std::printf("  %-28s %6.3f ms  (best %.3f ms)  starting a C program that does nothing\n", doNothing.c_str(),
                    floor.median * 1e3, floor.best * 1e3);
    }
    if (!runs[kDebBuild])
        std::printf("  (--deb-build PATH times the .deb's build too, e.g. build/deb/converter/bmp2grid)\n");
}

// --- grid2bmp: map text back to a picture ----------------------------------

// Converts the picture's two-to-one map text back to a BMP file with
// grid2bmp, alternating with `wc -l` on the same text (both read it from the
// page cache, warmed untimed before each run; the BMP is removed and dirty
// pages flushed, untimed, before each conversion), and prints the medians as
// MB/s of map text and grid2bmp's largest peak resident memory.
void MeasureGrid2Bmp(const std::string& work, const std::string& picture, const std::string& converter, int runs) {
    const std::string text = work + "/grid2bmp-map.txt", out = work + "/grid2bmp-out.bmp";
    RunChild({converter, picture, text});
    const double megabytes = static_cast<double>(fs::file_size(text)) / 1e6;
    std::vector<double> grid, count;
    long peakKiB = 0;
    for (int r = 0; r < runs; ++r) {
        fs::remove(out);
        ::sync();
        WarmUp(text);
        const Sample s = RunChild({GRID2BMP_EXE, text, out});
        grid.push_back(s.seconds);
        peakKiB = std::max(peakKiB, s.peakKiB);
        WarmUp(text);
        count.push_back(RunChild({"/usr/bin/wc", "-l", text}).seconds);
    }
    fs::remove(out);
    fs::remove(text);
    const Timing g = Summarise(grid), w = Summarise(count);
    std::printf("\ngrid2bmp to a file, two-to-one map text of %.1f MB\n", megabytes);
    std::printf("                 grid2bmp     wc -l   (best runs: grid2bmp    wc -l)   goal\n");
    std::printf("  MB/s of text  %8.0f  %8.0f               %8.0f %8.0f    >= 1000\n", megabytes / g.median,
                megabytes / w.median, megabytes / g.best, megabytes / w.best);
    std::printf("  seconds       %8.3f  %8.3f               %8.3f %8.3f\n", g.median, w.median, g.best, w.best);
    std::printf("  peak memory   %8.1f MiB (%.1f MB)                              <= 16 MB\n",
                peakKiB / 1024.0, peakKiB * 1024.0 / 1e6);
}

// --- grid2bmp: map text to a Tiled map -------------------------------------

// Converts the picture's one-to-one map text (a map of as many cells as the
// picture has pixels) with grid2bmp -1 to a TMX and, alternating, to a BMP,
// both replacing a file (removed, and dirty pages flushed, untimed before
// each run; the text warmed untimed), and prints the medians in MB/s of map
// text, their ratio and the TMX's largest peak resident memory. Then reads
// that TMX back with bmp2grid -1, alternating with the BMP picture, and
// prints the speed in MB/s of TMX and bmp2grid's peak memory for it.
void TiledRows(const std::string& work, const std::string& picture, const std::string& converter, int runs) {
    const std::string text = work + "/tiled-map.txt", tmx = work + "/tiled-out.tmx", bmp = work + "/tiled-out.bmp";
    const std::string sheet = work + "/tiled-out.tiles.png";
    RunChild({converter, "-1", picture, text});
    const double megabytes = static_cast<double>(fs::file_size(text)) / 1e6;
    std::vector<double> toTmx, toBmp;
    long peakKiB = 0;
    for (int r = 0; r < runs; ++r) {
        for (const bool tiled : {true, false}) {
            if (tiled) {
                fs::remove(tmx);
                fs::remove(sheet);
            } else {
                fs::remove(bmp);
            }
            ::sync();
            WarmUp(text);
            const Sample s = RunChild({GRID2BMP_EXE, "-1", text, tiled ? tmx : bmp});
            (tiled ? toTmx : toBmp).push_back(s.seconds);
            if (tiled) peakKiB = std::max(peakKiB, s.peakKiB);
        }
    }
    const std::uintmax_t tmxBytes = fs::file_size(tmx);

    // The way back: bmp2grid -1 reads the TMX (CSV) into map text,
    // alternating with the same map from the BMP picture, both to a file.
    const std::string back = work + "/tiled-back.txt";
    std::vector<double> fromTmx, fromBmp;
    long backPeakKiB = 0;
    for (int r = 0; r < runs; ++r) {
        for (const bool tiled : {true, false}) {
            fs::remove(back);
            ::sync();
            WarmUp(tiled ? tmx : picture);
            const Sample s = RunChild({converter, "-1", tiled ? tmx : picture, back});
            (tiled ? fromTmx : fromBmp).push_back(s.seconds);
            if (tiled) backPeakKiB = std::max(backPeakKiB, s.peakKiB);
        }
    }
    for (const std::string& f : {text, tmx, sheet, bmp, back}) fs::remove(f);
    const Timing t = Summarise(toTmx), b = Summarise(toBmp);
    std::printf("\ngrid2bmp -1 to a file, map text of %.1f MB (TMX %.1f MB)\n", megabytes, tmxBytes / 1e6);
    std::printf("                 TMX         BMP      TMX / BMP   (best runs: TMX       BMP)   goal\n");
    std::printf("  MB/s of text  %8.0f  %8.0f    %7.2fx            %8.0f %8.0f    TMX >= 1000\n",
                megabytes / t.median, megabytes / b.median, t.median / b.median, megabytes / t.best,
                megabytes / b.best);
    std::printf("  seconds       %8.3f  %8.3f                       %8.3f %8.3f\n", t.median, b.median, t.best,
                b.best);
    std::printf("  peak memory (TMX) %.1f MiB (%.1f MB)                               <= 16 MB\n", peakKiB / 1024.0,
                peakKiB * 1024.0 / 1e6);

    const double tmxMegabytes = static_cast<double>(tmxBytes) / 1e6;
    const Timing ft = Summarise(fromTmx), fb = Summarise(fromBmp);
    std::printf("\nbmp2grid -1 to a file: the TMX (CSV, %.1f MB) against the picture as a BMP\n", tmxMegabytes);
    std::printf("                 TMX         BMP      TMX / BMP   (best runs: TMX       BMP)   goal\n");
    std::printf("  MB/s of TMX   %8.0f                                 %8.0f             TMX >= 250\n",
                tmxMegabytes / ft.median, tmxMegabytes / ft.best);
    std::printf("  seconds       %8.3f  %8.3f    %7.2fx            %8.3f %8.3f\n", ft.median, fb.median,
                ft.median / fb.median, ft.best, fb.best);
    std::printf("  peak memory (TMX) %.1f MiB (%.1f MB)                               <= 32 MB\n",
                backPeakKiB / 1024.0, backPeakKiB * 1024.0 / 1e6);
}

// --- RLE8: decoded from a window of its file ------------------------------

// Peak resident memory of bmp2grid for noisy RLE8 pictures, stored as
// literal runs (the compressed file is about as large as the picture), and
// the time and memory for a 2 x 2 RLE8 picture followed by 4 GiB after its
// end-of-bitmap marker (a sparse file), which must never be read.
void Rle8Rows(const std::string& converter, const std::string& work, int runs) {
    std::printf("\nRLE8 pictures of literal runs (two-to-one, to /dev/null)\n");
    for (const int side : {8192, 16384}) {
        const std::string path = work + "/noise-rle8.bmp";
        {
            bmp2grid::IndexedPicture picture{side, side, {}};
            picture.pixels.resize(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
            std::mt19937 gen(static_cast<std::uint32_t>(side));
            for (auto& px : picture.pixels) px = static_cast<std::uint8_t>(gen());
            bmp2grid::test::BmpOptions options;
            options.storage = bmp2grid::test::Storage::Rle8;
            options.rleLiterals = true;
            bmp2grid::test::WriteFile(path, bmp2grid::test::MakeBmp(picture, options));
        }
        ::malloc_trim(0);  // as above: nothing of the picture may count as the child's
        const Sample s = RunChild({converter, path, "/dev/null"});
        const double pictureMiB = static_cast<double>(side) * side / (1 << 20);
        const double limitMiB = pictureMiB + 16e6 / (1 << 20);
        std::printf("  %5d x %-5d peak memory %7.1f MiB   (file %.1f MB, picture %.1f MiB; goal <= picture + 16 MB, "
                    "%.1f MiB)\n",
                    side, side, s.peakKiB / 1024.0, static_cast<double>(fs::file_size(path)) / 1e6, pictureMiB,
                    limitMiB);
        fs::remove(path);
    }

    const std::string trailing = work + "/trailing-rle8.bmp";
    const std::uint64_t after = std::uint64_t{4} << 30;
    const bmp2grid::test::Bytes picture = bmp2grid::test::MakeBmpWithPixelBlock(2, 2, 1, {2, 5, 0, 0, 2, 8, 0, 1});
    bmp2grid::test::WriteFile(trailing, picture);
    fs::resize_file(trailing, picture.size() + after);
    std::vector<double> times;
    long peakKiB = 0;
    for (int r = 0; r < runs; ++r) {
        const Sample s = RunChild({converter, trailing, "/dev/null"});
        times.push_back(s.seconds);
        peakKiB = std::max(peakKiB, s.peakKiB);
    }
    const Timing t = Summarise(times);
    std::printf("  2 x 2, then 4 GiB after its end-of-bitmap marker: %.4f s (best %.4f s), peak memory %.1f MiB   "
                "(goal: a few MB, well under a second)\n",
                t.median, t.best, peakKiB / 1024.0);
    fs::remove(trailing);
}

// --- PNG: the same picture, its rows decoded one at a time ------------------

// Converts the picture as a PNG and as a BMP (two-to-one), alternating, to
// /dev/null and to a file (removed, and dirty pages flushed, untimed before
// each run), and prints the medians side by side and the PNG's peak memory.
void PngRows(const std::string& converter, const std::string& work, const std::string& bmp, int runs) {
    const std::string png = work + "/map.png";
    {
        const std::string text = bmp2grid::test::ReadFile(bmp);
        bmp2grid::LoadResult loaded = bmp2grid::test::DecodeBytes(bmp2grid::test::Bytes(text.begin(), text.end()));
        bmp2grid::MemorySink sink;
        if (!loaded.ok() || !bmp2grid::WritePng(sink, bmp2grid::test::PictureOf(loaded.picture),
                                                bmp2grid::BuiltInPalette()))
            std::exit(1);
        bmp2grid::test::WriteFile(png, std::string(sink.text()));
    }
    ::malloc_trim(0);
    std::printf("\nPNG input: the same picture as an 8-bit indexed PNG (%ju bytes), two-to-one\n",
                fs::file_size(png));
    std::printf("                 PNG         BMP      PNG / BMP   (best runs: PNG       BMP)\n");
    const std::string out = work + "/png-map.txt";
    for (const bool toFile : {false, true}) {
        const std::string target = toFile ? out : "/dev/null";
        std::vector<double> fromPng, fromBmp;
        for (int r = 0; r < runs; ++r) {
            for (const bool isPng : {true, false}) {
                if (toFile) {
                    fs::remove(out);
                    ::sync();
                }
                const std::string& input = isPng ? png : bmp;
                WarmUp(input);
                (isPng ? fromPng : fromBmp).push_back(RunChild({converter, input, target}).seconds);
            }
        }
        fs::remove(out);
        const Timing p = Summarise(fromPng), b = Summarise(fromBmp);
        std::printf("  %-12s %7.3f s  %7.3f s  %7.2fx              %7.3f s %7.3f s\n", toFile ? "to a file" : "to /dev/null",
                    p.median, b.median, p.median / b.median, p.best, b.best);
    }
    const Sample s = RunChild({converter, png, "/dev/null"});
    std::printf("  peak memory (PNG, to /dev/null) %.1f MiB   (goal: a few MB)\n", s.peakKiB / 1024.0);
    fs::remove(png);
}

// bmp2grid with --palette against bmp2grid without it, on the same picture.
void ReferencePaletteRows(const std::string& work, const std::string& plain, const std::string& converter, int runs) {
    // The terrain indices' colours (MakeBmp's: blue i, green 255 - i, red
    // i ^ 0x55), listed in reverse order: each index is rewritten, and the
    // 248 other indices of the picture's colour table are not in the
    // palette, so every pixel has to be checked before the output is opened.
    const std::string palette = work + "/terrain.gpl";
    std::string gpl = "GIMP Palette\n";
    for (int i : {37, 12, 5, 4, 3, 2, 1, 0})
        gpl += std::to_string(i ^ 0x55) + " " + std::to_string(255 - i) + " " + std::to_string(i) + "\n";
    bmp2grid::test::WriteFile(palette, gpl);
    std::printf("\nWith --palette (8 colours, reversed)   without   with --palette   ratio   (best runs: without  with  ratio)   goal\n");
    const std::string out = work + "/map.txt";
    for (const bool toFile : {false, true}) {
        for (const bool oneToOne : {false, true}) {
            std::vector<double> without, with;
            for (int r = 0; r < runs; ++r) {
                for (const bool usePalette : {false, true}) {
                    std::vector<std::string> a = {converter};
                    if (usePalette) a.insert(a.end(), {"--palette", palette});
                    if (oneToOne) a.push_back("-1");
                    a.insert(a.end(), {plain, toFile ? out : "/dev/null"});
                    if (toFile) {
                        fs::remove(out);
                        ::sync();
                    }
                    WarmUp(plain);
                    (usePalette ? with : without).push_back(RunChild(a).seconds);
                }
            }
            fs::remove(out);
            const Timing a = Summarise(without), b = Summarise(with);
            std::printf("  %-10s %-12s %14.3f s %10.3f s   %5.2fx             %7.3f s %7.3f s %5.2fx   <= 1.10x\n",
                        oneToOne ? "one-to-one" : "two-to-one", toFile ? "to a file" : "to /dev/null", a.median,
                        b.median, b.median / a.median, a.best, b.best, b.best / a.best);
        }
    }
}

}  // namespace

// The two sampling modes and bmp2grid's flag for each.
struct Mode {
    const char* name;
    std::vector<std::string> flag;
};
const Mode kModes[] = {{"two-to-one", {}}, {"one-to-one", {"-1"}}};

// bmp2grid to a file in both modes, alternating with a plain sequential write
// of the same number of bytes to a file in the same folder.
void FileRows(const std::string& work, const std::string& plain, const std::string& converter, int runs) {
    std::printf(
        "\nTo a file               bmp2grid   plain write   ratio   (best runs: ratio)   goal      map text bytes\n");
    std::vector<std::tuple<const char*, Timing, Timing>> setAside;
    for (const Mode& m : kModes) {
        std::vector<double> conv, write, reserved;
        const std::string out = work + "/map.txt", same = work + "/plain.txt";
        std::uintmax_t bytes = 0;
        // Each timed run starts alike: no output file to replace and no dirty
        // pages left by the run before, whose writeback would slow it down.
        auto settle = [&] {
            fs::remove(out);
            fs::remove(same);
            ::sync();
        };
        for (int r = 0; r < runs; ++r) {
            std::vector<std::string> a = {converter};
            a.insert(a.end(), m.flag.begin(), m.flag.end());
            a.insert(a.end(), {plain, out});
            settle();
            WarmUp(plain);
            conv.push_back(RunChild(a).seconds);
            bytes = fs::file_size(out);
            settle();
            write.push_back(PlainWrite(same, bytes));
            settle();
            reserved.push_back(PlainWrite(same, bytes, true));
        }
        fs::remove(out);
        fs::remove(same);
        const Timing c = Summarise(conv), w = Summarise(write);
        std::printf("  %-20s %7.3f s  %7.3f s     %5.2fx              %5.2fx    <= 1.10x  %ju\n", m.name, c.median,
                    w.median, c.median / w.median, c.best / w.best, bytes);
        setAside.emplace_back(m.name, c, Summarise(reserved));
    }
    // bmp2grid sets a big map's space aside before writing it, which the
    // plain write above does not; the same write with the space set aside
    // shows what making the bytes on the way costs.
    std::printf("  the plain write with its space set aside first, as bmp2grid does (fallocate):\n");
    for (const auto& [name, c, r] : setAside)
        std::printf("  %-20s %7.3f s  %7.3f s     %5.2fx              %5.2fx\n", name, c.median, r.median,
                    c.median / r.median, c.best / r.best);
}

// --- Batches -----------------------------------------------------------------

// Times `batch` (one run) against `separate` (one run each, one after
// another), alternating, `outputs` removed and dirty pages flushed (untimed)
// before each side; returns the medians and best runs.
std::pair<Timing, Timing> BatchAgainstSeparate(const std::vector<std::string>& batch,
                                               const std::vector<std::vector<std::string>>& separate,
                                               const std::vector<std::string>& outputs, int runs) {
    auto settle = [&] {
        for (const std::string& out : outputs) fs::remove_all(out);
        for (const std::string& out : outputs) fs::create_directories(out);
        ::sync();
    };
    std::vector<double> one, many;
    for (int r = 0; r < runs; ++r) {
        settle();
        one.push_back(RunChild(batch).seconds);
        settle();
        const auto start = Clock::now();
        for (const std::vector<std::string>& run : separate) RunChild(run);
        many.push_back(std::chrono::duration<double>(Clock::now() - start).count());
    }
    for (const std::string& out : outputs) fs::remove_all(out);
    return {Summarise(one), Summarise(many)};
}

void PrintBatchRow(const char* name, const Timing& batch, const Timing& separate, const char* goal, bool met) {
    std::printf("  %-34s %8.3f s  %8.3f s   %5.2f     (best runs %5.2f)    %s: %s\n", name, batch.median,
                separate.median, batch.median / separate.median, batch.best / separate.best, goal,
                met ? "met" : "NOT MET");
}

void BatchRows(const std::string& work, const std::string& converter, int runs) {
    const std::string grid2bmp = GRID2BMP_EXE;
    // 1,000 small pictures of map-like terrain, each a different piece.
    constexpr int kSmall = 1000, kWidth = 64, kRows = 40;
    const std::string small = work + "/small-pictures", smallOut = work + "/small-out", maps = work + "/small-maps",
                      mapsOut = work + "/small-back";
    fs::create_directories(small);
    {
        const std::vector<std::uint8_t> terrain = MapLikePixels(1024);
        for (int i = 0; i < kSmall; ++i) {
            std::vector<std::uint8_t> pixels;
            const int x0 = (i % 16) * kWidth, y0 = (i / 16) * 16 % (1024 - kRows);
            for (int y = 0; y < kRows; ++y) {
                const auto row = terrain.begin() + (y0 + y) * 1024 + x0;
                pixels.insert(pixels.end(), row, row + kWidth);
            }
            char name[32];
            std::snprintf(name, sizeof name, "/p%04d.bmp", i);
            WriteBmp(small + name, bmp2grid::IndexedPicture{kWidth, kRows, pixels}, false);
        }
    }
    std::vector<std::vector<std::string>> separate, separateBack;
    for (int i = 0; i < kSmall; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/p%04d", i);
        separate.push_back({converter, small + name + ".bmp", smallOut + name + ".txt"});
        separateBack.push_back({grid2bmp, maps + name + ".txt", mapsOut + name + ".bmp"});
    }
    RunChild({converter, "--out-dir", maps, small});  // grid2bmp's inputs
    std::printf("\nBatches, %d alternating runs of each side        one batch  separate runs  ratio\n", runs);
    const auto [smallBatch, smallSeparate] =
        BatchAgainstSeparate({converter, "--out-dir", smallOut, small}, separate, {smallOut}, runs);
    PrintBatchRow("bmp2grid, 1,000 pictures of 64 x 40", smallBatch, smallSeparate, "goal <= 0.25",
                  smallBatch.median <= 0.25 * smallSeparate.median);
    const auto [backBatch, backSeparate] =
        BatchAgainstSeparate({grid2bmp, "--out-dir", mapsOut, maps}, separateBack, {mapsOut}, runs);
    PrintBatchRow("grid2bmp, their 1,000 maps", backBatch, backSeparate, "goal <= 0.25",
                  backBatch.median <= 0.25 * backSeparate.median);
    fs::remove_all(small);
    fs::remove_all(maps);

    // 16 big pictures: one batch on every processor against one run after
    // another; the ratio of times is the inverse of the throughputs'.
    constexpr int kBig = 16, kBigSize = 4096;
    const std::string big = work + "/big-pictures", bigOut = work + "/big-out";
    fs::create_directories(big);
    {
        const bmp2grid::IndexedPicture picture{kBigSize, kBigSize, MapLikePixels(kBigSize)};
        WriteBmp(big + "/b00.bmp", picture, false);
    }
    ::malloc_trim(0);
    std::vector<std::vector<std::string>> separateBig;
    for (int i = 0; i < kBig; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "/b%02d", i);
        if (i > 0) fs::copy_file(big + "/b00.bmp", big + name + ".bmp");
        separateBig.push_back({converter, big + name + ".bmp", bigOut + name + ".txt"});
    }
    for (int i = 0; i < kBig; ++i) WarmUp(separateBig[static_cast<std::size_t>(i)][1]);
    const auto [bigBatch, bigSeparate] =
        BatchAgainstSeparate({converter, "--out-dir", bigOut, big}, separateBig, {bigOut}, runs);
    const unsigned processors = std::thread::hardware_concurrency();
    char goal[64];
    std::snprintf(goal, sizeof goal, "throughput %.2fx, goal >= 1.7x (%u processors)",
                  bigSeparate.median / bigBatch.median, processors);
    PrintBatchRow("bmp2grid, 16 pictures of 4096 x 4096", bigBatch, bigSeparate, goal,
                  bigSeparate.median >= 1.7 * bigBatch.median);
    fs::remove_all(big);
}

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "--baseline") == 0)
        return Baseline(std::strcmp(argv[2], "-1") == 0, argv[3], argv[4]);

    int runs = 5;
    std::string converter = BMP2GRID_EXE;
    std::string debBuild;
    int size = 8192;
    std::string only;  // "png", "file", "small", "tiled" or "batch": those rows alone
    std::string folder = fs::temp_directory_path().string();
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--runs") == 0) runs = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--size") == 0) size = std::atoi(argv[i + 1]);
        if (std::strcmp(argv[i], "--dir") == 0) folder = argv[i + 1];
        if (std::strcmp(argv[i], "--converter") == 0) converter = argv[i + 1];
        if (std::strcmp(argv[i], "--deb-build") == 0) debBuild = argv[i + 1];
        if (std::strcmp(argv[i], "--only") == 0) only = argv[i + 1];
    }
    runs = std::max(runs, 1);
    const std::string self = fs::canonical("/proc/self/exe").string();
    std::string work = folder + "/bmp2grid-bench-XXXXXX";
    if (::mkdtemp(work.data()) == nullptr) return 1;

    if (only == "batch") {
        BatchRows(work, converter, runs);
        fs::remove_all(work);
        return 0;
    }

    std::printf("Picture: %d x %d, map-like terrain; %d runs of each, alternating\n", size, size, runs);
    const std::string plain = work + "/map.bmp", rle = work + "/map-rle8.bmp";
    {
        // Released before any child runs: a child's peak memory, as the kernel
        // accounts it, includes what it shared with this process before exec.
        const bmp2grid::IndexedPicture picture{size, size, MapLikePixels(size)};
        WriteBmp(plain, picture, false);
        WriteBmp(rle, picture, true);
    }
    // Hand the freed memory back to the kernel too: the heap keeps freed
    // blocks below its trim threshold, and they would count as the child's.
    ::malloc_trim(0);
    std::printf("Input: %ju bytes plain, %ju bytes RLE8\n\n", fs::file_size(plain), fs::file_size(rle));
    if (only == "png" || only == "file" || only == "small" || only == "tiled") {
        if (only == "png") PngRows(converter, work, plain, runs);
        if (only == "tiled") TiledRows(work, plain, converter, runs);
        if (only == "file") FileRows(work, plain, converter, runs);
        if (only == "small") SmallMapLatency(work, converter, self, debBuild);
        fs::remove_all(work);
        return 0;
    }


    std::printf("To /dev/null            bmp2grid   baseline   speed-up    (best runs: bmp2grid  baseline  speed-up)\n");
    for (const Mode& m : kModes) {
        std::vector<double> fast, slow;
        for (int r = 0; r < runs; ++r) {
            std::vector<std::string> a = {converter};
            a.insert(a.end(), m.flag.begin(), m.flag.end());
            a.insert(a.end(), {plain, "/dev/null"});
            WarmUp(plain);
            fast.push_back(RunChild(a).seconds);
            WarmUp(plain);
            slow.push_back(RunChild({self, "--baseline", m.flag.empty() ? "-2" : "-1", plain, "/dev/null"}).seconds);
        }
        const Timing f = Summarise(fast), b = Summarise(slow);
        std::printf("  %-20s %7.3f s  %7.3f s  %7.1fx                %7.3f s %7.3f s  %6.1fx\n", m.name, f.median,
                    b.median, b.median / f.median, f.best, b.best, b.best / f.best);
    }

    FileRows(work, plain, converter, runs);

    ReferencePaletteRows(work, plain, converter, runs);

    std::printf("\nPeak resident memory of bmp2grid (two-to-one, to /dev/null)\n");
    const double pictureMiB = static_cast<double>(size) * size / (1 << 20);
    for (const auto& [name, path, rle] : {std::tuple{"plain", plain, false}, std::tuple{"RLE8", rle, true}}) {
        const Sample s = RunChild({converter, path, "/dev/null"});
        const double inputMiB = static_cast<double>(fs::file_size(path)) / (1 << 20);
        // The limit: 16 MB above the input file, or above the decoded picture for RLE8.
        const double limitMiB = (rle ? pictureMiB : inputMiB) + 16e6 / (1 << 20);
        std::printf("  %-6s %7.1f MiB   (input file %.1f MiB, picture %.1f MiB; limit %.1f MiB)\n", name,
                    s.peakKiB / 1024.0, inputMiB, pictureMiB, limitMiB);
    }
    SmallMapLatency(work, converter, self, debBuild);
    MeasureGrid2Bmp(work, plain, converter, runs);
    Rle8Rows(converter, work, runs);
    PngRows(converter, work, plain, runs);
    TiledRows(work, plain, converter, runs);
    fs::remove_all(work);
    return 0;
}
