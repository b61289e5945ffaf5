// talvo-helpgen SOURCE.md OUTDIR LANG: writes OUTDIR/index.LANG.html, the
// program's local help page in one language, from its Markdown text (the
// Markdown this project writes: headings, paragraphs, lists, fenced code,
// tables, inline code, emphasis, links and images), and copies the images it
// shows into OUTDIR/images, which the pages of every language share.  Links
// to other files of the repository become plain text: the page stands on its
// own once installed.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTextStream>

#include <cstdio>

namespace {

QString escape(const QString& s) { return s.toHtmlEscaped(); }

class Converter {
public:
    Converter(QString sourceDir, QString outDir) : SourceDir(std::move(sourceDir)), OutDir(std::move(outDir)) {}

    // Inline markup of one piece of text (already a single paragraph or cell).
    QString inlineHtml(const QString& text) {
        QString out;
        int i = 0;
        while (i < text.size()) {
            const QChar c = text[i];
            if (c == u'`') {
                const int end = text.indexOf(u'`', i + 1);
                if (end > i) {
                    out += QStringLiteral("<code>") + escape(text.mid(i + 1, end - i - 1)) + QStringLiteral("</code>");
                    i = end + 1;
                    continue;
                }
            }
            if (c == u'*' && text.mid(i, 2) == QStringLiteral("**")) {
                const int end = text.indexOf(QStringLiteral("**"), i + 2);
                if (end > i) {
                    out += QStringLiteral("<strong>") + inlineHtml(text.mid(i + 2, end - i - 2)) +
                           QStringLiteral("</strong>");
                    i = end + 2;
                    continue;
                }
            }
            if (c == u'!' || c == u'[') {
                static const QRegularExpression link(QStringLiteral("^(!?)\\[([^\\]]*)\\]\\(([^)\\s]+)\\)"));
                const auto m = link.match(text.mid(i));
                if (m.hasMatch()) {
                    out += m.captured(1).isEmpty() ? linkHtml(m.captured(2), m.captured(3))
                                                   : imageHtml(m.captured(2), m.captured(3));
                    i += static_cast<int>(m.capturedLength(0));
                    continue;
                }
            }
            out += escape(QString(c));
            ++i;
        }
        return out;
    }

    QString linkHtml(const QString& label, const QString& target) {
        if (target.startsWith(QStringLiteral("#")))
            return QStringLiteral("<a href=\"%1\">%2</a>").arg(escape(target), inlineHtml(label));
        return inlineHtml(label); // repository files: not part of the installed page
    }

    QString imageHtml(const QString& alt, const QString& source) {
        const QFileInfo file(QDir(SourceDir).filePath(source));
        if (!file.isFile()) {
            Missing << source;
            return escape(alt);
        }
        QDir(OutDir).mkpath(QStringLiteral("images"));
        const QString target = QDir(OutDir).filePath(QStringLiteral("images/") + file.fileName());
        QFile::remove(target);
        if (!QFile::copy(file.absoluteFilePath(), target)) {
            Missing << source;
            return escape(alt);
        }
        return QStringLiteral("<img src=\"images/%1\" alt=\"%2\">").arg(escape(file.fileName()), escape(alt));
    }

    static QString anchor(const QString& title) {
        QString a = title.toLower();
        // Letters of every script stay (a Chinese heading keeps its anchor).
        static const QRegularExpression other(QStringLiteral("[^\\w\\- ]"),
                                              QRegularExpression::UseUnicodePropertiesOption);
        a.replace(other, QString());
        a.replace(u' ', u'-');
        return a;
    }

