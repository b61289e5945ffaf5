#include "gui/Ccom_Debug.h"

#include <QCoreApplication>

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextCursor>
#include <QHideEvent>
#include <QAbstractItemView>

#include <algorithm>

#include "gui/DialogUnits.h"
#include "gui/Fonts.h"
#include "gui/WidgetPanel.h"
#include "platform/PortWatch.h"
#include "platform/ThreadNotifier.h"
#include "platform/Wire.h"
#include "serial/PortList.h"
#include "serial/SerialTerminal.h"

namespace talvo::gui {

namespace {

// Rates offered in the list; any other positive rate may be typed.
const char* const kBaudRates[] = {"1200", "2400", "4800", "9600", "14400", "19200", "38400", "57600",
                                  "115200", "230400", "460800", "921600"};
// Parity as the Windows DCB numbers it (the index of the list).
const char* const kParities[] = {QT_TRANSLATE_NOOP("Ccom_Debug", "无 None"), QT_TRANSLATE_NOOP("Ccom_Debug", "奇 Odd"),
                                  QT_TRANSLATE_NOOP("Ccom_Debug", "偶 Even"), QT_TRANSLATE_NOOP("Ccom_Debug", "标记 Mark"),
                                  QT_TRANSLATE_NOOP("Ccom_Debug", "空格 Space")};

} // namespace

const std::vector<DialogControl>& TerminalTemplate() {
    using C = DialogControl;
    static const std::vector<DialogControl> controls = {
        {-1, C::GroupBox, QT_TRANSLATE_NOOP("Template", "串口设置"), 5, 3, 104, 160},
        {-1, C::Static, QT_TRANSLATE_NOOP("Template", "串口"), 10, 17, 28, 9},
        {term::Port, C::EditableComboBox, "", 38, 15, 66, 80},
        {-1, C::Static, QT_TRANSLATE_NOOP("Template", "波特率"), 10, 35, 28, 9},
        {term::Baud, C::EditableComboBox, "", 38, 33, 66, 120},
        {-1, C::Static, QT_TRANSLATE_NOOP("Template", "数据位"), 10, 53, 28, 9},
        {term::DataBits, C::ComboBox, "", 38, 51, 66, 60},
        {-1, C::Static, QT_TRANSLATE_NOOP("Template", "停止位"), 10, 71, 28, 9},
        {term::StopBits, C::ComboBox, "", 38, 69, 66, 60},
        {-1, C::Static, QT_TRANSLATE_NOOP("Template", "校验位"), 10, 89, 28, 9},
        {term::Parity, C::ComboBox, "", 38, 87, 66, 80},
        {term::OpenClose, C::Button, QT_TRANSLATE_NOOP("Template", "打开串口"), 10, 106, 94, 18},
        {term::Rts, C::CheckBox, "RTS", 12, 129, 40, 10},
        {term::Dtr, C::CheckBox, "DTR", 58, 129, 40, 10},
        {term::RxCount, C::Static, QT_TRANSLATE_NOOP("Template", "接收：0"), 10, 144, 60, 9},
        {term::TxCount, C::Static, QT_TRANSLATE_NOOP("Template", "发送：0"), 10, 153, 60, 9},
        {term::ResetCounts, C::Button, QT_TRANSLATE_NOOP("Template", "清零"), 72, 145, 32, 14},

        {-1, C::GroupBox, QT_TRANSLATE_NOOP("Template", "接收区"), 114, 3, 266, 160},
        {term::Receive, C::MultiLineEdit, "", 119, 14, 256, 128},
        {term::HexDisplay, C::CheckBox, QT_TRANSLATE_NOOP("Template", "十六进制显示"), 119, 147, 70, 10},
        {term::Timestamps, C::CheckBox, QT_TRANSLATE_NOOP("Template", "显示时间"), 192, 147, 60, 10},
        {term::ClearReceive, C::Button, QT_TRANSLATE_NOOP("Template", "清空接收区"), 325, 145, 50, 14},

        {-1, C::GroupBox, QT_TRANSLATE_NOOP("Template", "发送区"), 5, 166, 375, 82},
        {term::SendText, C::MultiLineEdit, "", 10, 177, 300, 50},
        {term::Send, C::Button, QT_TRANSLATE_NOOP("Template", "发送"), 315, 177, 60, 22},
        {term::ClearSend, C::Button, QT_TRANSLATE_NOOP("Template", "清空发送区"), 315, 204, 60, 14},
        {term::HexSend, C::CheckBox, QT_TRANSLATE_NOOP("Template", "十六进制发送"), 10, 232, 70, 10},
        {term::TimedSend, C::CheckBox, QT_TRANSLATE_NOOP("Template", "定时发送"), 84, 232, 50, 10},
        {-1, C::Static, QT_TRANSLATE_NOOP("Template", "周期"), 136, 233, 20, 9},
        {term::Period, C::Edit, "1000", 157, 231, 40, 12},
        {-1, C::Static, "ms", 200, 233, 15, 9},
        {term::Status, C::Static, "", 5, 251, 375, 10},
    };
    return controls;
}

Ccom_Debug::Ccom_Debug(QString sysfsRoot, QString devRoot, QStringList extraPorts, SerialDeviceFactory* factory,
                       QWidget* parent)
    : QDialog(parent), SysfsRoot(std::move(sysfsRoot)), DevRoot(std::move(devRoot)), ExtraPorts(std::move(extraPorts)),
      Terminal(std::make_unique<SerialTerminal>(factory, nullptr, DevRoot)) {
    setWindowTitle(QCoreApplication::translate("Ccom_Debug", "串口调试助手"));
    setFont(NamedFont(QStringLiteral("宋体"), 9));
    const QSize client = BuildTemplate(this, DialogBaseUnits(font()), TerminalTemplate(), nullptr,
                                       [this](int id, QWidget* w) { Controls.insert(id, w); });
    setFixedSize(client);

    ReceiveBox = static_cast<QPlainTextEdit*>(control(term::Receive));
    ReceiveBox->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    ReceiveBox->setUndoRedoEnabled(false);
    auto* sendBox = static_cast<QPlainTextEdit*>(control(term::SendText));
    sendBox->setReadOnly(false);
    sendBox->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);

