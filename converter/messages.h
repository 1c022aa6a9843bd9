// Where the programs' message lines go: standard output, unless the output
// is where standard output goes (its bytes must not be broken, or its file
// is about to be replaced); from the moment the output is opened, standard
// error then.
#pragma once

#include <string_view>

#include "platform.h"

namespace bmp2grid {

class Messages {
public:
    // Called once the output has been opened, whether that succeeded or
    // not: standard output may be carrying it, or be about to be replaced by it.
    void Follow(const platform::OutputFile& output) { toError_ = output.SharesStandardOutput(); }

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
