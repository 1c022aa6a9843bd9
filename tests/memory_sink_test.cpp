// The in-memory output both the web page and the tests write to.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "memory_sink.h"

namespace bmp2grid {
namespace {

TEST(MemorySink, KeepsWhatIsWrittenInSequenceAndAtOffsets) {
    MemorySink sink;
    EXPECT_TRUE(sink.Write("", 0));
    EXPECT_EQ(sink.text(), "");
    EXPECT_TRUE(sink.Write("1,1", 3));
    EXPECT_TRUE(sink.Write("\r\n", 2));
    EXPECT_EQ(sink.text(), "1,1\r\n");

    // Grown with zeros, then written at offsets within the size only.
    ASSERT_TRUE(sink.SetSize(8));
    EXPECT_EQ(sink.text(), std::string("1,1\r\n\0\0\0", 8));
    EXPECT_TRUE(sink.WriteAt(6, "ab", 2));
    EXPECT_TRUE(sink.WriteAt(8, "", 0));
    EXPECT_TRUE(sink.WriteAt(0, "X", 1));
    EXPECT_EQ(sink.text(), std::string("X,1\r\n\0ab", 8));
    struct Refused {
        std::int64_t offset;
        std::size_t size;
    };
    for (const Refused& c : {Refused{7, 2}, Refused{9, 0}, Refused{-1, 1}, Refused{1, SIZE_MAX}}) {
        EXPECT_FALSE(sink.WriteAt(c.offset, "ab", c.size)) << c.offset << " " << c.size;
    }
    EXPECT_EQ(sink.text(), std::string("X,1\r\n\0ab", 8));

    // Cut short, grown again with zeros, then written on from the new end.
    ASSERT_TRUE(sink.SetSize(2));
    EXPECT_EQ(sink.text(), "X,");
    ASSERT_TRUE(sink.SetSize(4));
    EXPECT_TRUE(sink.Write("2", 1));
    EXPECT_EQ(sink.text(), std::string("X,\0\0" "2", 5));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(sink.data()), sink.size()), sink.text());
}

TEST(MemorySink, RunningOutOfMemoryIsAFailedWrite) {
    // More than any memory holds, or than a size can count: refused, the
    // bytes already written kept, and the sink still takes what fits.
    MemorySink sink;
    ASSERT_TRUE(sink.Write("abc", 3));
    EXPECT_FALSE(sink.Write("x", SIZE_MAX));
    EXPECT_FALSE(sink.Write("x", SIZE_MAX / 2));
    EXPECT_FALSE(sink.SetSize(INT64_MAX));
    EXPECT_FALSE(sink.SetSize(-1));
    EXPECT_EQ(sink.text(), "abc");
    EXPECT_TRUE(sink.Write("d", 1));
    EXPECT_EQ(sink.text(), "abcd");
}

TEST(MemorySink, TellsProgressEachStepWritten) {
    std::vector<std::size_t> told;
    MemorySink sink(8, [&told](std::size_t written) { told.push_back(written); });
    for (int i = 0; i < 8; ++i) ASSERT_TRUE(sink.Write("1,0\t", 4));
    EXPECT_EQ(told, (std::vector<std::size_t>{8, 16, 24, 32}));
    // The next step counts from the size last told, however far a write
    // went past a step.
    ASSERT_TRUE(sink.Write("0123456789ab", 12));
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(sink.Write("1,0\t", 4));
    EXPECT_EQ(told, (std::vector<std::size_t>{8, 16, 24, 32, 44, 52}));
    // Sizing and writing at offsets are not progress.
    ASSERT_TRUE(sink.SetSize(100));
    ASSERT_TRUE(sink.WriteAt(50, "0123456789", 10));
    EXPECT_EQ(told.size(), 6u);
}

}  // namespace
}  // namespace bmp2grid
