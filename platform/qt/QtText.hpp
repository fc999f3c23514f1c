#pragma once

#include <QString>
#include <QTextDocument>

#include <string>
#include <string_view>

// Texts of the application on their way into Qt.
namespace quenlitor::platform::qt {

inline QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// Qt shows a tool tip that looks like markup as rich text; a source's name or a token is always
// meant as written.
inline QString plainToolTip(std::string_view text) {
    const QString converted = toQString(text);
    return Qt::mightBeRichText(converted) ? Qt::convertFromPlainText(converted, Qt::WhiteSpaceNormal) : converted;
}

} // namespace quenlitor::platform::qt
