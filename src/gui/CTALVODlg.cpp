#include "gui/CTALVODlg.h"

#include <QCoreApplication>

#include <QApplication>
#include <QButtonGroup>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "app/ControlIds.h"
#include "app/MainWindowPanel.h"
#include "gui/DialogUnits.h"
#include "gui/FileDialogLook.h"
#include "gui/Fonts.h"
#include "host/SerialDownloadHost.h"
#include "image/HexToBin.h"

namespace talvo::gui {

namespace {
void print(FILE* to, const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), to);
    std::fflush(to);
}
} // namespace

const std::vector<TemplateControl>& MainTemplate() {
    using C = TemplateControl;
    static const std::vector<TemplateControl> controls = {
        {1004, C::MultiLineEdit, "", 6, 3, 388, 148},
        {-1, C::GroupBox, QT_TRANSLATE_NOOP("Template", "辅助功能"), 207, 157, 131, 51},
        {1005, C::Button, QT_TRANSLATE_NOOP("Template", "下载程序"), 340, 171, 53, 30},
        {-1, C::Static, QT_TRANSLATE_NOOP("Template", "芯片类型"), 4, 160, 37, 8},
        {1034, C::ComboBox, "", 42, 160, 88, 80},
        {1020, C::Button, QT_TRANSLATE_NOOP("Template", "芯片"), 132, 159, 28, 16},
        {-1, C::Static, QT_TRANSLATE_NOOP("Template", "串口号"), 4, 179, 37, 10},
        {1006, C::ComboBox, "", 42, 177, 163, 109},
        {-1, C::Static, QT_TRANSLATE_NOOP("Template", "波特率"), 10, 196, 25, 9},
        {1007, C::ComboBox, "", 41, 193, 71, 96},
        {1037, C::Radio, QT_TRANSLATE_NOOP("Template", "高速下载"), 115, 195, 43, 10},
        {1038, C::Radio, QT_TRANSLATE_NOOP("Template", "低速下载"), 160, 195, 46, 10},
        {1035, C::Button, QT_TRANSLATE_NOOP("Template", " 打开设备管理器"), 209, 169, 63, 17},
        {1021, C::Button, QT_TRANSLATE_NOOP("Template", "串口调试助手"), 273, 169, 63, 17},
        {1010, C::Button, QT_TRANSLATE_NOOP("Template", "串口检测"), 209, 190, 63, 17},
        {1036, C::Button, QT_TRANSLATE_NOOP("Template", "Velmora技术论坛"), 274, 190, 63, 17},
        {1028, C::Static, "", 338, 160, 57, 11},
        {-1, C::Static, QT_TRANSLATE_NOOP("Template", "文件名"), 4, 212, 37, 9},
        {1026, C::Edit, "", 42, 209, 279, 15},
        {1011, C::Button, QT_TRANSLATE_NOOP("Template", "打开文件"), 344, 208, 45, 22},
        {1022, C::Progress, "", 7, 229, 314, 17},
        {1027, C::Static, "", 323, 231, 72, 14},
    };
    return controls;
}

QString CTALVODlg::Caption() {
    return QCoreApplication::translate("CTALVODlg", "TALVO V1.48（程序烧录软件）  Velmora科技  https://talvo.invalid/");
}

CTALVODlg::CTALVODlg(CoreServices services, QWidget* parent, bool answerMessageBoxes)
    : QDialog(parent), WidgetPanel(this), AnswerMessageBoxes(answerMessageBoxes) {
    setWindowTitle(Caption());
    // A fixed frame with system menu and minimise box.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFont(DialogFont());

    // Dialog base units from the dialog font.  The character height is the
    // font's em height in pixels (what Windows reports for the dialog's own
    // face); a fallback face's larger line spacing would otherwise stretch the
    // window out of the template's proportions.
    BaseUnits = DialogBaseUnits(font());

    BuildControls();
    SysfsRoot = services.sysfsRoot;
    DevRoot = services.devRoot;
    ExtraPorts = services.extraPorts;
    Core = std::make_unique<MainWindowCore>(*this, std::move(services));
    BindCommands();
    BindAccessories();

    // Initialisation, in the window's fixed order: the window's own parts
    // first (member dialogs, status bar, icon), then the core's steps (port
    // watch, selections, settings, port list), then the slogan strip.
    CreateMemberDialogs();
    CreateStatusBar();
    setWindowIcon(WindowIcon());
    Core->Initialise();
    StartSloganStrip();
    // The serial debug window is a working terminal here: its button is offered.
    WidgetPanel::setEnabled(ctl::SerialDebug, true);

    // The clock in the status bar follows the repaints, and advances once a
    // second by itself: only its part of the status bar is repainted then,
    // not the whole window (which would cost an idle window a third of a
    // percent of a core).
    auto* clockTimer = new QTimer(this);
    connect(clockTimer, &QTimer::timeout, this, [this] { Core->ShowClock(); });
    clockTimer->start(1000);
    Core->ShowClock();
}


