#pragma once
// The two connection pictures of the port test window, drawn: the board's
// P3.0 (RXD) and P3.1 (TXD) joined by a jumper cap, reached through a USB
// cable or through a 9-pin serial cable.

#include <QFrame>

namespace talvo::gui {

class ConnectionPicture : public QFrame {
    Q_OBJECT
public:
    enum Kind { Usb, NinePin };
    ConnectionPicture(Kind kind, QWidget* parent = nullptr);
    Kind kind() const { return Which; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Kind Which;
};

} // namespace talvo::gui
