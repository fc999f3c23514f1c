#pragma once

#include "Output.hpp"
#include "platform/Clipboard.hpp"

namespace quenlitor::tokens {

// The clipboard of the command line: each copied text becomes a line of standard output, unless
// the command shows status lines instead.
class PrintingClipboard final : public platform::Clipboard {
public:
    explicit PrintingClipboard(bool quiet) : m_quiet(quiet) {}

    void clearContents() override {}
    bool setString(std::string_view text) override {
        if (!m_quiet) {
            printLine(text);
        }
        return true;
    }

private:
    bool m_quiet;
};

} // namespace quenlitor::tokens
