#pragma once

// Runs quenlitor-tokens as a user would, with bytes on standard input, and checks its outputs and exit status.
#include "support/Files.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <initializer_list>
#include <string>
#include <vector>
#include <sys/wait.h>

namespace quenlitor::testing {

// One run of the tool: its arguments, standard input, exit status and outputs.
struct ToolCase {
    std::vector<std::string> args{};
    std::string in{};
    int status = 0;
    std::string out{}, err{};
};

// Raw bytes, written as numbers.
inline std::string bytes(std::initializer_list<int> values) { return {values.begin(), values.end()}; }

inline std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// Standard input is `input`, or what the shell pipeline `producer` writes (input too large to write out).
inline ToolCase runTool(const std::vector<std::string>& args, const std::string& input = {}, const std::string& producer = {}) {
    const TemporaryDirectory directory;
    std::string command = producer.empty() ? "< " + shellQuote(directory.write("in", input)) + " " : producer + " | ";
    command += shellQuote(QUENLITOR_TOOL);
    for (const std::string& arg : args) {
        command += " " + shellQuote(arg);
    }
    const auto out = directory.path() / "out", err = directory.path() / "err";
    const int raw = std::system((command + " > " + shellQuote(out) + " 2> " + shellQuote(err)).c_str());
    return {args, input, WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readWhole(out), readWhole(err)};
}

// Runs each case; `err` is matched whole when empty or ending in a newline, else as the start.
inline void expectRuns(const std::vector<ToolCase>& cases) {
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const ToolCase& c = cases[i];
        SCOPED_TRACE("case " + std::to_string(i));
        const ToolCase result = runTool(c.args, c.in);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.out, c.out);
        if (c.err.empty() || c.err.ends_with('\n')) {
            EXPECT_EQ(result.err, c.err);
        } else {
            EXPECT_TRUE(result.err.starts_with(c.err)) << result.err;
        }
    }
}

} // namespace quenlitor::testing
