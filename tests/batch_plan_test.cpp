// Planning a batch: which files the inputs stand for, where each one's
// output goes, and what is refused before any work.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "batch_plan.h"
#include "picture_loader.h"
#include "process_runner.h"
#include "test_support.h"

namespace bmp2grid {
namespace {

namespace fs = std::filesystem;
using test::TempDir;
using test::WriteFile;

// A tree of inputs:
//   lone.bmp
//   pics/a.png  pics/b.bmp  pics/c.txt (not taken)  pics/.hidden.bmp  pics/a.png~ (a backup)
//   pics/.b.bmp.bmp2grid-tmp-k3j9x0qa  pics/b.bmp2grid-tmp-x (temporary files)
//   pics/sub/d.bmp  pics/sub/deeper/e.bmp  pics/.hid/f.bmp (a hidden folder)
//   other/a.bmp (same name as pics/a.png)  empty/  loop/a.bmp  loop/back -> ../loop
//   linked/b.bmp -> ../pics/b.bmp
class BatchPlanTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* folder : {"pics/sub/deeper", "pics/.hid", "other", "empty", "loop", "linked"})
            fs::create_directories(dir / folder);
        for (const char* file : {"lone.bmp", "pics/a.png", "pics/b.bmp", "pics/c.txt", "pics/.hidden.bmp", "pics/a.png~",
                                 "pics/.b.bmp.bmp2grid-tmp-k3j9x0qa", "pics/b.bmp2grid-tmp-x", "pics/sub/d.bmp",
                                 "pics/sub/deeper/e.bmp", "pics/.hid/f.bmp", "other/a.bmp", "loop/a.bmp"})
            WriteFile(dir / file, std::string("picture"));
        fs::create_directory_symlink("../loop", dir / "loop/back");
        fs::create_symlink("../pics/b.bmp", dir / "linked/b.bmp");
        rules.outputExtension = "txt";
        rules.takes = [](const std::string& path) { return !path.ends_with(".txt"); };
    }

    // A path inside the test folder.
    std::string P(const std::string& relative) const { return dir / relative; }

    TempDir dir;
    BatchRules rules;
};

TEST_F(BatchPlanTest, InputsBecomeJobs) {
    struct Case {
        const char* what;
        std::vector<std::string> inputs;
        bool recursive;
        std::vector<std::pair<std::string, std::string>> jobs;  // input and output, inside the test folder
        std::vector<std::string> folders;                       // watched, inside the test folder
    };
    const Case cases[] = {
        {"a folder: the files taken, by name, not hidden or temporary ones, no subfolder",
         {"pics"},
         false,
         {{"pics/a.png", "out/a.txt"}, {"pics/b.bmp", "out/b.txt"}},
         {"pics"}},
        {"-r: the folders below, kept in the outputs, hidden ones left out",
         {"pics"},
         true,
         {{"pics/a.png", "out/a.txt"},
          {"pics/b.bmp", "out/b.txt"},
          {"pics/sub/d.bmp", "out/sub/d.txt"},
          {"pics/sub/deeper/e.bmp", "out/sub/deeper/e.txt"}},
         {"pics", "pics/sub", "pics/sub/deeper"}},
        {"files in the order given, taken or not, missing or not",
         {"pics/c.txt", "lone.bmp", "missing.bmp", "pics/sub/d.bmp"},
         false,
         {{"pics/c.txt", "out/c.txt"},
          {"lone.bmp", "out/lone.txt"},
          {"missing.bmp", "out/missing.txt"},
          {"pics/sub/d.bmp", "out/d.txt"}},
         {"pics", "", "pics/sub"}},
        {"the same input named twice, spelled otherwise, through a link, or found in a folder: one job",
         {"pics/b.bmp", "pics/./b.bmp", "pics//b.bmp", "linked/b.bmp", "pics"},
         false,
         {{"pics/b.bmp", "out/b.txt"}, {"pics/a.png", "out/a.txt"}},
         {"pics", "linked"}},
        {"a named file found again with -r keeps the output it was named for",
         {"pics//sub/d.bmp", "pics"},
         true,
         {{"pics//sub/d.bmp", "out/d.txt"},
          {"pics/a.png", "out/a.txt"},
          {"pics/b.bmp", "out/b.txt"},
          {"pics/sub/deeper/e.bmp", "out/sub/deeper/e.txt"}},
         {"pics//sub", "pics", "pics/sub/deeper"}},
        {"a folder linked to one above it is not walked again", {"loop"}, true, {{"loop/a.bmp", "out/a.txt"}}, {"loop"}},
        {"an empty folder beside a file", {"empty", "lone.bmp"}, false, {{"lone.bmp", "out/lone.txt"}}, {"empty", ""}},
    };
    for (const Case& c : cases) {
        BatchOptions options;
        options.outDir = P("out");
        options.recursive = c.recursive;
        for (const std::string& input : c.inputs) options.inputs.push_back(P(input));
        const BatchPlan plan = PlanBatch(options, rules);
        EXPECT_EQ(plan.error, PlanError::None) << c.what;
        std::vector<std::pair<std::string, std::string>> jobs;
        for (const BatchJob& job : plan.jobs) jobs.emplace_back(job.input, job.output);
        std::vector<std::pair<std::string, std::string>> expected;
        for (const auto& [input, output] : c.jobs) expected.emplace_back(P(input), P(output));
        EXPECT_EQ(jobs, expected) << c.what;
        std::vector<std::string> folders;
        for (const std::string& folder : c.folders) folders.push_back(folder.empty() ? dir.path() : P(folder));
        EXPECT_EQ(plan.folders, folders) << c.what;
        EXPECT_FALSE(fs::exists(dir / "out")) << c.what << ": planning writes nothing";
    }
}

