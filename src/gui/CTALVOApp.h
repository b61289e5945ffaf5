#pragma once
// The application object: runs the main window and ends with it.

#include <QString>
#include <QStringList>

#include <optional>

#include "platform/Language.h"

namespace talvo::gui {

class CTALVOApp {
public:
    // Options: --port PATH (repeatable) adds entries to the port list;
    // --screenshot FILE saves a picture of the window and ends;
    // --export-icon DIR writes the window icon as PNG files and ends.
    int Run(const QStringList& arguments);

    // --help and --version, answered before any display is opened (so they
    // work on a machine without one); nullopt for every other command line.
    static std::optional<int> AnswerWithoutDisplay(int argc, char** argv);
    // --export-icon draws without showing anything: true when the command
    // line asks for it, so main() can pick the offscreen platform.
    static bool NeedsNoDisplay(int argc, char** argv);
    static QString UsageText();
    static QString VersionText();
    // Chooses the language (taking --lang out of `arguments`) and installs
    // its translations; false after a wrong --lang.
    static bool InstallTranslations(QStringList& arguments);
    // Installs `language`: the program's texts, Qt's own, and the locale that
    // Qt's dialogs write sizes and dates in.
    static void InstallLanguage(Language language);
};

} // namespace talvo::gui
