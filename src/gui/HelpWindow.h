#pragma once
// The help window: the local help page of one language (built from
// docs/help/LANG.md into help/index.LANG.html) in a text browser of TALVO's
// own, so that it shows whether or not the desktop has a browser.  Links
// within the page are followed; it opens nothing outside.

#include <QDialog>
#include <QString>
#include <QStringList>

class QTextBrowser;

namespace talvo::gui {

class HelpWindow : public QDialog {
    Q_OBJECT
public:
    explicit HelpWindow(QWidget* parent = nullptr);

    // Shows `page` (an HTML file); false when it cannot be read.
    bool ShowPage(const QString& page);
    QTextBrowser* browser() const { return Browser; }

    // The folders the pages are looked for in, in order: the installed one
    // (<exe dir>/../share/doc/talvo/help), then the build tree's.
    static QStringList DefaultFolders();
    // The page of `language` ("zh", "en") in the first folder that has it;
    // the Chinese page when there is none in that language; "" when neither
    // exists.
    static QString PagePath(const QStringList& folders, const QString& language);
    // The window's language as the help pages name it: "zh" when the default
    // locale is Chinese or none (C), "en" otherwise.
    static QString Language();

private:
    QTextBrowser* Browser = nullptr;
};

} // namespace talvo::gui
