// bare_window: the reference for window_bench -- a Qt dialog holding one label
// in the window's font, measured like `talvo-gui --measure-start`.  What
// talvo-gui takes beyond this is the main window's own start.
#include <QApplication>
#include <QDialog>
#include <QLabel>

#include "gui/Fonts.h"
#include "gui/StartMeasure.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setFont(talvo::gui::DialogFont());
    QDialog dialog;
    dialog.resize(600, 450);
    auto* label = new QLabel(QStringLiteral("下载程序"), &dialog);
    label->move(20, 20);
    talvo::gui::MeasureFirstPaint(dialog);
    dialog.show();
    return QApplication::exec();
}
