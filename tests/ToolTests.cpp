// The command-line tool as scripts use it: exact output lines and exit statuses.
#include "support/RunTool.hpp"

namespace quenlitor::testing {
namespace {

// Every command's exact lines: mistakes in the command line give 2, as do dictionaries that cannot
// be used (each description is tested where it is made), files that cannot be read 1. What the
// token says is TokenGeneratorTests' table; here, that notes and options pass through.
TEST(Tool, CommandsPrintExactLinesAndStatuses) {
    const TemporaryDirectory directory;
    const std::string file = directory.write("notas.mid", bytes({0x9F, 0x30, 0x7F}));
    const std::string dictionary = directory.write("acordes.json", R"({"chords": [{"nombre": "", "obligatorias": [0, 4, 7]}]})");
    const std::string quoted = directory.write("comillas.json", R"({"chords": [{"nombre": "q\"\\/Δé", "obligatorias": [4, 7]}]})");
    const std::string broken = directory.write("roto.json", R"({"chords": [{"is_custom": 1}]})");
    const std::string overflow = directory.write("desborde.json", R"({"chords": [{"nombre": "x"}], "extra": 1E400})");
    const std::string empty = directory.write("vacio.json", R"({"chords": []})");
    const auto misuse = [](const std::string& message, const std::string& usage) {
        return "quenlitor-tokens: " + message + "\n\nUso: quenlitor-tokens " + usage;
    };
    const std::string cE = R"({"principal":"C/E","alternatives":[],"root":0,"bass":4,"quality":"","intervals":[0,4,7]})" "\n";
    std::vector<ToolCase> cases{
        {.args = {"decode"}, .in = bytes({0x90, 0x3C, 0x64, 0x40, 0x00, 0xF8, 0xB9, 0x7B, 0x00, 0xFF}),
         .out = "noteOn 60 0\nnoteOff 64 0\nallNotesOff 9\nreset\n"},
        {.args = {"decode", file}, .out = "noteOn 48 15\n"},
        {.args = {"gestures"},
         .in = bytes({0x90, 67, 100, 60, 100, 64, 100, 0x80, 60, 0, 64, 0, 67, 0, 0x90, 72, 100, 0xB0, 123, 0, 0x90, 50, 100, 50, 0}),
         .out = "60 64 67\n50\n"},
        {.args = {"--version"}, .out = "quenlitor-tokens " QUENLITOR_VERSION "\n"},
        {.args = {}, .status = 2, .err = misuse("falta la orden", "ORDEN")},
        {.args = {"descifra"}, .status = 2, .err = misuse("orden desconocida: descifra", "ORDEN")},
        {.args = {"decode", "--rapido"}, .status = 2, .err = misuse("opción desconocida: --rapido", "decode")},
        {.args = {"decode", "a", "b"}, .status = 2, .err = misuse("sobra un argumento: b", "decode")},
        {.args = {"gestures", "/no/existe.mid"}, .status = 1, .err = "quenlitor-tokens: /no/existe.mid: No such file or directory\n"},
        {.args = {"decode", "/"}, .status = 1, .err = "quenlitor-tokens: /: Is a directory\n"},
        // A value is taken verbatim, dash or not: "--help" is a text to normalize, not a request for help.
        {.args = {"normalize", "--title", " C∆9 "}, .out = "Cmaj9\n"},
        {.args = {"normalize", "--token", "“CΔ” C4 E G ."}, .out = "\"Cmaj7\" C4 E G .\n"},
        {.args = {"normalize", "--token", "C4\tE4\n."}, .out = "C4 E4 .\n"},
        {.args = {"normalize", "--title", "-x"}, .out = "-x\n"},
        {.args = {"normalize", "--title=-x"}, .out = "-x\n"},
        {.args = {"normalize", "--title", "--help"}, .out = "--help\n"},
        {.args = {"normalize", "--title="}, .out = "\n"},
        {.args = {"normalize", "--title", "C\xFF\xCE"}, .out = "C\uFFFD\uFFFD\n"},
        {.args = {"normalize"}, .status = 2, .err = misuse("falta --title o --token", "normalize")},
        {.args = {"normalize", "--title", "a", "--token", "b"}, .status = 2, .err = misuse("indique una sola vez --title o --token", "normalize")},
        {.args = {"normalize", "--title", "a", "b"}, .status = 2, .err = misuse("sobra un argumento: b", "normalize")},
        {.args = {"normalize", "--title"}, .status = 2, .err = misuse("falta el valor de --title", "normalize")},
        {.args = {"normalize", "--texto", "a"}, .status = 2, .err = misuse("opción desconocida: --texto", "normalize")},
        // Names are escaped only where JSON requires it; notes are any 64-bit integers.
        {.args = {"analyze", "57", "60", "64", "67"},
         .out = R"({"principal":"Am7","alternatives":["C6"],"root":9,"bass":9,"quality":"m7","intervals":[0,3,7,10]})" "\n"},
        {.args = {"analyze", "60", "61", "62"},
         .out = R"({"principal":"","alternatives":[],"root":null,"bass":null,"quality":"","intervals":[]})" "\n"},
        {.args = {"analyze", "-1", "60", "64"},
         .out = R"({"principal":"CΔ","alternatives":[],"root":0,"bass":11,"quality":"Δ","intervals":[0,4,11]})" "\n"},
        {.args = {"analyze", "9223372036854775807", "-9223372036854775808", "+0"}, .out = cE},
        {.args = {"analyze", "64", "--dictionary", dictionary, "67", "72"}, .out = cE},
        {.args = {"analyze", "--dictionary=" + dictionary, "--", "-1", "3", "6"},
         .out = R"({"principal":"B","alternatives":[],"root":11,"bass":11,"quality":"","intervals":[0,4,7]})" "\n"},
        {.args = {"analyze", "--dictionary", quoted, "48", "52", "55"},
         .out = R"({"principal":"Cq\"\\/Δé","alternatives":[],"root":0,"bass":0,"quality":"q\"\\/Δé","intervals":[0,4,7]})" "\n"},
        {.args = {"analyze"}, .status = 2, .err = misuse("faltan las notas", "analyze")},
        {.args = {"analyze", "-x", "60"}, .status = 2, .err = misuse("opción desconocida: -x", "analyze")},
        {.args = {"analyze", "--dictionary", "/no/existe.json", "60"}, .status = 2, .err = "error: /no/existe.json: No such file or directory\n"},
        {.args = {"check-dictionary", dictionary}, .out = "1\n"},
        {.args = {"check-dictionary", "--dictionary", dictionary}, .out = "1\n"},
        {.args = {"check-dictionary", "--dictionary", dictionary, dictionary}, .status = 2,
         .err = misuse("indique el diccionario una sola vez", "check-dictionary")},
        {.args = {"check-dictionary", broken}, .status = 2,
         .err = "error: El diccionario de acordes tiene un valor de tipo incorrecto en chords[0].is_custom.\n"},
        {.args = {"check-dictionary", "--dictionary", overflow}, .status = 2,
         .err = "error: El diccionario de acordes tiene un número demasiado grande en extra.\n"},
        {.args = {"token", "60"}, .out = "\"C4\" C4 .\n"},
        {.args = {"token", "--no-title", "60"}, .out = "C4 .\n"},
        {.args = {"token", "71", "64", "60", "67"}, .out = "\"Cmaj7\" C4 E G B .\n"},
        {.args = {"token", "36", "60", "64", "67", "70", "--no-title"}, .out = "C2 C4 E G Bb .\n"},
        {.args = {"token", "60", "109"}, .status = 1, .err = "La fuente admite de A0 a C8. El token no se copió.\n"},
        {.args = {"token"}, .status = 1, .err = "No hay notas para copiar.\n"},
        {.args = {"token", "--dictionary", empty, "60"}, .status = 2, .err = "error: El diccionario de acordes está vacío.\n"},
        {.args = {"token", "sesenta"}, .status = 2, .err = misuse("no es un número de nota: sesenta", "token")},
    };
    for (const std::string note : {"abc", "6x", "1.5", "+", "0x10"}) {
        cases.push_back({.args = {"analyze", "60", note, "67"}, .status = 2, .err = misuse("no es un número de nota: " + note, "analyze")});
    }
    for (const std::string note : {"99999999999999999999", "-9223372036854775809"}) {
        cases.push_back({.args = {"analyze", "60", note}, .status = 2, .err = misuse("número de nota fuera de rango: " + note, "analyze")});
    }
    expectRuns(cases);
}

