// Pieces the platform implementations share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform.h"

namespace bmp2grid::platform {

// Reads until the end into `contents`, starting with room for `capacity`
// bytes and growing by half when full. `read(destination, room)` returns the
// number of bytes read, 0 at the end, or a negative number on an error.
template <class ReadChunk>
ReadStatus ReadUntilEnd(ByteBuffer& contents, std::size_t capacity, ReadChunk read) {
    if (!contents.Reserve(capacity)) return ReadStatus::NoMemory;
    std::size_t size = 0;
    for (;;) {
        if (size == contents.capacity()) {
            const std::size_t grown = contents.capacity() + contents.capacity() / 2 + 4096;
            if (grown < size || !contents.Reserve(grown)) return ReadStatus::NoMemory;
        }
        const long long n = read(contents.data() + size, contents.capacity() - size);
        if (n < 0) return ReadStatus::ReadFailed;
        if (n == 0) break;
        size += static_cast<std::size_t>(n);
    }
    contents.SetSize(size);
    return ReadStatus::Ok;
}

// The file name part of `path`: what follows the last of `separators`.
std::string_view FileNameOf(std::string_view path, std::string_view separators);

// "<folder>.<name>.bmp2grid-tmp-<8 random characters>" for a target
// "<folder><name>", where the folder part ends at the last of `separators`:
// a file beside the target whose name says what it is. The name is 23 bytes
// longer than the target's; where that would pass `maxNameBytes` (the file
// system's limit), <name> is cut short (not inside a UTF-8 character) so
// that it fits.
std::string TemporaryNameFor(const std::string& target, std::string_view separators,
                             std::size_t maxNameBytes);

// Random bits that seed the temporary names; one implementation per
// platform. Every run that takes a temporary name pays for them, so POSIX
// asks the operating system directly (getentropy, one system call) rather
// than through std::random_device, which first asks the processor what it
// offers, something a virtual machine answers slowly. Windows takes them
// from std::random_device.
std::uint64_t RandomSeed();

}  // namespace bmp2grid::platform
