// The platform layer of the build with no file system (the web page's),
// built and run here as well: a platform function it lacks then fails this
// build, not only the WebAssembly one.
#include <gtest/gtest.h>

#include "platform.h"

namespace bmp2grid::platform {
namespace {

TEST(MemoryOnlyPlatform, OpensNothingAndTakesEveryCall) {
    InputFile input;
    EXPECT_EQ(input.Open("map.txt"), ReadStatus::CantOpen);

    OutputFile output;
    SeekableSink& sink = output;
    EXPECT_EQ(output.Open("map.txt"), OutputFile::OpenStatus::CantOpen);
    sink.Reserve(std::int64_t{1} << 30);
    EXPECT_FALSE(sink.Write("1,1\r\n", 5));
    EXPECT_FALSE(sink.SetSize(5));
    EXPECT_FALSE(sink.WriteAt(0, "1,1\r\n", 5));
    EXPECT_FALSE(output.Commit());
}

}  // namespace
}  // namespace bmp2grid::platform