TEST_F(BatchPlanTest, RefusalsBeforeAnyWork) {
    struct Case {
        const char* what;
        std::string outDir;
        std::vector<std::string> inputs;
        bool watch;
        PlanError error;
        std::string path, otherPath, output;  // inside the test folder, but "-"
    };
    const Case cases[] = {
        {"two inputs, one output: both named", "out", {"pics", "other/a.bmp"}, false, PlanError::SameOutput,
         "pics/a.png", "other/a.bmp", "out/a.txt"},
        {"the same, both named as files", "out", {"other/a.bmp", "lone.bmp", "pics/a.png"}, false,
         PlanError::SameOutput, "other/a.bmp", "pics/a.png", "out/a.txt"},
        {"DIR is a file", "lone.bmp", {"pics"}, false, PlanError::OutDirIsAFile, "lone.bmp", "", ""},
        // An empty DIR (an unset variable) is no folder: not the current one.
        {"DIR is empty", "", {"pics"}, false, PlanError::OutDirIsAFile, "", "", ""},
        {"nothing to convert", "out", {"empty"}, false, PlanError::NoInputs, "empty", "", ""},
        {"standard input can't be watched", "out", {"lone.bmp", "-"}, true, PlanError::WatchesStandardInput, "-",
         "", ""},
    };
    for (const Case& c : cases) {
        BatchOptions options;
        options.outDir = c.outDir.empty() ? c.outDir : P(c.outDir);
        options.watch = c.watch;
        for (const std::string& input : c.inputs) options.inputs.push_back(input == "-" ? input : P(input));
        const BatchPlan plan = PlanBatch(options, rules);
        auto inside = [&](const std::string& path) { return path.empty() || path == "-" ? path : P(path); };
        EXPECT_EQ(plan.error, c.error) << c.what;
        EXPECT_EQ(plan.path, inside(c.path)) << c.what;
        EXPECT_EQ(plan.otherPath, inside(c.otherPath)) << c.what;
        EXPECT_EQ(plan.output, inside(c.output)) << c.what;
        EXPECT_TRUE(plan.jobs.empty()) << c.what;
    }
}