TEST(Tool, HelpListsEachCommand) {
    const auto help = runTool({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const std::string command : {"decode", "gestures", "analyze", "check-dictionary", "token", "normalize", "stream"}) {
        EXPECT_NE(help.out.find("\n  " + command + " "), std::string::npos) << command;
        const auto result = runTool({command, command == "gestures" ? "-h" : "--help"});
        EXPECT_EQ(result.status, 0);
        EXPECT_TRUE(result.out.starts_with("Uso: quenlitor-tokens " + command + " ")) << result.out;
    }
}

TEST(Tool, LargeInputStreamsThroughChunkBoundaries) {
    std::string input = bytes({0x90}), expected; // 200,000 note pairs by running status, far more than one read
    for (int i = 0; i < 200000; ++i) {
        input += bytes({60, 100, 60, 0});
        expected += "60\n";
    }
    expectRuns({{.args = {"gestures"}, .in = input, .out = expected}});
}

// The tool looks its dictionary up as the application does (the order is XdgTests'): here, that
// an installed one comes before the build's copy.
TEST(ToolChords, InstalledDictionaryComesBeforeTheBuildsCopy) {
    const TemporaryDirectory home;
    home.write("quenlitor-midi-texto/diccionario_acordes.json",
               R"({"chords": [{"nombre": "personal", "obligatorias": [4, 7]}, {}]})");
    {
        const ScopedEnvironment dataHome("XDG_DATA_HOME", home.path().string());
        EXPECT_TRUE(runTool({"analyze", "60", "64", "67"}).out.starts_with(R"({"principal":"Cpersonal",)"));
        EXPECT_EQ(runTool({"check-dictionary"}).out, "2\n");
    }
    EXPECT_EQ(runTool({"check-dictionary"}).out, "110\n");
}

std::string bigEndian32(std::uint32_t n) { return bytes({int(n >> 24), int(n >> 16 & 0xFF), int(n >> 8 & 0xFF), int(n & 0xFF)}); }

// A Standard MIDI File chunk: type, big-endian length, body.
std::string chunk(const std::string& type, const std::string& body) {
    return type + bigEndian32(static_cast<std::uint32_t>(body.size())) + body;
}

std::string header(int format, int tracks) { return chunk("MThd", bytes({0, format, 0, tracks, 0, 96})); }

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
    const std::string both = "\"C4\" C4 .\n\"E4\" E4 .\n";
    const std::string at = "quenlitor-tokens: entrada estándar: archivo MIDI no válido en el byte ";
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
        {stream, header(0, 1) + "MTrk" + bigEndian32(20) + events.substr(0, 12), 1, "\"C4\" C4 .\n", at + "34" + cut},
        {stream, header(0, 1) + "MTrk" + bigEndian32(20) + events.substr(0, 10), 1, "\"C4\" C4 .\n", at + "32" + cut},
        {.args = stream, .in = header(0, 1) + "MTrk" + bigEndian32(0xFFFFFFFF) + events, .status = 1, .out = both,
         .err = at + "18: la pista declara 4294967295 bytes, pero su fin de pista acaba en el byte 42\n"},
        {.args = stream, .in = header(1, 2) + "MTrk" + bigEndian32(0) + events + later, .status = 1,
         .out = both + "\"G4\" G4 .\n", .err = at + "18: la pista declara 0 bytes, pero su fin de pista acaba en el byte 42\n"},
        {.args = stream, .in = header(1, 2) + chunk("MTrk", "") + later, .out = "\"G4\" G4 .\n"},
        {.args = stream, .in = header(1, 2) + heldLong + heldShort, .out = "\"3M\" C4 E .\n"},
        {.args = stream, .in = header(2, 2) + heldLong + heldShort, .out = both},
        {stream, header(1, 3) + later, 0, "\"G4\" G4 .\n",
         "quenlitor-tokens: entrada estándar: aviso: la cabecera anuncia 3 pistas, pero el archivo solo tiene 1\n"},
        {stream, header(0, 1) + later + "MTr", 1, "\"G4\" G4 .\n", at + "34: cabecera de bloque incompleta\n"},
        {stream, header(0, 1) + chunk("XFIH", "otra cosa"), 1, "", at + "31: no hay ninguna pista (ningún bloque MTrk)\n"},
        {stream, header(3, 1) + later, 1, "", at + "8: formato 3 no admitido (solo 0, 1 y 2)\n"},
        {stream, header(0, 1) + statusless, 1, "\"C4\" C4 .\n", at + "35: dato sin byte de estado\n"},
        {stream, header(1, 1).substr(0, 10), 1, "", at + "10: la cabecera está incompleta\n"},
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
