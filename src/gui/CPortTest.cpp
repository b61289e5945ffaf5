#include "gui/CPortTest.h"

#include <QLabel>
#include <QPushButton>

#include "gui/ConnectionPicture.h"
#include "gui/DialogUnits.h"
#include "gui/Fonts.h"
#include "porttest/PortTestIds.h"

namespace talvo::gui {

const std::vector<DialogControl>& PortTestTemplate() {
    using C = DialogControl;
    static const std::vector<DialogControl> controls = {
        {-1, C::GroupBox, QT_TRANSLATE_NOOP("Template", "串口测试，P3.0,P3.1短接，短路帽连接参考下图"), 7, 4, 306, 112},
        {ptctl::UsbPicture, C::Custom, "", 14, 17, 140, 80},
        {-1, C::Custom, "", 166, 17, 140, 80},
        {-1, C::Static, QT_TRANSLATE_NOOP("Template", "ＵＳＢ端口连接"), 14, 100, 140, 10},
        {-1, C::Static, QT_TRANSLATE_NOOP("Template", "９针串口连接"), 166, 100, 140, 10},
        {ptctl::Log, C::MultiLineEdit, "", 7, 121, 210, 122},
        {-1, C::GroupBox, "Test Result", 224, 119, 89, 34},
        {ptctl::State, C::Static, QT_TRANSLATE_NOOP("Template", "静态"), 230, 133, 77, 12},
        {ptctl::Progress, C::Progress, "", 224, 158, 89, 10},
        {ptctl::Test, C::Button, "test", 224, 174, 89, 20},
        {ptctl::Button1, C::Button, "Button1", 224, 203, 42, 15},
        {ptctl::Button3, C::Button, "Button3", 271, 203, 42, 15},
        {ptctl::RtsTest, C::Button, QT_TRANSLATE_NOOP("Template", "ＲＴＳ测试"), 224, 224, 42, 15},
        {ptctl::DtrTest, C::Button, QT_TRANSLATE_NOOP("Template", "ＤＴＲ 测试"), 271, 224, 42, 15},
    };
    return controls;
}

CPortTest::CPortTest(PortTestLink& link, QWidget* parent) : QDialog(parent), WidgetPanel(this) {
    setWindowTitle(QStringLiteral("Test_Dialog"));
    setObjectName(QStringLiteral("Test_Dialog"));
    setFont(NamedFont(QStringLiteral("MS Shell Dlg"), 8));
    const QSize base = DialogBaseUnits(font());
    const QSize client = BuildTemplate(
        this, base, PortTestTemplate(),
        [this](const DialogControl& c) -> QWidget* {
            return new ConnectionPicture(c.id == ptctl::UsbPicture ? ConnectionPicture::Usb
                                                                   : ConnectionPicture::NinePin,
                                         this);
        },
        [this](int id, QWidget* w) { addControl(id, w); });
    setFixedSize(client);
    for (QObject* child : children())
        if (auto* label = qobject_cast<QLabel*>(child); label && label->objectName().isEmpty())
            label->setAlignment(Qt::AlignCenter);
    // The four buttons of the template that have no behaviour stay visible
    // but cannot be pressed.
    for (int id : {ptctl::Button1, ptctl::Button3, ptctl::RtsTest, ptctl::DtrTest}) control(id)->setEnabled(false);

    Core = std::make_unique<PortTestCore>(*this, link);
    connect(static_cast<QPushButton*>(control(ptctl::Test)), &QPushButton::clicked, this,
            [this] { Core->RunLoopbackTest(); });
}

CPortTest::~CPortTest() = default;

void CPortTest::ShowTool() {
    show();
    raise();
    activateWindow();
    if (!Core->Running()) Core->ResetPortTest();
}

} // namespace talvo::gui
