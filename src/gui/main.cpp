#include <QApplication>

#include "gui/CTALVOApp.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("TALVO"));
    QCoreApplication::setApplicationName(QStringLiteral("TALVO"));
    talvo::gui::CTALVOApp theApp;
    return theApp.Run(QCoreApplication::arguments());
}
