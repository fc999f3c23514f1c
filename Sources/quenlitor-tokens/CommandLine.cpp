#include "CommandLine.hpp"

#include <algorithm>
#include <charconv>

namespace quenlitor::tokens {

bool Arguments::has(std::string_view option) const {
    return std::any_of(options.begin(), options.end(), [&](const auto& given) { return given.first == option; });
}

std::string Arguments::value(std::string_view option) const {
    std::string last;
    for (const auto& [name, given] : options) {
        if (name == option) {
            last = given;
        }
    }
    return last;
}

std::vector<std::string> Arguments::values(std::string_view option) const {
    std::vector<std::string> all;
    for (const auto& [name, given] : options) {
        if (name == option) {
            all.push_back(given);
        }
    }
    return all;
}

bool isInteger(std::string_view text) {
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        text.remove_prefix(1);
    }
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

long long parseInteger(std::string_view text) {
    if (!isInteger(text)) {
        throw UsageError("no es un número de nota: " + std::string(text));
    }
    if (text.front() == '+') {
        text.remove_prefix(1);
    }
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size()) {
        throw UsageError("número de nota fuera de rango: " + std::string(text));
    }
    return value;
}

Arguments parseArguments(std::span<const std::string> args, std::span<const OptionSpec> options) {
    Arguments parsed;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg == "-" || arg.empty() || arg.front() != '-' || isInteger(arg)) {
            parsed.operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string name = arg.substr(0, equals);
        const auto known = std::find_if(options.begin(), options.end(), [&](const OptionSpec& o) { return o.name == name; });
        if (known == options.end()) {
            throw UsageError("opción desconocida: " + arg);
        }
        if (!known->takesValue) {
            if (equals != std::string::npos) {
                throw UsageError("la opción " + name + " no lleva valor");
            }
            parsed.options.emplace_back(name, std::string{});
        } else if (equals != std::string::npos) {
            parsed.options.emplace_back(name, arg.substr(equals + 1));
        } else if (i + 1 < args.size()) {
            parsed.options.emplace_back(name, args[++i]);
        } else {
            throw UsageError("falta el valor de " + name);
        }
    }
    return parsed;
}

} // namespace quenlitor::tokens
