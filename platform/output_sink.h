// Where map text goes: a file being written, a device, or memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
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

    // Tells the sink that at least `size` more bytes are about to be
    // written in sequence, so that a file can set the space aside at once
    // instead of finding it block by block as the bytes arrive. Only a hint:
    // a sink that can't, or need not, ignores it. Should fewer be written,
    // what was set aside beyond them is handed back, where the file system
    // can, when the output is completed.
    virtual void Reserve(std::int64_t size) { (void)size; }

    // Whether the sink can be given its size first and then be written at
    // any offset (a file being replaced, memory), not only in sequence.
    virtual bool CanWriteAt() const { return false; }
    // Makes the output `size` bytes long; what is not written stays zero.
    // Returns false on failure; the sink is then unusable.
    virtual bool SetSize(std::int64_t size) {
        (void)size;
        return false;
    }
    // Writes all `size` bytes at `offset`, within the size set. Returns false
    // on failure; the sink is then unusable.
    virtual bool WriteAt(std::int64_t offset, const char* data, std::size_t size) {
        (void)offset;
        (void)data;
        (void)size;
        return false;
    }
};

// Collects everything written into a string (tests, fuzzing, tools).
class StringSink final : public OutputSink {
public:
    bool Write(const char* data, std::size_t size) override {
        text.append(data, size);
        return true;
    }
    bool CanWriteAt() const override { return true; }
    bool SetSize(std::int64_t size) override {
        text.resize(static_cast<std::size_t>(size));
        return true;
    }
    bool WriteAt(std::int64_t offset, const char* data, std::size_t size) override {
        if (offset < 0 || static_cast<std::size_t>(offset) > text.size() ||
            size > text.size() - static_cast<std::size_t>(offset))
            return false;
        if (size > 0) std::memcpy(text.data() + offset, data, size);
        return true;
    }
    std::string text;
};

}  // namespace bmp2grid
