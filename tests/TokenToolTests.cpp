// `token` and `stream` as scripts use them: the exact lines that would reach the clipboard.
#include "support/RunTool.hpp"

#include <gtest/gtest.h>

namespace quenlitor::testing {
namespace {

// A Standard MIDI File chunk: type, big-endian length, body.
std::string chunk(const std::string& type, const std::string& body) {
    const auto n = body.size();
    return type + bytes({int(n >> 24 & 0xFF), int(n >> 16 & 0xFF), int(n >> 8 & 0xFF), int(n & 0xFF)}) + body;
}

std::string header(int format, int tracks) { return chunk("MThd", bytes({0, format, 0, tracks, 0, 96})); }

TEST(ToolToken, PrintsTheTokenAsCopied) {
    struct Row {
        std::vector<std::string> args;
        std::string out;
    };
    const std::vector<Row> rows{
        {{"60"}, "\"C4\" C4 .\n"},
        {{"--no-title", "60"}, "C4 .\n"},
        {{"67", "60", "60"}, "\"5j\" C4 G .\n"},
        {{"60", "73"}, "\"2m\" C4 C#5 .\n"},
        {{"71", "64", "60", "67"}, "\"Cmaj7\" C4 E G B .\n"},
        {{"36", "60", "64", "67", "70", "--no-title"}, "C2 C4 E G Bb .\n"},
        {{"61", "62", "63"}, "C#4 D Eb .\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.args));
        std::vector<std::string> args{"token"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const auto result = runTool(args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, row.out);
        EXPECT_EQ(result.err, "");
    }
}

TEST(ToolToken, ErrorsSayWhyInSpanish) {
    const auto outside = runTool({"token", "60", "109"});
    EXPECT_EQ(outside.status, 1);
    EXPECT_EQ(outside.out, "");
    EXPECT_EQ(outside.err, "La fuente admite de A0 a C8. El token no se copió.\n");

    const auto none = runTool({"token"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "No hay notas para copiar.\n");

    EXPECT_EQ(runTool({"token", "sesenta"}).status, 2);

    TemporaryDirectory directory;
    const auto empty = directory.write("vacio.json", R"({"chords": []})");
    const auto rejected = runTool({"token", "--dictionary", empty.string(), "60"});
    EXPECT_EQ(rejected.status, 2);
    EXPECT_EQ(rejected.err, "error: El diccionario de acordes está vacío.\n");
}

TEST(ToolStream, RawBytesGiveOneLinePerGesture) {
    const std::string input = bytes({0x90, 60, 100, 64, 100, 67, 100, 0x80, 60, 0, 64, 0, 67, 0,  //
                                     0x90, 60, 100, 60, 0,                                         //
                                     0x90, 20, 100, 20, 0});
    const auto tokens = runTool({"stream"}, input);
    EXPECT_EQ(tokens.status, 0);
    EXPECT_EQ(tokens.out, "\"C\" C4 E G .\n\"C4\" C4 .\n");

    const auto plain = runTool({"stream", "--no-title"}, input);
    EXPECT_EQ(plain.out, "C4 E G .\nC4 .\n");

    const auto status = runTool({"stream", "--status"}, bytes({0x90, 60, 100, 64, 100, 0x80, 60, 0, 64, 0, 0x90, 20, 1, 20, 0}));
    EXPECT_EQ(status.out, "Tocando: C4\n"
                          "Tocando: C4 · E4\n"
                          "Tocando: E4\n"
                          "Copiado: 3M\n"
                          "Tocando: Ab0\n"
                          "La fuente admite de A0 a C8. El token no se copió.\n");
}

TEST(ToolStream, StandardMIDIFileTracksMergeInTimeOrder) {
    // Track 1 holds C4 from tick 0 to 96 and E4 from 48 to 96 (running status); track 2 holds G4
    // from 48 to 96 and a meta event. The three notes make one gesture only when the tracks are
    // merged by time; a meta event's 0xFF must not reach the decoder as a reset.
    const std::string track1 = chunk("MTrk", bytes({0x00, 0x90, 60, 100, 0x30, 64, 100, 0x30, 0x80, 60, 0, 0x00, 64, 0,
                                                    0x00, 0xFF, 0x2F, 0x00}));
    const std::string track2 = chunk("MTrk", bytes({0x00, 0xFF, 0x03, 0x03, 'P', 'n', 'o', 0x30, 0x90, 67, 100, 0x30, 0x80,
                                                    67, 0, 0x00, 0xF0, 0x02, 0x01, 0xF7, 0x00, 0xFF, 0x2F, 0x00}));
    const auto merged = runTool({"stream"}, header(1, 2) + track1 + track2);
    EXPECT_EQ(merged.status, 0);
    EXPECT_EQ(merged.err, "");
    EXPECT_EQ(merged.out, "\"C\" C4 E G .\n");

    TemporaryDirectory directory;
    const auto file = directory.write("cancion.mid", header(0, 1) + track1);
    EXPECT_EQ(runTool({"stream", file.string()}).out, "\"3M\" C4 E .\n");
}

TEST(ToolStream, DamagedFileReportsTheOffsetAfterEarlierTokens) {
    // One finished gesture, a meta event (which cancels running status), then a data byte with
    // no status in force at byte 35: 14 bytes of header, 8 of track header, 13 of events.
    const std::string events = bytes({0x00, 0x90, 60, 100, 0x10, 0x80, 60, 0, 0x00, 0xFF, 0x01, 0x00, 0x00, 0x40, 0x00});
    const auto damaged = runTool({"stream"}, header(0, 1) + chunk("MTrk", events));
    EXPECT_EQ(damaged.status, 1);
    EXPECT_EQ(damaged.out, "\"C4\" C4 .\n");
    EXPECT_NE(damaged.err.find("archivo MIDI no válido en el byte 35"), std::string::npos) << damaged.err;

    const auto truncated = runTool({"stream"}, header(1, 1).substr(0, 10));
    EXPECT_EQ(truncated.status, 1);
    EXPECT_NE(truncated.err.find("byte 10"), std::string::npos) << truncated.err;
}

} // namespace
} // namespace quenlitor::testing
