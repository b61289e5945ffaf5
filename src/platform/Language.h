#pragma once
// The language a person reads TALVO in: Chinese (the program's own texts) or
// English (translations/talvo_en.ts, built into the program).  The choice,
// first that applies: the `--lang zh|en` option, the settings key
// "Language" (zh or en), then the locale of the environment (LC_ALL, then
// LC_MESSAGES, then LANG): Chinese when its language is Chinese or when
// there is no locale (unset, C, POSIX), English for any other.

#include <QString>
#include <QStringList>

#include <optional>

class QCoreApplication;

namespace talvo {

enum class Language { Chinese, English };

// The settings key that keeps a chosen language.
inline constexpr char kLanguageKey[] = "Language";

// "zh" or "en" (case-insensitive, blanks around ignored); nothing for any
// other text.
std::optional<Language> parseLanguage(const QString& text);
// The language of a locale name ("zh_CN.UTF-8", "en_US", "C", "").
Language languageOfLocale(const QString& locale);
// The locale that names the messages' language in this environment.
QString environmentLocale();
// The choice: a valid option, else a valid setting, else the locale.
Language chooseLanguage(const QString& option, const QString& setting, const QString& locale);
// Takes `--lang VALUE` (or `--lang=VALUE`) out of `arguments` (options
// before a "--"; the first is the program) and returns VALUE; nothing when
// it is absent ("" when it has no value).
std::optional<QString> takeLanguageOption(QStringList& arguments);
// The language named in the settings file ("" when it names none).
QString settingsLanguage();

// Loads the program's translation for `language` and, with `qtToo`, Qt's
// own (its dialogs and buttons), and installs them in `app`.  Chinese needs
// no translation of the program's texts.  False with *error when the
// program's translation is missing.
bool installTranslations(QCoreApplication& app, Language language, bool qtToo, QString* error = nullptr);
// The language installed last (Chinese before any install).
Language currentLanguage();

} // namespace talvo
