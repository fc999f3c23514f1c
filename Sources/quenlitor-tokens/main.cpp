// quenlitor-tokens: the core of Quenlitor MIDI a Texto on the command line, for scripts, tests
// and for watching what a keyboard sends.
#include "ByteInput.hpp"
#include "Commands.hpp"
#include "platform/Error.hpp"
#include "Output.hpp"

#include <algorithm>
#include <array>
#include <cstdio>
#include <new>
#include <string>
#include <system_error>
#include <vector>

namespace {

using namespace quenlitor::tokens;

constexpr std::array commands{
    &decodeCommand, &gesturesCommand, &analyzeCommand, &checkDictionaryCommand, &tokenCommand, &normalizeCommand, &streamCommand,
#ifdef QUENLITOR_WITH_ALSA
    &listenCommand,
#endif
};

const Command* findCommand(std::string_view name) {
    const auto found = std::find_if(commands.begin(), commands.end(), [&](const Command* c) { return c->name == name; });
    return found == commands.end() ? nullptr : *found;
}

std::string toolHelp() {
    std::string help = "Uso: quenlitor-tokens ORDEN [OPCIONES] [ARGUMENTOS]\n"
                       "\n"
                       "Convierte lo que se toca en un teclado MIDI en tokens de texto para la fuente\n"
                       "Quenlitor Keyboard.\n"
                       "\n"
                       "Órdenes:\n";
    for (const Command* command : commands) {
        std::string name(command->name);
        name.resize(std::max<std::size_t>(name.size(), 18), ' ');
        help += "  " + name + std::string(command->summary) + "\n";
    }
    help += "\n'quenlitor-tokens ORDEN --help' muestra la ayuda de cada orden;\n"
            "'quenlitor-tokens --version', la versión.\n";
    return help;
}

// "--help" anywhere among the options, but not as the value of an option that takes one
// ("normalize --title --help" normalizes the text "--help").
bool asksForHelp(const std::vector<std::string>& args, const Command& command) {
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") {
            return false;
        }
        if (args[i] == "--help" || args[i] == "-h") {
            return true;
        }
        const auto takesValue = [&](const OptionSpec& option) { return option.takesValue && option.name == args[i]; };
        if (std::any_of(command.options.begin(), command.options.end(), takesValue)) {
            ++i;
        }
    }
    return false;
}

int usageError(const std::string& message, std::string_view usage) {
    std::fprintf(stderr, "quenlitor-tokens: %s\n\n%.*s", message.c_str(), static_cast<int>(usage.size()), usage.data());
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + std::min(argc, 1), argv + argc);
    if (args.empty()) {
        return usageError("falta la orden", toolHelp());
    }
    if (args.front() == "--help" || args.front() == "-h" || args.front() == "help") {
        std::fputs(toolHelp().c_str(), stdout);
        return 0;
    }
    if (args.front() == "--version") {
        std::fputs("quenlitor-tokens " QUENLITOR_VERSION "\n", stdout);
        return 0;
    }
    const Command* command = findCommand(args.front());
    if (command == nullptr) {
        return usageError("orden desconocida: " + args.front(), toolHelp());
    }
    const std::vector<std::string> rest(args.begin() + 1, args.end());
    if (asksForHelp(rest, *command)) {
        std::fwrite(command->help.data(), 1, command->help.size(), stdout);
        return 0;
    }
    configureOutput();
    try {
        const int status = command->run(parseArguments(rest, command->options));
        return finishOutput() ? status : 1;
    } catch (const UsageError& error) {
        return usageError(error.what(), command->help);
    } catch (const quenlitor::Error& error) {
        // A dictionary that cannot be found, read or accepted.
        finishOutput();
        std::fprintf(stderr, "error: %s\n", error.what());
        return 2;
    } catch (const InputError& error) {
        finishOutput();
        std::fprintf(stderr, "quenlitor-tokens: %s\n", error.what());
        return 1;
    } catch (const std::bad_alloc&) {
        // Input the tool cannot hold; reported, not left to abort.
        finishOutput();
        std::fprintf(stderr, "quenlitor-tokens: no hay memoria suficiente\n");
        return 1;
    } catch (const std::system_error& error) {
        // A system without a thread to spare for listen's signal or MIDI reader.
        finishOutput();
        std::fprintf(stderr, "quenlitor-tokens: el sistema no lo permite: %s\n", error.code().message().c_str());
        return 1;
    }
}
