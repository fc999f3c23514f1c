// The command-line tool as scripts use it: exact output lines and exit statuses.
#include "support/RunTool.hpp"

namespace quenlitor::testing {
namespace {

// Mistakes in the command line give 2, files that cannot be read 1.
TEST(ToolUsage, DecodeGesturesVersionAndMistakes) {
    const TemporaryDirectory directory;
    const std::string file = directory.write("notas.mid", bytes({0x9F, 0x30, 0x7F}));
    const std::string usage = "\n\nUso: quenlitor-tokens ";
    expectRuns({
        {.args = {"decode"}, .in = bytes({0x90, 0x3C, 0x64, 0x40, 0x00, 0xF8, 0xB9, 0x7B, 0x00, 0xFF}),
         .out = "noteOn 60 0\nnoteOff 64 0\nallNotesOff 9\nreset\n"},
        {.args = {"decode", file}, .out = "noteOn 48 15\n"},
        {.args = {"gestures"},
         .in = bytes({0x90, 67, 100, 60, 100, 64, 100, 0x80, 60, 0, 64, 0, 67, 0, 0x90, 72, 100, 0xB0, 123, 0, //
                      0x90, 50, 100, 50, 0}),
         .out = "60 64 67\n50\n"},
        {.args = {"--version"}, .out = "quenlitor-tokens " QUENLITOR_VERSION "\n"},
        {.args = {}, .status = 2, .err = "quenlitor-tokens: falta la orden" + usage + "ORDEN"},
        {.args = {"descifra"}, .status = 2, .err = "quenlitor-tokens: orden desconocida: descifra" + usage + "ORDEN"},
        {.args = {"decode", "--rapido"}, .status = 2, .err = "quenlitor-tokens: opción desconocida: --rapido" + usage + "decode"},
        {.args = {"decode", "a", "b"}, .status = 2, .err = "quenlitor-tokens: sobra un argumento: b" + usage + "decode"},
        {.args = {"gestures", "/no/existe.mid"}, .status = 1, .err = "quenlitor-tokens: /no/existe.mid: No such file or directory\n"},
        {.args = {"decode", "/"}, .status = 1, .err = "quenlitor-tokens: /: Is a directory\n"},
    });
}

TEST(ToolUsage, HelpListsEachCommand) {
    const auto help = runTool({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const std::string command : {"decode", "gestures", "analyze", "check-dictionary", "token", "normalize", "stream"}) {
        EXPECT_NE(help.out.find("\n  " + command + " "), std::string::npos) << command;
        const auto result = runTool({command, command == "gestures" ? "-h" : "--help"});
        EXPECT_EQ(result.status, 0);
        EXPECT_TRUE(result.out.starts_with("Uso: quenlitor-tokens " + command + " ")) << result.out;
    }
}

TEST(ToolGestures, LargeInputStreamsThroughChunkBoundaries) {
    // 200,000 note pairs by running status, far more than one read.
    std::string input = bytes({0x90}), expected;
    for (int i = 0; i < 200000; ++i) {
        input += bytes({60, 100, 60, 0});
        expected += "60\n";
    }
    expectRuns({{.args = {"gestures"}, .in = input, .out = expected}});
}

} // namespace
} // namespace quenlitor::testing
