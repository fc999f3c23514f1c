#include "Output.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace quenlitor::tokens {

void configureOutput() {
    struct stat info {};
    const bool pipe = ::fstat(STDOUT_FILENO, &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode));
    const bool live = ::isatty(STDOUT_FILENO) || pipe;
    std::setvbuf(stdout, nullptr, live ? _IOLBF : _IOFBF, BUFSIZ);
}

void printLine(std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
}

bool finishOutput() {
    if (std::fflush(stdout) == 0 && !std::ferror(stdout)) {
        return true;
    }
    std::fprintf(stderr, "quenlitor-tokens: no se pudo escribir la salida: %s\n", std::strerror(errno));
    return false;
}

} // namespace quenlitor::tokens
