// `quenlitor-tokens normalize` as scripts use it: one normalized line, or a usage error.
#include "support/RunTool.hpp"

namespace quenlitor::testing {
namespace {

// A value is taken verbatim, dash or not: "--help" is a text to normalize, not a request for help.
TEST(ToolNormalize, PrintsTheNormalizedTextOrNeedsExactlyOneOfTitleAndToken) {
    const std::string usage = "\n\nUso: quenlitor-tokens normalize";
    expectRuns({
        {.args = {"normalize", "--title", " C∆9 "}, .out = "Cmaj9\n"},
        {.args = {"normalize", "--token", "“CΔ” C4 E G ."}, .out = "\"Cmaj7\" C4 E G .\n"},
        {.args = {"normalize", "--token", "C4\tE4\n."}, .out = "C4 E4 .\n"},
        {.args = {"normalize", "--title", "-x"}, .out = "-x\n"},
        {.args = {"normalize", "--title=-x"}, .out = "-x\n"},
        {.args = {"normalize", "--token", "--"}, .out = "--\n"},
        {.args = {"normalize", "--title", "--help"}, .out = "--help\n"},
        {.args = {"normalize", "--title="}, .out = "\n"},
        {.args = {"normalize", "--title", "C\xFF\xCE"}, .out = "C\uFFFD\uFFFD\n"},
        {.args = {"normalize"}, .status = 2, .err = "quenlitor-tokens: falta --title o --token" + usage},
        {.args = {"normalize", "--title", "a", "--token", "b"}, .status = 2,
         .err = "quenlitor-tokens: indique una sola vez --title o --token" + usage},
        {.args = {"normalize", "--title", "a", "--title", "b"}, .status = 2,
         .err = "quenlitor-tokens: indique una sola vez --title o --token" + usage},
        {.args = {"normalize", "--title", "a", "b"}, .status = 2, .err = "quenlitor-tokens: sobra un argumento: b" + usage},
        {.args = {"normalize", "--title"}, .status = 2, .err = "quenlitor-tokens: falta el valor de --title" + usage},
        {.args = {"normalize", "--texto", "a"}, .status = 2, .err = "quenlitor-tokens: opción desconocida: --texto" + usage},
    });
}

} // namespace
} // namespace quenlitor::testing
