#include "gui/DemoRun.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>

#include <cstdio>

#include "app/ControlIds.h"
#include "gui/CTALVODlg.h"
#include "platform/SimRegistry.h"
#include "sim/BoardFlash.h"

namespace talvo::gui {

namespace {

// The open-file dialog shows at once; if it is not answered within this
// time something else holds the window, and the leg gives up.
constexpr int kFileDialogTimeoutMs = 10000;

void say(FILE* to, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), to);
    std::fflush(to);
}

} // namespace

const std::vector<DemoLeg>& DemoLegs() {
    static const std::vector<DemoLeg> legs = {
        // simulated chip  chip-type entry    example (under examples/)       picture
        {"stc89c52rc", "STC89C5XX系列", "stc89-blink/blink.hex", "demo-stc89.png"},
        {"stm32f103", "ARM-STM32", "stm32f103-blink/blink.hex", "demo-stm32f103.png"},
        // The 8051 example runs on the newer 8051 families too.
        {"stc15w4k56s4", "STC15系列", "stc89-blink/blink.hex", "demo-stc15.png"},
        {"stc8a8k64s4a12", "STC8系列", "stc89-blink/blink.hex", "demo-stc8.png"},
    };
    return legs;
}

const DemoLeg* DemoLegFor(const QString& port) {
    if (!port.startsWith(QLatin1String(kSimPortPrefix))) return nullptr;
    const QString chip = port.mid(int(sizeof kSimPortPrefix) - 1).section(QLatin1Char(','), 0, 0).toLower();
    for (const DemoLeg& leg : DemoLegs())
        if (chip == QLatin1String(leg.simChip)) return &leg;
    return nullptr;
}

DemoRun::DemoRun(CTALVODlg& window, QStringList ports, QString examples, QString pictures)
    : Window(window),
      Ports(std::move(ports)),
      Examples(std::move(examples)),
      Pictures(std::move(pictures)) {}

QString DemoRun::Problem(const QStringList& ports, const QString& examples, const QString& pictures) {
    QStringList known;
    for (const DemoLeg& leg : DemoLegs()) known << QStringLiteral("--port sim:%1").arg(QLatin1String(leg.simChip));
    if (ports.isEmpty())
        return QStringLiteral("the demo needs a simulated board to program: %1").arg(known.join(QStringLiteral(", ")));
    if (!QFileInfo(examples).isDir()) return QStringLiteral("the examples folder %1 does not exist").arg(examples);
    for (const QString& port : ports) {
        const DemoLeg* leg = DemoLegFor(port);
        if (!leg)
            return QStringLiteral("no example firmware for --port %1 (the demo programs %2)")
                .arg(port, known.join(QStringLiteral(", ")));
        const QString firmware = QDir(examples).filePath(QString::fromUtf8(leg->firmware));
        if (!QFileInfo(firmware).isFile()) return QStringLiteral("the example firmware %1 is missing").arg(firmware);
    }
    if (!QDir().mkpath(pictures)) return QStringLiteral("cannot make the folder %1 for the pictures").arg(pictures);
    return {};
}

int DemoRun::Run() {
    int good = 0;
    for (const QString& port : Ports) good += RunLeg(port, *DemoLegFor(port)) ? 1 : 0;
    say(stdout,
        QStringLiteral("demo: %1 of %2 simulated boards hold their example firmware\n").arg(good).arg(Ports.size()));
    return good == Ports.size() ? 0 : 1;
}

