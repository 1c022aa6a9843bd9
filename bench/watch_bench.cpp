// How soon a watch follows a save, and what it costs while idle.
//
//   bmp2grid_watch_bench [--saves N] [--dir FOLDER] [--converter PATH]
//
// 1. Writes the sample picture (64 x 40) and a copy whose pixels differ,
//    and makes each one's map text with a single run.
// 2. Starts `bmp2grid --watch pic.bmp pic.txt` and, N times (50 by
//    default), saves the other picture over pic.bmp, alternately by
//    rename (as most editors save) and in place, and waits until pic.txt
//    holds that picture's map text. The latency is the time from the end of
//    the save (the rename, or the close) to the new map in place, as this
//    program sees it by looking at pic.txt every 200 microseconds. Prints
//    the median and the worst, with the system's events and then with
//    polling (BMP2GRID_WATCH_POLLING=1).
// 3. Leaves each watch idle for 5 s and prints the processor time it used
//    meanwhile, as the kernel counts it for the process (/proc/PID/stat).
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using bmp2grid::test::ReadFile;
using bmp2grid::test::WriteFile;

pid_t Spawn(const std::vector<std::string>& argv, bool polling) {
    std::fflush(stdout);  // or the child would print what is still buffered
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (polling) ::setenv("BMP2GRID_WATCH_POLLING", "1", 1);
        std::freopen("/dev/null", "w", stdout);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

void RunOnce(const std::vector<std::string>& argv) {
    const pid_t pid = Spawn(argv, false);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "%s failed\n", argv[0].c_str());
        std::exit(1);
    }
}

// Processor time the process has used, in clock ticks.
long CpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14) utime = std::atol(field.c_str());
        if (i == 15) stime = std::atol(field.c_str());
    }
    return utime + stime;
}

bool WaitForContents(const std::string& path, const std::string& contents, std::chrono::seconds limit) {
    const auto until = Clock::now() + limit;
    while (Clock::now() < until) {
        struct stat st;
        if (::stat(path.c_str(), &st) == 0 && static_cast<std::size_t>(st.st_size) == contents.size() &&
            ReadFile(path) == contents)
            return true;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return false;
}

void Measure(const std::string& converter, const std::string& work, int saves, bool polling) {
    const std::string picture = work + "/pic.bmp", map = work + "/pic.txt";
    const std::string pictures[] = {ReadFile(work + "/a.bmp"), ReadFile(work + "/b.bmp")};
    const std::string maps[] = {ReadFile(work + "/a.txt"), ReadFile(work + "/b.txt")};
    fs::remove(map);
    WriteFile(picture, pictures[0]);
    const pid_t watch = Spawn({converter, "--watch", picture, map}, polling);
    if (!WaitForContents(map, maps[0], std::chrono::seconds(30))) {
        std::fprintf(stderr, "the watch made no map\n");
        std::exit(1);
    }
    std::vector<double> latencies;
    for (int save = 1; save <= saves; ++save) {
        const int which = save % 2;
        Clock::time_point saved;
        if (save % 4 < 2) {
            WriteFile(work + "/pic.bmp.saving", pictures[which]);
            fs::rename(work + "/pic.bmp.saving", picture);
            saved = Clock::now();
        } else {
            {
                std::ofstream out(picture, std::ios::binary | std::ios::trunc);
                out << pictures[which];
            }
            saved = Clock::now();
        }
        if (!WaitForContents(map, maps[which], std::chrono::seconds(30))) {
            std::fprintf(stderr, "save %d was not converted\n", save);
            ::kill(watch, SIGKILL);
            std::exit(1);
        }
        latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - saved).count());
    }
    const long before = CpuTicks(watch);
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const long idle = CpuTicks(watch) - before;
    ::kill(watch, SIGINT);
    int status = 0;
    ::waitpid(watch, &status, 0);
    std::sort(latencies.begin(), latencies.end());
    std::printf("%-8s %d saves: median %.1f ms, worst %.1f ms, best %.1f ms; idle 5 s: %ld ticks of %ld/s; "
                "exit status %d on SIGINT\n",
                polling ? "polling" : "events", saves, latencies[latencies.size() / 2], latencies.back(),
                latencies.front(), idle, ::sysconf(_SC_CLK_TCK), WIFEXITED(status) ? WEXITSTATUS(status) : -1);
}

}  // namespace

int main(int argc, char** argv) {
    std::string converter = BMP2GRID_EXE;
    std::string work;
    int saves = 50;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--saves") == 0) saves = std::max(2, std::atoi(argv[i + 1]));
        if (std::strcmp(argv[i], "--dir") == 0) work = argv[i + 1];
        if (std::strcmp(argv[i], "--converter") == 0) converter = argv[i + 1];
    }
    const bool ownFolder = work.empty();
    if (ownFolder) work = fs::temp_directory_path() / ("bmp2grid-watch-bench-" + std::to_string(::getpid()));
    fs::create_directories(work);
    // The sample, and the sample with its pixels moved along by one index.
    const std::string sample = ReadFile(BMP2GRID_SAMPLE);
    std::string other = sample;
    for (std::size_t i = other.size() - 64 * 40; i < other.size(); ++i) other[i] = static_cast<char>(other[i] ^ 1);
    WriteFile(work + "/a.bmp", sample);
    WriteFile(work + "/b.bmp", other);
    RunOnce({converter, work + "/a.bmp", work + "/a.txt"});
    RunOnce({converter, work + "/b.bmp", work + "/b.txt"});
    std::printf("watch latency of %s on the sample (64 x 40), from the end of a save to the new map in place:\n",
                converter.c_str());
    Measure(converter, work, saves, false);
    Measure(converter, work, saves, true);
    if (ownFolder) fs::remove_all(work);
    return 0;
}
