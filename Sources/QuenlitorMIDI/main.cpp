// Quenlitor MIDI a Texto: the tray application's entry point. It answers --help and --version
// like every command, then picks the desktop and MIDI bindings; everything else is AppDelegate's.
#include "AppDelegate.hpp"
#include "platform/alsa/ALSAMIDIPlatform.hpp"
#include "platform/qt/QtDesktop.hpp"

#include <cstdio>
#include <memory>
#include <string_view>

namespace {

constexpr const char* help =
    "Uso: quenlitor-midi-texto [--autostart | --help | --version]\n"
    "\n"
    "Escucha todos los teclados MIDI del equipo desde la bandeja del sistema. Al soltar la\n"
    "última tecla de un gesto copia al portapapeles el token de las notas tocadas, con su\n"
    "cifrado entre comillas cuando lo reconoce, listo para pegar con Ctrl+V y ver con la\n"
    "fuente Quenlitor Keyboard. Todo se maneja desde el menú de su icono.\n"
    "\n"
    "Donde no hay bandeja del sistema abre una ventana con el mismo menú. Con --autostart\n"
    "(la entrada de inicio automático de la sesión) espera antes 5 s a que el panel arranque.\n"
    "\n"
    "Los ajustes se guardan en $XDG_CONFIG_HOME/quenlitor-midi-texto/ajustes.json.\n";

} // namespace

int main(int argc, char** argv) {
    using namespace quenlitor;

    bool withSession = false;
    if (argc > 1) {
        const std::string_view option = argv[1];
        withSession = option == "--autostart";
        if (option == "--help" || option == "-h") {
            std::fputs(help, stdout);
            return 0;
        }
        if (option == "--version") {
            std::fputs("quenlitor-midi-texto " QUENLITOR_VERSION "\n", stdout);
            return 0;
        }
    }

    platform::Desktop desktop =
        platform::qt::makeQtDesktop(argc, argv, std::make_shared<platform::alsa::ALSAMIDIPlatform>(), withSession);
    const auto delegate = std::make_shared<AppDelegate>(desktop);
    desktop.application->setDelegate(delegate);
    return desktop.application->run();
}
