// Renders the accessory windows offscreen for the README:
//   accessory_shots OUTDIR
// writes port-test.png (after a run through the simulated loopback plug),
// about.png, usb-devices.png (two sample converters, one the user may not
// open) and terminal.png (an echo through the loopback plug in text and hex).
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <sys/stat.h>

#include "gui/CAboutDlg.h"
#include "gui/CPortTest.h"
#include "gui/CTALVODlg.h"
#include "gui/CUsbDevicesDlg.h"
#include "gui/Ccom_Debug.h"
#include "gui/Fonts.h"
#include "platform/FakeSysfs.h"
#include "platform/QSettingsStore.h"
#include "serial/SerialTerminal.h"
#include "sim/Simulators.h"

using namespace talvo;
using namespace talvo::gui;

namespace {

bool save(QWidget* w, const QString& path) {
    const bool ok = w->grab().save(path);
    std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "saved" : "cannot save", qPrintable(path));
    return ok;
}

void settle(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setFont(DialogFont());
    if (argc != 2) {
        std::fprintf(stderr, "usage: accessory_shots OUTDIR\n");
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);
    sim::registerSimulators();
    QTemporaryDir dir;
    test::FakeSysfs sys;
    bool ok = true;

    QSettingsStore store(dir.filePath("TALVO.conf"));
    CTALVODlg w(CoreServices{&store, nullptr, {}, sys.root(), dir.path(), {"sim:loopback"}, {}});
    w.RecordMessageBoxes = true;
    w.show();

    CPortTest* pt = w.portTest();
    w.findChild<QPushButton*>("1010")->click();
    pt->move(w.pos() + QPoint(40, 40));
    pt->core().RunLoopbackTest();
    settle(100);
    ok &= save(pt, out + "/port-test.png");
    pt->hide();

    CAboutDlg about(w.windowIcon(), &w);
    about.show();
    settle(100);
    ok &= save(&about, out + "/about.png");
    about.hide();

    test::FakeSysfs usb;
    usb.addUsbSerial("ttyUSB0", "1-2", "Prolific Technology Inc.", "USB-Serial Controller");
    usb.addAcm("ttyACM0", "1-3", "Example Labs", "CDC Serial");
    QTemporaryDir dev;
    for (const char* name : {"ttyUSB0", "ttyACM0"}) {
        QFile node(dev.filePath(name));
        node.open(QIODevice::WriteOnly);
    }
    // The converter's node as udev leaves it: root:dialout 0660, which a user
    // outside dialout cannot open (root can; the list then says so for both).
    ::chmod(QFile::encodeName(dev.filePath("ttyUSB0")).constData(), 0660);
    CUsbDevicesDlg devices(usb.root(), dev.path());
    devices.show();
    settle(100);
    ok &= save(&devices, out + "/usb-devices.png");
    devices.hide();

    Ccom_Debug term(sys.root(), dir.path(), {"sim:loopback"});
    term.show();
    static_cast<QComboBox*>(term.control(term::Baud))->setCurrentText("115200");
    static_cast<QCheckBox*>(term.control(term::Timestamps))->setChecked(true);
    term.TogglePort();
    auto* send = static_cast<QPlainTextEdit*>(term.control(term::SendText));
    send->setPlainText("AT+GMR\r\nhello, TALVO\r\n");
    term.SendNow();
    settle(300);
    static_cast<QCheckBox*>(term.control(term::HexDisplay))->setChecked(true);
    term.SendNow();
    settle(300);
    term.FlushReceived();
    ok &= save(&term, out + "/terminal.png");
    term.TogglePort();
    return ok ? 0 : 1;
}
