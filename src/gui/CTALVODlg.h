#pragma once
// The main window: the controls of dialog template 102 laid out in dialog
// units, bound to the core's MainWindowCore through the FrontPanel interface.

#include <QDialog>
#include <QIcon>
#include <QImage>
#include <QMap>
#include <QPointer>

#include <memory>

#include "app/FrontPanel.h"
#include "app/MainWindowCore.h"

class QLabel;
class QPlainTextEdit;
class QFrame;

namespace talvo::gui {

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

class CTALVODlg : public QDialog, public FrontPanel {
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
    QWidget* control(int id) const { return Controls.value(id); }

    // FrontPanel
    QString text(int id) const override;
    void setText(int id, const QString& text) override;
    bool isEnabled(int id) const override;
    void setEnabled(int id, bool enabled) override;
    QStringList items(int id) const override;
    void setItems(int id, const QStringList& items) override;
    int currentIndex(int id) const override;
    void setCurrentIndex(int id, int index) override;
    bool isChecked(int id) const override;
    void setChecked(int id, bool checked) override;
    void setProgressRange(int id, int low, int high) override;
    void setProgress(int id, int position) override;
    int progress(int id) const override;
    QString statusText(int part) const override;
    void setStatusText(int part, const QString& text) override;
    void messageBox(const QString& text, const QString& caption, MsgIcon icon) override;
    void messageBoxWithCause(const QString& text, const QString& caption, MsgIcon icon,
                             const QString& cause) override;
    QString askOpenFileName(const QString& filter, const QString& defaultSuffix) override;
    void quitApplication(int exitCode) override;

    // The window icon (a small chip) drawn at `size` pixels.
    static QImage DrawIcon(int size);

    bool AnswerMessageBoxes = false;
    // Message boxes are recorded instead of shown when this is set (tests).
    bool RecordMessageBoxes = false;
    QStringList RecordedMessages;
    int ExitCode = -1;

public slots:
    // Escape closes through the same path as the close button.
    void reject() override;
    // Enter does not end the main window.
    void accept() override {}

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void BuildControls();
    void BindCommands();
    void CreateMemberDialogs();
    void CreateStatusBar();
    static QIcon WindowIcon();
    void StartSloganStrip();

    std::unique_ptr<MainWindowCore> Core;
    QMap<int, QWidget*> Controls;
    QSize BaseUnits;
    QString LogText; // the log exactly as the core wrote it ("\r\n" separators)
    QPlainTextEdit* LogBox = nullptr;
    QFrame* StatusBar = nullptr;
    QLabel* StatusParts[3] = {nullptr, nullptr, nullptr};
    bool Closing = false;
};

} // namespace talvo::gui
