// `token` and `stream` as scripts use them: the exact lines that would reach the clipboard.
#include "support/RunTool.hpp"

namespace quenlitor::testing {
namespace {

std::string bigEndian32(std::uint32_t n) { return bytes({int(n >> 24), int(n >> 16 & 0xFF), int(n >> 8 & 0xFF), int(n & 0xFF)}); }

// A Standard MIDI File chunk: type, big-endian length, body.
std::string chunk(const std::string& type, const std::string& body) {
    return type + bigEndian32(static_cast<std::uint32_t>(body.size())) + body;
}

std::string header(int format, int tracks) { return chunk("MThd", bytes({0, format, 0, tracks, 0, 96})); }

// What the token says is TokenGeneratorTests' table; here, that the tool passes notes and the
// option through and prints the normalised token, or says why not.
TEST(ToolToken, PrintsTheTokenAsCopiedOrWhyNot) {
    const TemporaryDirectory directory;
    const std::string empty = directory.write("vacio.json", R"({"chords": []})");
    expectRuns({
        {.args = {"token", "60"}, .out = "\"C4\" C4 .\n"},
        {.args = {"token", "--no-title", "60"}, .out = "C4 .\n"},
        {.args = {"token", "71", "64", "60", "67"}, .out = "\"Cmaj7\" C4 E G B .\n"},
        {.args = {"token", "36", "60", "64", "67", "70", "--no-title"}, .out = "C2 C4 E G Bb .\n"},
        {.args = {"token", "60", "109"}, .status = 1, .err = "La fuente admite de A0 a C8. El token no se copió.\n"},
        {.args = {"token"}, .status = 1, .err = "No hay notas para copiar.\n"},
        {.args = {"token", "--dictionary", empty, "60"}, .status = 2, .err = "error: El diccionario de acordes está vacío.\n"},
        {.args = {"token", "sesenta"}, .status = 2, .err = "quenlitor-tokens: no es un número de nota: sesenta\n\nUso"},
    });
}

// Raw bytes, or a Standard MIDI File read as far as it goes: its tracks merged in time order
// (format 1) or one after another (format 2), a meta event's 0xFF never reaching the decoder.
TEST(ToolStream, GivesOneLinePerGesture) {
    const std::string raw = bytes({0x90, 60, 100, 64, 100, 67, 100, 0x80, 60, 0, 64, 0, 67, 0, //
                                   0x90, 60, 100, 60, 0, 0x90, 20, 100, 20, 0});
    // C4 from tick 0 to 96 and E4 from 48 (running status); G4 from 48 in the other track.
    const std::string track1 = chunk("MTrk", bytes({0x00, 0x90, 60, 100, 0x30, 64, 100, 0x30, 0x80, 60, 0, 0x00, 64, 0,
                                                    0x00, 0xFF, 0x2F, 0x00}));
    const std::string track2 = chunk("MTrk", bytes({0x00, 0xFF, 0x03, 0x03, 'P', 'n', 'o', 0x30, 0x90, 67, 100, 0x30, 0x80,
                                                    67, 0, 0x00, 0xF0, 0x02, 0x01, 0xF7, 0x00, 0xFF, 0x2F, 0x00}));
    // C4 from tick 0 to 16, E4 from 16 to 32, the end of track: 20 bytes from byte 22.
    const std::string events = bytes({0x00, 0x90, 60, 100, 0x10, 0x80, 60, 0, 0x00, 0x90, 64, 100, 0x10, 0x80, 64, 0,
                                      0x00, 0xFF, 0x2F, 0x00});
    const std::string later = chunk("MTrk", bytes({0x40, 0x90, 67, 100, 0x10, 0x80, 67, 0, 0x00, 0xFF, 0x2F, 0x00}));
    const std::string heldLong = chunk("MTrk", bytes({0x00, 0x90, 60, 100, 0x20, 0x80, 60, 0, 0x00, 0xFF, 0x2F, 0x00}));
    const std::string heldShort = chunk("MTrk", bytes({0x00, 0x90, 64, 100, 0x10, 0x80, 64, 0, 0x00, 0xFF, 0x2F, 0x00}));
    // One gesture, a meta event (which cancels running status), then a data byte at byte 35.
    const std::string statusless = chunk("MTrk", bytes({0x00, 0x90, 60, 100, 0x10, 0x80, 60, 0, 0x00, 0xFF, 0x01, 0x00,
                                                        0x00, 0x40, 0x00}));
    const TemporaryDirectory directory;
    const std::string file = directory.write("cancion.mid", header(0, 1) + track1);
    const std::string both = "\"C4\" C4 .\n\"E4\" E4 .\n", at = "quenlitor-tokens: entrada estándar: archivo MIDI no válido en el byte ";
    const std::string cut = ": el archivo se corta antes del final de la pista que empieza en el byte 14\n";
    const std::vector<std::string> stream{"stream"};
    expectRuns({
        {.args = stream, .in = raw, .out = "\"C\" C4 E G .\n\"C4\" C4 .\n"},
        {.args = {"stream", "--no-title"}, .in = raw, .out = "C4 E G .\nC4 .\n"},
        {.args = {"stream", "--status"}, .in = bytes({0x90, 60, 100, 64, 100, 0x80, 60, 0, 64, 0, 0x90, 20, 1, 20, 0}),
         .out = "Tocando: C4\nTocando: C4 · E4\nTocando: E4\nCopiado: 3M\nTocando: Ab0\n"
                "La fuente admite de A0 a C8. El token no se copió.\n"},
        {.args = stream, .in = header(1, 2) + track1 + track2, .out = "\"C\" C4 E G .\n"},
        {.args = {"stream", file}, .out = "\"3M\" C4 E .\n"},
        {.args = stream, .in = header(0, 1) + "MTrk" + bigEndian32(20) + events.substr(0, 12), .status = 1,
         .out = "\"C4\" C4 .\n", .err = at + "34" + cut},
        {.args = stream, .in = header(0, 1) + "MTrk" + bigEndian32(20) + events.substr(0, 10), .status = 1,
         .out = "\"C4\" C4 .\n", .err = at + "32" + cut},
        {.args = stream, .in = header(0, 1) + "MTrk" + bigEndian32(0xFFFFFFFF) + events, .status = 1, .out = both,
         .err = at + "18: la pista declara 4294967295 bytes, pero su fin de pista acaba en el byte 42\n"},
        {.args = stream, .in = header(1, 2) + "MTrk" + bigEndian32(0) + events + later, .status = 1,
         .out = both + "\"G4\" G4 .\n", .err = at + "18: la pista declara 0 bytes, pero su fin de pista acaba en el byte 42\n"},
        {.args = stream, .in = header(1, 2) + chunk("MTrk", "") + later, .out = "\"G4\" G4 .\n"},
        {.args = stream, .in = header(1, 2) + heldLong + heldShort, .out = "\"3M\" C4 E .\n"},
        {.args = stream, .in = header(2, 2) + heldLong + heldShort, .out = both},
        {.args = stream, .in = header(1, 3) + later, .out = "\"G4\" G4 .\n",
         .err = "quenlitor-tokens: entrada estándar: aviso: la cabecera anuncia 3 pistas, pero el archivo solo tiene 1\n"},
        {.args = stream, .in = header(0, 1) + later + "MTr", .status = 1, .out = "\"G4\" G4 .\n",
         .err = at + "34: cabecera de bloque incompleta\n"},
        {.args = stream, .in = header(0, 1) + chunk("XFIH", "otra cosa"), .status = 1,
         .err = at + "31: no hay ninguna pista (ningún bloque MTrk)\n"},
        {.args = stream, .in = header(3, 1) + later, .status = 1, .err = at + "8: formato 3 no admitido (solo 0, 1 y 2)\n"},
        {.args = stream, .in = header(0, 1) + statusless, .status = 1, .out = "\"C4\" C4 .\n",
         .err = at + "35: dato sin byte de estado\n"},
        {.args = stream, .in = header(1, 1).substr(0, 10), .status = 1, .err = at + "10: la cabecera está incompleta\n"},
    });
}

// Each ends at the size limit; the tool gives up before holding more than it.
TEST(ToolStream, EndlessInputIsRefusedBeforeItIsHeld) {
    const std::string beyond = "head -c " + std::to_string((64 << 20) + 1);
    const auto midi = runTool({"stream"}, {}, "{ printf MThd; " + beyond + " /dev/zero; }");
    EXPECT_EQ(std::tuple(midi.status, midi.out, midi.err),
              std::tuple(1, "", "quenlitor-tokens: entrada estándar: el archivo MIDI pasa de 64 MiB; no se lee\n"));
    const auto device = runTool({"check-dictionary", "/dev/zero"});
    EXPECT_EQ(std::tuple(device.status, device.err), std::tuple(2, "error: /dev/zero: el archivo pasa de 64 MiB; no se lee\n"));
    const auto piped = runTool({"analyze", "--dictionary", "/dev/stdin", "60"}, {}, beyond + " /dev/zero");
    EXPECT_EQ(std::tuple(piped.status, piped.err), std::tuple(2, "error: /dev/stdin: el archivo pasa de 64 MiB; no se lee\n"));
}

} // namespace
} // namespace quenlitor::testing
