#include "QtApplication.hpp"

#include "QtStatusItem.hpp"
#include "TrayHosts.hpp"

#include <QEvent>
#include <QGuiApplication>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <iterator>
#include <string_view>
#include <unistd.h>
#include <utility>

namespace quenlitor::platform::qt {

namespace {

// SIGHUP too: closing the terminal that started the application is a request to quit, not a crash.
constexpr int quitSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The self-pipe: a signal handler may do next to nothing, so it writes one byte, and the event
// loop, watching the other end, quits in its own time.
int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t signalPipeWriteEnd = -1;
struct sigaction previousActions[std::size(quitSignals)];
bool handlersInstalled = false;

void onQuitSignal(int) {
    const int savedErrno = errno;
    const char byte = 0;
    // A full pipe already holds a quit that has not been read.
    [[maybe_unused]] const ssize_t written = ::write(signalPipeWriteEnd, &byte, 1);
    errno = savedErrno;
}

void restoreDispositions() {
    if (!handlersInstalled) {
        return;
    }
    for (std::size_t index = 0; index < std::size(quitSignals); ++index) {
        ::sigaction(quitSignals[index], &previousActions[index], nullptr);
    }
    handlersInstalled = false;
}

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

} // namespace

void preferX11OnWayland() {
    if (isSet("QT_QPA_PLATFORM")) {
        return;
    }
    const char* session = std::getenv("XDG_SESSION_TYPE");
    const bool wayland = isSet("WAYLAND_DISPLAY") || (session != nullptr && std::string_view(session) == "wayland");
    if (wayland && isSet("DISPLAY")) {
        ::setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
}

QtApplication::QtApplication(int& argc, char** argv, TrayHostsMaker makeTrayHosts, QtStatusItem::Patience patience)
    : m_makeTrayHosts(std::move(makeTrayHosts)), m_patience(patience) {
    if (QCoreApplication::instance() == nullptr) {
        preferX11OnWayland();
        m_ownedApplication = std::make_unique<QApplication>(argc, argv);
    }
    // No window of its own, no entry in the task bar: closing a menu must not end the application.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QStringLiteral("quenlitor-midi-texto"));
    m_context = std::make_unique<QObject>();
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, m_context.get(),
                     [this] { finish(); });
    installSignalHandlers();
}

QtApplication::~QtApplication() {
    restoreSignalHandlers();
    m_delegate.reset();
    m_context.reset();
    // What the delegate's menus and tray icon left to deleteLater goes now, while Qt still can.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    m_ownedApplication.reset();
}


int QtApplication::run() {
    if (m_quitRequested) {
        // Asked before the loop ran, the quit may have been consumed by someone processing events.
        finish();
        return 0;
    }
    QMetaObject::invokeMethod(m_context.get(), [this] { launch(); }, Qt::QueuedConnection);
    const int status = QCoreApplication::exec();
    // Should the loop have ended without telling.
    finish();
    return status;
}

void QtApplication::terminate() {
    m_quitRequested = true;
    QMetaObject::invokeMethod(m_context.get(), [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
}

std::shared_ptr<StatusItem> QtApplication::makeStatusItem() {
    auto item = QtStatusItem::create(m_makeTrayHosts ? m_makeTrayHosts() : std::make_shared<SessionTrayHosts>(), m_patience);
    item->onCloseRequested = [weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->terminate();
        }
    };
    std::erase_if(m_statusItems, [](const std::weak_ptr<QtStatusItem>& made) { return made.expired(); });
    m_statusItems.push_back(item);
    return item;
}

void QtApplication::activate() {
    for (const std::weak_ptr<QtStatusItem>& made : m_statusItems) {
        if (const auto item = made.lock()) {
            item->activate();
        }
    }
}

void QtApplication::launch() {
    if (m_launched || m_finished) {
        return;
    }
    m_launched = true;
    if (const std::shared_ptr<ApplicationDelegate> delegate = m_delegate.lock()) {
        delegate->applicationDidFinishLaunching();
    }
}

void QtApplication::finish() {
    if (m_finished) {
        return;
    }
    m_finished = true;
    if (const std::shared_ptr<ApplicationDelegate> delegate = m_delegate.lock()) {
        delegate->applicationWillTerminate();
    }
}

void QtApplication::installSignalHandlers() {
    if (signalPipe[0] >= 0 || ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    signalPipeWriteEnd = signalPipe[1];
    m_handlesSignals = true;
    m_signalNotifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(m_signalNotifier.get(), &QSocketNotifier::activated, m_context.get(), [this] {
        char bytes[64];
        while (::read(signalPipe[0], bytes, sizeof bytes) > 0) {
        }
        restoreDispositions();
        terminate();
    });

    struct sigaction action {};
    action.sa_handler = onQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t index = 0; index < std::size(quitSignals); ++index) {
        ::sigaction(quitSignals[index], nullptr, &previousActions[index]);
        // A signal ignored when the process started (a background job, nohup) stays ignored.
        if (previousActions[index].sa_handler != SIG_IGN) {
            ::sigaction(quitSignals[index], &action, nullptr);
        }
    }
    handlersInstalled = true;
}

void QtApplication::restoreSignalHandlers() {
    if (!m_handlesSignals) {
        return;
    }
    restoreDispositions();
    m_signalNotifier.reset();
    signalPipeWriteEnd = -1;
    ::close(signalPipe[0]);
    ::close(signalPipe[1]);
    signalPipe[0] = signalPipe[1] = -1;
    m_handlesSignals = false;
}

} // namespace quenlitor::platform::qt