QRect CTALVODlg::toPixels(int x, int y, int w, int h) const { return DialogRect(BaseUnits, x, y, w, h); }

void CTALVODlg::BuildControls() {
    const QRect client = toPixels(0, 0, kTemplateWidthDu, kTemplateHeightDu);
    setFixedSize(client.size());

    auto* radios = new QButtonGroup(this);
    for (const TemplateControl& c : MainTemplate()) {
        const QString text = QCoreApplication::translate("Template", c.text);
        QRect r = toPixels(c.x, c.y, c.w, c.h);
        QWidget* w = nullptr;
        switch (c.kind) {
        case TemplateControl::MultiLineEdit: {
            auto* e = new QPlainTextEdit(this);
            e->setReadOnly(true);
            e->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            e->setLineWrapMode(QPlainTextEdit::WidgetWidth);
            w = e;
            break;
        }
        case TemplateControl::Edit: {
            auto* e = new QLineEdit(this);
            e->setReadOnly(true);
            w = e;
            break;
        }
        case TemplateControl::Button:
            // No default button: Enter presses the focused button (see
            // keyPressEvent) and nothing else.
            w = new QPushButton(text, this);
            static_cast<QPushButton*>(w)->setAutoDefault(false);
            break;
        case TemplateControl::Static:
            w = new QLabel(text, this);
            break;
        case TemplateControl::ComboBox: {
            auto* cb = new QComboBox(this);
            cb->setEditable(false);
            cb->setInsertPolicy(QComboBox::NoInsert);
            // The template's height is that of the dropped list; the closed
            // box is as high as the font needs.
            r.setHeight(std::min(r.height(), cb->sizeHint().height()));
            w = cb;
            break;
        }
        case TemplateControl::Radio: {
            auto* rb = new QRadioButton(text, this);
            // Windows draws a 13-pixel circle with a small gap; keep the
            // text inside the template's width as it does.
            rb->setStyleSheet(QStringLiteral("QRadioButton { spacing: 2px; } "
                                             "QRadioButton::indicator { width: 11px; height: 11px; }"));
            radios->addButton(rb, c.id);
            w = rb;
            break;
        }
        case TemplateControl::GroupBox:
            w = new QGroupBox(text, this);
            break;
        case TemplateControl::Progress: {
            auto* p = new QProgressBar(this);
            p->setTextVisible(false);
            w = p;
            break;
        }
        }
        w->setGeometry(r);
        if (c.id > 0) {
            w->setObjectName(QString::number(c.id));
            Controls.insert(c.id, w);
        }
    }
    static_cast<QComboBox*>(Controls[ctl::PortList])->addItems(InitialPortItems());
    static_cast<QComboBox*>(Controls[ctl::BaudList])->addItems(InitialBaudItems());
    static_cast<QComboBox*>(Controls[ctl::ChipType])->addItems(InitialChipTypeItems());
    for (int id : {ctl::PortList, ctl::BaudList, ctl::ChipType})
        static_cast<QComboBox*>(Controls[id])->setCurrentIndex(-1);
    FitCodeSizeLabel();
}

void CTALVODlg::FitCodeSizeLabel() {
    // "CodeSize:%dByte" stands at the window's right edge.  With the size of
    // the largest image the window loads it needs more than the template's
    // width: the label keeps its right edge and takes what its text needs
    // from the progress bar, which keeps the template's gap before it.
    auto* label = static_cast<QLabel*>(Controls[ctl::CodeSize]);
    QWidget* progress = Controls[ctl::Progress];
    const QString widest = CodeSizeText(HexToBin::kMaxImageBytes);
    const int needed = label->fontMetrics().horizontalAdvance(widest) + 2 * label->margin() + 2;
    QRect r = label->geometry();
    if (r.width() >= needed) return;
    const int gap = r.left() - progress->geometry().right() - 1;
    r.setLeft(r.right() + 1 - needed);
    label->setGeometry(r);
    QRect p = progress->geometry();
    p.setRight(r.left() - 1 - gap);
    progress->setGeometry(p);
}

QString CTALVODlg::CodeSizeText(qint64 bytes) { return QStringLiteral("CodeSize:%1Byte").arg(bytes); }

