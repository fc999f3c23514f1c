#pragma once

#include "CommandLine.hpp"

#include <span>
#include <string_view>

namespace quenlitor::tokens {

// One subcommand: its name, a one-line summary, the full help text, its options and what runs it.
// `run` returns the exit status; it may throw UsageError (status 2) or InputError (status 1).
struct Command {
    std::string_view name;
    std::string_view summary;
    std::string_view help;
    std::span<const OptionSpec> options;
    int (*run)(const Arguments& arguments);
};

extern const Command decodeCommand;
extern const Command gesturesCommand;
extern const Command normalizeCommand;
extern const Command analyzeCommand;
extern const Command checkDictionaryCommand;
extern const Command tokenCommand;
extern const Command streamCommand;
extern const Command listenCommand;

} // namespace quenlitor::tokens
