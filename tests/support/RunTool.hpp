#pragma once

// Runs the quenlitor-tokens executable as a user would, with bytes on standard input, and
// captures its outputs and exit status.
#include "support/Files.hpp"

#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>
#include <sys/wait.h>
#include <unistd.h>

namespace quenlitor::testing {

struct ToolResult {
    int status = -1;
    std::string out;
    std::string err;
};

// Raw bytes, written as numbers, as a string for standard input.
inline std::string bytes(std::initializer_list<int> values) {
    std::string text;
    for (int v : values) {
        text += static_cast<char>(v);
    }
    return text;
}

inline std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// Runs the tool with `args`, its standard input coming from `redirection` (a shell fragment).
inline ToolResult runToolWith(const std::string& redirection, const std::vector<std::string>& args) {
    TemporaryDirectory directory;
    std::string command = redirection + shellQuote(QUENLITOR_TOOL);
    for (const std::string& arg : args) {
        command += " " + shellQuote(arg);
    }
    command += " > " + shellQuote((directory.path() / "out").string()) + " 2> " +
               shellQuote((directory.path() / "err").string());
    const int raw = std::system(command.c_str());
    ToolResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = readWhole(directory.path() / "out");
    result.err = readWhole(directory.path() / "err");
    return result;
}

inline ToolResult runTool(const std::vector<std::string>& args, const std::string& input = {}) {
    TemporaryDirectory directory;
    const auto in = directory.write("in", input);
    return runToolWith("< " + shellQuote(in.string()) + " ", args);
}

// Standard input from a shell pipeline, for input too large or endless to write out.
inline ToolResult runToolPiped(const std::string& producer, const std::vector<std::string>& args) {
    return runToolWith(producer + " | ", args);
}

} // namespace quenlitor::testing