void CTALVODlg::BindCommands() {
    auto button = [this](int id) { return static_cast<QPushButton*>(Controls[id]); };
    connect(button(ctl::Download), &QPushButton::clicked, this, [this] {
        Core->StartDownload();
        // The user asked to stop it and close: the download has ended, its
        // port is closed.
        if (CloseWhenDownloadEnds) close();
    });
    connect(button(ctl::OpenFile), &QPushButton::clicked, this, [this] { Core->OpenFirmwareFile(); });
    connect(static_cast<QComboBox*>(Controls[ctl::PortList]), QOverload<int>::of(&QComboBox::activated), this,
            [this](int) { Core->OnPortSelected(); });
    connect(static_cast<QRadioButton*>(Controls[ctl::HighSpeed]), &QRadioButton::clicked, this,
            [this] { Core->OnSpeedMode(false); });
    connect(static_cast<QRadioButton*>(Controls[ctl::LowSpeed]), &QRadioButton::clicked, this,
            [this] { Core->OnSpeedMode(true); });
}


void CTALVODlg::CreateStatusBar() {
    // Along the bottom edge, three parts whose right edges stand at 100 and
    // 398 pixels and at the window's edge.
    const int width = this->width();
    const int barHeight = fontMetrics().height() + 8;
    StatusBar = new QFrame(this);
    StatusBar->setObjectName(QStringLiteral("statusbar"));
    StatusBar->setGeometry(0, height() - barHeight, width, barHeight);
    const int edges[4] = {0, 100, 398, width};
    for (int i = 0; i < 3; ++i) {
        auto* part = new QLabel(StatusBar);
        part->setObjectName(QStringLiteral("statuspart%1").arg(i));
        part->setFrameShape(QFrame::Panel);
        part->setFrameShadow(QFrame::Sunken);
        part->setIndent(2);
        part->setGeometry(edges[i], 0, edges[i + 1] - edges[i], barHeight);
        StatusParts[i] = part;
    }
    StatusBar->show();
    CreateLogo();
}

QImage CTALVODlg::DrawIcon(int size) {
    // A small chip with pins and a green "T".
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = size / 16.0;
    p.setPen(QPen(QColor(90, 90, 90), u));
    for (int i = 0; i < 4; ++i) {
        const qreal y = (3.5 + 3 * i) * u;
        p.drawLine(QPointF(1 * u, y), QPointF(3 * u, y));
        p.drawLine(QPointF(13 * u, y), QPointF(15 * u, y));
    }
    p.setBrush(QColor(30, 30, 30));
    p.drawRoundedRect(QRectF(3 * u, 1.5 * u, 10 * u, 13 * u), u, u);
    p.setPen(QColor(0, 175, 0));
    QFont f = p.font();
    f.setPixelSize(static_cast<int>(9 * u));
    f.setBold(true);
    p.setFont(f);
    p.drawText(QRectF(3 * u, 1.5 * u, 10 * u, 13 * u), Qt::AlignCenter, QStringLiteral("T"));
    p.end();
    return image;
}

QIcon CTALVODlg::WindowIcon() {
    // The window's icon, large and small, drawn once.
    QIcon icon;
    for (int size : {16, 32, 48}) icon.addPixmap(QPixmap::fromImage(DrawIcon(size)));
    return icon;
}


// ---------------------------------------------------------------------------
// Close, Enter and Escape

void CTALVODlg::closeEvent(QCloseEvent* event) {
    if (Closing) {
        event->accept();
        return;
    }
    event->ignore();
    if (Core->IsDownloading()) {
        // The download's loop is on the stack below this event: it is asked
        // to stop and the window closes after it has returned.
        AskStopDownload();
        return;
    }
    Closing = true;
    Core->OnCloseWindow();
}

void CTALVODlg::reject() {
    // Escape during a download would leave the chip half-written.
    if (Core->IsDownloading()) return;
    close();
}

QString CTALVODlg::StopDownloadQuestionText() {
    return QCoreApplication::translate("CTALVODlg", "正在下载程序。停止下载并关闭窗口吗？\n停止后芯片中的程序不完整，需要重新下载。");
}

