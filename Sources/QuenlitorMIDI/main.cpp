// Quenlitor MIDI a Texto: the tray application's entry point. It picks the desktop and MIDI
// bindings; everything else is AppDelegate's.
#include "AppDelegate.hpp"
#include "platform/alsa/ALSAMIDIPlatform.hpp"
#include "platform/qt/QtDesktop.hpp"

#include <chrono>
#include <cstdio>
#include <memory>

int main(int argc, char** argv) {
    using namespace quenlitor;

    platform::Desktop desktop =
        platform::qt::makeQtDesktop(argc, argv, std::make_shared<platform::alsa::ALSAMIDIPlatform>());
    // Started with the session, the application may come up before the panel: give the tray a
    // moment before deciding there is none, rather than running where nobody can see it.
    if (!platform::qt::systemTrayAvailable(std::chrono::seconds(5))) {
        std::fputs("quenlitor-midi-texto: no hay bandeja del sistema en este escritorio; activa un área de "
                   "notificación (por ejemplo, la extensión AppIndicator en GNOME) y vuelve a abrirlo.\n",
                   stderr);
        return 1;
    }
    const auto delegate = std::make_shared<AppDelegate>(desktop);
    desktop.application->setDelegate(delegate);
    return desktop.application->run();
}
