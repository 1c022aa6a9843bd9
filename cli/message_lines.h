// Where a conversion's message lines go: the console for a single run, a
// collector for each file of a batch or a watch, which print them their
// own way.
#pragma once

#include <string_view>

namespace bmp2grid {

enum class LineKind {
    Report,   // what was done ("Size: ...")
    Note,     // something the user should know about a conversion that was done
    Failure,  // why a conversion was refused or failed
};

class MessageLines {
public:
    virtual ~MessageLines() = default;
    // `line` is a whole line, ending in "\n". `toError`: standard output
    // carries the output or its file is being replaced, so the line belongs
    // on standard error.
    virtual void Print(std::string_view line, LineKind kind, bool toError) = 0;
};

// Prints each line at once: on standard output, or standard error when
// `toError`.
class ConsoleLines final : public MessageLines {
public:
    void Print(std::string_view line, LineKind kind, bool toError) override;
};

}  // namespace bmp2grid
