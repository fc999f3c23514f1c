// `token` and `stream`: notes, or a whole MIDI input, to the tokens that would reach the
// clipboard.
#include "ByteInput.hpp"
#include "CaptureController.hpp"
#include "Commands.hpp"
#include "DictionaryLookup.hpp"
#include "platform/Error.hpp"
#include "Output.hpp"
#include "PrintingClipboard.hpp"
#include "StandardMIDIFile.hpp"
#include "TokenTextNormalizer.hpp"

#include <array>
#include <cstdio>
#include <new>
#include <string>

namespace quenlitor::tokens {

namespace {

constexpr std::array tokenOptions{OptionSpec{"--dictionary", true}, OptionSpec{"--no-title", false}};
constexpr std::array streamOptions{OptionSpec{"--dictionary", true}, OptionSpec{"--no-title", false},
                                   OptionSpec{"--status", false}};

int runToken(const Arguments& arguments) {
    std::vector<std::ptrdiff_t> notes;
    for (const std::string& operand : arguments.operands) {
        notes.push_back(static_cast<std::ptrdiff_t>(parseInteger(operand)));
    }
    const auto recognizer = recognizerFor(arguments);
    try {
        const GeneratedToken token = TokenGenerator(recognizer).generate(notes, !arguments.has("--no-title"));
        printLine(TokenTextNormalizer::token(token.text));
        return 0;
    } catch (const TokenError& error) {
        std::fprintf(stderr, "%s\n", error.errorDescription());
        return 1;
    }
}

// Decoder, session and controller over one source, printing as the messages arrive.
class Pipeline {
public:
    Pipeline(std::shared_ptr<const ChordRecognizer> recognizer, const Arguments& arguments)
        : m_showStatus(arguments.has("--status")),
          m_controller(TokenGenerator(std::move(recognizer)), std::make_shared<PrintingClipboard>(m_showStatus)) {
        m_controller.setIncludeTitle(!arguments.has("--no-title"));
    }

    void feed(std::span<const std::uint8_t> bytes) {
        m_decoder.decodeEach(bytes, m_messages, [this](const MIDIMessage& message) {
            m_controller.receive(message, 0);
            if (m_showStatus) {
                printLine(m_controller.status());
            }
        });
    }

private:
    bool m_showStatus;
    CaptureController m_controller;
    MIDIStreamDecoder m_decoder;
    std::vector<MIDIMessage> m_messages;
};

// A Standard MIDI File's tracks run side by side, so the file is held whole: up to a size that no
// real one reaches, checked as it arrives, since a pipe or a device tells no size beforehand.
void streamStandardMIDIFile(ByteInput& input, std::vector<std::uint8_t> file, Pipeline& pipeline) {
    for (auto bytes = input.next(); !bytes.empty(); bytes = input.next()) {
        if (bytes.size() > maximumMIDIFileSize - file.size()) {
            throw InputError(input.name() + ": el archivo MIDI pasa de " + std::to_string(maximumMIDIFileSize >> 20) +
                             " MiB; no se lee");
        }
        file.insert(file.end(), bytes.begin(), bytes.end());
    }
    StandardMIDIFileReader reader(file);
    std::vector<std::uint8_t> event;
    while (reader.next(event)) {
        pipeline.feed(event);
    }
    if (reader.trackCount() < reader.declaredTrackCount()) {
        std::fflush(stdout);
        std::fprintf(stderr, "quenlitor-tokens: %s: aviso: la cabecera anuncia %zu pistas, pero el archivo solo tiene %zu\n",
                     input.name().c_str(), reader.declaredTrackCount(), reader.trackCount());
    }
}

int runStream(const Arguments& arguments) {
    if (arguments.operands.size() > 1) {
        throw UsageError("sobra un argumento: " + arguments.operands[1]);
    }
    const auto recognizer = recognizerFor(arguments);
    ByteInput input(arguments.operands.empty() ? std::string{} : arguments.operands.front());
    Pipeline pipeline(recognizer, arguments);

    // The first four bytes tell a Standard MIDI File ("MThd") from a raw byte stream.
    std::vector<std::uint8_t> start;
    auto bytes = input.next();
    while (!bytes.empty() && start.size() + bytes.size() < 4) {
        start.insert(start.end(), bytes.begin(), bytes.end());
        bytes = input.next();
    }
    start.insert(start.end(), bytes.begin(), bytes.end());
    if (looksLikeStandardMIDIFile(start)) {
        try {
            streamStandardMIDIFile(input, std::move(start), pipeline);
        } catch (const MIDIFileError& error) {
            finishOutput();
            std::fprintf(stderr, "quenlitor-tokens: %s: %s\n", input.name().c_str(), error.what());
            return 1;
        } catch (const std::bad_alloc&) {
            finishOutput();
            std::fprintf(stderr, "quenlitor-tokens: %s: no hay memoria suficiente para leer el archivo MIDI\n",
                         input.name().c_str());
            return 1;
        }
        return 0;
    }
    pipeline.feed(start);
    for (bytes = input.next(); !bytes.empty(); bytes = input.next()) {
        pipeline.feed(bytes);
    }
    return 0;
}

} // namespace

const Command tokenCommand{
    "token",
    "escribe el token de unas notas, tal como llega al portapapeles",
    "Uso: quenlitor-tokens token [--dictionary ARCHIVO] [--no-title] NOTA...\n"
    "\n"
    "Escribe el token de las notas MIDI dadas (números enteros; 60 es C4), normalizado como\n"
    "llega al portapapeles. Con --no-title se omite el título entre comillas. Si una nota\n"
    "queda fuera de A0..C8 (21..108) o no hay notas, explica el motivo y termina con estado 1.\n",
    tokenOptions,
    runToken,
};

const Command streamCommand{
    "stream",
    "convierte una entrada MIDI completa en tokens, según se toca",
    "Uso: quenlitor-tokens stream [--dictionary ARCHIVO] [--no-title] [--status] [ARCHIVO]\n"
    "\n"
    "Lee bytes MIDI crudos o un archivo MIDI estándar de ARCHIVO o de la entrada estándar,\n"
    "como una sola fuente, y escribe cada token copiado en una línea en el momento en que se\n"
    "suelta la última tecla. Con --status escribe en su lugar la línea de estado tras cada\n"
    "mensaje (\"Tocando: ...\", \"Copiado: ...\").\n"
    "\n"
    "Las pistas de un archivo de formato 0 o 1 se mezclan por tiempo; las de formato 2 suenan\n"
    "una tras otra. Un archivo MIDI dañado se lee hasta donde llega: una pista cortada por el\n"
    "final del archivo, o cuya longitud quedó sin escribir (0 o 0xFFFFFFFF), se lee hasta su\n"
    "fin de pista o el final del archivo. El daño se informa con la posición del byte y termina\n"
    "con estado 1, después de los tokens anteriores al fallo. Si faltan pistas de las que\n"
    "anuncia la cabecera, lo avisa y termina con estado 0; sin ninguna pista, con estado 1.\n"
    "Un archivo MIDI de más de 64 MiB no se lee (estado 1).\n",
    streamOptions,
    runStream,
};

} // namespace quenlitor::tokens
