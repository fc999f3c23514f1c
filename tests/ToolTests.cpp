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

TEST(ToolUsage, HelpAndMistakes) {
    const auto help = runTool({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* command : {"decode", "gestures", "analyze", "check-dictionary", "token", "normalize", "stream", "listen"}) {
        EXPECT_NE(help.out.find(std::string("\n  ") + command + " "), std::string::npos) << command;
        const auto result = runTool({command, command == std::string("gestures") ? "-h" : "--help"});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out.rfind(std::string("Uso: quenlitor-tokens ") + command + " ", 0), 0u) << result.out;
    }
    const auto unknownCommand = runTool({"descifra"});
    EXPECT_EQ(unknownCommand.status, 2);
    EXPECT_NE(unknownCommand.err.find("orden desconocida: descifra"), std::string::npos);
    EXPECT_NE(unknownCommand.err.find("Uso:"), std::string::npos);

    const auto unknownOption = runTool({"decode", "--rapido"});
    EXPECT_EQ(unknownOption.status, 2);
    EXPECT_NE(unknownOption.err.find("opción desconocida: --rapido"), std::string::npos);

    EXPECT_EQ(runTool({}).status, 2);
    EXPECT_EQ(runTool({"decode", "a", "b"}).status, 2);

    const auto version = runTool({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "quenlitor-tokens " QUENLITOR_VERSION "\n");
}

TEST(ToolUsage, UnreadableFileNamesTheFileAndTheReason) {
    const auto missing = runTool({"gestures", "/no/existe.mid"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.out, "");
    EXPECT_NE(missing.err.find("/no/existe.mid: "), std::string::npos);
    EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos);

    const auto directory = runTool({"decode", "/"});
    EXPECT_EQ(directory.status, 1);
    EXPECT_NE(directory.err.find("/: Is a directory"), std::string::npos);
}

} // namespace
} // namespace quenlitor::testing
