// The main window's accessories: the member dialogs (port test, serial
// terminal), the USB device list that stands in for the device manager, the
// help window, the about box with its context menu, F1 and logo link, and the
// slogan strip.
#include <QAction>

#include <QCoreApplication>
#include <QContextMenuEvent>
#include <QLinearGradient>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QShortcut>

#include "app/ControlIds.h"
#include "gui/CAboutDlg.h"
#include "gui/CPortTest.h"
#include "gui/CTALVODlg.h"
#include "gui/CUsbDevicesDlg.h"
#include "gui/Ccom_Debug.h"
#include "gui/HelpWindow.h"
#include "gui/Marquee.h"

namespace talvo::gui {

namespace {

// Where the logo stands and the part of it that is a link (client coordinates).
constexpr QPoint kLogoAt(398, 416);
constexpr QSize kLogoSize(198, 23);
constexpr int kLinkLeft = 401, kLinkRight = 597, kLinkTop = 417, kLinkBottom = 438;
// The slogan strip and its colours.
constexpr QRect kSloganStrip(4, 390, 586, 22); // (4, 390)-(590, 412)

// The logo: a 198 x 23 bitmap drawn once, copied unchanged on every paint;
// the hand cursor and the click only within the link area.
class LogoLink : public QWidget {
public:
    LogoLink(QWidget* parent, std::function<void()> onClick) : QWidget(parent), OnClick(std::move(onClick)) {
        setObjectName(QStringLiteral("logo"));
        setMouseTracking(true);
        Bitmap = QImage(kLogoSize, QImage::Format_RGB888);
        QPainter p(&Bitmap);
        QLinearGradient g(0, 0, 0, kLogoSize.height());
        g.setColorAt(0, QColor(40, 110, 190));
        g.setColorAt(1, QColor(15, 60, 130));
        p.fillRect(Bitmap.rect(), g);
        p.setPen(QColor(255, 255, 255));
        QFont f = parent->font();
        f.setBold(true);
        f.setPixelSize(13);
        p.setFont(f);
        p.drawText(Bitmap.rect().adjusted(6, 0, -4, 0), Qt::AlignVCenter | Qt::AlignLeft,
                   QCoreApplication::translate("CTALVODlg", "Velmora科技 · TALVO"));
        p.setPen(QColor(255, 215, 80));
        f.setPixelSize(11);
        f.setBold(false);
        p.setFont(f);
        p.drawText(Bitmap.rect().adjusted(0, 0, -10, 0), Qt::AlignVCenter | Qt::AlignRight, QCoreApplication::translate("CTALVODlg", "关于"));
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.drawImage(0, 0, Bitmap);
    }
    void mouseMoveEvent(QMouseEvent* e) override {
        if (CTALVODlg::InLogoLink(mapToParent(e->position().toPoint())))
            setCursor(Qt::PointingHandCursor);
        else
            unsetCursor();
        QWidget::mouseMoveEvent(e);
    }
    void leaveEvent(QEvent* e) override {
        unsetCursor();
        QWidget::leaveEvent(e);
    }
    void mouseReleaseEvent(QMouseEvent* e) override {
        if (e->button() == Qt::LeftButton && CTALVODlg::InLogoLink(mapToParent(e->position().toPoint()))) {
            setCursor(Qt::PointingHandCursor);
            OnClick();
        }
    }

private:
    QImage Bitmap;
    std::function<void()> OnClick;
};

// The slogan strip's own surface: an opaque child over the strip, so that a
// frame repaints only the strip and not the window behind it.
class SloganView : public QWidget {
public:
    SloganView(QWidget* parent, Marquee* marquee) : QWidget(parent), M(marquee) {
        setObjectName(QStringLiteral("slogan"));
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_NoSystemBackground);
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.translate(-M->Strip().topLeft());
        M->Draw(p);
    }

private:
    Marquee* M;
};

} // namespace

bool CTALVODlg::InLogoLink(const QPoint& client) {
    return client.x() >= kLinkLeft && client.x() <= kLinkRight && client.y() >= kLinkTop && client.y() <= kLinkBottom;
}

void CTALVODlg::CreateLogo() {
    Logo = new LogoLink(this, [this] { ShowAbout(); });
    Logo->setGeometry(QRect(kLogoAt, kLogoSize));
    Logo->show();
    Logo->raise();
}

// The member dialogs use the core (the port test its channel): they go first.
CTALVODlg::~CTALVODlg() {
    delete PortTest;
    delete SerialDebug;
    delete UsbDevices;
}

