// Input that arrives as a stream, end to end on the built programs:
// "-" is standard input as it stands, whatever it is (a socket, a file that
// has been read part-way), for every input of both programs; and a picture
// whose rows are decoded as they arrive never has more of the output's disk
// set aside than a bounded step ahead of the map already written, however
// many rows its header promises, while the input stalls.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <thread>

#include "bmp_format.h"
#include "process_runner.h"
#include "program_under_test.h"
#include "test_support.h"

namespace bmp2grid::test {
namespace {

// The build's own programs: descriptors and /proc are Unix matters.
std::vector<std::string> Bmp2Grid(std::vector<std::string> args) {
    return Program::Built(BMP2GRID_EXE).Command(std::move(args));
}
std::vector<std::string> Grid2Bmp(std::vector<std::string> args) {
    return Program::Built(GRID2BMP_EXE).Command(std::move(args));
}

// Writes `bytes` to a socket or a FIFO until the reader stops reading
// (SIGPIPE is ignored while the tests run programs).
void SendAll(int fd, const std::string& bytes) {
    std::signal(SIGPIPE, SIG_IGN);
    for (std::size_t sent = 0; sent < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + sent, bytes.size() - sent);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // the program stopped reading
        sent += static_cast<std::size_t>(n);
    }
}

enum class StandardInput { Socket, FileReadPartWay };

// Runs `argv` with standard input holding `bytes`, as `kind` says: one end
// of a socket pair whose other end sends them, or a file whose first line
// ("skipped\n") has been read already by the time the program starts.
RunResult RunWithStandardInput(const std::vector<std::string>& argv, StandardInput kind, const std::string& bytes,
                               RunOptions options) {
    if (kind == StandardInput::Socket) {
        int pair[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair) != 0)
            throw std::runtime_error("socketpair failed");
        std::thread sender([&] {
            SendAll(pair[0], bytes);
            ::shutdown(pair[0], SHUT_WR);
        });
        options.stdinFd = pair[1];
        RunResult result = RunProgram(argv, options);
        ::shutdown(pair[1], SHUT_RD);  // a sender the program left waiting stops
        sender.join();
        ::close(pair[0]);
        ::close(pair[1]);
        return result;
    }
    const std::string path = options.workingDirectory + "/standard-input";
    WriteFile(path, "skipped\n" + bytes);
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::lseek(fd, 8, SEEK_SET) != 8) throw std::runtime_error("can't open " + path);
    options.stdinFd = fd;
    RunResult result = RunProgram(argv, options);
    ::close(fd);
    return result;
}

