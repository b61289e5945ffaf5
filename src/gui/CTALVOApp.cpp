#include "gui/CTALVOApp.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QLibraryInfo>
#include <QLocale>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <cstring>

#include "gui/CTALVODlg.h"
#include "gui/DemoRun.h"
#include "gui/Fonts.h"
#include "gui/StartMeasure.h"
#include "platform/Language.h"
#include "platform/SimBoardSet.h"
#include "platform/WireTrace.h"
#include "sim/Simulators.h"

namespace talvo::gui {

namespace {

void print(FILE* to, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), to);
    std::fflush(to);
}

// The sizes of the hicolor icon theme that a desktop entry's icon is looked up in.
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

// Writes DIR/NxN/apps/talvo.png for every size; false with a message on stderr.
bool ExportIcon(const QString& dir) {
    for (int size : kIconSizes) {
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(dir).arg(size);
        const QString file = folder + QStringLiteral("/talvo.png");
        if (!QDir().mkpath(folder) || !CTALVODlg::DrawIcon(size).save(file, "PNG")) {
            print(stderr, QStringLiteral("talvo-gui: cannot write the icon %1\n").arg(file));
            return false;
        }
    }
    return true;
}

} // namespace

QString CTALVOApp::UsageText() {
    return QStringLiteral(
        "Usage: talvo-gui [--lang zh|en] [--port PATH|sim:CHIP]... [--trace[=FILE]] [--screenshot FILE.png]\n"
        "                 [--measure-start]\n"
        "       talvo-gui --demo EXAMPLES [--pictures DIR] --port sim:CHIP...\n"
        "       talvo-gui --export-icon DIR | --version | --help\n"
        "\n"
        "The TALVO window: programs STC 8051 and STM32 microcontrollers through\n"
        "their serial bootloaders.\n"
        "\n"
        "  --lang zh|en          the window's language: Chinese or English (default: the\n"
        "                        settings' Language=zh|en, else the locale: Chinese for a\n"
        "                        Chinese locale or none (C, POSIX), English otherwise)\n"
        "  --port PATH|sim:CHIP  add an entry to the port list (repeatable)\n"
        "  --trace[=FILE]        log every byte on the wire to standard error or FILE\n"
        "                        (also: environment variable TALVO_TRACE=FILE)\n"
        "  --screenshot FILE     save a picture of the window and end; message boxes\n"
        "                        are answered and logged to standard error\n"
        "  --demo EXAMPLES       program the example firmware of the folder EXAMPLES into\n"
        "                        each simulated board given with --port (sim:stc89c52rc,\n"
        "                        sim:stm32f103) through the window's own controls, print\n"
        "                        each log, save a picture of each finished window and end:\n"
        "                        0 when every board holds its example, 1 otherwise;\n"
        "                        message boxes are answered and logged as above\n"
        "  --pictures DIR        where --demo saves its pictures (default: .)\n"
        "  --export-icon DIR     write the window icon as DIR/NxN/apps/talvo.png and end\n"
        "  --measure-start       at the window's first paint, print how long after the\n"
        "                        start it came and the resident memory, and close\n"
        "  --version             print the version and the Qt version\n"
        "  --help                print this text\n");
}

QString CTALVOApp::VersionText() {
    return QStringLiteral("talvo-gui %1 (Qt %2)\n").arg(QStringLiteral(TALVO_VERSION), QString::fromLatin1(qVersion()));
}

std::optional<int> CTALVOApp::AnswerWithoutDisplay(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            print(stdout, UsageText());
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            print(stdout, VersionText());
            return 0;
        }
    }
    return std::nullopt;
}

bool CTALVOApp::NeedsNoDisplay(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--export-icon") == 0) return true;
    return false;
}

