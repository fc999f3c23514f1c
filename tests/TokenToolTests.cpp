// `token` and `stream` as scripts use them: the exact lines that would reach the clipboard.
#include "support/RunTool.hpp"

#include <gtest/gtest.h>

namespace quenlitor::testing {
namespace {

std::string bigEndian32(std::uint32_t n) {
    return bytes({int(n >> 24), int(n >> 16 & 0xFF), int(n >> 8 & 0xFF), int(n & 0xFF)});
}

// A Standard MIDI File chunk: type, big-endian length, body.
std::string chunk(const std::string& type, const std::string& body) {
    return type + bigEndian32(static_cast<std::uint32_t>(body.size())) + body;
}

std::string header(int format, int tracks) { return chunk("MThd", bytes({0, format, 0, tracks, 0, 96})); }

// What the token says is TokenGeneratorTests' table; here, that the tool passes notes and the
// option through and prints the normalised token.
TEST(ToolToken, PrintsTheTokenAsCopied) {
    struct Row {
        std::vector<std::string> args;
        std::string out;
    };
    const std::vector<Row> rows{
        {{"60"}, "\"C4\" C4 .\n"},
        {{"--no-title", "60"}, "C4 .\n"},
        {{"71", "64", "60", "67"}, "\"Cmaj7\" C4 E G B .\n"},
        {{"36", "60", "64", "67", "70", "--no-title"}, "C2 C4 E G Bb .\n"},
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
    TemporaryDirectory directory;
    const auto empty = directory.write("vacio.json", R"({"chords": []})").string();
    const std::tuple<std::vector<std::string>, int, std::string> rows[] = {
        {{"token", "60", "109"}, 1, "La fuente admite de A0 a C8. El token no se copió.\n"},
        {{"token"}, 1, "No hay notas para copiar.\n"},
        {{"token", "--dictionary", empty, "60"}, 2, "error: El diccionario de acordes está vacío.\n"},
    };
    for (const auto& [args, status, err] : rows) {
        SCOPED_TRACE(::testing::PrintToString(args));
        const auto result = runTool(args);
        EXPECT_EQ(result.status, status);
        EXPECT_EQ(result.out, "");
        EXPECT_EQ(result.err, err);
    }
    EXPECT_EQ(runTool({"token", "sesenta"}).status, 2);
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

TEST(ToolStream, StandardMIDIFilesAreReadAsFarAsTheyGo) {
    // C4 from tick 0 to 16, then E4 from 16 to 32, then the end of track: 20 bytes of events,
    // which begin at byte 22 (14 of header, 8 of track header).
    const std::string events = bytes({0x00, 0x90, 60, 100, 0x10, 0x80, 60, 0, 0x00, 0x90, 64, 100, 0x10, 0x80, 64, 0,
                                      0x00, 0xFF, 0x2F, 0x00});
    const std::string later = chunk("MTrk", bytes({0x40, 0x90, 67, 100, 0x10, 0x80, 67, 0, 0x00, 0xFF, 0x2F, 0x00}));
    const std::string heldLong = chunk("MTrk", bytes({0x00, 0x90, 60, 100, 0x20, 0x80, 60, 0, 0x00, 0xFF, 0x2F, 0x00}));
    const std::string heldShort = chunk("MTrk", bytes({0x00, 0x90, 64, 100, 0x10, 0x80, 64, 0, 0x00, 0xFF, 0x2F, 0x00}));
    const std::string both = "\"C4\" C4 .\n\"E4\" E4 .\n";
    // One gesture, a meta event (which cancels running status), then a data byte at byte 35.
    const std::string statusless = chunk("MTrk", bytes({0x00, 0x90, 60, 100, 0x10, 0x80, 60, 0, 0x00, 0xFF, 0x01, 0x00,
                                                        0x00, 0x40, 0x00}));
    struct Row {
        const char* what;
        std::string file;
        int status;
        std::string out;
        std::string err; // the end of standard error, empty for none
    };
    const std::vector<Row> rows{
        {"cut after a whole event", header(0, 1) + "MTrk" + bigEndian32(20) + events.substr(0, 12), 1, "\"C4\" C4 .\n",
         "en el byte 34: el archivo se corta antes del final de la pista que empieza en el byte 14\n"},
        {"cut inside an event", header(0, 1) + "MTrk" + bigEndian32(20) + events.substr(0, 10), 1, "\"C4\" C4 .\n",
         "en el byte 32: el archivo se corta antes del final de la pista que empieza en el byte 14\n"},
        {"length left at 0xFFFFFFFF", header(0, 1) + "MTrk" + bigEndian32(0xFFFFFFFF) + events, 1, both,
         "en el byte 18: la pista declara 4294967295 bytes, pero su fin de pista acaba en el byte 42\n"},
        {"length left at 0, a track after it", header(1, 2) + "MTrk" + bigEndian32(0) + events + later, 1,
         both + "\"G4\" G4 .\n", "en el byte 18: la pista declara 0 bytes, pero su fin de pista acaba en el byte 42\n"},
        {"an empty track", header(1, 2) + chunk("MTrk", "") + later, 0, "\"G4\" G4 .\n", ""},
        {"format 1 merges", header(1, 2) + heldLong + heldShort, 0, "\"3M\" C4 E .\n", ""},
        {"format 2 plays one track after another", header(2, 2) + heldLong + heldShort, 0, both, ""},
        {"fewer tracks than declared", header(1, 3) + later, 0, "\"G4\" G4 .\n",
         "aviso: la cabecera anuncia 3 pistas, pero el archivo solo tiene 1\n"},
        {"a broken chunk after the tracks", header(0, 1) + later + "MTr", 1, "\"G4\" G4 .\n",
         "en el byte 34: cabecera de bloque incompleta\n"},
        {"no track", header(0, 1) + chunk("XFIH", "otra cosa"), 1, "",
         "en el byte 31: no hay ninguna pista (ningún bloque MTrk)\n"},
        {"format 3", header(3, 1) + later, 1, "", "en el byte 8: formato 3 no admitido (solo 0, 1 y 2)\n"},
        {"data without status", header(0, 1) + statusless, 1, "\"C4\" C4 .\n", "en el byte 35: dato sin byte de estado\n"},
        {"header cut short", header(1, 1).substr(0, 10), 1, "", "en el byte 10: la cabecera está incompleta\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto result = runTool({"stream"}, row.file);
        EXPECT_EQ(result.status, row.status);
        EXPECT_EQ(result.out, row.out);
        if (row.err.empty()) {
            EXPECT_EQ(result.err, "");
        } else {
            EXPECT_TRUE(result.err.starts_with("quenlitor-tokens: entrada estándar: ")) << result.err;
            EXPECT_TRUE(result.err.ends_with(row.err)) << result.err;
        }
    }
}

TEST(ToolStream, EndlessInputIsRefusedBeforeItIsHeld) {
    // Each ends at the size limit; the tool gives up before holding more than it.
    const std::string beyond = "head -c " + std::to_string((64 << 20) + 1);
    const auto midi = runToolPiped("{ printf MThd; " + beyond + " /dev/zero; }", {"stream"});
    EXPECT_EQ(midi.status, 1);
    EXPECT_EQ(midi.out, "");
    EXPECT_EQ(midi.err, "quenlitor-tokens: entrada estándar: el archivo MIDI pasa de 64 MiB; no se lee\n");

    const auto device = runTool({"check-dictionary", "/dev/zero"});
    EXPECT_EQ(device.status, 2);
    EXPECT_EQ(device.err, "error: /dev/zero: el archivo pasa de 64 MiB; no se lee\n");
    const auto piped = runToolPiped(beyond + " /dev/zero", {"analyze", "--dictionary", "/dev/stdin", "60"});
    EXPECT_EQ(piped.status, 2);
    EXPECT_EQ(piped.err, "error: /dev/stdin: el archivo pasa de 64 MiB; no se lee\n");
}

} // namespace
} // namespace quenlitor::testing