TEST(StandardInput, IsDescriptorZeroReadFromWhereItStands) {
    TempDir dir;
    const IndexedPicture picture = CountingPicture(6, 5);
    WriteFile(dir / "pic.bmp", MakeBmp(picture));
    WriteFile(dir / "pic.png", MakePng(picture));
    WriteFile(dir / "map.txt", ReferenceMap(picture, SampleMode::TwoToOne));
    std::string gimp = "GIMP Palette\nName: reversed\n";
    for (int i = 0; i < 256; ++i)
        gimp += std::to_string(i ^ 0x55) + " " + std::to_string(255 - i) + " " + std::to_string(i) + "\n";
    WriteFile(dir / "pal.gpl", gimp);
    RunOptions here;
    here.workingDirectory = dir.path();

    struct Case {
        const char* what;
        bool grid2bmp;
        std::vector<std::string> byName;  // the same conversion with the file named
        std::vector<std::string> fromStandardInput;
        const char* standardInput;  // the file standard input holds
        const char* output;
    };
    const Case cases[] = {
        {"a BMP picture", false, {"pic.bmp", "out.txt"}, {"-", "out.txt"}, "pic.bmp", "out.txt"},
        {"a PNG picture", false, {"-1", "pic.png", "out.txt"}, {"-1", "-", "out.txt"}, "pic.png", "out.txt"},
        {"a palette picture", false, {"--palette", "pic.png", "pic.png", "out.txt"},
         {"--palette", "-", "pic.png", "out.txt"}, "pic.png", "out.txt"},
        {"a GIMP palette", false, {"--palette", "pal.gpl", "pic.bmp", "out.txt"},
         {"--palette", "-", "pic.bmp", "out.txt"}, "pal.gpl", "out.txt"},
        {"map text", true, {"map.txt", "out.bmp"}, {"-", "out.bmp"}, "map.txt", "out.bmp"},
        {"grid2bmp's palette picture", true, {"--palette", "pic.bmp", "map.txt", "out.png"},
         {"--palette", "-", "map.txt", "out.png"}, "pic.bmp", "out.png"},
    };
    for (const Case& c : cases) {
        auto command = [&c](std::vector<std::string> args) { return c.grid2bmp ? Grid2Bmp(args) : Bmp2Grid(args); };
        const RunResult named = RunProgram(command(c.byName), here);
        ASSERT_EQ(named.exitStatus, 0) << c.what << ": " << named.out;
        const std::string expected = ReadFile(dir / c.output);
        ::unlink((dir / c.output).c_str());
        const std::string bytes = ReadFile(dir / c.standardInput);
        for (const StandardInput kind : {StandardInput::Socket, StandardInput::FileReadPartWay}) {
            const char* how = kind == StandardInput::Socket ? "a socket" : "a file read part-way";
            const RunResult piped = RunWithStandardInput(command(c.fromStandardInput), kind, bytes, here);
            EXPECT_EQ(piped.exitStatus, 0) << c.what << " through " << how << ": " << piped.out;
            EXPECT_EQ(piped.out, named.out) << c.what << " through " << how;
            EXPECT_TRUE(ReadFile(dir / c.output) == expected) << c.what << " through " << how;
            ::unlink((dir / c.output).c_str());
        }
    }
}

// Runs `argv` with standard input a pipe that `bytes` are put into one at a
// time, each once the program has read the one before, so that every read
// it makes gets a single byte.
RunResult RunWithBytesOneAtATime(const std::vector<std::string>& argv, const std::string& bytes,
                                 RunOptions options) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    std::signal(SIGPIPE, SIG_IGN);
    std::atomic<bool> ended{false};
    std::thread writer([&] {
        for (const char byte : bytes) {
            if (::write(fds[1], &byte, 1) != 1) break;
            // Until the program has read it, or has ended without doing so.
            WaitUntil([&] {
                int queued = 0;
                return ended || ::ioctl(fds[1], FIONREAD, &queued) != 0 || queued == 0;
            });
            if (ended) break;
        }
        ::close(fds[1]);
    });
    options.stdinFd = fds[0];
    RunResult result = RunProgram(argv, options);
    ended = true;
    writer.join();
    ::close(fds[0]);
    return result;
}

// `text` with every `from` replaced by `to`.
std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

// `png` with the CRC of its first chunk of type `type` spoilt.
Bytes WithBadCrc(Bytes png, const char* type) {
    const PngChunkPlace chunk = FindPngChunk(png, type);
    png[chunk.at + 8 + chunk.length + 3] ^= 1;
    return png;
}

Bytes CutShort(Bytes file, std::size_t bytes) {
    file.resize(file.size() - bytes);
    return file;
}

