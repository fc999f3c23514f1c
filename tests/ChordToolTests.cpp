// `analyze` and `check-dictionary` as scripts use them: exact output lines and exit statuses.
#include "support/RunTool.hpp"

#include <gtest/gtest.h>

#include <iterator>

namespace quenlitor::testing {
namespace {

constexpr std::string_view oneChord = R"({"chords": [{"nombre": "", "obligatorias": [0, 4, 7]}]})";

// Names are escaped only where JSON requires it.
TEST(ToolAnalyze, PrintsOneLineOfCompactJSON) {
    TemporaryDirectory directory;
    const std::string dictionary = directory.write("acordes.json", std::string(oneChord)).string();
    const std::string quoted =
        directory.write("comillas.json", R"({"chords": [{"nombre": "q\"\\/Δé", "obligatorias": [4, 7]}]})").string();
    struct Case {
        std::initializer_list<std::string> args;
        std::string out;
    };
    const Case cases[] = {
        {{"analyze", "57", "60", "64", "67"},
         R"({"principal":"Am7","alternatives":["C6"],"root":9,"bass":9,"quality":"m7","intervals":[0,3,7,10]})"},
        {{"analyze", "60", "61", "62"},
         R"({"principal":"","alternatives":[],"root":null,"bass":null,"quality":"","intervals":[]})"},
        {{"analyze", "-1", "60", "64"},
         R"({"principal":"CΔ","alternatives":[],"root":0,"bass":11,"quality":"Δ","intervals":[0,4,11]})"},
        {{"analyze", "9223372036854775807", "-9223372036854775808", "+0"},
         R"({"principal":"C/E","alternatives":[],"root":0,"bass":4,"quality":"","intervals":[0,4,7]})"},
        {{"analyze", "64", "--dictionary", dictionary, "67", "72"},
         R"({"principal":"C/E","alternatives":[],"root":0,"bass":4,"quality":"","intervals":[0,4,7]})"},
        {{"analyze", "--dictionary=" + dictionary, "--", "-1", "3", "6"},
         R"({"principal":"B","alternatives":[],"root":11,"bass":11,"quality":"","intervals":[0,4,7]})"},
        {{"analyze", "--dictionary", quoted, "48", "52", "55"},
         R"({"principal":"Cq\"\\/Δé","alternatives":[],"root":0,"bass":0,"quality":"q\"\\/Δé","intervals":[0,4,7]})"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(*std::next(c.args.begin()));
        const auto result = runTool(c.args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, c.out + "\n");
        EXPECT_EQ(result.err, "");
    }
}

TEST(ToolAnalyze, NotesMustBeSixtyFourBitIntegers) {
    for (const char* note : {"abc", "6x", "1.5", "+", "0x10", "99999999999999999999", "-9223372036854775809"}) {
        SCOPED_TRACE(note);
        const auto result = runTool({"analyze", "60", note, "67"});
        EXPECT_EQ(result.status, 2);
        EXPECT_EQ(result.out, "");
        EXPECT_NE(result.err.find(note), std::string::npos);
        EXPECT_NE(result.err.find("Uso: quenlitor-tokens analyze"), std::string::npos);
    }
    const auto none = runTool({"analyze"});
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.err.find("faltan las notas"), std::string::npos);
    const auto option = runTool({"analyze", "-x", "60"});
    EXPECT_EQ(option.status, 2);
    EXPECT_NE(option.err.find("opción desconocida: -x"), std::string::npos);
}

// Each description is tested where it is made (XdgTests, ChordRecognizerTests); here, that the
// three ways of naming a dictionary print it after "error: " with status 2.
TEST(ToolChords, DictionaryFailuresGiveTheirDescription) {
    TemporaryDirectory directory;
    struct Case {
        std::string file;
        std::string err;
    };
    const Case cases[] = {
        {"/no/existe.json", "error: /no/existe.json: No such file or directory\n"},
        {directory.write("roto.json", R"({"chords": [{"is_custom": 1}]})").string(),
         "error: El diccionario de acordes tiene un valor de tipo incorrecto en chords[0].is_custom.\n"},
        {directory.write("desborde.json", R"({"chords": [{"nombre": "x"}], "extra": 1E400})").string(),
         "error: El diccionario de acordes tiene un número demasiado grande en extra.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        for (const auto& args :
             {std::initializer_list<std::string>{"analyze", "--dictionary", c.file, "60", "64", "67"},
              {"check-dictionary", c.file},
              {"check-dictionary", "--dictionary", c.file}}) {
            const auto result = runTool(args);
            EXPECT_EQ(result.status, 2);
            EXPECT_EQ(result.out, "");
            EXPECT_EQ(result.err, c.err);
        }
    }
}

TEST(ToolCheckDictionary, PrintsTheNumberOfEntries) {
    TemporaryDirectory directory;
    const std::string dictionary = directory.write("acordes.json", std::string(oneChord)).string();
    for (const auto& args : {std::initializer_list<std::string>{"check-dictionary", dictionary},
                             {"check-dictionary", "--dictionary", dictionary}}) {
        const auto result = runTool(args);
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, "1\n");
    }
    EXPECT_EQ(runTool({"check-dictionary", dictionary, dictionary}).status, 2);
    EXPECT_EQ(runTool({"check-dictionary", "--dictionary", dictionary, dictionary}).status, 2);
}

// The tool looks its dictionary up as the application does (the order is XdgTests'): here, that
// an installed one comes before the build's copy.
TEST(ToolChords, InstalledDictionaryComesBeforeTheBuildsCopy) {
    TemporaryDirectory home;
    home.write("quenlitor-midi-texto/diccionario_acordes.json",
               R"({"chords": [{"nombre": "personal", "obligatorias": [4, 7]}, {}]})");
    {
        const ScopedEnvironment dataHome("XDG_DATA_HOME", home.path().string());
        EXPECT_EQ(runTool({"analyze", "60", "64", "67"}).out.rfind(R"({"principal":"Cpersonal",)", 0), 0u);
        EXPECT_EQ(runTool({"check-dictionary"}).out, "2\n");
    }
    EXPECT_EQ(runTool({"check-dictionary"}).out, "110\n");
}

} // namespace
} // namespace quenlitor::testing