void CTALVODlg::AskStopDownload() {
    if (AnswerMessageBoxes && !RecordMessageBoxes) {
        // Nobody watches: a close request ends the run.
        print(stderr, QStringLiteral("talvo-gui: message box \"%1\" answered with Yes\n")
                          .arg(StopDownloadQuestionText().replace(QLatin1Char('\n'), QLatin1Char(' '))));
        StopDownloadAndClose();
        return;
    }
    if (StopQuestion) {
        StopQuestion->raise();
        StopQuestion->activateWindow();
        return;
    }
    // Window-modal and not waited for: the download goes on being served
    // while the question is up, so "否" lets it finish as if nothing happened.
    StopQuestion = new QMessageBox(QMessageBox::Question, AppTitle(), StopDownloadQuestionText(),
                                   QMessageBox::Yes | QMessageBox::No, this);
    StopQuestion->setObjectName(QStringLiteral("stopdownload"));
    StopQuestion->setDefaultButton(QMessageBox::No);
    StopQuestion->setEscapeButton(QMessageBox::No);
    StopQuestion->setAttribute(Qt::WA_DeleteOnClose);
    StopQuestion->setWindowModality(Qt::WindowModal);
    connect(StopQuestion, &QMessageBox::finished, this, [this](int result) {
        if (result == QMessageBox::Yes) StopDownloadAndClose();
    });
    StopQuestion->open();
}

void CTALVODlg::StopDownloadAndClose() {
    CloseWhenDownloadEnds = true;
    if (Core->IsDownloading())
        Core->Host().RequestCancel();
    else // it ended while the question was up
        QTimer::singleShot(0, this, &CTALVODlg::close);
}

void CTALVODlg::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // A focused button passes Enter on to the window: press it.  Enter
        // anywhere else neither presses a button nor closes the window.
        if (auto* button = qobject_cast<QPushButton*>(focusWidget()); button && button->isEnabled())
            button->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CTALVODlg::quitApplication(int exitCode) {
    ExitCode = exitCode;
    AbortPortTest();
    hide();
    if (Core->IsDownloading()) {
        // Closed in the middle of a download: the download's own loop is
        // still on the stack, so end the process at once (the settings are
        // already saved and the channel is stopped).
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    QCoreApplication::exit(exitCode);
}

void CTALVODlg::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    if (Core) Core->ShowClock();
}

// ---------------------------------------------------------------------------
// FrontPanel: the controls through WidgetPanel; the status bar, the file
// dialog and the end of the application here.

QString CTALVODlg::statusText(int part) const {
    return part >= 0 && part < 3 ? StatusParts[part]->text() : QString();
}

void CTALVODlg::setStatusText(int part, const QString& text) {
    if (part >= 0 && part < 3 && StatusParts[part]->text() != text) StatusParts[part]->setText(text);
}

void CTALVODlg::messageBox(const QString& text, const QString& caption, MsgIcon icon) {
    messageBoxWithCause(text, caption, icon, QString());
}

void CTALVODlg::messageBoxWithCause(const QString& text, const QString& caption, MsgIcon icon,
                                    const QString& cause) {
    if (AnswerMessageBoxes && !RecordMessageBoxes) {
        QString line = QStringLiteral("talvo-gui: message box \"%1\" answered with OK")
                           .arg(text.trimmed().replace(QLatin1Char('\n'), QLatin1Char(' ')));
        if (!cause.isEmpty()) line += QStringLiteral(" (%1)").arg(cause);
        print(stderr, line + QLatin1Char('\n'));
        return;
    }
    WidgetPanel::messageBox(text, caption.isEmpty() ? AppTitle() : caption, icon);
}

bool CTALVODlg::askQuestion(const QString& text, const QString& caption, const QString& yesText,
                            const QString& noText) {
    if (AnswerMessageBoxes && !RecordMessageBoxes) {
        // Nobody watches: the question gets the answer that changes nothing.
        print(stderr, QStringLiteral("talvo-gui: question \"%1\" answered with %2\n")
                          .arg(text.trimmed().replace(QLatin1Char('\n'), QLatin1Char(' ')), noText));
        return false;
    }
    return WidgetPanel::askQuestion(text, caption.isEmpty() ? AppTitle() : caption, yesText, noText);
}

QString CTALVODlg::askOpenFileName(const QString& filter, const QString& defaultSuffix) {
    QFileDialog dialog(this);
    UseWindowLanguageFileDialog(dialog);
    // It opens where the firmware is (the folder of the chosen or restored
    // file, while that folder exists), else in the working folder.
    const QFileInfo firmware(Core->FirmwareFile());
    if (!Core->FirmwareFile().isEmpty() && firmware.absoluteDir().exists()) dialog.setDirectory(firmware.absolutePath());
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters(filter.split(QStringLiteral(";;"), Qt::SkipEmptyParts));
    dialog.setDefaultSuffix(defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

} // namespace talvo::gui
