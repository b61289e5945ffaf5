#pragma once
// The about box (template 100, caption "关于 TALVO", font "宋体" 9): the
// program's icon, "TALVO 1.48 版", a second line, and "确定".

#include <QCoreApplication>
#include <QDialog>

namespace talvo::gui {

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(const QIcon& icon, QWidget* parent = nullptr);
    static QString VersionLine() { return QCoreApplication::translate("CAboutDlg", "TALVO 1.48 版"); }
    static QString SecondLine();
};

} // namespace talvo::gui
