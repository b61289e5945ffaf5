#pragma once
// The scrolling slogan strip above the status bar: green bold 16-point text on
// RGB(255, 245, 238) in the strip (4, 390)-(590, 412) of the main window.
//
// The pace is one tick of 30 ms: the offset moves one step (1 pixel) to the
// left, and from -300 or below it wraps back to 412 (it starts at the strip's
// width, 586).  A frame is drawn every kTicksPerFrame ticks, with the text
// moved by as many steps: the text scrolls at the same speed while the window
// is woken and repainted a fraction as often (each repaint of a window costs
// a round trip through the display server, which an idle window should not
// pay 33 times a second).  Only the strip is repainted, from the slogan laid
// out once; while the window is hidden or minimised the strip stands still
// and costs nothing.
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
    static constexpr int kTicksPerFrame = 3;
    static constexpr int kFrameMs = kTickMs * kTicksPerFrame;
    static constexpr int kWrapDistance = 300;
    static constexpr int kRestartOffset = 412;

    explicit Marquee(QObject* parent = nullptr);

    // Remembers the widget that shows the strip (the window, or a child of it
    // covering the strip), the strip (the window's client coordinates), the
    // colours and the font; false when the text cannot be laid out.  The strip
    // pauses while the widget's window is hidden or minimised.
    bool Init(QWidget* window, const QRect& strip, const QColor& background, const QColor& text);
    // False for an empty text.
    bool SetText(const QString& text);
    // False when `value` is not positive.  Draws once, ticks once, then a
    // frame every kFrameMs.
    bool Start(int value, int step);
    void Stop();
    // Draws the current frame into the strip (`painter` works in the window's
    // client coordinates).
    void Draw(QPainter& painter);
    // One tick, and the strip repainted.
    void Tick();

    int Offset() const { return TextOffset; }
    const QRect& Strip() const { return StripRect; }
    const QString& Text() const { return Slogan; }
    // Started and not paused.
    bool Running() const { return Timer.isActive(); }
    // The text's left edge in the strip on the current frame.
    int TextX() const;

    static QString DefaultSlogan();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Advance();
    void Invalidate();
    // Runs the timer while started and the window can be seen.
    void FollowVisibility();

    QWidget* Window = nullptr;
    QWidget* TopLevel = nullptr;
    QRect StripRect;
    QColor Background, Foreground;
    QFont Font;
    QString Slogan;
    int TextWidth = 0;
    int TextOffset = 0;
    int Step = 1;
    bool Started = false;
    qint64 Scrolled = 0; // pixels moved since the start
    QPixmap Rendered;    // the whole slogan, laid out once
    QTimer Timer;
};

} // namespace talvo::gui
