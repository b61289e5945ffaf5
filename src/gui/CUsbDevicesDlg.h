#pragma once
// "USB 串口设备": what a user opens the device manager for.  Every USB
// serial port with its device node, driver, vendor:product id, manufacturer,
// product, serial number and whether the current user may open it (and, if
// not, the command that fixes it).  Refreshed live by a port watch while shown.

#include <QDialog>

#include <memory>

class QTableWidget;
class QLabel;

namespace talvo {
class PortWatch;
class ThreadNotifier;
} // namespace talvo

namespace talvo::gui {

class CUsbDevicesDlg : public QDialog {
    Q_OBJECT
public:
    CUsbDevicesDlg(QString sysfsRoot, QString devRoot, QWidget* parent = nullptr);
    ~CUsbDevicesDlg() override;

    void Refresh();
    QTableWidget* table() const { return Table; }
    QString summary() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    QString SysfsRoot, DevRoot;
    QTableWidget* Table = nullptr;
    QLabel* Summary = nullptr;
    std::unique_ptr<ThreadNotifier> Changed;
    std::unique_ptr<PortWatch> Watch;
};

} // namespace talvo::gui
