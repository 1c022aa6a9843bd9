// Where the programs' message lines go: standard output, unless the output
// file is standard output itself, whose bytes nothing may break; from then
// on, standard error.
#pragma once

#include <string_view>

#include "platform.h"

namespace bmp2grid {

class Messages {
public:
    // Called once the output is open: its bytes may be going to standard output.
    void Follow(const platform::OutputFile& output) { toError_ = output.WritesToStandardOutput(); }

    void Print(std::string_view line) const {
        if (toError_) {
            platform::PrintToErrorConsole(line);
        } else {
            platform::PrintToConsole(line);
        }
    }

    // Prints a failure's line; returns the exit status for it.
    int Fail(std::string_view line) const {
        Print(line);
        return 1;
    }

private:
    bool toError_ = false;
};

}  // namespace bmp2grid
