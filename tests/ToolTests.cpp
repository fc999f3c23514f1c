// The command-line tool as scripts use it: exact output lines and exit statuses.
#include "support/RunTool.hpp"

#include <gtest/gtest.h>

namespace quenlitor::testing {
namespace {

TEST(ToolDecode, PrintsOneLinePerMessageFromStandardInputOrAFile) {
    const auto result = runTool({"decode"}, bytes({0x90, 0x3C, 0x64, 0x40, 0x00, 0xF8, 0xB9, 0x7B, 0x00, 0xFF}));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "noteOn 60 0\nnoteOff 64 0\nallNotesOff 9\nreset\n");
    EXPECT_EQ(result.err, "");

    TemporaryDirectory directory;
    const auto file = runTool({"decode", directory.write("notas.mid", bytes({0x9F, 0x30, 0x7F})).string()});
    EXPECT_EQ(file.status, 0);
    EXPECT_EQ(file.out, "noteOn 48 15\n");
}

TEST(ToolGestures, LargeInputStreamsThroughChunkBoundaries) {
    // 200,000 note pairs by running status, far more than one read; every message must survive
    // the chunk boundaries.
    std::string input = bytes({0x90});
    std::string expected;
    for (int i = 0; i < 200000; ++i) {
        input += bytes({60, 100, 60, 0});
        expected += "60\n";
    }
    const auto result = runTool({"gestures"}, input);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, expected);
}

TEST(ToolGestures, PrintsEachFinishedGestureAscending) {
    const auto result = runTool({"gestures"}, bytes({0x90, 67, 100, 60, 100, 64, 100, 0x80, 60, 0, 64, 0, 67, 0,  //
                                                     0x90, 72, 100, 0xB0, 123, 0,                                  //
                                                     0x90, 50, 100, 50, 0}));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.out, "60 64 67\n50\n");
}

TEST(ToolUsage, HelpMistakesAndUnreadableFiles) {
    const auto help = runTool({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* command : {"decode", "gestures", "analyze", "check-dictionary", "token", "normalize", "stream"}) {
        EXPECT_NE(help.out.find(std::string("\n  ") + command + " "), std::string::npos) << command;
        const auto result = runTool({command, command == std::string("gestures") ? "-h" : "--help"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out.rfind(std::string("Uso: quenlitor-tokens ") + command + " ", 0), 0u) << result.out;
    }
    // Mistakes in the command line give 2, files that cannot be read 1.
    const std::tuple<std::vector<std::string>, int, std::string> mistakes[] = {
        {{"descifra"}, 2, "quenlitor-tokens: orden desconocida: descifra\n\nUso: quenlitor-tokens ORDEN"},
        {{"decode", "--rapido"}, 2, "quenlitor-tokens: opción desconocida: --rapido\n\nUso: quenlitor-tokens decode"},
        {{}, 2, ""},
        {{"decode", "a", "b"}, 2, ""},
        {{"gestures", "/no/existe.mid"}, 1, "quenlitor-tokens: /no/existe.mid: No such file or directory\n"},
        {{"decode", "/"}, 1, "quenlitor-tokens: /: Is a directory\n"},
    };
    for (const auto& [args, status, err] : mistakes) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const auto result = runTool(args);
        EXPECT_EQ(result.status, status);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err.rfind(err, 0), 0u) << result.err;
    }

    const auto version = runTool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quenlitor-tokens " QUENLITOR_VERSION "\n");
}

} // namespace
} // namespace quenlitor::testing
