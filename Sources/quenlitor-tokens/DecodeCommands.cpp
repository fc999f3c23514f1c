// `decode` and `gestures`: raw MIDI bytes, as one source, to messages or to finished gestures.
#include "ByteInput.hpp"
#include "Commands.hpp"
#include "MIDIStream.hpp"
#include "Output.hpp"

#include <string>
#include <vector>

namespace quenlitor::tokens {

namespace {

constexpr std::uint32_t source = 0;

std::string inputPath(const Arguments& arguments) {
    if (arguments.operands.size() > 1) {
        throw UsageError("sobra un argumento: " + arguments.operands[1]);
    }
    return arguments.operands.empty() ? std::string{} : arguments.operands.front();
}

// Feeds every decoded message of the input to `receive`, chunk by chunk.
template <typename Receive>
void decodeInput(const Arguments& arguments, Receive&& receive) {
    ByteInput input(inputPath(arguments));
    MIDIStreamDecoder decoder;
    std::vector<MIDIMessage> messages;
    for (auto bytes = input.next(); !bytes.empty(); bytes = input.next()) {
        decoder.decodeEach(bytes, messages, receive);
    }
}

int runDecode(const Arguments& arguments) {
    decodeInput(arguments, [](const MIDIMessage& message) { printLine(toString(message)); });
    return 0;
}

int runGestures(const Arguments& arguments) {
    CaptureSession session;
    decodeInput(arguments, [&](const MIDIMessage& message) {
        if (const auto notes = session.receive(message, source)) {
            std::string line;
            for (const std::ptrdiff_t note : *notes) {
                line += (line.empty() ? "" : " ") + std::to_string(note);
            }
            printLine(line);
        }
    });
    return 0;
}

} // namespace

const Command decodeCommand{
    "decode",
    "decodifica bytes MIDI y escribe un mensaje por línea",
    "Uso: quenlitor-tokens decode [ARCHIVO]\n"
    "\n"
    "Lee bytes MIDI crudos de ARCHIVO (o de la entrada estándar) como una sola fuente y\n"
    "escribe un mensaje decodificado por línea:\n"
    "  noteOn NOTA CANAL, noteOff NOTA CANAL, allNotesOff CANAL, reset\n",
    {},
    runDecode,
};

const Command gesturesCommand{
    "gestures",
    "escribe las notas de cada gesto terminado",
    "Uso: quenlitor-tokens gestures [ARCHIVO]\n"
    "\n"
    "Lee bytes MIDI crudos de ARCHIVO (o de la entrada estándar) como una sola fuente y\n"
    "escribe una línea por gesto terminado (al soltar la última tecla): sus notas en orden\n"
    "ascendente, separadas por espacios.\n",
    {},
    runGestures,
};

} // namespace quenlitor::tokens