bool CTALVOApp::InstallTranslations(QStringList& arguments) {
    // --lang, the settings' "Language", then the locale; Qt's own texts (the
    // file dialog's sizes and dates too) follow the same language.
    const std::optional<QString> option = takeLanguageOption(arguments);
    if (option && !parseLanguage(*option)) {
        print(stderr, QStringLiteral("talvo-gui: --lang takes zh or en, not '%1'\n").arg(*option));
        return false;
    }
    InstallLanguage(chooseLanguage(option.value_or(QString()), settingsLanguage(), environmentLocale()));
    return true;
}

void CTALVOApp::InstallLanguage(Language language) {
    QLocale::setDefault(language == Language::Chinese ? QLocale(QLocale::Chinese, QLocale::China)
                                                      : QLocale(QLocale::English, QLocale::UnitedStates));
    QString error;
    if (!installTranslations(*qApp, language, true, &error)) print(stderr, QStringLiteral("talvo-gui: %1\n").arg(error));
}

int CTALVOApp::Run(const QStringList& arguments) {
    QApplication::setFont(DialogFont());
    QStringList args = arguments;
    if (!InstallTranslations(args)) return 2;

    sim::registerSimulators();
    QString traceError;
    if (!WireTrace::takeOption(args, &traceError)) {
        print(stderr, QStringLiteral("talvo-gui: %1\n").arg(traceError));
        return 2;
    }

    CoreServices services;
    QString screenshot;
    bool measureStart = false;
    QString demoExamples;
    QString demoPictures = QStringLiteral(".");
    bool demo = false;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--port") && i + 1 < args.size()) {
            services.extraPorts << args[++i];
        } else if (a == QLatin1String("--screenshot") && i + 1 < args.size()) {
            screenshot = args[++i];
        } else if (a == QLatin1String("--measure-start")) {
            measureStart = true;
        } else if (a == QLatin1String("--demo") && i + 1 < args.size()) {
            demo = true;
            demoExamples = args[++i];
        } else if (a == QLatin1String("--pictures") && i + 1 < args.size()) {
            demoPictures = args[++i];
        } else if (a == QLatin1String("--export-icon") && i + 1 < args.size()) {
            return ExportIcon(args[++i]) ? 0 : 1;
        } else {
            print(stderr, QStringLiteral("talvo-gui: unknown argument '%1'; see --help\n").arg(a));
            return 2;
        }
    }

    if (demo) {
        if (!screenshot.isEmpty() || measureStart) {
            print(stderr, QStringLiteral("talvo-gui: --demo saves its own pictures; it takes no --screenshot or --measure-start\n"));
            return 2;
        }
        if (const QString problem = DemoRun::Problem(services.extraPorts, demoExamples, demoPictures);
            !problem.isEmpty()) {
            print(stderr, QStringLiteral("talvo-gui: %1\n").arg(problem));
            return 2;
        }
        // The demo answers the open-file dialog itself; Qt's own dialog is
        // the one it knows how to answer.
        QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    }
    const QStringList ports = services.extraPorts;

    // Nobody answers a message box in the screenshot and demo modes: the
    // window logs and answers its boxes itself, from its very first one on.
    // Nor while the start is measured: a box must not hold the measurement up.
    CTALVODlg dlg(services, nullptr, !screenshot.isEmpty() || demo || measureStart);
    if (measureStart)
        MeasureFirstPaint(dlg);
    DemoRun demoRun(dlg, ports, demoExamples, demoPictures);
    if (demo) QTimer::singleShot(0, &dlg, [&demoRun] { QCoreApplication::exit(demoRun.Run()); });
    dlg.show();
    if (!screenshot.isEmpty()) {
        QTimer::singleShot(300, &dlg, [&dlg, screenshot] {
            const bool ok = dlg.grab().save(screenshot);
            print(ok ? stdout : stderr, QStringLiteral("%1 %2\n").arg(QLatin1String(ok ? "saved" : "cannot save"), screenshot));
            QCoreApplication::exit(ok ? 0 : 1);
        });
    }
    const int exitCode = QApplication::exec();
    // Simulated boards end here (their chips write any requested dumps).
    releaseSimBoards();
    return exitCode;
}

} // namespace talvo::gui