// Small pictures (indices below 4, palettes of 4 colours) and damaged ones,
// `width` pixels wide and 5 rows high.
struct PictureCase {
    std::string what;
    Bytes file;
    const char* name;  // the file's name
};
std::vector<PictureCase> SmallPictures(std::int64_t width, bool damagedOnly) {
    IndexedPicture picture = RandomPicture(width, 5, static_cast<std::uint32_t>(width));
    for (auto& pixel : picture.pixels) pixel %= 4;
    BmpOptions bmp;
    bmp.paletteEntries = 4;
    BmpOptions rle = bmp;
    rle.storage = Storage::Rle8;
    BmpOptions core = bmp;
    core.headerSize = 12;
    PngOptions png8;
    png8.paletteEntries = 4;
    PngOptions png2 = png8;
    png2.bitDepth = 2;
    const Bytes png = MakePng(picture, png8);
    std::vector<PictureCase> cases = {
        {"PNG cut short in its image data", CutShort(png, 20), "pic.png"},
        {"PNG without its end chunk", CutShort(png, 12), "pic.png"},
        {"PNG with a bad image data CRC", WithBadCrc(png, "IDAT"), "pic.png"},
        {"RLE8 BMP without its end marker", CutShort(MakeBmp(picture, rle), 2), "pic.bmp"},
        {"BMP cut short in its pixels", CutShort(MakeBmp(picture, bmp), 1 + bmp::RowStride(width) - width), "pic.bmp"},
    };
    if (damagedOnly) return cases;
    for (PictureCase sound : std::initializer_list<PictureCase>{
             {"BMP", MakeBmp(picture, bmp), "pic.bmp"},
             {"RLE8 BMP", MakeBmp(picture, rle), "pic.bmp"},
             {"BMP with the OS/2 header", MakeBmp(picture, core), "pic.bmp"},
             {"8-bit PNG", png, "pic.png"},
             {"2-bit PNG", MakePng(picture, png2), "pic.png"}})
        cases.push_back(std::move(sound));
    return cases;
}

TEST(StandardInput, PicturesReadAByteAtATimeGiveWhatTheirFilesGive) {
    // The same map text and messages (the name aside), whether the picture
    // is named or read from standard input a byte at a time; damaged ones
    // are refused alike.
    TempDir dir;
    RunOptions here;
    here.workingDirectory = dir.path();
    for (const PictureCase& c : SmallPictures(7, false)) {
        WriteFile(dir / c.name, c.file);
        const std::string bytes(c.file.begin(), c.file.end());
        for (const std::vector<std::string>& mode : {std::vector<std::string>{}, std::vector<std::string>{"-1"}}) {
            auto args = [&mode](const std::string& input) {
                std::vector<std::string> all = mode;
                all.insert(all.end(), {input, "out.txt"});
                return all;
            };
            const std::string how = c.what + (mode.empty() ? "" : " -1");
            const RunResult named = RunProgram(Bmp2Grid(args(c.name)), here);
            const std::string expected = ReadFile(dir / "out.txt");
            ::unlink((dir / "out.txt").c_str());
            const RunResult piped = RunWithBytesOneAtATime(Bmp2Grid(args("-")), bytes, here);
            EXPECT_EQ(piped.exitStatus, named.exitStatus) << how;
            EXPECT_EQ(piped.out, Replaced(named.out, c.name, "-")) << how;
            EXPECT_EQ(ReadFile(dir / "out.txt"), expected) << how;
            ::unlink((dir / "out.txt").c_str());
        }
    }
}

TEST(DamagedPicture, WithNoCellsIsRefusedAsAWideOneIs) {
    // One pixel wide, a picture has no cells in the two-to-one mode, but a
    // fault in it is found all the same: its rows are read (a PNG's
    // decoded) as they would be for a map with cells, from a file or a
    // stream, and it is refused with the same message, leaving no map.
    TempDir dir;
    RunOptions here;
    here.workingDirectory = dir.path();
    const std::vector<PictureCase> wide = SmallPictures(7, true);
    const std::vector<PictureCase> narrow = SmallPictures(1, true);
    for (std::size_t i = 0; i < wide.size(); ++i) {
        WriteFile(dir / "wide", wide[i].file);
        const RunResult refused = RunProgram(Bmp2Grid({"wide", "out.txt"}), here);
        ASSERT_EQ(refused.exitStatus, 1) << wide[i].what;
        // Its last line: "Can't convert wide: " and the reason.
        const std::string refusal = refused.out.substr(refused.out.rfind('\n', refused.out.size() - 2) + 1);
        WriteFile(dir / "narrow", narrow[i].file);
        for (const std::string input : {"narrow", "-"}) {
            here.stdinData = input == "-" ? std::string(narrow[i].file.begin(), narrow[i].file.end()) : "";
            const RunResult result = RunProgram(Bmp2Grid({input, "out.txt"}), here);
            EXPECT_EQ(result.exitStatus, 1) << narrow[i].what << " from " << input;
            EXPECT_TRUE(result.out.ends_with(Replaced(refusal, "wide", input)))
                << narrow[i].what << " from " << input << ": " << result.out << " is not refused as with "
                << refusal;
            EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"narrow", "wide"})) << narrow[i].what << " from " << input;
        }
    }
}

