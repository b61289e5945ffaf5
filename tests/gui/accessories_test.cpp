// The main window's accessories on the offscreen platform: the port test
// window from its button (and a test run through the loopback simulator), the
// about box from F1, the context menu and the logo, the verify setting, the
// slogan strip, the help page, the USB device list, and the serial terminal
// against the loopback simulator and a pty.
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTableWidget>
#include <QTextBrowser>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>
#include <QAbstractItemView>
#include <QThread>

#include <thread>

#include "app/ControlIds.h"
#include "gui/CAboutDlg.h"
#include "gui/CPortTest.h"
#include "gui/CTALVODlg.h"
#include "gui/CUsbDevicesDlg.h"
#include "gui/Ccom_Debug.h"
#include "gui/HelpWindow.h"
#include "gui/ConnectionPicture.h"
#include "gui/Marquee.h"
#include "platform/FakeSysfs.h"
#include "platform/CapturingFactory.h"
#include "platform/PtyPair.h"
#include "platform/SerialDeviceFactory.h"
#include "platform/QSettingsStore.h"
#include "platform/SimWireDevice.h"
#include "porttest/PortTestIds.h"
#include "serial/SerialTerminal.h"
#include "sim/Simulators.h"

using namespace talvo;
using namespace talvo::gui;

namespace {

using test::CapturingFactory;

// Accepts the next modal dialog once it is up and remembers its texts.
struct ModalCloser {
    QStringList texts;
    QString title;
    int closed = 0;
    void arm() {
        QTimer::singleShot(0, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal) return arm();
            title = modal->windowTitle();
            texts.clear();
            for (auto* l : modal->findChildren<QLabel*>()) texts << l->text();
            for (auto* b : modal->findChildren<QPushButton*>()) texts << b->text();
            static_cast<QDialog*>(modal)->accept();
            ++closed;
        });
    }
};

void sendMouse(QWidget* w, QEvent::Type type, QPoint local) {
    QMouseEvent e(type, local, w->mapToGlobal(local), Qt::LeftButton,
                  type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w, &e);
}

} // namespace

class AccessoriesTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    test::FakeSysfs sys; // no USB port: the list holds only the --port entries
    QString ini() const { return dir.path() + "/TALVO.conf"; }

    std::unique_ptr<CTALVODlg> makeWindow(QSettingsStore& store, const QStringList& ports = {"sim:loopback"}) {
        auto w = std::make_unique<CTALVODlg>(CoreServices{&store, nullptr, {}, sys.root(), dir.path(), ports, {}});
        w->RecordMessageBoxes = true;
        w->show();
        return w;
    }

