#include <QApplication>

#include "gui/CTALVOApp.h"

int main(int argc, char** argv) {
    if (const auto answered = talvo::gui::CTALVOApp::AnswerWithoutDisplay(argc, argv)) return *answered;
    if (talvo::gui::CTALVOApp::NeedsNoDisplay(argc, argv)) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("TALVO"));
    QCoreApplication::setApplicationName(QStringLiteral("TALVO"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TALVO_VERSION));
    talvo::gui::CTALVOApp theApp;
    return theApp.Run(QCoreApplication::arguments());
}
