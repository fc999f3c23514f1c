// `normalize`: one title or one token put into the spelling the font expects.
#include "Commands.hpp"
#include "Output.hpp"
#include "TokenTextNormalizer.hpp"

#include <array>
#include <string>

namespace quenlitor::tokens {

namespace {

constexpr std::array normalizeOptions{OptionSpec{"--title", true}, OptionSpec{"--token", true}};

int runNormalize(const Arguments& arguments) {
    if (!arguments.operands.empty()) {
        throw UsageError("sobra un argumento: " + arguments.operands.front());
    }
    if (arguments.options.size() != 1) {
        throw UsageError(arguments.options.empty() ? "falta --title o --token"
                                                   : "indique una sola vez --title o --token");
    }
    const auto& [option, text] = arguments.options.front();
    printLine(option == "--title" ? TokenTextNormalizer::title(text) : TokenTextNormalizer::token(text));
    return 0;
}

} // namespace

const Command normalizeCommand{
    "normalize",
    "escribe un título o un token con la grafía que espera la fuente",
    "Uso: quenlitor-tokens normalize --title TEXTO\n"
    "     quenlitor-tokens normalize --token TEXTO\n"
    "\n"
    "Escribe TEXTO normalizado como título (--title) o como token completo (--token): sin\n"
    "caracteres invisibles, con los espacios y saltos de línea como espacios, en forma NFC y\n"
    "con las variantes tipográficas cambiadas por las que conoce la fuente. En un título, Δ,\n"
    "ø y ° se escriben maj7, m7(b5) y dim, las comillas dobles pasan a apóstrofos y se quitan\n"
    "los espacios de los extremos; en un token solo se trata así el título entre comillas del\n"
    "principio. Los bytes que no son UTF-8 válido se sustituyen por U+FFFD.\n"
    "\n"
    "TEXTO se toma tal cual aunque empiece por '-': --title -x o --title=-x.\n",
    normalizeOptions,
    runNormalize,
};

} // namespace quenlitor::tokens
