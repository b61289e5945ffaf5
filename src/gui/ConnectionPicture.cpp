#include "gui/ConnectionPicture.h"

#include <QCoreApplication>

#include <QPainter>
#include <QPainterPath>

namespace talvo::gui {

ConnectionPicture::ConnectionPicture(Kind kind, QWidget* parent) : QFrame(parent), Which(kind) {
    setFrameShape(QFrame::Box);
    setFrameShadow(QFrame::Sunken);
}

namespace {

// The board's edge with a two-pin header, P3.0 and P3.1 joined by a cap.
// `cableIn` is where the cable reaches the board (left middle).
void drawBoard(QPainter& p, const QRectF& board, QPointF* cableIn) {
    p.setPen(QPen(QColor(20, 80, 20), 1.2));
    p.setBrush(QColor(40, 130, 60));
    p.drawRoundedRect(board, 3, 3);

    const qreal u = board.height() / 10.0;
    // The converter chip.
    const QRectF chip(board.left() + u, board.top() + 2.2 * u, 2.6 * u, 3.2 * u);
    p.setBrush(QColor(30, 30, 30));
    p.setPen(Qt::NoPen);
    p.drawRect(chip);
    // Traces from the chip to the header.
    const qreal hx = board.right() - 4.6 * u;
    const qreal y0 = board.top() + 3.0 * u, y1 = board.top() + 5.6 * u;
    p.setPen(QPen(QColor(220, 190, 90), 0.9));
    p.drawLine(QPointF(chip.right(), chip.top() + 0.6 * u), QPointF(hx, y0));
    p.drawLine(QPointF(chip.right(), chip.bottom() - 0.6 * u), QPointF(hx, y1));

    // Header pins and the jumper cap over both.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(230, 200, 60));
    const qreal pin = 0.9 * u;
    p.drawRect(QRectF(hx - pin / 2, y0 - pin / 2, pin, pin));
    p.drawRect(QRectF(hx - pin / 2, y1 - pin / 2, pin, pin));
    p.setBrush(QColor(20, 20, 160));
    p.setPen(QPen(QColor(10, 10, 90), 1));
    p.drawRoundedRect(QRectF(hx - 0.9 * u, y0 - 1.0 * u, 1.8 * u, (y1 - y0) + 2.0 * u), 2, 2);

    QFont f = p.font();
    f.setPixelSize(std::max(7, static_cast<int>(1.05 * u)));
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QPointF(hx + 1.2 * u, y0 + 0.45 * u), QStringLiteral("P3.0"));
    p.drawText(QPointF(hx + 1.2 * u, y1 + 0.45 * u), QStringLiteral("P3.1"));
    p.drawText(QRectF(board.left(), board.bottom() - 2.6 * u, board.width(), 2.2 * u), Qt::AlignCenter,
               QCoreApplication::translate("ConnectionPicture", "短路帽"));

    *cableIn = QPointF(board.left(), board.center().y());
}

void drawUsbPlug(QPainter& p, const QRectF& r) {
    // Cable boot, then the metal shell with its tongue and four contacts.
    const QRectF boot(r.left() + r.width() * 0.45, r.top() + r.height() * 0.2, r.width() * 0.55, r.height() * 0.6);
    const QRectF shell(r.left(), r.top() + r.height() * 0.28, r.width() * 0.47, r.height() * 0.44);
    p.setPen(QPen(QColor(40, 40, 40), 1));
    p.setBrush(QColor(60, 60, 60));
    p.drawRoundedRect(boot, 3, 3);
    p.setBrush(QColor(200, 200, 205));
    p.drawRect(shell);
    p.setBrush(QColor(245, 245, 245));
    const QRectF tongue(shell.left() + 2, shell.top() + shell.height() * 0.2, shell.width() - 6, shell.height() * 0.35);
    p.drawRect(tongue);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(210, 170, 40));
    for (int i = 0; i < 4; ++i)
        p.drawRect(QRectF(tongue.left() + 2 + i * (tongue.width() - 4) / 4.0, tongue.top() + 1,
                          (tongue.width() - 4) / 4.0 - 2, tongue.height() - 2));
    p.setPen(QColor(230, 230, 230));
    p.drawText(boot, Qt::AlignCenter, QStringLiteral("USB"));
}

void drawNinePin(QPainter& p, const QRectF& r) {
    // The D-shaped shell, five pins over four; pins 2 (RXD) and 3 (TXD) are
    // the ones that reach P3.0 and P3.1.
    const qreal w = r.width(), h = r.height();
    QPainterPath d;
    d.moveTo(r.left(), r.top());
    d.lineTo(r.right(), r.top());
    d.lineTo(r.right() - w * 0.1, r.bottom());
    d.lineTo(r.left() + w * 0.1, r.bottom());
    d.closeSubpath();
    p.setPen(QPen(QColor(90, 90, 100), 1.5));
    p.setBrush(QColor(190, 190, 200));
    p.drawPath(d);
    const qreal pin = std::min(w / 9.0, h / 4.0);
    QFont f = p.font();
    f.setPixelSize(std::max(7, static_cast<int>(pin * 0.9)));
    p.setFont(f);
    for (int i = 0; i < 9; ++i) {
        const bool top = i < 5;
        const int k = top ? i : i - 5;
        const qreal x = top ? r.left() + w * (0.14 + 0.18 * k) : r.left() + w * (0.23 + 0.18 * k);
        const qreal y = top ? r.top() + h * 0.32 : r.top() + h * 0.7;
        const bool used = i == 1 || i == 2;
        p.setPen(Qt::NoPen);
        p.setBrush(used ? QColor(200, 40, 40) : QColor(60, 60, 60));
        p.drawEllipse(QPointF(x, y), pin / 2, pin / 2);
    }
    p.setPen(QColor(30, 30, 30));
    p.drawText(QRectF(r.left(), r.top() - h * 0.02, w, h * 0.22), Qt::AlignCenter, QStringLiteral("2  3"));
}

} // namespace

void ConnectionPicture::paintEvent(QPaintEvent* event) {
    QFrame::paintEvent(event);
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF area = contentsRect().adjusted(4, 4, -4, -4);
    p.fillRect(contentsRect(), QColor(250, 250, 246));

    const QRectF board(area.left() + area.width() * 0.48, area.top() + area.height() * 0.08, area.width() * 0.5,
                       area.height() * 0.84);
    QPointF cableIn;
    drawBoard(p, board, &cableIn);

    const QRectF plug(area.left(), area.center().y() - area.height() * 0.2, area.width() * 0.24, area.height() * 0.4);
    if (Which == Usb)
        drawUsbPlug(p, plug);
    else
        drawNinePin(p, plug);

    // The cable from the plug to the board.
    QPainterPath cable;
    const QPointF from(plug.right(), plug.center().y());
    cable.moveTo(from);
    cable.cubicTo(QPointF(from.x() + area.width() * 0.1, from.y() - area.height() * 0.25),
                  QPointF(cableIn.x() - area.width() * 0.1, cableIn.y() + area.height() * 0.25), cableIn);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(40, 40, 40), 3, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(cable);
}

} // namespace talvo::gui