// Writes `bytes` to the FIFO at `path` one at a time, each once the reader
// has taken the one before, so that every read the reader makes gets one
// byte. Stops when the reader closes the FIFO, or, if it never opens it,
// once `ended` is set.
void SendByteByByte(const std::string& path, const std::string& bytes, const std::atomic<bool>& ended) {
    std::signal(SIGPIPE, SIG_IGN);
    int fd = -1;
    WaitUntil([&] {
        fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);  // fails while no reader has it open
        return fd >= 0 || ended;
    });
    if (fd < 0) return;
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    const auto readerGone = [fd] {
        pollfd p{fd, 0, 0};
        return ::poll(&p, 1, 0) == 1 && (p.revents & POLLERR) != 0;
    };
    for (const char c : bytes) {
        if (::write(fd, &c, 1) != 1) break;
        int unread = 1;
        if (!WaitUntil([&] { return (::ioctl(fd, FIONREAD, &unread) == 0 && unread == 0) || readerGone(); }) ||
            unread != 0)
            break;
    }
    ::close(fd);
}

// What a run left: its exit status, its messages and its output file.
struct Outcome {
    int exitStatus;
    std::string out;
    std::string err;
    std::string output;  // "(none)" when there is no output file
    bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Outcome& o) {
    return os << "status " << o.exitStatus << ", out " << testing::PrintToString(o.out) << ", err "
              << testing::PrintToString(o.err) << ", " << o.output.size() << " bytes of output";
}

