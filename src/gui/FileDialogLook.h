#pragma once
// Qt's own open-file dialog, made to speak the window's language in every
// column and to show its columns whole: sizes, kinds and dates are written
// with the application's locale (the window's language) instead of the
// system's, and once a folder is read the size, kind and date columns take
// the width their texts need, the dialog growing (within the screen) so that
// the names keep theirs.

#include <QString>
#include <QStyledItemDelegate>

class QFileDialog;

namespace talvo::gui {

// Makes `dialog` Qt's own (not the desktop's) and sets its list up as above.
void UseWindowLanguageFileDialog(QFileDialog& dialog);

// The texts of the dialog's detail list (columns of QFileSystemModel: 0 name,
// 1 size, 2 kind, 3 date modified).
class FileListDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    // The text shown in `index`'s cell; a null string leaves the model's own.
    static QString DisplayText(const QModelIndex& index);

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override;
};

} // namespace talvo::gui
