#pragma once

#include "platform/Clipboard.hpp"

#include <optional>
#include <string>

namespace quenlitor::platform::memory {

// A clipboard that keeps what was written, and can be told to refuse writes.
class MemoryClipboard final : public Clipboard {
public:
    void clearContents() override {
        m_text.reset();
        ++m_clearCount;
    }
    bool setString(std::string_view text) override {
        if (refusesWrites) {
            return false;
        }
        m_text = std::string(text);
        ++m_writeCount;
        return true;
    }

    // Plays a refused write reaching the clipboard after all, as a desktop that answers late does.
    void writeLate(const std::string& text) {
        m_text = text;
        ++m_writeCount;
        if (onLateWrite) {
            onLateWrite(text);
        }
    }

    // The text on the clipboard now; none after a clear or a refused write.
    const std::optional<std::string>& text() const { return m_text; }
    int writeCount() const { return m_writeCount; }
    int clearCount() const { return m_clearCount; }

    bool refusesWrites = false;

private:
    std::optional<std::string> m_text;
    int m_writeCount = 0;
    int m_clearCount = 0;
};

} // namespace quenlitor::platform::memory
