#pragma once

#include <string_view>

namespace quenlitor::tokens {

// Line buffering when standard output is a terminal or a pipe, so each line shows as it happens;
// full buffering into regular files.
void configureOutput();
// Writes `line` and a newline to standard output.
void printLine(std::string_view line);
// Flushes standard output; false (after a message on standard error) when writing failed, so a
// full disk or a closed pipe is not reported as success.
bool finishOutput();

} // namespace quenlitor::tokens
