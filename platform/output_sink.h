// Where an output's bytes go (map text, a BMP or a PNG file, from either
// program or the web page): a file being written, a device, or memory.
//
// Two interfaces: an OutputSink takes bytes in sequence; a SeekableSink can
// also be given its size first and then be written at any offset, as the
// BMP row writer needs.
#pragma once

#include <cstddef>
#include <cstdint>

namespace bmp2grid {

class OutputSink {
public:
    virtual ~OutputSink() = default;
    // Writes all `size` bytes. Returns false if any of them could not be
    // written; the sink is then unusable.
    virtual bool Write(const char* data, std::size_t size) = 0;

    // Performance hints for the map writer. A sink that gains nothing from
    // them (memory, a device) keeps these defaults; the output file
    // overrides them.

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
};

// A sink that can be given its size first and then be written at any offset
// (a file being replaced, memory), not only in sequence.
class SeekableSink : public OutputSink {
public:
    // Makes the output `size` bytes long; what is not written stays zero.
    // Returns false on failure; the sink is then unusable.
    virtual bool SetSize(std::int64_t size) = 0;
    // Writes all `size` bytes at `offset`, within the size set. Returns false
    // on failure; the sink is then unusable.
    virtual bool WriteAt(std::int64_t offset, const char* data, std::size_t size) = 0;
};

}  // namespace bmp2grid
