// The command line in English: `talvo download` on simulated STC and STM32
// boards, and `talvo hex2bin`, started with an English locale or with
// --lang en, print no Chinese character — the log, the failure lines and the
// converter's messages all come translated.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "image/HexWriter.h"

namespace {

struct Output {
    int exitCode = -1;
    QString out, err;
};

// The language comes from the locale (`lang` empty: an English LANG) or from
// --lang en under a C locale; the settings of this run name none.
Output runTalvo(const QString& lang, const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LC_ALL"));
    env.remove(QStringLiteral("LC_MESSAGES"));
    env.insert(QStringLiteral("LANG"), lang.isEmpty() ? QStringLiteral("en_US.UTF-8") : QStringLiteral("C.UTF-8"));
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(QStringLiteral(TALVO_CLI), lang.isEmpty() ? args : QStringList{QStringLiteral("--lang"), lang} + args);
    Output r;
    if (!p.waitForStarted(10000)) return r;
    if (!p.waitForFinished(120000)) p.kill();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return r;
}

// Han characters, CJK punctuation (，。：（）“”) and full-width forms.
const QRegularExpression kCjk(QStringLiteral("[\\x{3000}-\\x{303F}\\x{4E00}-\\x{9FFF}\\x{FF00}-\\x{FFEF}]"));

QString write(const QTemporaryDir& dir, const QString& name, const QByteArray& content) {
    QFile f(dir.filePath(name));
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size())
        ADD_FAILURE() << "cannot write " << name.toStdString();
    return f.fileName();
}

} // namespace

TEST(CommandLanguage, EnglishOutputHasNoChineseText) {
    QTemporaryDir dir;
    const QString blink = QStringLiteral(TALVO_SOURCE_DIR "/examples/stc89-blink/blink.hex");
    const QString app = write(dir, "app.bin", QByteArray(3000, '\x5A'));
    // 10 KB: more than the 8 KB code flash of an STC89C52RC, less than the
    // STC download's limit, so the chip's answer refuses it.
    const QString tooBig = write(dir, "big.bin", QByteArray(10 * 1024, '\x11'));
    const QString stcLimit = write(dir, "limit.bin", QByteArray(70000, '\x55'));
    const QString outside =
        write(dir, "zero.hex", talvo::test::linearData(0, QByteArray(16, '\x11')) + talvo::test::eofRecord());
    const QString badHex = write(dir, "bad.hex", ":10000000ZZ\n");
    const QString stc = QStringLiteral("sim:stc89c52rc,scale=0.2,switchfloor=0.5");
    const QString stm32 = QStringLiteral("sim:stm32f103");
    struct Case {
        QStringList args;
        int exitCode;
        const char* says; // an English line the output holds
    };
    const Case cases[] = {
        {{"download", "--chip", "stc89", "--port", stc, blink}, 0, "Data written successfully!"},
        {{"download", "--chip", "auto", "--port", stc, blink}, 0, "Chip type: STC89C5xx series"},
        {{"download", "--chip", "stm32", "--port", stm32, "--verify", app}, 0, "Verify OK: 3000 bytes read back"},
        {{"download", "--chip", "stc89", "--port", stc, tooBig}, 1, "does not fit the 8192-byte code flash"},
        {{"download", "--chip", "stc12", "--port", stc, blink}, 1, "choose chip type \"STC89C5xx series\", not \"STC12C60 series\""},
        {{"download", "--chip", "stc89", "--port", stc, stcLimit}, 3, "exceeds the STC download limit"},
        {{"download", "--chip", "stm32", "--port", stm32, outside}, 3, "outside the STM32 flash"},
        {{"download", "--chip", "stc89", "--port", stc, badHex}, 3, "HEX format error 7 (bad data digit)"},
        {{"hex2bin", badHex, dir.filePath("out.bin")}, 3, "HEX format error 7 (bad data digit)"},
        {{"hex2bin", dir.filePath("none.hex"), dir.filePath("out.bin")}, 1, "Cannot open input file"},
        {{"hex2bin", dir.path(), dir.filePath("out.bin")}, 1, "this is a folder, not a regular file"},
    };
    for (const QString lang : {QString(), QStringLiteral("en")}) {
        for (const Case& c : cases) {
            const Output r = runTalvo(lang, c.args);
            const QString what = (lang.isEmpty() ? "LANG=en_US.UTF-8 talvo " : "talvo --lang en ") + c.args.join(' ');
            const QString all = r.out + r.err;
            EXPECT_EQ(r.exitCode, c.exitCode) << qPrintable(what) << "\n" << qPrintable(all);
            EXPECT_TRUE(all.contains(QString::fromUtf8(c.says))) << qPrintable(what) << "\n" << qPrintable(all);
            const QRegularExpressionMatch m = kCjk.match(all);
            EXPECT_FALSE(m.hasMatch()) << qPrintable(what) << ": Chinese text in\n"
                                       << qPrintable(all.split('\n').filter(kCjk).join('\n'));
        }
    }
}
