#include "gui/CTALVOApp.h"

#include <QApplication>
#include <QTimer>

#include <cstdio>

#include "gui/CTALVODlg.h"
#include "gui/Fonts.h"

namespace talvo::gui {

int CTALVOApp::Run(const QStringList& arguments) {
    QApplication::setFont(DialogFont());

    CoreServices services;
    QString screenshot;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--port") && i + 1 < arguments.size()) {
            services.extraPorts << arguments[++i];
        } else if (a == QLatin1String("--screenshot") && i + 1 < arguments.size()) {
            screenshot = arguments[++i];
        } else if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs("Usage: talvo-gui [--port PATH]... [--screenshot FILE.png]\n", stdout);
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
