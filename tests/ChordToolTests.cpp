// `analyze` and `check-dictionary` as scripts use them: exact output lines and exit statuses.
#include "support/RunTool.hpp"

namespace quenlitor::testing {
namespace {

// Names are escaped only where JSON requires it; notes are any 64-bit integers.
TEST(ToolAnalyze, PrintsOneLineOfCompactJSON) {
    const TemporaryDirectory directory;
    const std::string dictionary = directory.write("acordes.json", R"({"chords": [{"nombre": "", "obligatorias": [0, 4, 7]}]})");
    const std::string quoted = directory.write("comillas.json", R"({"chords": [{"nombre": "q\"\\/Δé", "obligatorias": [4, 7]}]})");
    const std::string cE = R"({"principal":"C/E","alternatives":[],"root":0,"bass":4,"quality":"","intervals":[0,4,7]})" "\n";
    const std::string usage = "\n\nUso: quenlitor-tokens analyze";
    std::vector<ToolCase> cases{
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
        {.args = {"analyze"}, .status = 2, .err = "quenlitor-tokens: faltan las notas" + usage},
        {.args = {"analyze", "-x", "60"}, .status = 2, .err = "quenlitor-tokens: opción desconocida: -x" + usage},
        {.args = {"check-dictionary", dictionary}, .out = "1\n"},
        {.args = {"check-dictionary", "--dictionary", dictionary}, .out = "1\n"},
        {.args = {"check-dictionary", "--dictionary", dictionary, dictionary}, .status = 2,
         .err = "quenlitor-tokens: indique el diccionario una sola vez\n\nUso: quenlitor-tokens check-dictionary"},
    };
    for (const std::string note : {"abc", "6x", "1.5", "+", "0x10"}) {
        cases.push_back({.args = {"analyze", "60", note, "67"}, .status = 2,
                         .err = "quenlitor-tokens: no es un número de nota: " + note + usage});
    }
    for (const std::string note : {"99999999999999999999", "-9223372036854775809"}) {
        cases.push_back({.args = {"analyze", "60", note}, .status = 2,
                         .err = "quenlitor-tokens: número de nota fuera de rango: " + note + usage});
    }
    expectRuns(cases);
}

// Each description is tested where it is made (XdgTests, ChordRecognizerTests); here, that the
// three ways of naming a dictionary print it after "error: " with status 2.
TEST(ToolChords, DictionaryFailuresGiveTheirDescription) {
    const TemporaryDirectory directory;
    std::vector<ToolCase> cases;
    for (const auto& [file, err] : std::vector<std::pair<std::string, std::string>>{
             {"/no/existe.json", "/no/existe.json: No such file or directory"},
             {directory.write("roto.json", R"({"chords": [{"is_custom": 1}]})"),
              "El diccionario de acordes tiene un valor de tipo incorrecto en chords[0].is_custom."},
             {directory.write("desborde.json", R"({"chords": [{"nombre": "x"}], "extra": 1E400})"),
              "El diccionario de acordes tiene un número demasiado grande en extra."}}) {
        for (std::vector<std::string> args : {std::vector<std::string>{"analyze", "--dictionary", file, "60"},
                                              {"check-dictionary", file}, {"check-dictionary", "--dictionary", file}}) {
            cases.push_back({.args = args, .status = 2, .err = "error: " + err + "\n"});
        }
    }
    expectRuns(cases);
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

} // namespace
} // namespace quenlitor::testing
