#pragma once
// The application object: runs the main window and ends with it.

#include <QStringList>

namespace talvo::gui {

class CTALVOApp {
public:
    // Options: --port PATH (repeatable) adds entries to the port list;
    // --screenshot FILE saves a picture of the window and ends.
    int Run(const QStringList& arguments);
};

} // namespace talvo::gui