bool DemoRun::RunLeg(const QString& port, const DemoLeg& leg) {
    MainWindowCore& core = Window.core();
    const QString chipType = QString::fromUtf8(leg.chipType);
    const QString firmware = QFileInfo(QDir(Examples).filePath(QString::fromUtf8(leg.firmware))).absoluteFilePath();
    say(stdout, QStringLiteral("== demo: %1 on %2 with %3\n").arg(chipType, port, firmware));
    auto fail = [&](const QString& why) {
        say(stdout, QStringLiteral("demo: FAILED on %1: %2\n").arg(port, why));
        return false;
    };

    // The controls, in the order a person sets them.
    auto* chips = qobject_cast<QComboBox*>(Window.control(ctl::ChipType));
    const int chipIndex = chips->findText(chipType);
    if (chipIndex < 0) return fail(QStringLiteral("the chip-type list has no entry %1").arg(chipType));
    chips->setCurrentIndex(chipIndex);
    emit chips->activated(chipIndex);

    auto* portBox = qobject_cast<QComboBox*>(Window.control(ctl::PortList));
    const int portIndex = core.PortDeviceList().indexOf(port);
    if (portIndex < 0 || portIndex >= portBox->count())
        return fail(QStringLiteral("the port list has no entry for %1").arg(port));
    portBox->setCurrentIndex(portIndex);
    emit portBox->activated(portIndex);

    qobject_cast<QAbstractButton*>(Window.control(ctl::HighSpeed))->click();

    if (!ChooseFirmware(firmware)) return fail(QStringLiteral("the open-file dialog did not take %1").arg(firmware));

    qobject_cast<QAbstractButton*>(Window.control(ctl::Download))->click();

    QString log = Window.text(ctl::StatusLog);
    log.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    if (log.isEmpty()) log = QStringLiteral("(the download left the log empty)");
    say(stdout, log + (log.endsWith(QLatin1Char('\n')) ? QString() : QStringLiteral("\n")));

    // The picture of the finished window, whatever came of the download.
    const QString picture = QDir(Pictures).filePath(QString::fromUtf8(leg.picture));
    if (Window.grab().save(picture))
        say(stdout, QStringLiteral("demo: the finished window is in %1\n").arg(picture));
    else
        say(stderr, QStringLiteral("demo: cannot save the picture %1\n").arg(picture));

    const protocol::DownloadReport& report = core.LastReport();
    if (!report.success)
        return fail(QStringLiteral("the download did not succeed%1")
                        .arg(report.failure.trimmed().isEmpty()
                                 ? QString()
                                 : QStringLiteral(" (%1)").arg(report.failure.trimmed())));
    const QByteArray image = core.Image();
    if (const QString mismatch = sim::SimFlashMismatch(port, image, core.ImageStart()); !mismatch.isEmpty())
        return fail(QStringLiteral("the simulated chip's flash %1").arg(mismatch));
    say(stdout, QStringLiteral("demo: %1 holds %2 (%3 bytes)\n").arg(port, firmware).arg(image.size()));
    return true;
}

bool DemoRun::ChooseFirmware(const QString& path) {
    PendingFile = path;
    DialogAnswered = false;
    qApp->installEventFilter(this);
    // A dialog that never gets its answer (another modal window in the way)
    // is closed, so the demo ends instead of waiting for ever.
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, this, [] {
        if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) dialog->reject();
    });
    timeout.start(kFileDialogTimeoutMs);
    qobject_cast<QAbstractButton*>(Window.control(ctl::OpenFile))->click();
    timeout.stop();
    qApp->removeEventFilter(this);
    PendingFile.clear();
    return DialogAnswered && QFileInfo(Window.core().FirmwareFile()) == QFileInfo(path);
}

bool DemoRun::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Show && !PendingFile.isEmpty()) {
        if (auto* dialog = qobject_cast<QFileDialog*>(watched)) {
            // Answered from the dialog's own event loop, once it runs.
            QPointer<QFileDialog> guard(dialog);
            const QString file = PendingFile;
            QTimer::singleShot(0, dialog, [this, guard, file] {
                if (!guard) return;
                guard->selectFile(file);
                DialogAnswered = true;
                QMetaObject::invokeMethod(guard, "accept"); // the button "打开" does the same
            });
        }
    }
    return QObject::eventFilter(watched, event);
}

} // namespace talvo::gui