TEST_F(BatchPlanTest, AWatchOfAnEmptyFolderWaitsForFiles) {
    BatchOptions options;
    options.outDir = P("out");
    options.watch = true;
    options.inputs = {P("empty")};
    const BatchPlan plan = PlanBatch(options, rules);
    EXPECT_EQ(plan.error, PlanError::None);
    EXPECT_TRUE(plan.jobs.empty());
    EXPECT_EQ(plan.folders, std::vector<std::string>{P("empty")});
}

TEST(BatchPlan, SingleWatchFollowsTheInputsFolder) {
    const BatchPlan plan = PlanSingleWatch({"maps/a.bmp", "a.txt"});
    EXPECT_EQ(plan.error, PlanError::None);
    ASSERT_EQ(plan.jobs.size(), 1u);
    EXPECT_EQ(plan.jobs[0].output, "a.txt");
    EXPECT_EQ(plan.folders, std::vector<std::string>{"maps"});
    EXPECT_EQ(PlanSingleWatch({"a.bmp", "a.txt"}).folders, std::vector<std::string>{"."});
    EXPECT_EQ(PlanSingleWatch({"/a.bmp", "a.txt"}).folders, std::vector<std::string>{"/"});
    EXPECT_EQ(PlanSingleWatch({"-", "a.txt"}).error, PlanError::WatchesStandardInput);
}

TEST(BatchPlan, OutputPaths) {
    struct Case {
        const char* outDir;
        const char* relative;
        const char* input;
        const char* extension;
        const char* output;
    };
    const Case cases[] = {
        {"out", "", "a/b.c.bmp", "txt", "out/b.c.txt"},  // only the last extension goes
        {"out/", "x/y/", "p.png", "bmp", "out/x/y/p.bmp"},
        {"out", "x", "q", "png", "out/x/q.png"},
        {"out", "", ".hidden", "txt", "out/.hidden.txt"},  // a leading dot is not an extension
        {"out", "", "dir.d/name", "txt", "out/name.txt"},  // nor a dot in a folder's name
        {"/", "", "/m/a.txt", "tmx", "/a.tmx"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(BatchOutputPath(c.outDir, c.relative, c.input, c.extension), c.output) << c.input;
    }
}

// bmp2grid takes a folder's pictures by their content, whatever their
// names: BMPs, PNGs and Tiled maps, but not a Tiled tile set or other XML,
// nor text.
TEST(BatchPictures, AFolderGivesItsPicturesByTheirContent) {
    TempDir dir;
    const test::Bytes bmp = test::MakeBmp(test::CountingPicture(4, 3));
    const test::Bytes png = test::MakePng(test::CountingPicture(4, 3));
    const struct {
        const char* name;
        std::string contents;
        bool taken;
    } cases[] = {
        {"bmp.dat", std::string(bmp.begin(), bmp.end()), true},
        {"png.dat", std::string(png.begin(), png.end()), true},
        {"saved-by-tiled.tmx", test::ReadFile(BMP2GRID_TEST_DATA "/tiled/desert.tmx"), true},
        {"saved-by-tiled.tmj", test::ReadFile(BMP2GRID_TEST_DATA "/tiled/desert.tmj"), true},
        {"commented.tmx", "<?xml version=\"1.0\"?>\n<!-- a > b <tileset -->\n<!DOCTYPE map>\n<map version=\"1.8\">", true},
        {"bare.tmx", "<map>", true},
        {"tileset.tsx", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<tileset version=\"1.8\" name=\"t\">", false},
        {"mapping.xml", "<?xml version=\"1.0\"?><mapping/>", false},
        {"declaration-only.xml", "<?xml version=\"1.0\"?>", false},
        {"notes.txt", "BMP files and maps", false},
        {"one-byte", "B", false},
        {"empty", "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(dir / c.name, c.contents);
        EXPECT_EQ(LooksLikePicture(dir / c.name), c.taken);
    }
    fs::create_directory(dir / "folder.bmp");
    EXPECT_FALSE(LooksLikePicture(dir / "folder.bmp"));
    EXPECT_FALSE(LooksLikePicture(dir / "missing.bmp"));
}

}  // namespace
}  // namespace bmp2grid
