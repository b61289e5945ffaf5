#include "gui/TemplateLayout.h"

#include <QCoreApplication>

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

#include "gui/DialogUnits.h"

namespace talvo::gui {

QSize BuildTemplate(QWidget* parent, QSize base, const std::vector<DialogControl>& controls,
                    const std::function<QWidget*(const DialogControl&)>& custom,
                    const std::function<void(int, QWidget*)>& add) {
    QRect bounds;
    for (const DialogControl& c : controls) {
        const QString text = QCoreApplication::translate("Template", c.text);
        QRect r = DialogRect(base, c.x, c.y, c.w, c.h);
        QWidget* w = nullptr;
        switch (c.kind) {
        case DialogControl::MultiLineEdit: {
            auto* e = new QPlainTextEdit(parent);
            e->setReadOnly(true);
            e->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
            w = e;
            break;
        }
        case DialogControl::Edit:
            w = new QLineEdit(text, parent);
            break;
        case DialogControl::Button: {
            auto* b = new QPushButton(text, parent);
            b->setAutoDefault(false);
            w = b;
            break;
        }
        case DialogControl::Static:
            w = new QLabel(text, parent);
            break;
        case DialogControl::ComboBox:
        case DialogControl::EditableComboBox: {
            auto* cb = new QComboBox(parent);
            cb->setEditable(c.kind == DialogControl::EditableComboBox);
            cb->setInsertPolicy(QComboBox::NoInsert);
            r.setHeight(std::min(r.height(), cb->sizeHint().height()));
            w = cb;
            break;
        }
        case DialogControl::CheckBox:
            w = new QCheckBox(text, parent);
            break;
        case DialogControl::GroupBox:
            w = new QGroupBox(text, parent);
            break;
        case DialogControl::Progress: {
            auto* p = new QProgressBar(parent);
            p->setTextVisible(false);
            w = p;
            break;
        }
        case DialogControl::Custom:
            w = custom ? custom(c) : new QWidget(parent);
            if (w->parentWidget() != parent) w->setParent(parent);
            break;
        }
        w->setGeometry(r);
        bounds |= r;
        if (c.id > 0) {
            w->setObjectName(QString::number(c.id));
            if (add) add(c.id, w);
        }
    }
    return QSize(bounds.right() + 1 + base.width() * 7 / 4, bounds.bottom() + 1 + base.height() * 7 / 8);
}

} // namespace talvo::gui
