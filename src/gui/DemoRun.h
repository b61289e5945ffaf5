#pragma once
// The demo: the window programs the bundled example firmware into simulated
// boards, driven through its own controls as a person would use them -- chip
// type, port, "打开文件" with the example chosen in the file dialog, then
// "下载程序".  Each download's log is printed, a picture of the finished
// window saved, and the run ends 0 only when every board's flash holds its
// example image.
//
// The boards are the "sim:" ports given with --port; each names a chip that
// has an example (the table below).  Nobody watches the window in this mode,
// so its message boxes are logged and answered.

#include <QObject>
#include <QString>
#include <QStringList>

#include <vector>

namespace talvo::gui {

class CTALVODlg;

// A simulated chip the demo can program, and the example for it.
struct DemoLeg {
    const char* simChip;  // the chip of "sim:CHIP[,options]"
    const char* chipType; // the chip-type list entry to pick
    const char* firmware; // the example, relative to the examples folder
    const char* picture;  // the picture of the finished window
};
const std::vector<DemoLeg>& DemoLegs();

// The leg for a "sim:" port; null when the port is no simulated board or its
// chip has no example.
const DemoLeg* DemoLegFor(const QString& port);

class DemoRun : public QObject {
public:
    // `ports`: the --port arguments; `examples`: the folder holding the
    // examples; `pictures`: where the pictures go.
    DemoRun(CTALVODlg& window, QStringList ports, QString examples, QString pictures);

    // Checks the arguments before any window exists: "" when the demo can
    // run, otherwise why not.
    static QString Problem(const QStringList& ports, const QString& examples, const QString& pictures);
    // Drives every leg, in the order of the ports; returns the exit code
    // (0: every board holds its image, 1: otherwise).
    int Run();

protected:
    // Answers the open-file dialog when it shows.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool RunLeg(const QString& port, const DemoLeg& leg);
    bool ChooseFirmware(const QString& path);

    CTALVODlg& Window;
    QStringList Ports;
    QString Examples;
    QString Pictures;
    QString PendingFile; // the file the next open-file dialog is to choose
    bool DialogAnswered = false;
};

} // namespace talvo::gui
