#pragma once
// The small dialogs' templates: controls with an id (-1 for none), a kind, a
// text and a position in dialog units, built into widgets in creation order.

#include <QString>
#include <QWidget>

#include <functional>
#include <vector>

namespace talvo::gui {

struct DialogControl {
    enum Kind { Edit, MultiLineEdit, Button, Static, ComboBox, EditableComboBox, CheckBox, GroupBox, Progress, Custom };
    int id;
    Kind kind;
    const char* text;
    int x, y, w, h;
};

// Builds every control of `controls` on `parent` at its place for the dialog
// base units `base`; `custom` makes the Custom ones; `add` receives each
// control that has an id.  Returns the client size: the controls' extent
// and a margin of 7 dialog units.
QSize BuildTemplate(QWidget* parent, QSize base, const std::vector<DialogControl>& controls,
                    const std::function<QWidget*(const DialogControl&)>& custom,
                    const std::function<void(int, QWidget*)>& add);

} // namespace talvo::gui
