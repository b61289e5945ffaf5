#pragma once
#include <QFont>

namespace talvo::gui {

// The window's fonts by face name, when the face is installed, else the
// system's CJK font.  Set explicitly so that the Chinese texts do not depend
// on the locale's fallback order.
QFont NamedFont(const QString& face, int pointSize, int weight = QFont::Normal);
// "宋体" 9 point, the dialog font.
QFont DialogFont();

} // namespace talvo::gui