    auto* baud = static_cast<QComboBox*>(control(term::Baud));
    for (const char* r : kBaudRates) baud->addItem(QString::fromLatin1(r));
    baud->setCurrentText(QStringLiteral("115200"));
    auto* bits = static_cast<QComboBox*>(control(term::DataBits));
    bits->addItems({QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7"), QStringLiteral("8")});
    bits->setCurrentIndex(3);
    auto* stops = static_cast<QComboBox*>(control(term::StopBits));
    stops->addItems({QStringLiteral("1"), QStringLiteral("1.5"), QStringLiteral("2")});
    stops->setCurrentIndex(0);
    auto* parity = static_cast<QComboBox*>(control(term::Parity));
    for (const char* p : kParities) parity->addItem(QCoreApplication::translate("Ccom_Debug", p));
    parity->setCurrentIndex(0);
    static_cast<QLabel*>(control(term::Status))->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto button = [this](int id) { return static_cast<QPushButton*>(control(id)); };
    auto box = [this](int id) { return static_cast<QCheckBox*>(control(id)); };
    connect(button(term::OpenClose), &QPushButton::clicked, this, &Ccom_Debug::TogglePort);
    connect(button(term::Send), &QPushButton::clicked, this, &Ccom_Debug::SendNow);
    connect(button(term::ClearSend), &QPushButton::clicked, sendBox, &QPlainTextEdit::clear);
    connect(button(term::ClearReceive), &QPushButton::clicked, this, [this] {
        FlushReceived();
        ReceiveBox->clear();
        Formatter.reset();
    });
    connect(button(term::ResetCounts), &QPushButton::clicked, this, [this] {
        Terminal->resetCounters();
        UpdateCounters();
    });
    connect(box(term::HexDisplay), &QCheckBox::toggled, this, [this](bool on) {
        FlushReceived();
        Formatter.setMode(on ? TerminalFormatter::Mode::Hex : TerminalFormatter::Mode::Text);
    });
    connect(box(term::Timestamps), &QCheckBox::toggled, this, [this](bool on) {
        FlushReceived();
        Formatter.setTimestamps(on);
    });
    connect(box(term::Rts), &QCheckBox::toggled, this, [this](bool on) {
        QString error;
        if (Terminal->isOpen() && !Terminal->setRts(on, &error)) SetStatus(error);
    });
    connect(box(term::Dtr), &QCheckBox::toggled, this, [this](bool on) {
        QString error;
        if (Terminal->isOpen() && !Terminal->setDtr(on, &error)) SetStatus(error);
    });
    connect(box(term::TimedSend), &QCheckBox::toggled, this, [this](bool on) {
        if (!on) {
            SendTimer.stop();
            return;
        }
        bool ok = false;
        const int period = static_cast<QLineEdit*>(control(term::Period))->text().trimmed().toInt(&ok);
        if (!ok || period < 1) {
            SetStatus(QCoreApplication::translate("Ccom_Debug", "定时发送的周期“%1”不是正整数（毫秒）")
                          .arg(static_cast<QLineEdit*>(control(term::Period))->text()));
            static_cast<QCheckBox*>(control(term::TimedSend))->setChecked(false);
            return;
        }
        SendTimer.start(period);
    });
    connect(&SendTimer, &QTimer::timeout, this, [this] {
        if (!Terminal->isOpen()) {
            static_cast<QCheckBox*>(control(term::TimedSend))->setChecked(false);
            return;
        }
        // A period shorter than the wire needs would only pile the bytes up.
        if (Terminal->pendingSend() == 0) SendNow();
    });

    BatchTimer.setSingleShot(true);
    BatchTimer.setInterval(kDisplayBatchMs);
    connect(&BatchTimer, &QTimer::timeout, this, [this] { ShowReceived(false); });
    connect(Terminal.get(), &SerialTerminal::dataReady, this, [this] {
        if (!BatchTimer.isActive()) BatchTimer.start();
    });
    connect(Terminal.get(), &SerialTerminal::sent, this, &Ccom_Debug::UpdateCounters);
    connect(Terminal.get(), &SerialTerminal::failed, this, [this](const QString& reason) {
        FlushReceived();
        Terminal->close();
        PortClosed();
        SetStatus(reason);
        RefreshPorts();
    });

    // The list follows converters plugged in and out while the window is shown.
    PortsChanged = std::make_unique<ThreadNotifier>([this] { RefreshPorts(); });
    RefreshPorts();
}

Ccom_Debug::~Ccom_Debug() {
    if (Watch) Watch->stop();
    Watch.reset();
    Terminal->close();
}

QWidget* Ccom_Debug::control(int id) const { return Controls.value(id); }

QString Ccom_Debug::receivedText() const { return ReceiveBox->toPlainText(); }

void Ccom_Debug::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    RefreshPorts();
    if (!Watch) {
        ThreadNotifier* bell = PortsChanged.get();
        Watch = std::make_unique<PortWatch>(DevRoot, [bell] { bell->notify(); });
        QString error;
        if (!Watch->start(&error)) SetStatus(QCoreApplication::translate("Ccom_Debug", "串口列表不会自动更新：%1").arg(error));
    }
}

void Ccom_Debug::hideEvent(QHideEvent* event) {
    // Minimising keeps the port; closing the window lets it go, so that a
    // download can use it.
    if (event->spontaneous()) {
        QDialog::hideEvent(event);
        return;
    }
    if (Watch) Watch->stop();
    Watch.reset();
    static_cast<QCheckBox*>(control(term::TimedSend))->setChecked(false);
    if (Terminal->isOpen()) {
        FlushReceived();
        Terminal->close();
        PortClosed();
    }
    QDialog::hideEvent(event);
}

void Ccom_Debug::RefreshPorts() {
    auto* box = static_cast<QComboBox*>(control(term::Port));
    const QString typed = box->currentText();
    const QString device = SelectedDevice();
    const PortListing listing = listSerialPorts(SysfsRoot, ExtraPorts);
    PortDevices = listing.devices;
    box->blockSignals(true);
    box->clear();
    box->addItems(listing.entries);
    FitPortList(*box);
    const int keep = PortDevices.indexOf(device);
    if (keep >= 0)
        box->setCurrentIndex(keep);
    else if (!typed.isEmpty() && !listing.entries.contains(typed) && Terminal->isOpen())
        box->setEditText(typed);
    else
        box->setCurrentIndex(listing.entries.isEmpty() ? -1 : 0);
    box->blockSignals(false);
}

void Ccom_Debug::FitPortList(QComboBox& box) {
    // The box is narrow and port names are long, often alike but for their
    // ends (/dev/serial/by-id/...-if00-port0 and -if01-): the open list is as
    // wide as its longest entry, as far as the screen lets it, and an entry
    // that must still be shortened loses its middle, not its end.  Each
    // entry's tool tip is its whole name.
    QAbstractItemView* view = box.view();
    view->setTextElideMode(Qt::ElideMiddle);
    int widest = 0;
    for (int i = 0; i < box.count(); ++i) {
        widest = std::max(widest, view->fontMetrics().horizontalAdvance(box.itemText(i)));
        box.setItemData(i, box.itemText(i), Qt::ToolTipRole);
    }
    const int margins = 2 * (view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1) +
                        2 * view->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, view) +
                        view->style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, view);
    int width = widest + margins;
    if (const QScreen* screen = box.screen()) width = std::min(width, screen->availableGeometry().width());
    view->setMinimumWidth(width);
}

