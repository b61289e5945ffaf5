#include "gui/FileDialogLook.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLocale>
#include <QScreen>
#include <QScrollBar>
#include <QTimer>
#include <QTreeView>

#include <algorithm>

namespace talvo::gui {

namespace {
enum Column { Name = 0, Size = 1, Kind = 2, Modified = 3 };
} // namespace

QString FileListDelegate::DisplayText(const QModelIndex& index) {
    const auto* model = qobject_cast<const QFileSystemModel*>(index.model());
    if (!model) return {};
    const QLocale locale; // the application's: the window's language
    switch (index.column()) {
    case Size:
        return model->isDir(index) ? QString() : locale.formattedDataSize(model->size(index));
    case Kind:
        // Files are named by their MIME type's comment, which already follows
        // the application's locale; a folder's word comes from the dialog's
        // own translations.
        return model->isDir(index) ? QCoreApplication::translate("QFileDialog", "Folder") : QString();
    case Modified:
        return locale.toString(model->lastModified(index), QLocale::ShortFormat);
    default:
        return {};
    }
}

void FileListDelegate::initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const {
    QStyledItemDelegate::initStyleOption(option, index);
    const QString text = DisplayText(index);
    if (!text.isNull()) option->text = text;
}

namespace {

// The columns take what their texts need; the dialog grows as far as the
// screen lets it so that the name column keeps its own width.
void FitColumns(QFileDialog& dialog, QTreeView& view) {
    for (int column : {Size, Kind, Modified}) view.resizeColumnToContents(column);
    QHeaderView* header = view.header();
    const int others = header->sectionSize(Size) + header->sectionSize(Kind) + header->sectionSize(Modified);
    const int nameNeeds = std::max(static_cast<QAbstractItemView&>(view).sizeHintForColumn(Name), header->sectionSizeHint(Name));
    const int wanted = others + nameNeeds + view.verticalScrollBar()->sizeHint().width() + 2 * view.frameWidth();
    const int missing = wanted - view.viewport()->width() - view.verticalScrollBar()->sizeHint().width();
    if (missing > 0) {
        int limit = dialog.width() + missing;
        if (const QScreen* screen = dialog.screen()) limit = std::min(limit, screen->availableGeometry().width());
        if (limit > dialog.width()) dialog.resize(limit, dialog.height());
    }
    header->resizeSection(Name, std::max(nameNeeds, view.viewport()->width() - others));
}

} // namespace

void UseWindowLanguageFileDialog(QFileDialog& dialog) {
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    auto* view = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
    auto* model = qobject_cast<QFileSystemModel*>(view ? view->model() : nullptr);
    if (!view || !model) return;
    view->setItemDelegate(new FileListDelegate(view));
    // A folder's entries arrive from the model's own thread, and a change of
    // filter or folder shows others: fit once the list has settled.
    auto* fit = new QTimer(view);
    fit->setSingleShot(true);
    fit->setInterval(0);
    QObject::connect(fit, &QTimer::timeout, view, [&dialog, view] { FitColumns(dialog, *view); });
    auto refit = [fit] { fit->start(); };
    QObject::connect(model, &QFileSystemModel::directoryLoaded, fit, refit);
    QObject::connect(model, &QAbstractItemModel::rowsInserted, fit, refit);
    QObject::connect(model, &QAbstractItemModel::layoutChanged, fit, refit);
    QObject::connect(&dialog, &QFileDialog::filterSelected, fit, refit);
}

} // namespace talvo::gui