// Palette files, palette pictures and map text that arrive one byte at a
// time through a FIFO of the same name give what the file gives: the same
// output, byte for byte, or the same refusal with the same line.
TEST(StreamInput, BytesOneAtATimeGiveWhatTheFileGives) {
    TempDir dir;
    // A picture of four colours; references that list them in another order.
    const IndexedPicture picture{5, 3, {0, 1, 2, 3, 0, 3, 2, 1, 0, 3, 2, 2, 1, 0, 3}};
    BmpOptions four;
    four.paletteEntries = 4;
    WriteFile(dir / "pic.bmp", MakeBmp(picture, four));
    std::string colours;
    for (int i = 3; i >= 0; --i)
        colours += std::to_string(i ^ 0x55) + " " + std::to_string(255 - i) + " " + std::to_string(i) + "\r\n";
    const std::string gimp = "GIMP Palette\r\nName: reversed\r\n# four colours\r\n" + colours;
    const std::string jasc = "JASC-PAL\r\n0100\r\n4\r\n" + colours;
    const Bytes bmp = MakeBmp(picture, four);
    PngOptions pngFour;
    pngFour.paletteEntries = 4;
    const Bytes png = MakePng(picture, pngFour);
    const std::string map = ReferenceMap(picture, SampleMode::TwoToOne);
    const std::string row = "1,0,0,0,0\t2,0,0,0,0\t\r\n";
    struct Case {
        const char* what;
        bool grid2bmp;
        std::vector<std::string> args;
        std::string input;  // the file, then the FIFO, of this name
        std::string bytes;
        std::string output;
    };
    const Case cases[] = {
        {"a GIMP palette", false, {"--palette", "ref.gpl", "pic.bmp", "map.txt"}, "ref.gpl", gimp, "map.txt"},
        {"a JASC palette", false, {"-1", "--palette", "ref.pal", "pic.bmp", "map.txt"}, "ref.pal", jasc, "map.txt"},
        {"a GIMP palette told by its first line after a byte-order mark", false,
         {"--palette", "ref", "pic.bmp", "map.txt"}, "ref", "\xEF\xBB\xBF" + gimp, "map.txt"},
        {"a JASC palette told by its first line", false, {"--palette", "ref", "pic.bmp", "map.txt"}, "ref", jasc,
         "map.txt"},
        {"a GIMP palette refused at line 3", false, {"--palette", "ref.gpl", "pic.bmp", "map.txt"}, "ref.gpl",
         "GIMP Palette\n1 2 3\n4 5 x\n6 7 8\n", "map.txt"},
        {"a GIMP palette that lacks a colour", false, {"--palette", "ref.gpl", "pic.bmp", "map.txt"}, "ref.gpl",
         "GIMP Palette\n85 255 0\n84 254 1\n87 253 2\n", "map.txt"},
        {"a JASC palette that ends early", false, {"--palette", "ref.pal", "pic.bmp", "map.txt"}, "ref.pal",
         "JASC-PAL\r\n0100\r\n3\r\n1 2 3\r\n", "map.txt"},
        {"a JASC palette that goes on", false, {"--palette", "ref.pal", "pic.bmp", "map.txt"}, "ref.pal",
         "JASC-PAL\n0100\n1\n1 2 3\n4 5 6\n", "map.txt"},
        {"a BMP palette picture", false, {"--palette", "ref", "pic.bmp", "map.txt"}, "ref",
         std::string(bmp.begin(), bmp.end()), "map.txt"},
        {"a PNG palette picture", false, {"--palette", "ref", "pic.bmp", "map.txt"}, "ref",
         std::string(png.begin(), png.end()), "map.txt"},
        {"a palette picture cut in its headers", false, {"--palette", "ref", "pic.bmp", "map.txt"}, "ref",
         std::string(bmp.begin(), bmp.begin() + 30), "map.txt"},
        {"a PNG palette picture cut in its pixels", false, {"--palette", "ref", "pic.bmp", "map.txt"}, "ref",
         std::string(png.begin(), png.end() - 20), "map.txt"},
        {"grid2bmp's GIMP palette", true, {"--palette", "ref.gpl", "map.txt", "out.bmp"}, "ref.gpl", gimp, "out.bmp"},
        {"grid2bmp's palette refused", true, {"--palette", "ref.gpl", "map.txt", "out.bmp"}, "ref.gpl",
         "GIMP Palette\n\n# none\n", "out.bmp"},
        {"map text", true, {"in.txt", "out.bmp"}, "in.txt", map, "out.bmp"},
        {"map text to a PNG", true, {"-1", "in.txt", "out.png"}, "in.txt", ReferenceMap(picture, SampleMode::OneToOne),
         "out.png"},
        {"map text with a byte-order mark, LF line ends and no last one", true, {"in.txt", "out.bmp"}, "in.txt",
         "\xEF\xBB\xBF" "2,2\n1,0,0,0,0\t2,0,0,0,0\t\n3,0,0,0,0\t4,5,0,0,0\t", "out.bmp"},
        {"map text with a third header field", true, {"in.txt", "out.bmp"}, "in.txt", "2,1,3\r\n" + row, "out.bmp"},
        {"map text with a short row", true, {"in.txt", "out.bmp"}, "in.txt", "2,3\r\n" + row + "1,0,0,0,0\t\r\n" + row,
         "out.bmp"},
        {"map text that ends early", true, {"in.txt", "out.bmp"}, "in.txt", "2,3\r\n" + row + row, "out.bmp"},
        {"map text that goes on", true, {"in.txt", "out.bmp"}, "in.txt", "2,1\r\n" + row + "\r\n", "out.bmp"},
        {"map text with a value out of range", true, {"in.txt", "out.bmp"}, "in.txt",
         "2,2\r\n" + row + "1,0,0,0,0\t256,0,0,0,0\t\r\n", "out.bmp"},
    };
    RunOptions here;
    here.workingDirectory = dir.path();
    for (const Case& c : cases) {
        const std::vector<std::string> command = c.grid2bmp ? Grid2Bmp(c.args) : Bmp2Grid(c.args);
        const std::string input = dir / c.input;
        const std::string output = dir / c.output;
        const auto outcome = [&output](const RunResult& result) {
            Outcome o{result.exitStatus, result.out, result.err, "(none)"};
            if (::access(output.c_str(), F_OK) == 0) o.output = ReadFile(output);
            ::unlink(output.c_str());
            return o;
        };
        if (c.grid2bmp) WriteFile(dir / "map.txt", map);  // bmp2grid's output, grid2bmp's input
        WriteFile(input, c.bytes);
        const Outcome fromFile = outcome(RunProgram(command, here));
        ::unlink(input.c_str());
        ASSERT_EQ(::mkfifo(input.c_str(), 0600), 0);
        std::atomic<bool> ended = false;
        std::thread sender([&] { SendByteByByte(input, c.bytes, ended); });
        const RunResult piped = RunProgram(command, here);
        ended = true;
        sender.join();
        EXPECT_EQ(outcome(piped), fromFile) << c.what;
        ::unlink(input.c_str());
    }
}

