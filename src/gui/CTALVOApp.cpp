#include "gui/CTALVOApp.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

#include "gui/CTALVODlg.h"
#include "gui/Fonts.h"
#include "platform/WireTrace.h"
#include "sim/Simulators.h"

namespace talvo::gui {

int CTALVOApp::Run(const QStringList& arguments) {
    QApplication::setFont(DialogFont());

    sim::registerSimulators();
    QStringList args = arguments;
    QString traceError;
    if (!WireTrace::takeOption(args, &traceError)) {
        std::fprintf(stderr, "talvo-gui: %s\n", traceError.toLocal8Bit().constData());
        return 2;
    }

    CoreServices services;
    QString screenshot;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--port") && i + 1 < args.size()) {
            services.extraPorts << args[++i];
        } else if (a == QLatin1String("--screenshot") && i + 1 < args.size()) {
            screenshot = args[++i];
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs("Usage: talvo-gui [--port PATH|sim:CHIP]... [--trace[=FILE]] [--screenshot FILE.png]\n", stdout);
            return 0;
        } else {
            std::fprintf(stderr, "talvo-gui: unknown argument '%s'; see --help\n", a.toLocal8Bit().constData());
            return 2;
        }
    }

    CTALVODlg dlg(services);
    dlg.show();
    if (!screenshot.isEmpty()) {
        QTimer::singleShot(300, &dlg, [&dlg, screenshot] {
            const bool ok = dlg.grab().save(screenshot);
            std::fprintf(ok ? stdout : stderr, "%s %s\n", ok ? "saved" : "cannot save", screenshot.toLocal8Bit().constData());
            QCoreApplication::exit(ok ? 0 : 1);
        });
    }
    return QApplication::exec();
}

} // namespace talvo::gui
