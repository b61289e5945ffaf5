// "下载程序" in the window: a simulated board is programmed while the window
// goes on serving its events; Escape and the close button during a download.
#include <QComboBox>
#include <QMessageBox>
#include <QSettings>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>
#include <QTemporaryDir>

#include <random>

#include "app/ControlIds.h"
#include "app/WindowTexts.h"
#include "common/IsolatedRoots.h"
#include "gui/CPortTest.h"
#include "gui/CTALVODlg.h"
#include "gui/Ccom_Debug.h"
#include "host/SerialDownloadHost.h"
#include "platform/PortClaims.h"
#include "platform/SimBoardSet.h"
#include "platform/SimWireDevice.h"
#include "platform/SystemSerialDeviceFactory.h"
#include "porttest/PortTestIds.h"
#include "serial/SerialChannel.h"
#include "serial/SerialTerminal.h"
#include "sim/SimChip.h"
#include "sim/Simulators.h"
#include "sim/Stm32Chip.h"

using namespace talvo;
using namespace talvo::gui;

namespace {

// The flash of a simulated board, as long as `size`.
QByteArray boardFlash(const QString& port, qsizetype size) {
    QByteArray flash;
    findSimBoard(port.mid(4))->withPeer([&](WirePeer& p) {
        const auto& f = static_cast<sim::SimChip&>(p).flash();
        flash = QByteArray(reinterpret_cast<const char*>(f.data()), size);
    });
    return flash;
}

bool boardProtected(const QString& port) {
    bool on = false;
    findSimBoard(port.mid(4))->withPeer([&](WirePeer& p) { on = static_cast<sim::Stm32Chip&>(p).readoutProtected(); });
    return on;
}

QByteArray randomBytes(int n, unsigned seed) {
    std::mt19937 rng(seed);
    QByteArray b(n, '\0');
    for (auto& c : b) c = static_cast<char>(rng() & 0xFF);
    return b;
}

// A window with the STC89 example chosen on a simulated board at `port`.
std::unique_ptr<CTALVODlg> stcWindow(test::IsolatedRoots& roots, const QString& port,
                                     std::shared_ptr<SerialDeviceFactory> devices = nullptr) {
    CoreServices services = roots.services();
    services.extraPorts = {port};
    services.devices = std::move(devices);
    auto w = std::make_unique<CTALVODlg>(services);
    w->RecordMessageBoxes = true;
    w->show();
    static_cast<QComboBox*>(w->control(ctl::ChipType))->setCurrentIndex(1);
    if (!w->core().SelectPort(port)) return nullptr;
    w->core().SetFirmwareFile(QStringLiteral(TALVO_SOURCE_DIR "/examples/stc89-blink/blink.hex"));
    return w;
}

// Clicks "下载程序"; while the download runs, `step` is called every few
// milliseconds from the download's own event loop, with the number of calls
// so far, until it returns false.
void downloadWith(CTALVODlg& w, const std::function<bool(int)>& step) {
    int calls = 0;
    bool more = true;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &w, [&] {
        if (more && w.core().IsDownloading()) more = step(calls++);
    });
    poll.start(5);
    QTest::mouseClick(static_cast<QPushButton*>(w.control(ctl::Download)), Qt::LeftButton);
}

// The process's devices, counting the opens of the window's downloads.
struct CountingFactory : SerialDeviceFactory {
    SystemSerialDeviceFactory system;
    int opened = 0;
    std::unique_ptr<SerialDevice> open(const QString& name, DeviceStatus* status) override {
        ++opened;
        return system.open(name, status);
    }
};

// Opens the window's serial terminal on `port`; whether it opened.
bool openTerminal(CTALVODlg& w, const QString& port) {
    Ccom_Debug* term = w.serialDebug();
    term->RecordMessageBoxes = true;
    auto* list = static_cast<QComboBox*>(term->control(gui::term::Port));
    list->setCurrentIndex(list->findText(port));
    if (list->currentText() != port) return false;
    QTest::mouseClick(static_cast<QPushButton*>(term->control(gui::term::OpenClose)), Qt::LeftButton);
    return term->terminal().isOpen();
}

// Clicks "下载程序" and answers the question the window asks at the end of
// the download: the button `yesText` when `yes`, the other one otherwise.
struct AskedQuestion {
    QString text;
    QStringList buttons;
};
AskedQuestion downloadAnswering(CTALVODlg& w, const QString& yesText, bool yes) {
    AskedQuestion asked;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, &w, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || box->objectName() != QLatin1String("question")) return;
        asked.text = box->text();
        for (QAbstractButton* b : box->buttons()) {
            asked.buttons << b->text();
            if ((b->text() == yesText) == yes) b->click();
        }
    });
    answer.start(10);
    QTest::mouseClick(static_cast<QPushButton*>(w.control(ctl::Download)), Qt::LeftButton);
    return asked;
}

} // namespace

class DownloadWindowTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { sim::registerSimulators(); }
    void downloadProgramsTheBoardAndTheWindowStaysResponsive() {
        test::IsolatedRoots roots;
        CoreServices services = roots.services();
        const QString port = QStringLiteral("sim:stc89c52rc,scale=0.2,switchfloor=0.5");
        services.extraPorts = {port};
        CTALVODlg w(services);
        w.RecordMessageBoxes = true;
        w.show();
        static_cast<QComboBox*>(w.control(ctl::ChipType))->setCurrentIndex(1);
        QVERIFY(w.core().SelectPort(port));
        w.core().SetFirmwareFile(QStringLiteral(TALVO_SOURCE_DIR "/examples/stc89-blink/blink.hex"));

        // Events posted during the download are served during it.
        QElapsedTimer clock;
        clock.start();
        qint64 timerServedAt = -1;
        int progressSeen = 0;
        QTimer::singleShot(300, &w, [&] { timerServedAt = clock.elapsed(); });
        QTimer poll;
        connect(&poll, &QTimer::timeout, &w, [&] {
            if (w.progress(ctl::Progress) > 0) ++progressSeen;
        });
        poll.start(5);
        QTest::mouseClick(static_cast<QPushButton*>(w.control(ctl::Download)), Qt::LeftButton);
        const qint64 downloadEnded = clock.elapsed();
        poll.stop();

        QVERIFY2(w.core().LastReport().success, qPrintable(w.text(ctl::StatusLog)));
        QVERIFY(w.text(ctl::StatusLog).endsWith(QString(39, u' ') + QStringLiteral("数 据 下 载 成 功!")));
        QVERIFY(timerServedAt > 0 && timerServedAt < downloadEnded);
        QVERIFY(progressSeen > 0);
        QCOMPARE(w.progress(ctl::Progress), 0);
        QVERIFY(w.core().panel().isEnabled(ctl::Download));

        QCOMPARE(boardFlash(port, w.core().Image().size()), w.core().Image());
        w.core().StopPortWatch();
    }

    // Escape during a download does nothing; the close button asks, and "否"
    // lets the download go on to its end with the window open.
    void escapeAndDeclinedCloseLeaveTheDownloadRunning() {
        test::IsolatedRoots roots;
        const QString port = QStringLiteral("sim:stc89c52rc,scale=0.2,switchfloor=0.5,freq=11.0592");
        auto w = stcWindow(roots, port);
        QVERIFY(w);
        bool escapeIgnored = false, asked = false, runningWhileAsked = false, declined = false;
        int progressAsked = 0;
        QPointer<QMessageBox> question;
        downloadWith(*w, [&](int) {
            if (w->progress(ctl::Progress) == 0) return true; // blocks not yet written
            if (!question) {
                QTest::keyClick(w.get(), Qt::Key_Escape);
                escapeIgnored = w->isVisible() && w->core().IsDownloading() && w->ExitCode == -1;
                w->close();
                question = w->stopDownloadQuestion();
                asked = question && question->isVisible() && question->text() == CTALVODlg::StopDownloadQuestionText();
                progressAsked = w->progress(ctl::Progress);
                return asked;
            }
            // The question does not hold the download up.
            if (w->progress(ctl::Progress) == progressAsked) return true;
            runningWhileAsked = question->isVisible();
            question->button(QMessageBox::No)->click();
            declined = w->isVisible() && w->core().IsDownloading();
            return false;
        });
        QVERIFY(escapeIgnored);
        QVERIFY(asked);
        QVERIFY(runningWhileAsked);
        QVERIFY(declined);
        QVERIFY2(w->core().LastReport().success, qPrintable(w->text(ctl::StatusLog)));
        QCOMPARE(boardFlash(port, w->core().Image().size()), w->core().Image());
        QVERIFY(w->isVisible());
        QCOMPARE(w->ExitCode, -1);
        w->core().StopPortWatch();
    }

    // A read-protected STM32 refuses the download; the window then asks
    // before it removes the protection, which erases the whole chip.
    // "取消" leaves the chip protected and as it was; "解除读保护并下载"
    // removes the protection and programs the image.
    void aReadProtectedChipIsUnprotectedOnlyWhenTheUserSaysSo() {
        test::IsolatedRoots roots;
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QByteArray old = randomBytes(4096, 7);
        const QByteArray image = randomBytes(3000, 8);
        const QString oldFile = dir.filePath(QStringLiteral("old.bin"));
        const QString imageFile = dir.filePath(QStringLiteral("app.bin"));
        for (const auto& [path, bytes] : {std::pair{oldFile, old}, std::pair{imageFile, image}}) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size());
        }
        const QString port = QStringLiteral("sim:stm32f103,rdp,load=") + oldFile;
        CoreServices services = roots.services();
        services.extraPorts = {port};
        CTALVODlg w(services);
        w.RecordMessageBoxes = true;
        w.show();
        static_cast<QComboBox*>(w.control(ctl::ChipType))->setCurrentIndex(0);
        QVERIFY(w.core().SelectPort(port));
        QVERIFY(w.core().SetFirmwareFile(imageFile));

        for (const bool yes : {false, true}) {
            const auto [asked, buttons] = downloadAnswering(w, UnprotectAnswerText(), yes);
            QVERIFY2(asked == UnprotectQuestionText(), qPrintable(w.text(ctl::StatusLog)));
            QCOMPARE(buttons.size(), 2);
            QVERIFY(buttons.contains(UnprotectAnswerText()));
            QVERIFY(buttons.contains(CancelAnswerText()));
            const QString log = w.text(ctl::StatusLog);
            QVERIFY2(log.contains(QStringLiteral("读保护已开启")), qPrintable(log));
            if (!yes) {
                QVERIFY(!w.core().LastReport().success);
                QVERIFY(boardProtected(port));
                QCOMPARE(boardFlash(port, old.size()), old);
            } else {
                QVERIFY2(w.core().LastReport().success, qPrintable(log));
                QVERIFY(w.core().LastReport().unprotected);
                QVERIFY(!boardProtected(port));
                // The whole chip was erased: what the image does not cover is gone.
                QCOMPARE(boardFlash(port, old.size()), image + QByteArray(old.size() - image.size(), '\xFF'));
            }
        }
        w.core().StopPortWatch();
    }
    // A chip of another chip type stops the download before anything changes
    // on it; the window then names the chip and offers its chip type.  "取消"
    // leaves the chip type and the chip as they were; the other answer
    // changes the chip type and downloads again.
    void aChipOfAnotherTypeIsOfferedItsChipType() {
        test::IsolatedRoots roots;
        const QString port = QStringLiteral("sim:stc12c5a60s2,scale=0.2,switchfloor=0.5");
        auto w = stcWindow(roots, port); // STC89 chosen
        QVERIFY(w);
        auto* chipType = static_cast<QComboBox*>(w->control(ctl::ChipType));
        const int stc12 = chipType->findText(QStringLiteral("STC12C60系列"));
        QVERIFY(stc12 > 1);
        // The simulated board's flash starts empty.
        const QByteArray erased(64, '\xFF');
        for (const bool yes : {false, true}) {
            const auto [asked, buttons] = downloadAnswering(*w, WrongChipTypeAnswerText(), yes);
            const QString log = w->text(ctl::StatusLog);
            QCOMPARE(asked, WrongChipTypeQuestionText(QStringLiteral("STC12C5A60S2"), stc12));
            QVERIFY2(asked.contains(QStringLiteral("STC12C5A60S2")) && asked.contains(QStringLiteral("“STC12C60系列”")),
                     qPrintable(asked));
            QCOMPARE(buttons.size(), 2);
            QVERIFY(buttons.contains(CancelAnswerText()));
            if (!yes) {
                QVERIFY(!w->core().LastReport().success);
                QCOMPARE(chipType->currentIndex(), 1);
                QCOMPARE(boardFlash(port, 64), erased);
            } else {
                QVERIFY2(w->core().LastReport().success, qPrintable(log));
                QCOMPARE(chipType->currentIndex(), stc12);
                QVERIFY(boardFlash(port, 64) != erased);
                // The chip type goes into the settings as every choice does.
                w->core().SaveSettings();
                QVERIFY(roots.settings.openForRead());
                QCOMPARE(roots.settings.readValue(QStringLiteral("MCUTYPE"), 16).value_or(QString()),
                         QString::number(stc12));
            }
        }
        w->core().StopPortWatch();
    }
    // "是" stops the download through the core's cancel: it ends at its next
    // wait, closes its port, and then the window closes and saves.  (The
    // close ends the application's event loops: a modal box opened after it
    // returns at once, so the tests with questions run before this one.)
    void confirmedCloseStopsTheDownloadCleanlyThenCloses() {
        test::IsolatedRoots roots;
        const QString port = QStringLiteral("sim:stc89c52rc,scale=0.2,switchfloor=0.5,freq=12");
        auto w = stcWindow(roots, port);
        QVERIFY(w);
        bool stillRunningAfterYes = false;
        downloadWith(*w, [&](int) {
            if (w->progress(ctl::Progress) == 0) return true;
            w->close();
            if (QMessageBox* question = w->stopDownloadQuestion()) question->button(QMessageBox::Yes)->click();
            stillRunningAfterYes = w->core().IsDownloading() && w->isVisible();
            return false;
        });
        QVERIFY(stillRunningAfterYes);
        QVERIFY(!w->core().IsDownloading());
        QVERIFY(!w->core().LastReport().success);
        QCOMPARE(w->core().LastReport().failure, QStringLiteral("下载已取消"));
        QVERIFY2(w->text(ctl::StatusLog).contains(QStringLiteral("\r\n下载已取消")), qPrintable(w->text(ctl::StatusLog)));
        QVERIFY(!w->core().Host().Channel().IsOpen());
        QCOMPARE(w->ExitCode, 0);
        QVERIFY(!w->isVisible());
        QCOMPARE(QSettings(roots.dir.filePath("TALVO.conf"), QSettings::IniFormat).value("MCUTYPE").toString(),
                 QStringLiteral("1"));
    }
    // A port has one user in the window at a time: the port test and the
    // serial terminal refuse the port a download holds (naming port and
    // holder) and the download goes on to success; a download refuses the
    // port the terminal holds, with one log line, before it opens anything.
    void aPortHeldByOneToolIsRefusedToTheOthers() {
        test::IsolatedRoots roots;
        const QString port = QStringLiteral("sim:stc89c52rc,switchfloor=0.5,scale=0.2,freq=12");
        auto devices = std::make_shared<CountingFactory>();
        auto window = stcWindow(roots, port, devices);
        QVERIFY(window);
        CTALVODlg& w = *window;
        CPortTest* pt = w.portTest();
        pt->RecordMessageBoxes = true;
        const QString heldByDownload = portBusyText(port, SerialDownloadHost::DownloadHolderName());

        bool testRefused = false, terminalRefused = false;
        downloadWith(w, [&](int) {
            if (w.progress(ctl::Progress) == 0) return true; // blocks not yet written
            QTest::mouseClick(static_cast<QPushButton*>(w.control(ctl::PortTest)), Qt::LeftButton);
            QTest::mouseClick(pt->findChild<QPushButton*>("1010"), Qt::LeftButton);
            testRefused = w.RecordedMessages.contains(heldByDownload) && pt->text(ptctl::State) == "测试失败." &&
                          pt->text(ptctl::Log).contains("原因：" + heldByDownload) && w.core().IsDownloading();
            terminalRefused = !openTerminal(w, port) && w.serialDebug()->RecordedMessages == QStringList{heldByDownload};
            return false;
        });
        QVERIFY2(testRefused, qPrintable(pt->text(ptctl::Log) + "\n" + w.RecordedMessages.join("\n")));
        QVERIFY2(terminalRefused, qPrintable(w.serialDebug()->RecordedMessages.join("\n")));
        QVERIFY2(w.core().LastReport().success, qPrintable(w.text(ctl::StatusLog)));
        QCOMPARE(boardFlash(port, w.core().Image().size()), w.core().Image());
        QVERIFY(portHolder(portClaimKey(port)).isEmpty());

        // Now the terminal holds the port: the download refuses it at once.
        QVERIFY(openTerminal(w, port));
        QCOMPARE(portHolder(portClaimKey(port)), SerialTerminal::HolderName());
        const int opensBefore = devices->opened;
        QTest::mouseClick(static_cast<QPushButton*>(w.control(ctl::Download)), Qt::LeftButton);
        const QString heldByTerminal = portBusyText(port, SerialTerminal::HolderName());
        QCOMPARE(w.text(ctl::StatusLog), heldByTerminal);
        QCOMPARE(w.core().LastReport().failure, heldByTerminal);
        QVERIFY(!w.core().LastReport().success);
        QCOMPARE(devices->opened, opensBefore);
        QVERIFY(w.core().panel().isEnabled(ctl::Download));
        QVERIFY(w.serialDebug()->terminal().isOpen());

        // Closed, the port is free for the next download.
        QTest::mouseClick(static_cast<QPushButton*>(w.serialDebug()->control(gui::term::OpenClose)), Qt::LeftButton);
        QVERIFY(portHolder(portClaimKey(port)).isEmpty());
        w.core().StopPortWatch();
    }

    void cleanupTestCase() { releaseSimBoards(); }
};

QTEST_MAIN(DownloadWindowTest)
#include "download_window_test.moc"
