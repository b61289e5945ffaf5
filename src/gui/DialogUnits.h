#pragma once
// Dialog units as Windows derives them from a dialog's font: the horizontal
// base unit is the average width of the Latin letters, the vertical one the
// font's em height in pixels.  x and width count quarters of the first,
// y and height eighths of the second.

#include <QFont>
#include <QFontInfo>
#include <QFontMetrics>
#include <QRect>
#include <QSize>

namespace talvo::gui {

inline QSize DialogBaseUnits(const QFont& font) {
    const QFontMetrics fm(font);
    const QString alphabet = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int emHeight = QFontInfo(font).pixelSize();
    return QSize((fm.horizontalAdvance(alphabet) + 26) / 52, emHeight > 0 ? emHeight : fm.height());
}

inline QRect DialogRect(QSize base, int x, int y, int w, int h) {
    const int bx = base.width(), by = base.height();
    return QRect(x * bx / 4, y * by / 8, w * bx / 4, h * by / 8);
}

} // namespace talvo::gui
