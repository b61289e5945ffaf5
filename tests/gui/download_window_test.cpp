// "下载程序" in the window: a simulated board is programmed while the window
// goes on serving its events.
#include <QComboBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include "app/ControlIds.h"
#include "common/IsolatedRoots.h"
#include "gui/CTALVODlg.h"
#include "platform/SimBoardSet.h"
#include "platform/SimWireDevice.h"
#include "sim/SimChip.h"
#include "sim/Simulators.h"

using namespace talvo;
using namespace talvo::gui;

class DownloadWindowTest : public QObject {
    Q_OBJECT

private slots:
    void downloadProgramsTheBoardAndTheWindowStaysResponsive() {
        sim::registerSimulators();
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

        QByteArray flash;
        findSimBoard(port.mid(4))->withPeer([&](WirePeer& p) {
            const auto& f = static_cast<sim::SimChip&>(p).flash();
            flash = QByteArray(reinterpret_cast<const char*>(f.data()), w.core().Image().size());
        });
        QCOMPARE(flash, w.core().Image());
        w.core().StopPortWatch();
    }
    void cleanupTestCase() { releaseSimBoards(); }
};

QTEST_MAIN(DownloadWindowTest)
#include "download_window_test.moc"
