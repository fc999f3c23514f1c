// `analyze` and `check-dictionary`: the chord recognizer and its dictionary on the command line.
#include "ChordRecognizer.hpp"
#include "Commands.hpp"
#include "DictionaryLookup.hpp"
#include "Output.hpp"

#include <nlohmann/json.hpp>

#include <array>
#include <string>
#include <vector>

namespace quenlitor::tokens {

namespace {

static_assert(sizeof(std::ptrdiff_t) >= sizeof(long long),
              "every 64-bit note number must reach the recognizer unchanged");

constexpr std::array dictionaryOptions{OptionSpec{"--dictionary", true}};

// One line of compact JSON, keys in a fixed order; absent pitch classes are null.
std::string toJSON(const ChordAnalysis& analysis) {
    using Json = nlohmann::ordered_json;
    const auto pitchClass = [](const std::optional<int>& value) { return value ? Json(*value) : Json(nullptr); };
    Json line;
    line["principal"] = analysis.principal;
    line["alternatives"] = analysis.alternatives;
    line["root"] = pitchClass(analysis.rootPitchClass);
    line["bass"] = pitchClass(analysis.bassPitchClass);
    line["quality"] = analysis.quality;
    line["intervals"] = analysis.intervals.members();
    return line.dump();
}

int runAnalyze(const Arguments& arguments) {
    if (arguments.operands.empty()) {
        throw UsageError("faltan las notas");
    }
    std::vector<std::ptrdiff_t> notes;
    for (const std::string& operand : arguments.operands) {
        notes.push_back(static_cast<std::ptrdiff_t>(parseInteger(operand)));
    }
    printLine(toJSON(recognizerFor(arguments)->analyze(notes)));
    return 0;
}

int runCheckDictionary(const Arguments& arguments) {
    if (arguments.operands.size() > 1) {
        throw UsageError("sobra un argumento: " + arguments.operands[1]);
    }
    if (!arguments.operands.empty() && arguments.has("--dictionary")) {
        throw UsageError("indique el diccionario una sola vez");
    }
    const auto recognizer = arguments.operands.empty() ? recognizerFor(arguments) : loadDictionary(arguments.operands.front());
    printLine(std::to_string(recognizer->patternCount()));
    return 0;
}

} // namespace

const Command analyzeCommand{
    "analyze",
    "nombra el acorde que forman unas notas",
    "Uso: quenlitor-tokens analyze [--dictionary ARCHIVO] NOTA...\n"
    "\n"
    "Nombra el acorde que forman las NOTAs (números de nota MIDI; cualquier entero, también\n"
    "negativo: analyze -1 60 64) con el diccionario de acordes y escribe una línea de JSON:\n"
    "  "
    "{\"principal\":\"Am7\",\"alternatives\":[\"C6\"],\"root\":9,\"bass\":9,\"quality\":\"m7\",\"intervals\":[0,3,7,10]"
    "}\n"
    "root y bass son null cuando no se reconoce ningún acorde. Sin --dictionary se usa el\n"
    "diccionario instalado con la aplicación. '--' termina las opciones.\n"
    "\n"
    "Un diccionario que no se puede leer o que no es válido se indica con 'error: ' y su\n"
    "descripción en la salida de errores (estado 2).\n",
    dictionaryOptions,
    runAnalyze,
};

const Command checkDictionaryCommand{
    "check-dictionary",
    "comprueba un diccionario de acordes y escribe cuántos acordes tiene",
    "Uso: quenlitor-tokens check-dictionary [ARCHIVO]\n"
    "     quenlitor-tokens check-dictionary --dictionary ARCHIVO\n"
    "\n"
    "Carga el diccionario de acordes ARCHIVO (sin él, el instalado con la aplicación) como lo\n"
    "carga la aplicación y escribe el número de acordes. Si no se puede leer o no es válido,\n"
    "escribe 'error: ' y la descripción en la salida de errores y termina con estado 2.\n",
    dictionaryOptions,
    runCheckDictionary,
};

} // namespace quenlitor::tokens
