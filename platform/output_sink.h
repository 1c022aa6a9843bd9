// Where map text goes: a file being written, a device, or memory.
#pragma once

#include <cstddef>
#include <string>

namespace bmp2grid {

class OutputSink {
public:
    virtual ~OutputSink() = default;
    // Writes all `size` bytes. Returns false if any of them could not be
    // written; the sink is then unusable.
    virtual bool Write(const char* data, std::size_t size) = 0;

    // Whether writing takes long enough that formatting the next block while
    // this one is written pays off (a file, a pipe) or not (memory, a device
    // such as /dev/null that discards the bytes).
    virtual bool OverlapsWork() const { return false; }
};

// Collects everything written into a string (tests, fuzzing, tools).
class StringSink final : public OutputSink {
public:
    bool Write(const char* data, std::size_t size) override {
        text.append(data, size);
        return true;
    }
    std::string text;
};

}  // namespace bmp2grid