QString Ccom_Debug::SelectedDevice() const {
    auto* box = static_cast<QComboBox*>(control(term::Port));
    const QString text = box->currentText().trimmed();
    const int index = box->findText(text);
    if (index >= 0 && index < PortDevices.size()) return PortDevices[index];
    return portEntryDevice(text);
}

bool Ccom_Debug::ReadSettings(LineSettings* settings, QString* error) const {
    bool ok = false;
    const QString baudText = static_cast<QComboBox*>(control(term::Baud))->currentText().trimmed();
    const uint baud = baudText.toUInt(&ok);
    if (!ok || baud == 0 || baud > 12000000) {
        *error = QCoreApplication::translate("Ccom_Debug", "波特率“%1”无效：请输入 1 到 12000000 之间的整数").arg(baudText);
        return false;
    }
    settings->baud = baud;
    settings->dataBits = static_cast<uint8_t>(5 + static_cast<QComboBox*>(control(term::DataBits))->currentIndex());
    settings->stopBits = static_cast<uint8_t>(static_cast<QComboBox*>(control(term::StopBits))->currentIndex());
    settings->parity = static_cast<uint8_t>(static_cast<QComboBox*>(control(term::Parity))->currentIndex());
    return true;
}

void Ccom_Debug::TogglePort() {
    if (Terminal->isOpen()) {
        static_cast<QCheckBox*>(control(term::TimedSend))->setChecked(false);
        FlushReceived();
        Terminal->close();
        PortClosed();
        SetStatus(QCoreApplication::translate("Ccom_Debug", "串口已关闭"));
        return;
    }
    const QString device = SelectedDevice();
    if (device.isEmpty()) {
        SetStatus(QCoreApplication::translate("Ccom_Debug", "请先选择或输入一个串口"));
        return;
    }
    LineSettings settings;
    QString error;
    if (!ReadSettings(&settings, &error)) {
        SetStatus(error);
        return;
    }
    const bool rts = static_cast<QCheckBox*>(control(term::Rts))->isChecked();
    const bool dtr = static_cast<QCheckBox*>(control(term::Dtr))->isChecked();
    if (!Terminal->open(device, settings, rts, dtr, &error)) {
        SetStatus(error);
        // A port that a download or the port test holds: said in a box, as
        // the other windows say it.
        if (Terminal->refusedInUse()) {
            if (RecordMessageBoxes)
                RecordedMessages << error;
            else
                ShowMessageBox(this, error, AppTitle(), MsgIcon::Warning);
        }
        return;
    }
    static_cast<QPushButton*>(control(term::OpenClose))->setText(QCoreApplication::translate("Ccom_Debug", "关闭串口"));
    for (int id : {term::Port, term::Baud, term::DataBits, term::StopBits, term::Parity}) control(id)->setEnabled(false);
    SetStatus(QCoreApplication::translate("Ccom_Debug", "%1 已打开").arg(device));
}

