#pragma once
// The scrolling slogan strip above the status bar: green bold 16-point text on
// RGB(255, 245, 238) in the strip (4, 390)-(590, 412) of the main window.
//
// A QTimer on the user-interface thread ticks every 30 ms: the offset moves one
// step (1 pixel) to the left, and from -300 or below it wraps back to 412 (it
// starts at the strip's width, 586); the strip is repainted.  Each frame is
// composed off-screen and copied to the window in one piece.
//
// Where the text stands on a frame: the offset sets the pace and the wrap; the
// slogan, far longer than the strip, scrolls through it as a whole, entering at
// the right edge and leaving at the left, one pixel per tick.

#include <QColor>
#include <QFont>
#include <QObject>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QTimer>

class QPainter;
class QWidget;

namespace talvo::gui {

class Marquee : public QObject {
    Q_OBJECT
public:
    static constexpr int kTickMs = 30;
    static constexpr int kWrapDistance = 300;
    static constexpr int kRestartOffset = 412;

    explicit Marquee(QObject* parent = nullptr);

    // Remembers the widget that shows the strip (the window, or a child of it
    // covering the strip), the strip (the window's client coordinates), the
    // colours and the font; false when the off-screen frame cannot be made.
    bool Init(QWidget* window, const QRect& strip, const QColor& background, const QColor& text);
    // False for an empty text.
    bool SetText(const QString& text);
    // False when `value` is not positive.  Draws once, ticks once, then every 30 ms.
    bool Start(int value, int step);
    void Stop() { Timer.stop(); }
    // Composes the current frame off-screen and copies it to the strip
    // (`painter` works in the window's client coordinates).
    void Draw(QPainter& painter);
    // One timer tick.
    void Tick();

    int Offset() const { return TextOffset; }
    const QRect& Strip() const { return StripRect; }
    const QString& Text() const { return Slogan; }
    bool Running() const { return Timer.isActive(); }
    // The frame last composed (tests look at it).
    const QPixmap& Frame() const { return Composed; }
    // The text's left edge in the strip on the current frame.
    int TextX() const;

    static QString DefaultSlogan();

private:
    void Invalidate();

    QWidget* Window = nullptr;
    QRect StripRect;
    QColor Background, Foreground;
    QFont Font;
    QString Slogan;
    int TextWidth = 0;
    int TextOffset = 0;
    int Step = 1;
    qint64 Scrolled = 0; // pixels moved since the start
    QPixmap Composed;
    QPixmap Rendered; // the whole slogan, laid out once
    QTimer Timer;
};

} // namespace talvo::gui
