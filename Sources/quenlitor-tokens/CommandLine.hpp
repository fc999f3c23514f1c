#pragma once

#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quenlitor::tokens {

// A mistake in how the tool was called: reported with the usage text, exit status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct OptionSpec {
    std::string_view name; // with its dashes: "--dictionary"
    bool takesValue = false;
};

// The arguments of one subcommand, options separated from operands. Options may come before or
// after operands; "--" ends the options; an argument that is a signed decimal integer ("-1") is
// always an operand, and so is "-" (standard input).
struct Arguments {
    std::vector<std::pair<std::string, std::string>> options; // in the order given
    std::vector<std::string> operands;

    bool has(std::string_view option) const;
    // The value given last for `option`, or an empty text when it was not given.
    std::string value(std::string_view option) const;
    std::vector<std::string> values(std::string_view option) const;
};

// Throws UsageError for an unknown option or a missing value. "--help" is not handled here.
Arguments parseArguments(std::span<const std::string> args, std::span<const OptionSpec> options);

bool isInteger(std::string_view text);
// Parses a signed decimal note number; throws UsageError when it is not one or does not fit 64 bits.
long long parseInteger(std::string_view text);

} // namespace quenlitor::tokens