private slots:
    void initTestCase() { sim::registerSimulators(); }

    void portTestWindowFromItsButtonPassesThroughTheLoopbackPlug() {
        QSettingsStore store(ini() + ".pt");
        auto w = makeWindow(store);
        CPortTest* pt = w->portTest();
        QVERIFY(pt && !pt->isVisible());
        QTest::mouseClick(w->findChild<QPushButton*>("1010"), Qt::LeftButton);
        QVERIFY(pt->isVisible());
        QCOMPARE(pt->windowTitle(), QString("Test_Dialog"));
        QCOMPARE(pt->text(ptctl::State), QString("就绪"));
        QCOMPARE(pt->text(ptctl::Log), PortTestCore::InstructionText());
        QCOMPARE(pt->findChild<QProgressBar*>("1022")->maximum(), 6);
        // Every control of the template, with its text, and both pictures drawn.
        for (const DialogControl& c : PortTestTemplate()) {
            const QString text = QString::fromUtf8(c.text);
            bool found = false;
            for (QWidget* child : pt->findChildren<QWidget*>()) {
                if (c.id > 0 && child->objectName() != QString::number(c.id)) continue;
                auto* b = qobject_cast<QPushButton*>(child);
                auto* l = qobject_cast<QLabel*>(child);
                auto* g = qobject_cast<QGroupBox*>(child);
                found = found || (c.id > 0 && c.kind != DialogControl::Static && c.kind != DialogControl::Button) ||
                        (b && b->text() == text) || (l && (l->text() == text || c.id == ptctl::State)) ||
                        (g && g->title() == text) || (c.kind == DialogControl::Custom && qobject_cast<ConnectionPicture*>(child));
            }
            QVERIFY2(found, qPrintable("port test control missing: " + text + " " + QString::number(c.id)));
        }
        QCOMPARE(pt->findChildren<ConnectionPicture*>().size(), 2);
        const QImage shot = pt->grab().toImage();
        QVERIFY(!shot.isNull());

        QTest::mouseClick(pt->findChild<QPushButton*>("1010"), Qt::LeftButton);
        QCOMPARE(pt->text(ptctl::State), QString("测试 OK"));
        QCOMPARE(pt->findChild<QProgressBar*>("1022")->value(), 6);
        QVERIFY(pt->text(ptctl::Log).endsWith("Successful" + QString(29, '-') + "!   "));
        QVERIFY(w->RecordedMessages.isEmpty());
        // Closing only hides; showing again resets.
        pt->close();
        QVERIFY(!pt->isVisible());
        QTest::mouseClick(w->findChild<QPushButton*>("1010"), Qt::LeftButton);
        QCOMPARE(pt->text(ptctl::State), QString("就绪"));
        QCOMPARE(pt->findChild<QProgressBar*>("1022")->value(), 0);
    }

    void aboutBoxFromF1TheContextMenuAndTheLogo() {
        QSettingsStore store(ini() + ".about");
        auto w = makeWindow(store);
        ModalCloser closer;
        closer.arm();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        QTest::keyClick(w.get(), Qt::Key_F1);
        QCOMPARE(closer.closed, 1);
        QCOMPARE(closer.title, QString("关于 TALVO"));
        QVERIFY(closer.texts.contains("TALVO 1.48 版"));
        QVERIFY(closer.texts.contains(CAboutDlg::SecondLine()));
        QVERIFY(closer.texts.contains("确定"));

        // Right-click on a button: the window's menu; on the log: the log's own.
        auto* button = w->findChild<QPushButton*>("1005");
        QContextMenuEvent onButton(QContextMenuEvent::Mouse, QPoint(3, 3), button->mapToGlobal(QPoint(3, 3)));
        QApplication::sendEvent(button, &onButton);
        QMenu* menu = w->findChild<QMenu*>("contextmenu");
        QVERIFY(menu);
        QTRY_VERIFY(menu->isVisible());
        QStringList items;
        for (QAction* a : menu->actions())
            if (!a->isSeparator()) items << a->text();
        QCOMPARE(items, (QStringList{"关于 TALVO(&A)...", "校验STM32下载"}));
        closer.arm();
        menu->actions().first()->trigger();
        QCOMPARE(closer.closed, 2);
        menu->close();
        QTRY_VERIFY(!w->findChild<QMenu*>("contextmenu"));
        auto* log = w->findChild<QPlainTextEdit*>("1004");
        QContextMenuEvent onLog(QContextMenuEvent::Mouse, QPoint(5, 5), log->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(log->viewport(), &onLog);
        QVERIFY(!w->findChild<QMenu*>("contextmenu"));
        for (QWidget* top : QApplication::topLevelWidgets())
            if (qobject_cast<QMenu*>(top) && top->isVisible()) top->close();

        // The logo: drawn at (398, 416), 198 x 23; the link exactly in x
        // 401-597, y 417-438.
        QWidget* logo = w->logo();
        QCOMPARE(logo->geometry(), QRect(398, 416, 198, 23));
        struct Edge {
            QPoint at;
            bool link;
        };
        const Edge edges[] = {{{401, 417}, true}, {{400, 417}, false}, {{401, 416}, false}, {{597, 438}, true},
                              {{598, 438}, false}, {{401, 439}, false}, {{500, 430}, true}, {{400, 430}, false}};
        for (const Edge& e : edges) QCOMPARE(CTALVODlg::InLogoLink(e.at), e.link);
        for (const Edge& e : edges) {
            const QPoint local = e.at - logo->pos();
            if (!logo->rect().contains(local)) continue;
            sendMouse(logo, QEvent::MouseMove, local);
            QCOMPARE(logo->cursor().shape() == Qt::PointingHandCursor, e.link);
        }
        // A click on the logo's third column opens nothing; inside the link the about box.
        sendMouse(logo, QEvent::MouseButtonPress, QPoint(2, 10));
        sendMouse(logo, QEvent::MouseButtonRelease, QPoint(2, 10));
        QCOMPARE(closer.closed, 2);
        closer.arm();
        sendMouse(logo, QEvent::MouseButtonPress, QPoint(3, 1));
        sendMouse(logo, QEvent::MouseButtonRelease, QPoint(3, 1));
        QCOMPARE(closer.closed, 3);
    }

    void verifyStm32SettingIsSavedAtOnceAndReadAtStart() {
        QSettingsStore store(ini() + ".verify");
        {
            auto w = makeWindow(store);
            QVERIFY(!w->core().VerifyStm32());
            std::unique_ptr<QMenu> menu(w->BuildContextMenu(w.get()));
            QAction* verify = menu->actions().last();
            QVERIFY(verify->isCheckable() && !verify->isChecked());
            verify->trigger();
            QVERIFY(w->core().VerifyStm32());
            QSettings s(ini() + ".verify", QSettings::IniFormat);
            QCOMPARE(s.value("VerifyStm32").toString(), QString("1"));
            w->close();
        }
        auto w = makeWindow(store);
        QVERIFY(w->core().VerifyStm32());
        std::unique_ptr<QMenu> menu(w->BuildContextMenu(w.get()));
        QVERIFY(menu->actions().last()->isChecked());
        menu->actions().last()->trigger();
        QVERIFY(!w->core().VerifyStm32());
        QCOMPARE(QSettings(ini() + ".verify", QSettings::IniFormat).value("VerifyStm32").toString(), QString("0"));
    }

    void sloganStripScrollsWrapsAndComposesItsFrames() {
        QSettingsStore store(ini() + ".slogan");
        auto w = makeWindow(store);
        Marquee* m = w->slogan();
        QVERIFY(m && m->Running());
        QCOMPARE(m->Text().size(), 95);
        QCOMPARE(m->Strip(), QRect(4, 390, 586, 22));
        m->Stop();
        const int start = m->Offset();
        QVERIFY(start <= 585);
        m->Tick();
        QCOMPARE(m->Offset(), start - 1);
        while (m->Offset() > -300) m->Tick();
        m->Tick();
        QCOMPARE(m->Offset(), 411);
        // A frame: the background colour and green text.
        for (int i = 0; i < 200; ++i) m->Tick();
        const QImage shot = w->grab().toImage();
        int background = 0, green = 0;
        for (int x = 4; x < 590; ++x)
            for (int y = 390; y < 412; ++y) {
                const QColor c = shot.pixelColor(x, y);
                if (c == QColor(255, 245, 238)) ++background;
                if (c.green() > 120 && c.red() < 90 && c.blue() < 90) ++green;
            }
        QVERIFY2(background > 586 * 22 / 3, qPrintable(QString::number(background)));
        QVERIFY2(green > 50, qPrintable(QString::number(green)));
    }

    // A frame repaints the strip and nothing else of the window; a hidden or
    // minimised window's strip stands still (its timer stopped).
    void sloganFramesRepaintOnlyTheStripAndPauseWhenNotSeen() {
        QSettingsStore store(ini() + ".slogan2");
        auto w = makeWindow(store);
        Marquee* m = w->slogan();
        QVERIFY(m->Running());
        QCOMPARE(Marquee::kFrameMs, Marquee::kTickMs * Marquee::kTicksPerFrame);
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QCoreApplication::processEvents();

        struct PaintCounter : QObject {
            QMap<QObject*, int> painted;
            bool eventFilter(QObject* o, QEvent* e) override {
                if (e->type() == QEvent::Paint) ++painted[o];
                return false;
            }
        } counter;
        qApp->installEventFilter(&counter);
        QWidget* strip = w->findChild<QWidget*>("slogan");
        QVERIFY(strip);
        const int start = m->Offset();
        QTRY_VERIFY(counter.painted.value(strip) >= 3);
        qApp->removeEventFilter(&counter);
        // Whole frames: the offset moved by whole frames' worth of ticks.
        QCOMPARE((start - m->Offset()) % Marquee::kTicksPerFrame, 0);
        QWidget* clock = w->findChild<QWidget*>("statuspart1");
        for (auto it = counter.painted.cbegin(); it != counter.painted.cend(); ++it)
            QVERIFY2(it.key() == strip || it.key() == clock,
                     qPrintable(it.key()->objectName() + " " + it.key()->metaObject()->className()));

        w->showMinimized();
        QVERIFY(!m->Running());
        w->showNormal();
        QVERIFY(m->Running());
        w->hide();
        QVERIFY(!m->Running());
        w->show();
        QVERIFY(m->Running());
        m->Stop();
        w->hide();
        w->show();
        QVERIFY(!m->Running());
    }

    // The forum button shows the Chinese help page, built from its own text
    // with its pictures, in TALVO's own window; pressed again it brings the
    // same window up.  A page that cannot be found is named in the log.
    void forumButtonShowsTheHelpPageInItsOwnWindow() {
        QSettingsStore store(ini() + ".help");
        auto w = makeWindow(store);
        QCOMPARE(HelpWindow::Language(), QString("zh"));
        QTest::mouseClick(w->findChild<QPushButton*>("1036"), Qt::LeftButton);
        HelpWindow* help = w->help();
        QVERIFY(help && help->isVisible());
        QCOMPARE(help->windowTitle(), QString("TALVO 帮助"));
        QVERIFY(help->browser()->source().toLocalFile().endsWith("help/index.zh.html"));
        const QString text = help->browser()->toPlainText();
        for (const char* heading : {"快速开始", "主窗口", "辅助功能", "故障排除", "命令行"})
            QVERIFY2(text.contains(QString::fromUtf8(heading)), heading);
        const QVariant picture = help->browser()->loadResource(QTextDocument::ImageResource, QUrl("images/main-window.png"));
        QVERIFY(!qvariant_cast<QByteArray>(picture).isEmpty() || !qvariant_cast<QImage>(picture).isNull());
        // The page fits the window's width: no sideways scrolling.
        QVERIFY(QTest::qWaitForWindowExposed(help));
        QCoreApplication::processEvents();
        QVERIFY2(help->browser()->document()->size().width() <= help->browser()->viewport()->width(),
                 qPrintable(QString::number(help->browser()->document()->size().width())));
        help->close();
        QTest::mouseClick(w->findChild<QPushButton*>("1036"), Qt::LeftButton);
        QCOMPARE(w->help(), help);
        QVERIFY(help->isVisible());
        help->close();

        // English has a page of its own; a language without one gets the Chinese one.
        QVERIFY(HelpWindow::PagePath(w->HelpFolders, "en").endsWith("/index.en.html"));
        QCOMPARE(HelpWindow::PagePath(w->HelpFolders, "fr"), HelpWindow::PagePath(w->HelpFolders, "zh"));

        QTemporaryDir empty;
        w->HelpFolders = {empty.path()};
        QTest::mouseClick(w->findChild<QPushButton*>("1036"), Qt::LeftButton);
        QVERIFY(w->text(ctl::StatusLog).contains("无法打开帮助页：找不到 index.zh.html（查找了 " + empty.path()));
        QVERIFY(!help->isVisible());
        QVERIFY(w->isVisible());
    }

    void usbDeviceListFollowsThePortWatch() {
        test::FakeSysfs usb;
        usb.addUsbSerial("ttyUSB0", "1-2", "Prolific Technology Inc.", "USB-Serial Controller");
        QTemporaryDir dev;
        CUsbDevicesDlg dlg(usb.root(), dev.path());
        dlg.show();
        QCOMPARE(dlg.windowTitle(), QString("USB 串口设备"));
        QCOMPARE(dlg.table()->rowCount(), 1);
        QCOMPARE(dlg.table()->item(0, 0)->text(), dev.path() + "/ttyUSB0");
        QCOMPARE(dlg.table()->item(0, 1)->text(), QString("pl2303"));
        QCOMPARE(dlg.table()->item(0, 2)->text(), QString("067b:2303"));
        QCOMPARE(dlg.table()->item(0, 3)->text(), QString("Prolific Technology Inc."));
        QVERIFY(dlg.table()->item(0, 6)->text().contains("不存在"));
        usb.addAcm("ttyACM0", "1-3", "Arduino", "Uno");
        QFile node(dev.filePath("ttyACM0"));
        QVERIFY(node.open(QIODevice::WriteOnly));
        node.close();
        QTRY_COMPARE_WITH_TIMEOUT(dlg.table()->rowCount(), 2, 20000);
        QCOMPARE(dlg.table()->item(0, 0)->text(), dev.path() + "/ttyACM0");
        QCOMPARE(dlg.table()->item(0, 6)->text(), QString("可以打开"));
    }

    void terminalEchoesTextAndHexThroughTheLoopbackAndDrivesTheLines() {
        QSettingsStore store(ini() + ".term");
        auto w = makeWindow(store);
        QVERIFY(w->findChild<QPushButton*>("1021")->isEnabled());
        QTest::mouseClick(w->findChild<QPushButton*>("1021"), Qt::LeftButton);
        QVERIFY(w->serialDebug()->isVisible());
        w->serialDebug()->hide();

        CapturingFactory factory;
        Ccom_Debug term(sys.root(), dir.path(), {"sim:loopback"}, &factory);
        term.show();
        auto* port = static_cast<QComboBox*>(term.control(term::Port));
        QCOMPARE(port->currentText(), QString("sim:loopback"));
        static_cast<QComboBox*>(term.control(term::Baud))->setCurrentText("57600");
        static_cast<QCheckBox*>(term.control(term::Dtr))->setChecked(true);
        QTest::mouseClick(static_cast<QPushButton*>(term.control(term::OpenClose)), Qt::LeftButton);
        QVERIFY(term.terminal().isOpen());
        QVERIFY(factory.Wire);
        QCOMPARE(factory.Wire->settings().baud, 57600u);
        QCOMPARE(factory.Wire->lines(), (ModemLines{false, true}));
        static_cast<QCheckBox*>(term.control(term::Rts))->setChecked(true);
        static_cast<QCheckBox*>(term.control(term::Dtr))->setChecked(false);
        QCOMPARE(factory.Wire->lines(), (ModemLines{true, false}));

        auto* send = static_cast<QPlainTextEdit*>(term.control(term::SendText));
        send->setPlainText("hello 你好");
        QTest::mouseClick(static_cast<QPushButton*>(term.control(term::Send)), Qt::LeftButton);
        QTRY_COMPARE(term.receivedText(), QString("hello 你好"));

        static_cast<QCheckBox*>(term.control(term::HexDisplay))->setChecked(true);
        static_cast<QCheckBox*>(term.control(term::HexSend))->setChecked(true);
        send->setPlainText("41 42 0d");
        QTest::mouseClick(static_cast<QPushButton*>(term.control(term::Send)), Qt::LeftButton);
        QTRY_COMPARE(term.receivedText(), QString("hello 你好\n41 42 0D "));
        QTRY_COMPARE(static_cast<QLabel*>(term.control(term::RxCount))->text(), QString("接收：15"));
        QCOMPARE(static_cast<QLabel*>(term.control(term::TxCount))->text(), QString("发送：15"));

        // A bad hex text is refused with its place named.
        send->setPlainText("41 4");
        QTest::mouseClick(static_cast<QPushButton*>(term.control(term::Send)), Qt::LeftButton);
        QVERIFY(static_cast<QLabel*>(term.control(term::Status))->text().contains("第 4 个字符"));

        // Timed send repeats until switched off.
        send->setPlainText("55");
        static_cast<QLineEdit*>(term.control(term::Period))->setText("20");
        static_cast<QCheckBox*>(term.control(term::TimedSend))->setChecked(true);
        QTRY_VERIFY(term.terminal().sentCount() >= 18);
        static_cast<QCheckBox*>(term.control(term::TimedSend))->setChecked(false);

        QTest::mouseClick(static_cast<QPushButton*>(term.control(term::OpenClose)), Qt::LeftButton);
        QVERIFY(!term.terminal().isOpen());
        QCOMPARE(static_cast<QPushButton*>(term.control(term::OpenClose))->text(), QString("打开串口"));
    }

    // Ports whose names differ only near their ends: the open list shows
    // each whole (no two alike), each with its name as the tool tip.
    void terminalPortListShowsLongNamesWhole() {
        const QString stem = dir.path() + "/by-id/usb-Prolific_Technology_Inc._USB-Serial_Controller_D-if0";
        const QStringList ports = {stem + "0-port0", stem + "1-port0"};
        Ccom_Debug term(sys.root(), dir.path(), ports);
        term.show();
        auto* box = static_cast<QComboBox*>(term.control(term::Port));
        QCOMPARE(box->count(), 2);
        box->showPopup();
        QAbstractItemView* view = box->view();
        QTRY_VERIFY(view->isVisible());
        QStringList shown;
        for (int i = 0; i < box->count(); ++i) {
            const QModelIndex index = box->model()->index(i, 0);
            const QRect cell = view->visualRect(index);
            shown << view->fontMetrics().elidedText(box->itemText(i), view->textElideMode(), cell.width() - 8);
        }
        box->hidePopup();
        QCOMPARE(shown, ports);
        for (int i = 0; i < box->count(); ++i) QCOMPARE(box->itemData(i, Qt::ToolTipRole).toString(), ports[i]);
    }

    // Each line of the receive area is stamped with the time its first byte
    // arrived, however late the window shows it: here the window shows both
    // lines only after both came.
    void terminalStampsLinesWhenTheirBytesArrived() {
        test::PtyPair pty;
        QVERIFY(pty.ok());
        Ccom_Debug term(sys.root(), dir.path(), {pty.slavePath});
        term.show();
        static_cast<QCheckBox*>(term.control(term::Timestamps))->setChecked(true);
        QTest::mouseClick(static_cast<QPushButton*>(term.control(term::OpenClose)), Qt::LeftButton);
        QVERIFY(term.terminal().isOpen());
        // Without the event loop turning, the window shows nothing meanwhile.
        auto arrive = [&](const QByteArray& line, uint64_t total) {
            pty.writeMaster(std::vector<uint8_t>(line.begin(), line.end()));
            QElapsedTimer t;
            t.start();
            while (term.terminal().receivedCount() < total && t.elapsed() < 20000) QThread::msleep(1);
            const QTime seen = QTime::currentTime();
            while (QTime::currentTime() == seen) QThread::msleep(1); // the clock moves on
            return seen;
        };
        const QTime firstSeen = arrive("first\n", 6);
        const QTime secondSeen = arrive("second\n", 13);
        term.FlushReceived();
        const QStringList lines = term.receivedText().split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines[0].endsWith("] first") && lines[1].endsWith("] second"), qPrintable(term.receivedText()));
        const QTime first = QTime::fromString(lines[0].mid(1, 12), "hh:mm:ss.zzz");
        const QTime second = QTime::fromString(lines[1].mid(1, 12), "hh:mm:ss.zzz");
        QVERIFY(first.isValid() && second.isValid());
        QVERIFY2(first <= firstSeen && firstSeen < second && second <= secondSeen,
                 qPrintable(term.receivedText() + " seen " + firstSeen.toString("hh:mm:ss.zzz") + ", " +
                            secondSeen.toString("hh:mm:ss.zzz")));
    }

    void terminalShowsAOneMegabyteBurstWhole() {
        test::PtyPair pty;
        QVERIFY(pty.ok());
        Ccom_Debug term(sys.root(), dir.path(), {pty.slavePath});
        term.show();
        static_cast<QComboBox*>(term.control(term::Baud))->setCurrentText("921600");
        QTest::mouseClick(static_cast<QPushButton*>(term.control(term::OpenClose)), Qt::LeftButton);
        QVERIFY2(term.terminal().isOpen(), qPrintable(static_cast<QLabel*>(term.control(term::Status))->text()));
        QByteArray burst;
        for (int line = 0; burst.size() < (1 << 20); ++line)
            burst += QByteArray::number(line).rightJustified(8, '0') + " the quick brown fox jumps over the lazy dog\n";
        burst.truncate(1 << 20);
        std::thread writer([&] { pty.writeMaster(std::vector<uint8_t>(burst.begin(), burst.end())); });
        QTRY_COMPARE_WITH_TIMEOUT(term.terminal().receivedCount(), uint64_t(1 << 20), 60000);
        writer.join();
        term.FlushReceived();
        QCOMPARE(term.receivedText(), QString::fromLatin1(burst));
    }
};

QTEST_MAIN(AccessoriesTest)
#include "accessories_test.moc"
