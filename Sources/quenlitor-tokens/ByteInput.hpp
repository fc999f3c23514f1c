#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>

namespace quenlitor::tokens {

// A file or standard input that cannot be opened or read: its name and the system's reason,
// exit status 1.
struct InputError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Reads a file, or standard input for an empty path or "-", in chunks of whatever is available,
// so a live pipe is processed as it arrives and memory stays constant for any input size.
class ByteInput {
public:
    explicit ByteInput(const std::string& path);
    ~ByteInput();
    ByteInput(const ByteInput&) = delete;
    ByteInput& operator=(const ByteInput&) = delete;

    // The next bytes; empty at the end of the input. Throws InputError on a read failure.
    std::span<const std::uint8_t> next();
    const std::string& name() const { return m_name; }

private:
    std::string m_name;
    int m_fd = -1;
    bool m_owned = false;
    std::array<std::uint8_t, 64 * 1024> m_buffer{};
};

} // namespace quenlitor::tokens