void CTALVODlg::CreateMemberDialogs() {
    // Created hidden, living as long as the main window.
    PortTest = new CPortTest(Core->PortTestChannel(), this);
    PortTest->hide();
    SerialDebug = new Ccom_Debug(SysfsRoot, DevRoot, ExtraPorts, nullptr, this);
    SerialDebug->hide();
}

void CTALVODlg::StartSloganStrip() {
    Slogan = new Marquee(this);
    auto* view = new SloganView(this, Slogan);
    view->setGeometry(kSloganStrip);
    view->show();
    if (Slogan->Init(view, kSloganStrip, QColor(255, 245, 238), QColor(0, 175, 0)) &&
        Slogan->SetText(Marquee::DefaultSlogan()))
        Slogan->Start(16, 1);
}

void CTALVODlg::BindAccessories() {
    HelpFolders = HelpWindow::DefaultFolders();
    auto button = [this](int id) { return static_cast<QPushButton*>(Controls[id]); };
    connect(button(ctl::PortTest), &QPushButton::clicked, this, &CTALVODlg::ShowPortTest);
    connect(button(ctl::SerialDebug), &QPushButton::clicked, this, &CTALVODlg::ShowSerialDebug);
    connect(button(ctl::DeviceManager), &QPushButton::clicked, this, &CTALVODlg::ShowUsbDevices);
    connect(button(ctl::Forum), &QPushButton::clicked, this, &CTALVODlg::ShowHelp);
    auto* f1 = new QShortcut(QKeySequence(Qt::Key_F1), this);
    f1->setContext(Qt::WindowShortcut);
    connect(f1, &QShortcut::activated, this, &CTALVODlg::ShowAbout);
}

void CTALVODlg::AbortPortTest() {
    if (PortTest && PortTest->core().Running()) PortTest->core().Abort();
}

void CTALVODlg::ShowPortTest() {
    // The test runs on this window's channel; a download clears PortTestMode.
    PortTest->ShowTool();
}

void CTALVODlg::ShowSerialDebug() {
    SerialDebug->show();
    SerialDebug->raise();
    SerialDebug->activateWindow();
}

void CTALVODlg::ShowUsbDevices() {
    if (!UsbDevices) UsbDevices = new CUsbDevicesDlg(SysfsRoot, DevRoot, this);
    UsbDevices->show();
    UsbDevices->raise();
    UsbDevices->activateWindow();
}

void CTALVODlg::ShowAbout() {
    CAboutDlg about(windowIcon(), this);
    about.exec();
}

void CTALVODlg::ShowHelp() {
    const QString language = HelpWindow::Language();
    const QString page = HelpWindow::PagePath(HelpFolders, language);
    if (page.isEmpty()) {
        Core->AppendLog(QCoreApplication::translate("CTALVODlg", "无法打开帮助页：找不到 index.%1.html（查找了 %2；构建目标 talvo_help 会生成它）")
                            .arg(language, HelpFolders.join(QCoreApplication::translate("CTALVODlg", " 和 "))));
        return;
    }
    if (!Help) Help = new HelpWindow(this);
    if (!Help->ShowPage(page)) {
        Core->AppendLog(QCoreApplication::translate("CTALVODlg", "无法打开帮助页 %1：文件读不出来或是空的").arg(page));
        return;
    }
    Help->show();
    Help->raise();
    Help->activateWindow();
}

QMenu* CTALVODlg::BuildContextMenu(QWidget* parent) {
    auto* menu = new QMenu(parent);
    menu->setObjectName(QStringLiteral("contextmenu"));
    QAction* about = menu->addAction(QCoreApplication::translate("CTALVODlg", "关于 TALVO(&A)..."));
    connect(about, &QAction::triggered, this, &CTALVODlg::ShowAbout);
    menu->addSeparator();
    QAction* verify = menu->addAction(QCoreApplication::translate("CTALVODlg", "校验STM32下载"));
    verify->setCheckable(true);
    verify->setChecked(Core->VerifyStm32());
    connect(verify, &QAction::toggled, this, [this](bool on) { Core->SetVerifyStm32(on); });
    return menu;
}

void CTALVODlg::contextMenuEvent(QContextMenuEvent* event) {
    // The edit boxes keep their own menus (copy, select all); everywhere else
    // the window's menu appears.
    QMenu* menu = BuildContextMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
    event->accept();
}

} // namespace talvo::gui
