#include "gui/Marquee.h"

#include <QFontMetrics>
#include <QPainter>
#include <QWidget>

#include <algorithm>

#include "gui/Fonts.h"

namespace talvo::gui {

QString Marquee::DefaultSlogan() {
    // 95 characters.
    return QStringLiteral("欢迎使用 TALVO 程序烧录软件：STC 8051 与 STM32 串口一键下载，自动识别芯片、测量晶振频率；"
                          "串口检测与串口调试助手一应俱全，插上 USB 线即可开始烧录，祝您的开发顺利！");
}

Marquee::Marquee(QObject* parent) : QObject(parent) {
    Timer.setInterval(kTickMs);
    Timer.setTimerType(Qt::CoarseTimer);
    connect(&Timer, &QTimer::timeout, this, &Marquee::Tick);
}

bool Marquee::Init(QWidget* window, const QRect& strip, const QColor& background, const QColor& text) {
    Window = window;
    StripRect = strip;
    Background = background;
    Foreground = text;
    Font = NamedFont(QStringLiteral("楷体_GB2312"), 16, QFont::Bold);
    Composed = QPixmap(strip.size());
    if (Composed.isNull()) return false;
    TextOffset = strip.width();
    return true;
}

bool Marquee::SetText(const QString& text) {
    if (text.isEmpty()) return false;
    Slogan = text;
    TextWidth = QFontMetrics(Font).horizontalAdvance(Slogan);
    // The text is laid out once; each frame only copies the visible part.
    Rendered = QPixmap(std::max(1, TextWidth), std::max(1, StripRect.height()));
    Rendered.fill(Background);
    QPainter p(&Rendered);
    p.setFont(Font);
    p.setPen(Foreground);
    const QFontMetrics fm(Font);
    p.drawText(0, (Rendered.height() + fm.ascent() - fm.descent()) / 2, Slogan);
    return true;
}

void Marquee::Invalidate() {
    // The strip in the coordinates of the widget that shows it (the window
    // itself, or a child covering the strip).
    if (Window) Window->update(QRect(Window->mapFrom(Window->window(), StripRect.topLeft()), StripRect.size()));
}

bool Marquee::Start(int value, int step) {
    if (value <= 0) return false;
    Step = step;
    Invalidate();
    Tick();
    Timer.start();
    return true;
}

void Marquee::Tick() {
    if (TextOffset <= -kWrapDistance) TextOffset = kRestartOffset;
    TextOffset -= Step;
    Scrolled += Step;
    Invalidate();
}

int Marquee::TextX() const {
    // Enters at the right edge, leaves at the left, then comes round again.
    const qint64 period = static_cast<qint64>(TextWidth) + StripRect.width();
    return StripRect.width() - static_cast<int>(period > 0 ? Scrolled % period : 0);
}

void Marquee::Draw(QPainter& painter) {
    if (Composed.isNull()) return;
    QPainter frame(&Composed);
    frame.fillRect(Composed.rect(), Background);
    if (!Rendered.isNull()) frame.drawPixmap(TextX(), 0, Rendered);
    frame.end();
    painter.drawPixmap(StripRect.topLeft(), Composed);
}

} // namespace talvo::gui
