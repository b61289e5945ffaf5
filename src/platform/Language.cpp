#include "platform/Language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <atomic>

#include "platform/QSettingsStore.h"

namespace talvo {

namespace {

std::atomic<Language> installed{Language::Chinese};

// Qt's own texts in `locale`'s language, where Qt has them.
void installQtTranslation(QCoreApplication& app, const QLocale& locale) {
    auto* qt = new QTranslator(&app);
    if (qt->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                 QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(qt);
    else
        delete qt; // Qt's texts stay as they are (English)
}

} // namespace

std::optional<Language> parseLanguage(const QString& text) {
    const QString t = text.trimmed().toLower();
    if (t == QLatin1String("zh")) return Language::Chinese;
    if (t == QLatin1String("en")) return Language::English;
    return std::nullopt;
}

Language languageOfLocale(const QString& locale) {
    // "zh_CN.UTF-8@euro": the language is what comes before '_', '.' and '@'.
    QString language = locale.trimmed();
    for (QChar stop : {QLatin1Char('_'), QLatin1Char('.'), QLatin1Char('@'), QLatin1Char('-')}) {
        const int at = language.indexOf(stop);
        if (at >= 0) language.truncate(at);
    }
    language = language.toLower();
    if (language.isEmpty() || language == QLatin1String("c") || language == QLatin1String("posix") ||
        language == QLatin1String("zh"))
        return Language::Chinese;
    return Language::English;
}

QString environmentLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty()) return value;
    }
    return {};
}

Language chooseLanguage(const QString& option, const QString& setting, const QString& locale) {
    if (auto l = parseLanguage(option)) return *l;
    if (auto l = parseLanguage(setting)) return *l;
    return languageOfLocale(locale);
}

std::optional<QString> takeLanguageOption(QStringList& arguments) {
    std::optional<QString> value;
    for (int i = 1; i < arguments.size();) {
        const QString a = arguments[i];
        if (a == QLatin1String("--")) break;
        if (a == QLatin1String("--lang")) {
            value = i + 1 < arguments.size() ? arguments[i + 1] : QString();
            arguments.remove(i, i + 1 < arguments.size() ? 2 : 1);
        } else if (a.startsWith(QLatin1String("--lang="))) {
            value = a.mid(7);
            arguments.remove(i);
        } else {
            ++i;
        }
    }
    return value;
}

QString settingsLanguage() {
    QSettingsStore store;
    if (!store.openForRead()) return {};
    return store.readValue(QString::fromLatin1(kLanguageKey), 16).value_or(QString());
}

bool installTranslations(QCoreApplication& app, Language language, bool qtToo, QString* error) {
    installed = language;
    if (language == Language::Chinese) {
        if (qtToo) installQtTranslation(app, QLocale(QLocale::Chinese, QLocale::China));
        return true;
    }
    auto* own = new QTranslator(&app);
    if (!own->load(QStringLiteral(":/i18n/talvo_en.qm"))) {
        delete own;
        if (error) *error = QStringLiteral("the English translation (:/i18n/talvo_en.qm) is missing from the program");
        return false;
    }
    app.installTranslator(own);
    if (qtToo) installQtTranslation(app, QLocale(QLocale::English, QLocale::UnitedStates));
    return true;
}

Language currentLanguage() { return installed.load(); }

} // namespace talvo
