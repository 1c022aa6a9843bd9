#include "output_target.h"

#include <utility>

#include "arguments.h"

namespace bmp2grid {

namespace {
ConsoleLines console;
}  // namespace

void ConsoleLines::Print(std::string_view line, LineKind, bool toError) {
    if (toError) {
        platform::PrintToErrorConsole(line);
    } else {
        platform::PrintToConsole(line);
    }
}

OutputTarget::OutputTarget(std::string argument, MessageLines* lines)
    : path_(OutputPathToOpen(argument)), lines_(lines != nullptr ? lines : &console) {}

bool OutputTarget::Possible() const { return platform::OutputPathIsPossible(path_); }

OutputTarget::Plan OutputTarget::Prepare() {
    switch (replaced_.Open(path_, platform::OutputFile::Targets::ReplacedOnly)) {
        case platform::OutputFile::OpenStatus::Ok:
            plan_ = Plan::Replaced;
            break;
        case platform::OutputFile::OpenStatus::Direct:
            plan_ = Plan::Direct;
            break;
        case platform::OutputFile::OpenStatus::CantOpen:
            plan_ = Plan::CantOpen;
            break;
    }
    return plan_;
}

bool OutputTarget::Open() {
    bool opened = plan_ == Plan::Replaced;
    if (plan_ == Plan::Direct) opened = direct_.Open(path_) == platform::OutputFile::OpenStatus::Ok;
    // Standard output may be carrying the output, or be about to be
    // replaced by it, whether or not it could be opened.
    messagesToError_ = file().SharesStandardOutput();
    return opened;
}

void OutputTarget::Print(std::string_view line, LineKind kind) const { lines_->Print(line, kind, messagesToError_); }

}  // namespace bmp2grid
