#pragma once

#include <QMenu>
#include <QObject>
#include <QSet>
#include <QString>

namespace quenlitor::platform::qt {

// Who shows a menu now: Qt's own popup of it, the status window, each tray host that draws it
// over D-Bus. The menu is open while one of them shows it, so whoever follows the menu hears one
// story however many views there are:
//
// - every opening of a view is an opening of the menu, rebuilt for it; where other views still
//   show the menu, it closes first, so openings and closings always alternate;
// - the menu closes when its last view does, and never before.
class MenuViews final : public QObject {
    Q_OBJECT

public:
    // The views of `menu`, made with it the first time they are asked for. Qt's popup of the menu
    // is one of them from then on.
    static MenuViews& of(QMenu& menu);

    // `view` starts showing the menu, or shows it anew where it already did (a tray host that
    // opens it again without having said it closed).
    void open(const QString& view);
    // `view` no longer shows the menu; nothing when it did not.
    void close(const QString& view);
    bool isOpen() const { return !m_open.isEmpty(); }
    bool shows(const QString& view) const { return m_open.contains(view); }

Q_SIGNALS:
    void opening();
    void closed();

private:
    explicit MenuViews(QMenu& menu);

    QSet<QString> m_open;
};

} // namespace quenlitor::platform::qt
