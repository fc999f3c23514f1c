// `listen`: live capture from the machine's MIDI sources, through the same service and controller
// as the tray application.
#include "CaptureController.hpp"
#include "Commands.hpp"
#include "DictionaryLookup.hpp"
#include "MIDIInputService.hpp"
#include "Output.hpp"
#include "PrintingClipboard.hpp"
#include "platform/alsa/ALSAMIDIPlatform.hpp"
#include "platform/memory/MemoryMainQueue.hpp"

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace quenlitor::tokens {

namespace {

constexpr std::array listenOptions{OptionSpec{"--dictionary", true}, OptionSpec{"--no-title", false},
                                   OptionSpec{"--status", false},     OptionSpec{"--list", false},
                                   OptionSpec{"--source", true}};

constexpr const char* sequencerDevice = "/dev/snd/seq";

// SIGINT and SIGTERM are taken by a thread of their own, which asks the main loop to end; every
// other thread (the MIDI reader among them) inherits the blocked mask.
class QuitSignals {
public:
    explicit QuitSignals(std::shared_ptr<platform::memory::MemoryMainQueue> queue) {
        sigemptyset(&m_signals);
        sigaddset(&m_signals, SIGINT);
        sigaddset(&m_signals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &m_signals, nullptr);
        m_waiter = std::jthread([this, queue = std::move(queue)] {
            int received = 0;
            sigwait(&m_signals, &received);
            queue->post([this] { m_quit = true; });
        });
    }
    ~QuitSignals() {
        if (!m_quit) {
            pthread_kill(m_waiter.native_handle(), SIGTERM); // the waiter returns and posts
        }
    }
    QuitSignals(const QuitSignals&) = delete;
    QuitSignals& operator=(const QuitSignals&) = delete;

    bool quit() const { return m_quit; }

private:
    sigset_t m_signals{};
    bool m_quit = false; // main thread only
    std::jthread m_waiter;
};

bool wanted(const MIDISourceInfo& source, const std::vector<std::string>& names) {
    if (names.empty()) {
        return true;
    }
    return std::any_of(names.begin(), names.end(), [&](const std::string& name) { return source.name.find(name) != std::string::npos; });
}

void printSources(const MIDIInputService& service) {
    for (const MIDISourceInfo& source : service.sources()) {
        const bool connected = service.connected().contains(source.endpoint);
        printLine(std::to_string(source.uniqueID) + "\t" + (connected ? "conectada" : "no conectada") + "\t" + source.name);
    }
}

// The controller that prints each token, and with --status each new status line.
std::shared_ptr<CaptureController> makeController(std::shared_ptr<const ChordRecognizer> recognizer,
                                                  const Arguments& arguments) {
    auto controller = std::make_shared<CaptureController>(TokenGenerator(std::move(recognizer)),
                                                          std::make_shared<PrintingClipboard>(false));
    controller->setIncludeTitle(!arguments.has("--no-title"));
    if (arguments.has("--status")) {
        controller->onChange = [weak = std::weak_ptr(controller), last = std::string()]() mutable {
            if (const auto self = weak.lock(); self && self->status() != last) {
                last = self->status();
                printLine(last);
            }
        };
    }
    return controller;
}

// The service wired as the application wires it; errors go to standard error and set `failed`.
std::shared_ptr<MIDIInputService> makeService(const std::shared_ptr<platform::MainQueue>& queue,
                                              const std::shared_ptr<CaptureController>& controller,
                                              const Arguments& arguments, bool& failed) {
    const auto service = MIDIInputService::create(
        std::make_shared<platform::alsa::ALSAMIDIPlatform>(), queue,
        [names = arguments.values("--source")](const MIDISourceInfo& source) { return wanted(source, names); });
    service->onError = [&failed](const std::string& text) {
        failed = true;
        std::fprintf(stderr, "%s\n", text.c_str());
    };
    service->onMessage = [weak = std::weak_ptr(controller)](const MIDIMessage& message, std::uint32_t source) {
        if (const auto target = weak.lock()) {
            target->receive(message, source);
        }
    };
    service->onDisconnect = [weak = std::weak_ptr(controller)](std::uint32_t) {
        if (const auto target = weak.lock()) {
            target->reset("Entrada desconectada; captura reiniciada.");
        }
    };
    return service;
}

int runListen(const Arguments& arguments) {
    if (!arguments.operands.empty()) {
        throw UsageError("sobra un argumento: " + arguments.operands.front());
    }
    if (::access(sequencerDevice, F_OK) != 0) {
        std::fprintf(stderr, "quenlitor-tokens: no hay secuenciador MIDI de ALSA (%s no existe); carga el módulo snd-seq\n",
                     sequencerDevice);
        return 1;
    }
    const bool listOnly = arguments.has("--list");
    const auto controller = listOnly ? nullptr : makeController(recognizerFor(arguments), arguments);
    const auto queue = std::make_shared<platform::memory::MemoryMainQueue>();
    QuitSignals signals(queue);
    bool failed = false;
    const auto service = makeService(queue, controller, arguments, failed);
    service->start();
    if (listOnly) {
        printSources(*service);
        service->stop();
        return failed ? 1 : 0;
    }
    while (!signals.quit()) {
        queue->waitForTask(std::chrono::hours(1));
        queue->runAll();
    }
    service->stop();
    return 0;
}

} // namespace

const Command listenCommand{
    "listen",
    "captura en vivo de las entradas MIDI del equipo",
    "Uso: quenlitor-tokens listen [--dictionary ARCHIVO] [--no-title] [--status] [--source NOMBRE]...\n"
    "       quenlitor-tokens listen --list [--source NOMBRE]...\n"
    "\n"
    "Escucha todas las entradas MIDI del equipo (secuenciador ALSA) y escribe cada token\n"
    "copiado en una línea, en el momento en que se suelta la última tecla; con --status escribe\n"
    "también cada línea de estado. --source limita la captura a las entradas cuyo nombre\n"
    "contiene el texto (puede repetirse). --list escribe las entradas (identificador, si está\n"
    "conectada, nombre, separados por tabuladores) y termina. Ctrl-C termina limpiamente.\n",
    listenOptions,
    runListen,
};

} // namespace quenlitor::tokens
