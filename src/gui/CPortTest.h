#pragma once
// The port loopback test window (dialog template 133, caption "Test_Dialog"),
// bound to its PortTestCore through a WidgetPanel.  The main window creates
// it hidden and shows it with button 1010 "串口检测"; closing it only hides it.

#include <QDialog>

#include <memory>

#include "gui/TemplateLayout.h"
#include "gui/WidgetPanel.h"
#include "porttest/PortTestCore.h"

namespace talvo::gui {

// The controls of template 133 in dialog units, in creation order.
const std::vector<DialogControl>& PortTestTemplate();

class CPortTest : public QDialog, public WidgetPanel {
    Q_OBJECT
public:
    explicit CPortTest(PortTestLink& link, QWidget* parent = nullptr);
    ~CPortTest() override;

    PortTestCore& core() { return *Core; }
    // Shows the window and resets it (each showing resets it).
    void ShowTool();

private:
    std::unique_ptr<PortTestCore> Core;
};

} // namespace talvo::gui