    QString convert(const QStringList& lines) {
        QString body;
        QStringList paragraph;
        QString listTag;
        auto flushParagraph = [&] {
            if (!paragraph.isEmpty()) body += QStringLiteral("<p>") + inlineHtml(paragraph.join(u' ')) + QStringLiteral("</p>\n");
            paragraph.clear();
        };
        auto closeList = [&] {
            if (!listTag.isEmpty()) body += QStringLiteral("</li></%1>\n").arg(listTag);
            listTag.clear();
        };
        static const QRegularExpression heading(QStringLiteral("^(#{1,6})\\s+(.*)$"));
        static const QRegularExpression bullet(QStringLiteral("^[-*]\\s+(.*)$"));
        static const QRegularExpression numbered(QStringLiteral("^\\d+\\.\\s+(.*)$"));
        for (int i = 0; i < lines.size(); ++i) {
            const QString& line = lines[i];
            const QString trimmed = line.trimmed();
            if (trimmed.startsWith(QStringLiteral("```"))) {
                flushParagraph();
                closeList();
                QString code;
                for (++i; i < lines.size() && !lines[i].trimmed().startsWith(QStringLiteral("```")); ++i)
                    code += lines[i] + u'\n';
                body += QStringLiteral("<pre><code>") + escape(code) + QStringLiteral("</code></pre>\n");
                continue;
            }
            if (trimmed.isEmpty()) {
                flushParagraph();
                closeList();
                continue;
            }
            if (const auto m = heading.match(trimmed); m.hasMatch()) {
                flushParagraph();
                closeList();
                const int level = static_cast<int>(m.capturedLength(1));
                body += QStringLiteral("<h%1 id=\"%2\">%3</h%1>\n")
                            .arg(level)
                            .arg(escape(anchor(m.captured(2))), inlineHtml(m.captured(2)));
                continue;
            }
            if (trimmed.startsWith(u'|')) {
                flushParagraph();
                closeList();
                body += QStringLiteral("<table>\n");
                bool header = true;
                for (; i < lines.size() && lines[i].trimmed().startsWith(u'|'); ++i) {
                    QStringList cells = lines[i].trimmed().split(u'|');
                    cells.removeFirst();
                    if (!cells.isEmpty() && cells.last().trimmed().isEmpty()) cells.removeLast();
                    static const QRegularExpression rule(QStringLiteral("^\\s*:?-+:?\\s*$"));
                    if (!cells.isEmpty() && rule.match(cells.first()).hasMatch()) continue;
                    body += QStringLiteral("<tr>");
                    for (const QString& cell : cells)
                        body += QStringLiteral("<%1>%2</%1>").arg(header ? QStringLiteral("th") : QStringLiteral("td"),
                                                                  inlineHtml(cell.trimmed()));
                    body += QStringLiteral("</tr>\n");
                    header = false;
                }
                --i;
                body += QStringLiteral("</table>\n");
                continue;
            }
            const auto b = bullet.match(trimmed);
            const auto n = numbered.match(trimmed);
            if (b.hasMatch() || n.hasMatch()) {
                flushParagraph();
                const QString tag = b.hasMatch() ? QStringLiteral("ul") : QStringLiteral("ol");
                if (listTag != tag) {
                    closeList();
                    body += QStringLiteral("<%1><li>").arg(tag);
                    listTag = tag;
                } else {
                    body += QStringLiteral("</li><li>");
                }
                body += inlineHtml((b.hasMatch() ? b : n).captured(1));
                continue;
            }
            if (!listTag.isEmpty() && (line.startsWith(u' ') || line.startsWith(u'\t'))) {
                body += u' ' + inlineHtml(trimmed); // continuation of a list item
                continue;
            }
            closeList();
            paragraph << trimmed;
        }
        flushParagraph();
        closeList();
        return body;
    }

    QStringList Missing;

private:
    QString SourceDir, OutDir;
};

const char kStyle[] =
    // No margins on the body: Qt's text browser, which shows the page in the
    // program, lays the block after a table out beside the table with them.
    "body{font-family:sans-serif;padding:0 1em;line-height:1.5;color:#222}"
    "h1,h2,h3{color:#0a5a2a}code{background:#f2f2f2;padding:0 .2em}"
    "pre{background:#f6f6f6;border:1px solid #ddd;padding:.6em;overflow:auto}"
    "table{border-collapse:collapse}td,th{border:1px solid #ccc;padding:.2em .5em;vertical-align:top}"
    "img{max-width:100%;border:1px solid #ccc}";

} // namespace

// The page's language attribute and title.
struct PageLanguage {
    const char* code;
    const char* htmlLang;
    const char* title;
};
constexpr PageLanguage kLanguages[] = {
    {"zh", "zh-CN", "TALVO 帮助"},
    {"en", "en", "TALVO Help"},
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: talvo-helpgen SOURCE.md OUTDIR LANG\n");
        return 2;
    }
    const PageLanguage* language = nullptr;
    for (const PageLanguage& l : kLanguages)
        if (args[3] == QLatin1String(l.code)) language = &l;
    if (!language) {
        std::fprintf(stderr, "talvo-helpgen: unknown language '%s' (zh, en)\n", qPrintable(args[3]));
        return 2;
    }
    QFile source(args[1]);
    if (!source.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "talvo-helpgen: cannot read %s: %s\n", qPrintable(args[1]), qPrintable(source.errorString()));
        return 1;
    }
    const QString outDir = args[2];
    if (!QDir().mkpath(outDir)) {
        std::fprintf(stderr, "talvo-helpgen: cannot create %s\n", qPrintable(outDir));
        return 1;
    }
    const QStringList lines = QString::fromUtf8(source.readAll()).split(u'\n');
    Converter converter(QFileInfo(args[1]).absolutePath(), outDir);
    const QString body = converter.convert(lines);
    if (!converter.Missing.isEmpty()) {
        std::fprintf(stderr, "talvo-helpgen: images not found: %s\n", qPrintable(converter.Missing.join(QStringLiteral(", "))));
        return 1;
    }
    QFile page(QDir(outDir).filePath(QStringLiteral("index.%1.html").arg(args[3])));
    if (!page.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "talvo-helpgen: cannot write %s: %s\n", qPrintable(page.fileName()), qPrintable(page.errorString()));
        return 1;
    }
    QTextStream out(&page);
    out << "<!DOCTYPE html>\n<html lang=\"" << language->htmlLang << "\">\n<head>\n<meta charset=\"utf-8\">\n<title>"
        << QString::fromUtf8(language->title) << "</title>\n<style>" << kStyle << "</style>\n</head>\n<body>\n"
        << body << "</body>\n</html>\n";
    return 0;
}