// The start of a PNG whose header promises `rows` rows of `width` pixels
// (8-bit indexed, every pixel 0): its header chunks and an IDAT chunk whose
// data, flushed, decode to the first `sent` rows. The rest never comes.
std::string PromisingPngStart(std::uint32_t width, std::uint32_t rows, std::uint32_t sent) {
    z_stream z{};
    if (deflateInit(&z, 9) != Z_OK) throw std::runtime_error("deflateInit failed");
    const Bytes row(width + 1, 0);  // filter byte 0, then the indices
    Bytes data;
    Bytes out(1 << 16);
    for (std::uint32_t y = 0; y < sent; ++y) {
        z.next_in = const_cast<Bytef*>(row.data());
        z.avail_in = static_cast<uInt>(row.size());
        const int flush = y + 1 == sent ? Z_SYNC_FLUSH : Z_NO_FLUSH;
        do {
            z.next_out = out.data();
            z.avail_out = static_cast<uInt>(out.size());
            deflate(&z, flush);
            data.insert(data.end(), out.begin(), out.end() - z.avail_out);
        } while (z.avail_out == 0 || z.avail_in > 0);
    }
    deflateEnd(&z);
    Bytes ihdr;
    for (const std::uint32_t v : {width, rows})
        for (const int shift : {24, 16, 8, 0}) ihdr.push_back(static_cast<std::uint8_t>(v >> shift));
    for (const std::uint8_t b : {8, 3, 0, 0, 0}) ihdr.push_back(b);
    std::string start = "\x89PNG\r\n\x1a\n";
    for (const Bytes& chunk : {PngChunk("IHDR", ihdr), PngChunk("PLTE", Bytes(768, 0)), PngChunk("IDAT", data)})
        start.append(chunk.begin(), chunk.end());
    return start;
}

// The space a file has set aside past the end of its bytes: what it has
// allocated beyond the block that holds its last byte.
std::int64_t SetAsideAhead(const OpenFile& file) {
    const std::int64_t block = file.blockSize > 0 ? file.blockSize : 4096;
    const std::int64_t used = (file.size + block - 1) / block * block;
    return std::max<std::int64_t>(0, file.allocated - used);
}

// Whether the file system holding `folder` sets space aside past a file's
// end (fallocate, keeping its size) and counts it in the file's blocks.
bool SetsSpaceAside(const std::string& folder) {
    const std::string probe = folder + "/space-probe";
    const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    constexpr off_t kProbe = off_t{1} << 20;
    struct stat st {};
    const bool held = ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, kProbe) == 0 && ::fstat(fd, &st) == 0 &&
                      static_cast<off_t>(st.st_blocks) * 512 >= kProbe;
    ::close(fd);
    ::unlink(probe.c_str());
    return held;
}

