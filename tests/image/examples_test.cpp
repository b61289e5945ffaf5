// The example programs: their committed HEX converts to their committed
// binary, and where the compilers are installed a fresh build gives the same
// files.
#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "image/HexToBin.h"

using namespace talvo;

namespace {

const char* const kExamples[] = {"stc89-blink", "stm32f103-blink"};

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QString examplesDir() { return QStringLiteral(TALVO_SOURCE_DIR "/examples"); }

} // namespace

TEST(Examples, CommittedHexConvertsToCommittedBin) {
    for (const char* name : kExamples) {
        SCOPED_TRACE(name);
        const QString base = examplesDir() + QLatin1Char('/') + QLatin1String(name) + QStringLiteral("/blink");
        const HexResult r = HexToBin::ConvertFile(base + QStringLiteral(".hex"));
        ASSERT_TRUE(r.ok()) << r.message.toStdString();
        const QByteArray bin = readFile(base + QStringLiteral(".bin"));
        ASSERT_FALSE(bin.isEmpty());
        EXPECT_TRUE(r.image == bin);
    }
}

TEST(Examples, RebuildMatchesCommittedFiles) {
    const QStringList tools = {"sdcc", "packihx", "makebin", "arm-none-eabi-gcc", "arm-none-eabi-objcopy"};
    for (const QString& tool : tools)
        if (QStandardPaths::findExecutable(tool).isEmpty())
            GTEST_SKIP() << tool.toStdString() << " is not installed; the committed example files are used as they are";
    QTemporaryDir out;
    ASSERT_TRUE(out.isValid());
    QProcess build;
    build.start(QStringLiteral("/bin/sh"), {examplesDir() + QStringLiteral("/build.sh"), out.path()});
    ASSERT_TRUE(build.waitForFinished(300000));
    ASSERT_EQ(build.exitCode(), 0) << build.readAllStandardError().toStdString();
    for (const char* name : kExamples) {
        for (const char* suffix : {".hex", ".bin"}) {
            const QString rel = QLatin1String(name) + QStringLiteral("/blink") + QLatin1String(suffix);
            SCOPED_TRACE(rel.toStdString());
            const QByteArray fresh = readFile(out.filePath(rel));
            ASSERT_FALSE(fresh.isEmpty());
            EXPECT_TRUE(fresh == readFile(examplesDir() + QLatin1Char('/') + rel));
        }
    }
}
