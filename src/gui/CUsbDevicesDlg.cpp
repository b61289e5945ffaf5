#include "gui/CUsbDevicesDlg.h"

#include <QCoreApplication>

#include <QHeaderView>
#include <QHideEvent>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "platform/PortWatch.h"
#include "platform/ThreadNotifier.h"
#include "serial/UsbPortInfo.h"

namespace talvo::gui {

CUsbDevicesDlg::CUsbDevicesDlg(QString sysfsRoot, QString devRoot, QWidget* parent)
    : QDialog(parent), SysfsRoot(std::move(sysfsRoot)), DevRoot(std::move(devRoot)) {
    setWindowTitle(QCoreApplication::translate("CUsbDevicesDlg", "USB 串口设备"));
    auto* layout = new QVBoxLayout(this);
    Table = new QTableWidget(0, 8, this);
    Table->setHorizontalHeaderLabels({QCoreApplication::translate("CUsbDevicesDlg", "设备"), QCoreApplication::translate("CUsbDevicesDlg", "驱动"), QStringLiteral("VID:PID"),
                                      QCoreApplication::translate("CUsbDevicesDlg", "制造商"), QCoreApplication::translate("CUsbDevicesDlg", "产品"), QCoreApplication::translate("CUsbDevicesDlg", "序列号"),
                                      QCoreApplication::translate("CUsbDevicesDlg", "权限"), QCoreApplication::translate("CUsbDevicesDlg", "解决办法")});
    Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table->setSelectionBehavior(QAbstractItemView::SelectRows);
    Table->verticalHeader()->hide();
    Table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(Table);
    Summary = new QLabel(this);
    Summary->setWordWrap(true);
    Summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(Summary);
    auto* close = new QPushButton(QCoreApplication::translate("CUsbDevicesDlg", "关闭"), this);
    close->setAutoDefault(false);
    connect(close, &QPushButton::clicked, this, &QDialog::hide);
    layout->addWidget(close, 0, Qt::AlignRight);
    resize(900, 300);

    Changed = std::make_unique<ThreadNotifier>([this] { Refresh(); });
    Refresh();
}

CUsbDevicesDlg::~CUsbDevicesDlg() {
    if (Watch) Watch->stop();
}

QString CUsbDevicesDlg::summary() const { return Summary->text(); }

void CUsbDevicesDlg::Refresh() {
    const std::vector<UsbPortInfo> ports = describeUsbSerialPorts(SysfsRoot, DevRoot);
    Table->setRowCount(static_cast<int>(ports.size()));
    int blocked = 0;
    QString fix;
    for (int row = 0; row < static_cast<int>(ports.size()); ++row) {
        const UsbPortInfo& p = ports[static_cast<size_t>(row)];
        const QString cells[] = {p.device, p.driver, p.vidPid, p.manufacturer, p.product, p.serial, p.access, p.fix};
        for (int col = 0; col < 8; ++col) {
            auto* item = new QTableWidgetItem(cells[col]);
            if (col == 6) item->setForeground(p.accessible ? QColor(0, 120, 0) : QColor(180, 0, 0));
            Table->setItem(row, col, item);
        }
        if (!p.accessible) {
            ++blocked;
            if (fix.isEmpty()) fix = p.fix;
        }
    }
    Table->resizeColumnsToContents();
    if (ports.empty())
        Summary->setText(QCoreApplication::translate("CUsbDevicesDlg", "没有找到 USB 串口设备：请把 USB 转串口线插到电脑上，列表会自动更新。"));
    else if (blocked == 0)
        Summary->setText(QCoreApplication::translate("CUsbDevicesDlg", "共 %1 个 USB 串口，当前用户都可以打开。").arg(ports.size()));
    else
        Summary->setText(QCoreApplication::translate("CUsbDevicesDlg", "共 %1 个 USB 串口，其中 %2 个当前用户不能打开。%3")
                             .arg(ports.size())
                             .arg(blocked)
                             .arg(fix.isEmpty() ? QString() : QCoreApplication::translate("CUsbDevicesDlg", "解决办法：%1").arg(fix)));
}

void CUsbDevicesDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    Refresh();
    if (!Watch) {
        ThreadNotifier* bell = Changed.get();
        Watch = std::make_unique<PortWatch>(DevRoot, [bell] { bell->notify(); });
        QString error;
        if (!Watch->start(&error)) Summary->setText(Summary->text() + QCoreApplication::translate("CUsbDevicesDlg", "\n（不会自动更新：%1）").arg(error));
    }
}

void CUsbDevicesDlg::hideEvent(QHideEvent* event) {
    if (!event->spontaneous()) {
        if (Watch) Watch->stop();
        Watch.reset();
    }
    QDialog::hideEvent(event);
}

} // namespace talvo::gui