void Ccom_Debug::PortClosed() {
    static_cast<QPushButton*>(control(term::OpenClose))->setText(QCoreApplication::translate("Ccom_Debug", "打开串口"));
    for (int id : {term::Port, term::Baud, term::DataBits, term::StopBits, term::Parity}) control(id)->setEnabled(true);
    UpdateCounters();
}

void Ccom_Debug::SendNow() {
    if (!Terminal->isOpen()) {
        SetStatus(QCoreApplication::translate("Ccom_Debug", "串口没有打开"));
        static_cast<QCheckBox*>(control(term::TimedSend))->setChecked(false);
        return;
    }
    const QString text = static_cast<QPlainTextEdit*>(control(term::SendText))->toPlainText();
    QByteArray bytes;
    if (static_cast<QCheckBox*>(control(term::HexSend))->isChecked()) {
        QString error;
        if (!TerminalFormatter::parseHex(text, &bytes, &error)) {
            SetStatus(QCoreApplication::translate("Ccom_Debug", "十六进制发送：%1").arg(error));
            static_cast<QCheckBox*>(control(term::TimedSend))->setChecked(false);
            return;
        }
    } else {
        bytes = text.toUtf8();
    }
    if (!Terminal->send(bytes)) SetStatus(QCoreApplication::translate("Ccom_Debug", "发送队列已满，请稍后再发"));
}