// The file other than `input` that process `pid` holds open in `folder`:
// the output it is writing.
std::optional<OpenFile> OutputOf(pid_t pid, const std::string& folder, const std::string& input) {
    for (const OpenFile& file : OpenFilesOf(pid))
        if (file.path.starts_with(folder + "/") && file.path != folder + "/" + input) return file;
    return std::nullopt;
}

TEST(SlowInput, NoTemporaryFileWaitsForIt) {
    // A picture or map text that arrives slowly: while the program waits
    // for it, before anything of the output is known to be needed, no
    // temporary file may stand beside the target (a named one, as on
    // Windows, would be left there by a kill). The picture's first half is
    // sent; once the program has read it, the folder is looked at; then the
    // rest comes and the output is written.
    const IndexedPicture picture = CountingPicture(64, 40);
    const Bytes bmp = MakeBmp(picture);
    const std::string map = ReferenceMap(picture, SampleMode::TwoToOne);
    struct Case {
        const char* what;
        bool grid2bmp;
        std::string input;      // its bytes
        std::size_t firstPart;  // sent before the folder is looked at
        std::vector<std::string> args;
        const char* output;
    };
    const Case cases[] = {
        {"bmp2grid, a picture", false, std::string(bmp.begin(), bmp.end()), bmp.size() / 2, {"slow", "out.txt"},
         "out.txt"},
        {"grid2bmp, map text before its header line ends", true, map, 3, {"slow", "out.bmp"}, "out.bmp"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        WriteFile(dir / c.output, std::string("previous"));
        const std::string fifo = dir / "slow";
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        RunOptions options;
        options.workingDirectory = dir.path();
        options.environment = {"BMP2GRID_NAMED_TEMPORARY=1"};
        Child child(c.grid2bmp ? Grid2Bmp(c.args) : Bmp2Grid(c.args), options);
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);  // waits for the program to open it
        ASSERT_GE(fd, 0) << c.what;
        SendAll(fd, c.input.substr(0, c.firstPart));
        int unread = 1;
        ASSERT_TRUE(WaitUntil([&] { return ::ioctl(fd, FIONREAD, &unread) == 0 && unread == 0; })) << c.what;
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{c.output, "slow"})) << c.what << ": waiting for input";
        SendAll(fd, c.input.substr(c.firstPart));
        ::close(fd);
        const RunResult result = child.Wait();
        EXPECT_EQ(result.exitStatus, 0) << c.what << ": " << result.out;
        EXPECT_NE(ReadFile(dir / c.output), "previous") << c.what;
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{c.output, "slow"})) << c.what << ": at the end";
    }
}

