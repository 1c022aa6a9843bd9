// The programs' output, opened once: replaced through a temporary file
// (which allows writing at any offset) or written directly (a device, a
// FIFO, standard output), which is opened only once everything has been
// checked. It also says where message lines go: standard output, unless
// the output is where standard output goes (its bytes must not be broken,
// or its file is about to be replaced); from the moment the output is
// opened, standard error then.
#pragma once

#include <string>
#include <string_view>

#include "message_lines.h"
#include "platform.h"

namespace bmp2grid {

class OutputTarget {
public:
    enum class Plan {
        Replaced,  // opened, through a temporary file: written as it comes, put in place by Commit()
        Direct,    // written directly, and not opened until Open()
        CantOpen,  // can't be made: Open() fails
    };

    // `argument` is the output path as typed ("-" for standard output);
    // message lines go to `lines` (the console unless given).
    explicit OutputTarget(std::string argument, MessageLines* lines = nullptr);

    // Whether the name can name an output at all (not too long for its file
    // system, its links resolvable): checked before any work, since
    // nothing done later can mend it.
    bool Possible() const;

    // Looks at the output and opens it when it is replaced through a
    // temporary file: the previous file stays whole until Commit(). Until
    // it is called the plan is CantOpen.
    Plan Prepare();
    Plan plan() const { return plan_; }

    // Opens a Direct output (a Replaced one is open already): once the
    // input has been read and checked in full. False when the output can't
    // be opened. From here on, messages avoid standard output if it
    // carries the output.
    bool Open();

    // The output being written, after Prepare() (Replaced) or Open().
    platform::OutputFile& file() { return plan_ == Plan::Direct ? direct_ : replaced_; }
    // The output as it is once Prepare() has found it Replaced: for writers
    // made before Prepare() that write only to a replaced output.
    platform::OutputFile& replaced() { return replaced_; }

    // Flushes, closes and puts the output in place; false if that failed.
    bool Commit() { return file().Commit(); }

    // Prints a message line where messages go.
    void Print(std::string_view line, LineKind kind = LineKind::Report) const;
    // Prints a failure's line; returns false, for the conversion's result.
    bool Fail(std::string_view line) const {
        Print(line, LineKind::Failure);
        return false;
    }

private:
    std::string path_;  // the path to open
    MessageLines* lines_;
    Plan plan_ = Plan::CantOpen;
    bool messagesToError_ = false;
    platform::OutputFile replaced_;
    platform::OutputFile direct_;
};

}  // namespace bmp2grid
