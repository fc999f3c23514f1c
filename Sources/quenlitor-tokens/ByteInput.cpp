#include "ByteInput.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace quenlitor::tokens {

namespace {
std::string reason(const std::string& name) { return name + ": " + std::strerror(errno); }
} // namespace

ByteInput::ByteInput(const std::string& path) {
    if (path.empty() || path == "-") {
        m_name = "entrada estándar";
        m_fd = STDIN_FILENO;
        return;
    }
    m_name = path;
    m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) {
        throw InputError(reason(path));
    }
    m_owned = true;
}

ByteInput::~ByteInput() {
    if (m_owned) {
        ::close(m_fd);
    }
}

std::span<const std::uint8_t> ByteInput::next() {
    for (;;) {
        const ssize_t count = ::read(m_fd, m_buffer.data(), m_buffer.size());
        if (count >= 0) {
            return {m_buffer.data(), static_cast<std::size_t>(count)};
        }
        if (errno != EINTR) {
            throw InputError(reason(m_name));
        }
    }
}

} // namespace quenlitor::tokens
