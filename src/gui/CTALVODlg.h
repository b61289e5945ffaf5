#pragma once
// The main window: the controls of dialog template 102 laid out in dialog
// units, bound to the core's MainWindowCore through the FrontPanel interface.

#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QMap>
#include <QMessageBox>
#include <QPointer>

#include <functional>
#include <memory>

#include "panel/FrontPanel.h"
#include "app/MainWindowCore.h"
#include "gui/WidgetPanel.h"

class QLabel;
class QPlainTextEdit;
class QFrame;
class QMenu;
class QUrl;

namespace talvo::gui {

class CPortTest;
class Ccom_Debug;
class CUsbDevicesDlg;
class HelpWindow;
class Marquee;

// One control of the dialog template: id (-1 for labels without one), kind,
// text and position in dialog units.
struct TemplateControl {
    enum Kind { Edit, MultiLineEdit, Button, Static, ComboBox, Radio, GroupBox, Progress };
    int id;
    Kind kind;
    const char* text;
    int x, y, w, h;
};

// The controls of the main window, in creation order.
const std::vector<TemplateControl>& MainTemplate();
inline constexpr int kTemplateWidthDu = 395;
inline constexpr int kTemplateHeightDu = 292;

class CTALVODlg : public QDialog, public WidgetPanel {
    Q_OBJECT
    // Set in the modes that nobody watches (screenshot, demo): every message
    // box is logged to standard error, with its cause, and answered with OK
    // instead of waiting.  The constructor takes its first value, so boxes of
    // the initialisation (the settings) are answered too.
    Q_PROPERTY(bool AnswerMessageBoxes MEMBER AnswerMessageBoxes)
public:
    explicit CTALVODlg(CoreServices services = {}, QWidget* parent = nullptr, bool answerMessageBoxes = false);
    ~CTALVODlg() override;

    MainWindowCore& core() { return *Core; }
    // Dialog base units of the dialog font (average character width, height).
    QSize baseUnits() const { return BaseUnits; }
    QRect toPixels(int x, int y, int w, int h) const;
    static QString Caption();
    // The text the core shows in "CodeSize:%dByte" for an image of `bytes`.
    static QString CodeSizeText(qint64 bytes);

    // FrontPanel (the controls' own operations come from WidgetPanel)
    QString statusText(int part) const override;
    void setStatusText(int part, const QString& text) override;
    void messageBox(const QString& text, const QString& caption, MsgIcon icon) override;
    void messageBoxWithCause(const QString& text, const QString& caption, MsgIcon icon,
                             const QString& cause) override;
    bool askQuestion(const QString& text, const QString& caption, const QString& yesText, const QString& noText) override;
    QString askOpenFileName(const QString& filter, const QString& defaultSuffix) override;
    void quitApplication(int exitCode) override;

    // The window icon (a small chip) drawn at `size` pixels.
    static QImage DrawIcon(int size);

    // Message boxes are logged on standard error and answered (headless runs).
    bool AnswerMessageBoxes = false;
    int ExitCode = -1;

    // The question the close button asks while a download runs (null when it
    // is not up).  "是" stops the download and closes once it has ended.
    QMessageBox* stopDownloadQuestion() const { return StopQuestion; }
    static QString StopDownloadQuestionText();

public slots:
    // Escape closes through the same path as the close button; during a
    // download it does nothing.
    void reject() override;
    // Enter does not end the main window.
    void accept() override {}

public:
    // ---- Accessories: port test, terminal, USB devices, about, help, logo,
    //      slogan and the context menu (CTALVODlgAccessories.cpp) ------------
    CPortTest* portTest() const { return PortTest; }
    Ccom_Debug* serialDebug() const { return SerialDebug; }
    CUsbDevicesDlg* usbDevices() const { return UsbDevices; }
    Marquee* slogan() const { return Slogan; }
    QWidget* logo() const { return Logo; }
    // The logo's link area in client coordinates: x 401-597, y 417-438.
    static bool InLogoLink(const QPoint& client);
    // The folders the help pages are looked for in (tests replace them).
    QStringList HelpFolders;
    // The help window (null until the forum button was first pressed).
    HelpWindow* help() const { return Help; }
    void ShowAbout();
    // The help page in the window's language, in TALVO's own help window; a
    // page that cannot be found is named in the status log.
    void ShowHelp();
    void ShowUsbDevices();
    void ShowSerialDebug();
    void ShowPortTest();
    // "关于 TALVO(&A)..." and the check item "校验STM32下载".
    QMenu* BuildContextMenu(QWidget* parent);

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void BuildControls();
    void FitCodeSizeLabel();
    void BindCommands();
    void CreateMemberDialogs();
    void CreateStatusBar();
    static QIcon WindowIcon();
    void StartSloganStrip();

    std::unique_ptr<MainWindowCore> Core;
    QSize BaseUnits;
    QFrame* StatusBar = nullptr;
    QLabel* StatusParts[3] = {nullptr, nullptr, nullptr};
    bool Closing = false;

    // Closing during a download: ask, then stop it through the core's cancel
    // and close when StartDownload has returned (the port closed by then).
    void AskStopDownload();
    void StopDownloadAndClose();
    QPointer<QMessageBox> StopQuestion;
    bool CloseWhenDownloadEnds = false;

    // Accessories.
    void BindAccessories();
    // A loopback test still running ends at its next pump pass.
    void AbortPortTest();
    void CreateLogo();
    QString SysfsRoot, DevRoot;
    QStringList ExtraPorts;
    CPortTest* PortTest = nullptr;
    Ccom_Debug* SerialDebug = nullptr;
    CUsbDevicesDlg* UsbDevices = nullptr;
    HelpWindow* Help = nullptr;
    Marquee* Slogan = nullptr;
    QWidget* Logo = nullptr;
};

} // namespace talvo::gui
