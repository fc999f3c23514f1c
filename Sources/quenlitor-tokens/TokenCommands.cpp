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
        m_messages.clear();
        m_decoder.decode(bytes, m_messages);
        for (const MIDIMessage& message : m_messages) {
            m_controller.receive(message, 0);
            if (m_showStatus) {
                printLine(m_controller.status());
            }
        }
    }

private:
    bool m_showStatus;
    CaptureController m_controller;
    MIDIStreamDecoder m_decoder;
    std::vector<MIDIMessage> m_messages;
};

void streamStandardMIDIFile(ByteInput& input, std::vector<std::uint8_t> file, Pipeline& pipeline) {
    for (auto bytes = input.next(); !bytes.empty(); bytes = input.next()) {
        file.insert(file.end(), bytes.begin(), bytes.end());
    }
    StandardMIDIFileReader reader(file);
    std::vector<std::uint8_t> event;
    while (reader.next(event)) {
        pipeline.feed(event);
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
    "Lee bytes MIDI crudos o un archivo MIDI estándar (formatos 0 y 1) de ARCHIVO o de la\n"
    "entrada estándar, como una sola fuente, y escribe cada token copiado en una línea en el\n"
    "momento en que se suelta la última tecla. Con --status escribe en su lugar la línea de\n"
    "estado tras cada mensaje (\"Tocando: ...\", \"Copiado: ...\"). Un archivo MIDI dañado se\n"
    "informa con la posición del byte y termina con estado 1, después de los tokens\n"
    "anteriores al fallo.\n",
    streamOptions,
    runStream,
};

} // namespace quenlitor::tokens