void Ccom_Debug::FlushReceived() { ShowReceived(true); }

void Ccom_Debug::ShowReceived(bool all) {
    BatchTimer.stop();
    Backlog.append(Terminal->takeReceivedTimed());
    while (!Backlog.isEmpty()) {
        // A long backlog is shown a slice at a time, with the event loop
        // turning between slices, so the window stays responsive.  Lines are
        // stamped with when their bytes arrived, not when they are shown.
        const TimedBytes bytes = Backlog.takeFront(kDisplaySliceBytes);
        const QString text = Formatter.format(bytes);
        QScrollBar* bar = ReceiveBox->verticalScrollBar();
        const bool atEnd = bar->value() == bar->maximum();
        QTextCursor cursor(ReceiveBox->document());
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(text);
        Shown += static_cast<uint64_t>(bytes.size());
        if (atEnd) bar->setValue(bar->maximum());
        if (!all && !Backlog.isEmpty()) {
            BatchTimer.start(0);
            break;
        }
    }
    UpdateCounters();
}

void Ccom_Debug::UpdateCounters() {
    static_cast<QLabel*>(control(term::RxCount))->setText(QCoreApplication::translate("Ccom_Debug", "接收：%1").arg(Terminal->receivedCount()));
    static_cast<QLabel*>(control(term::TxCount))->setText(QCoreApplication::translate("Ccom_Debug", "发送：%1").arg(Terminal->sentCount()));
}

void Ccom_Debug::SetStatus(const QString& text) { static_cast<QLabel*>(control(term::Status))->setText(text); }

} // namespace talvo::gui
