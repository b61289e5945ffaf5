#include "gui/Fonts.h"

#include <QFontDatabase>
#include <QStringList>

namespace talvo::gui {

namespace {
// CJK faces to fall back on, most common on Debian first.
const char* const kCjkFallbacks[] = {"WenQuanYi Zen Hei", "WenQuanYi Micro Hei", "Noto Sans CJK SC",
                                     "Noto Sans SC", "AR PL UMing CN", "Droid Sans Fallback"};

QString installedFace(const QString& wanted) {
    const QStringList families = QFontDatabase::families();
    auto has = [&](const QString& f) {
        for (const QString& fam : families)
            if (fam.compare(f, Qt::CaseInsensitive) == 0) return true;
        return false;
    };
    if (has(wanted)) return wanted;
    // Windows face names and their Latin spellings.
    if (wanted == QStringLiteral("宋体") && has(QStringLiteral("SimSun"))) return QStringLiteral("SimSun");
    if (wanted == QStringLiteral("楷体_GB2312") && has(QStringLiteral("KaiTi"))) return QStringLiteral("KaiTi");
    for (const char* f : kCjkFallbacks)
        if (has(QString::fromLatin1(f))) return QString::fromLatin1(f);
    // Any face that can write Chinese.
    const QStringList cjk = QFontDatabase::families(QFontDatabase::SimplifiedChinese);
    return cjk.isEmpty() ? QString() : cjk.first();
}
} // namespace

QFont NamedFont(const QString& face, int pointSize, int weight) {
    QFont f;
    const QString family = installedFace(face);
    if (!family.isEmpty()) f.setFamily(family);
    f.setPointSize(pointSize);
    f.setWeight(static_cast<QFont::Weight>(weight));
    return f;
}

QFont DialogFont() { return NamedFont(QStringLiteral("宋体"), 9); }

} // namespace talvo::gui
