#include "gui/Marquee.h"

#include <QCoreApplication>

#include <QEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QWidget>

#include <algorithm>

#include "gui/Fonts.h"

namespace talvo::gui {

QString Marquee::DefaultSlogan() {
    // 95 characters.
    return QCoreApplication::translate("Marquee", "欢迎使用 TALVO 程序烧录软件：STC 8051 与 STM32 串口一键下载，自动识别芯片、测量晶振频率；"
                          "串口检测与串口调试助手一应俱全，插上 USB 线即可开始烧录，祝您的开发顺利！");
}

Marquee::Marquee(QObject* parent) : QObject(parent) {
    Timer.setInterval(kFrameMs);
    Timer.setTimerType(Qt::CoarseTimer);
    connect(&Timer, &QTimer::timeout, this, &Marquee::Advance);
}

bool Marquee::Init(QWidget* window, const QRect& strip, const QColor& background, const QColor& text) {
    if (strip.isEmpty()) return false;
    Window = window;
    TopLevel = window ? window->window() : nullptr;
    if (TopLevel) TopLevel->installEventFilter(this);
    StripRect = strip;
    Background = background;
    Foreground = text;
    Font = NamedFont(QStringLiteral("楷体_GB2312"), 16, QFont::Bold);
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
    Started = true;
    Invalidate();
    Tick();
    FollowVisibility();
    return true;
}

void Marquee::Stop() {
    Started = false;
    Timer.stop();
}

void Marquee::FollowVisibility() {
    const bool seen = TopLevel ? TopLevel->isVisible() && !TopLevel->isMinimized() : true;
    if (Started && seen) {
        if (!Timer.isActive()) Timer.start();
    } else {
        Timer.stop();
    }
}

bool Marquee::eventFilter(QObject* watched, QEvent* event) {
    if (watched == TopLevel) {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Hide:
        case QEvent::WindowStateChange:
            FollowVisibility();
            // A restored window shows where the text is now.
            if (event->type() != QEvent::Hide) Invalidate();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void Marquee::Tick() {
    if (TextOffset <= -kWrapDistance) TextOffset = kRestartOffset;
    TextOffset -= Step;
    Scrolled += Step;
    Invalidate();
}

void Marquee::Advance() {
    // kTicksPerFrame ticks' worth of movement, one repaint.
    for (int i = 0; i < kTicksPerFrame; ++i) {
        if (TextOffset <= -kWrapDistance) TextOffset = kRestartOffset;
        TextOffset -= Step;
        Scrolled += Step;
    }
    Invalidate();
}

int Marquee::TextX() const {
    // Enters at the right edge, leaves at the left, then comes round again.
    const qint64 period = static_cast<qint64>(TextWidth) + StripRect.width();
    return StripRect.width() - static_cast<int>(period > 0 ? Scrolled % period : 0);
}

void Marquee::Draw(QPainter& painter) {
    // The text where it stands, the background around it: each pixel of the
    // strip is written once.
    const int x = TextX();
    const QRect text = QRect(x, 0, Rendered.width(), StripRect.height()) & QRect(QPoint(0, 0), StripRect.size());
    const QPoint at = StripRect.topLeft();
    if (text.isEmpty()) {
        painter.fillRect(StripRect, Background);
        return;
    }
    if (text.left() > 0) painter.fillRect(QRect(at, QSize(text.left(), StripRect.height())), Background);
    if (text.right() < StripRect.width() - 1)
        painter.fillRect(QRect(at + QPoint(text.right() + 1, 0),
                               QSize(StripRect.width() - 1 - text.right(), StripRect.height())),
                         Background);
    painter.drawPixmap(at + text.topLeft(), Rendered, text.translated(-x, 0));
}

} // namespace talvo::gui