TEST(DiskSpace, APromisingHeaderThatStallsHoldsAtMostAStepAhead) {
    // 4096 x 20000 pixels promise 819 MB of map text in one-to-one mode;
    // the first 2400 rows (98 MB of it) arrive, then the input stalls.
    constexpr std::uint32_t kWidth = 4096, kRows = 20000, kSent = 2400;
    constexpr std::int64_t kRowBytes = kWidth * 10 + 2;
    constexpr std::int64_t kMaxAhead = std::int64_t{64} << 20;
    const std::string start = PromisingPngStart(kWidth, kRows, kSent);
    TempDir dir;
    const bool setsAside = SetsSpaceAside(dir.path());
    const std::string previous = "1,1\r\n7,0,0,0,0\t\r\n";
    WriteFile(dir / "map.txt", previous);
    const std::string fifo = dir / "stalled.png";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    RunOptions options;
    options.workingDirectory = dir.path();
    Child child(Bmp2Grid({"-1", "stalled.png", "map.txt"}), options);
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);  // waits for the program to open it
    ASSERT_GE(fd, 0);
    SendAll(fd, start);
    // The map's temporary file, once the program has it open.
    std::string temporary;
    ASSERT_TRUE(WaitUntil([&] {
        const std::optional<OpenFile> output = OutputOf(child.pid(), dir.path(), "stalled.png");
        if (output) temporary = output->path;
        return output.has_value();
    })) << "the program never opened its output";
    // Wait for the rows sent to be written (all but the blocks in flight),
    // looking at the space set aside each time.
    std::int64_t size = 0;
    std::int64_t ahead = 0;
    std::int64_t mostAhead = 0;
    std::int64_t sizeAtMost = 0;
    auto look = [&] {
        for (const OpenFile& file : OpenFilesOf(child.pid())) {
            if (file.path != temporary) continue;
            size = file.size;
            ahead = SetAsideAhead(file);
            if (ahead > mostAhead) {
                mostAhead = ahead;
                sizeAtMost = size;
            }
        }
    };
    const bool written = WaitUntil([&] {
        look();
        return size >= kSent * kRowBytes - (std::int64_t{8} << 20);
    });
    EXPECT_TRUE(written) << "only " << size << " bytes of map text were written";
    look();  // stalled
    EXPECT_LE(mostAhead, kMaxAhead) << "set aside ahead of " << sizeAtMost << " bytes of map text";
    // The next step is set aside once half of one is used: the space set
    // aside is held while the input stalls, not handed back.
    if (setsAside) {
        EXPECT_GE(ahead, kMaxAhead / 4) << "set aside while stalled at " << size << " bytes";
    }
    ::close(fd);  // the input ends: a truncated PNG
    const RunResult result = child.Wait();
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(ReadFile(dir / "map.txt"), previous);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"map.txt", "stalled.png"}));
    if (!setsAside) GTEST_SKIP() << "the temporary folder's file system sets no space aside (fallocate)";
}

TEST(DiskSpace, ABigMapHoldsItsSpaceUntilItIsWritten) {
    // A BMP's pixels are all at hand, so its map's space is set aside at
    // once; with every record as long (indices of one digit), that is the
    // whole map. It stays held while the map is written: looked at with the
    // program stopped a quarter and three quarters of the way.
    TempDir dir;
    if (!SetsSpaceAside(dir.path())) GTEST_SKIP() << "the temporary folder's file system sets no space aside";
    IndexedPicture picture = RandomPicture(3000, 2000, 8);  // about 60 MB of map text
    for (auto& px : picture.pixels) px %= 10;
    WriteFile(dir / "big.bmp", MakeBmp(picture));
    const std::string expected = ReferenceMap(picture, SampleMode::OneToOne);
    const auto total = static_cast<std::int64_t>(expected.size());
    RunOptions options;
    options.workingDirectory = dir.path();
    Child child(Bmp2Grid({"-1", "big.bmp", "map.txt"}), options);
    for (const std::int64_t part : {total / 4, total * 3 / 4}) {
        std::optional<OpenFile> output;
        WaitUntil([&] {
            output = OutputOf(child.pid(), dir.path(), "big.bmp");
            return (output && output->size >= part) || child.Ended();
        });
        ASSERT_TRUE(output && output->size >= part) << "never seen with " << part << " bytes written";
        child.Signal(SIGSTOP);
        ASSERT_TRUE(WaitUntil([&] { return child.Stopped() || child.Ended(); }));
        output = OutputOf(child.pid(), dir.path(), "big.bmp");
        ASSERT_TRUE(output) << "done before it was looked at";
        // A file system may round the space up; never down by more than a block or two.
        EXPECT_GE(output->allocated, total - (std::int64_t{64} << 10))
            << "held at " << output->size << " bytes of " << total;
        child.Signal(SIGCONT);
    }
    const RunResult result = child.Wait();
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_TRUE(ReadFile(dir / "map.txt") == expected);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"big.bmp", "map.txt"}));
}

}  // namespace
}  // namespace bmp2grid::test
