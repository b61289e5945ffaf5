#include "gui/CAboutDlg.h"

#include <QCoreApplication>

#include <QIcon>
#include <QLabel>
#include <QPushButton>

#include "gui/DialogUnits.h"
#include "gui/Fonts.h"

namespace talvo::gui {

QString CAboutDlg::SecondLine() {
    return QCoreApplication::translate("CAboutDlg", "STC 8051 / STM32 串口烧录工具");
}

CAboutDlg::CAboutDlg(const QIcon& icon, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QCoreApplication::translate("CAboutDlg", "关于 TALVO"));
    setObjectName(QStringLiteral("CAboutDlg"));
    setFont(NamedFont(QStringLiteral("宋体"), 9));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    const QSize base = DialogBaseUnits(font());
    auto at = [base](int x, int y, int w, int h) { return DialogRect(base, x, y, w, h); };

    // Template 100: 235 x 55 dialog units.
    auto* picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("icon"));
    picture->setGeometry(at(11, 14, 21, 20));
    picture->setPixmap(icon.pixmap(QSize(32, 32)));
    auto* version = new QLabel(VersionLine(), this);
    version->setObjectName(QStringLiteral("version"));
    version->setGeometry(at(40, 10, 130, 10));
    // The button stands beside the version line; the second line runs under it.
    auto* second = new QLabel(SecondLine(), this);
    second->setObjectName(QStringLiteral("second"));
    second->setGeometry(at(40, 26, 190, 10));
    auto* ok = new QPushButton(QCoreApplication::translate("CAboutDlg", "确定"), this);
    ok->setObjectName(QStringLiteral("ok"));
    ok->setGeometry(at(178, 7, 50, 16));
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    setFixedSize(at(0, 0, 235, 55).size());
}

} // namespace talvo::gui
