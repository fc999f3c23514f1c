#pragma once

#include <QCoreApplication>
#include <QObject>

#include <memory>

namespace quenlitor::platform::qt {

// Deletes a Qt object through the event loop. Menus and actions are often released from inside
// one of their own signals (a command that rebuilds the menu it was chosen from), and any object
// may be released on another thread; deleteLater is safe in both cases. Once the application
// object is gone nothing of Qt can be deleted safely, and the process is ending: the object is
// left to it.
struct DeleteLater {
    void operator()(QObject* object) const noexcept {
        if (object != nullptr && QCoreApplication::instance() != nullptr) {
            object->deleteLater();
        }
    }
};

template <typename T>
using QtOwned = std::unique_ptr<T, DeleteLater>;

} // namespace quenlitor::platform::qt
