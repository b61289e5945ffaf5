// The folder watch: plain writes, rename-saves, failures and stopping.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <memory>
#include <mutex>

#include "common/Wait.h"
#include "platform/FolderWatch.h"

using namespace talvo;
using talvo::test::waitUntil;

namespace {

void writeFile(const QString& path, const QByteArray& data, QIODevice::OpenMode mode = QIODevice::WriteOnly) {
    QFile f(path);
    ASSERT_TRUE(f.open(mode));
    f.write(data);
}

// One watched folder per step.  A new watch sees only what happens after it
// starts; removing its folder ends it with a report that comes after every
// earlier event, so once the watch has ended its flag says all there is.
struct Step {
    QTemporaryDir dir;
    std::atomic<bool> changed{false};
    std::atomic<bool> ended{false};
    std::unique_ptr<FolderWatch> watch;

    Step() {
        EXPECT_TRUE(dir.isValid());
        dir.setAutoRemove(false);
        watch = std::make_unique<FolderWatch>(dir.path(), changed, [this](const QString&) { ended = true; });
        EXPECT_TRUE(watch->start()) << watch->errorString().toStdString();
    }
    ~Step() { QDir(dir.path()).removeRecursively(); }
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
    // Everything done so far has been seen: the flag is final.
    bool changedInTheEnd() {
        EXPECT_TRUE(QDir(dir.path()).removeRecursively());
        EXPECT_TRUE(waitUntil([this] { return ended.load(); }));
        EXPECT_FALSE(watch->running());
        return changed.load();
    }
};

} // namespace

TEST(FolderWatch, SeesPlainWritesAndRenameSaves) {
    {
        // An append to an existing file.
        Step step;
        writeFile(step.path("fw.hex"), "old", QIODevice::Append);
        EXPECT_TRUE(waitUntil([&] { return step.changed.load(); }));
    }
    {
        // An editor's save: write a temporary file in a subfolder, which is
        // not watched, then rename it over the original.
        Step before;
        QDir().mkpath(before.path("sub"));
        writeFile(before.path("sub/fw.hex.tmp"), "new");
        EXPECT_FALSE(before.changedInTheEnd()); // subfolders' files are not watched

        Step save;
        writeFile(save.path("fw.hex"), "old");
        QDir().mkpath(save.path("sub"));
        writeFile(save.path("sub/fw.hex.tmp"), "new");
        save.changed = false;
        ASSERT_TRUE(QFile::remove(save.path("fw.hex")));
        ASSERT_TRUE(QFile::rename(save.path("sub/fw.hex.tmp"), save.path("fw.hex")));
        EXPECT_TRUE(waitUntil([&] { return save.changed.load(); }));
    }
    {
        // Any file of the folder counts.
        Step step;
        writeFile(step.path("other.txt"), "x");
        EXPECT_TRUE(waitUntil([&] { return step.changed.load(); }));
    }
    {
        // Subfolders made, renamed or moved in are no change.
        Step step;
        ASSERT_TRUE(QDir(step.dir.path()).mkdir(QStringLiteral("build")));
        ASSERT_TRUE(QDir(step.dir.path()).rename(QStringLiteral("build"), QStringLiteral("out")));
        QTemporaryDir outside;
        ASSERT_TRUE(QDir().rename(outside.path(), step.path("moved-in")));
        EXPECT_FALSE(step.changedInTheEnd());
    }
    {
        // A stopped watch sets nothing (its thread has ended when stop returns).
        Step step;
        step.watch->stop();
        EXPECT_FALSE(step.watch->running());
        writeFile(step.path("fw.hex"), "after stop");
        EXPECT_FALSE(step.changed.load());
        step.watch->stop(); // twice is harmless
    }
}


TEST(FolderWatch, FailuresAreReportedNotFatal) {
    std::atomic<bool> changed{false};
    FolderWatch missing(QStringLiteral("/nonexistent/folder/for/talvo"), changed);
    EXPECT_FALSE(missing.start());
    EXPECT_TRUE(missing.errorString().contains(QStringLiteral("/nonexistent/folder/for/talvo")))
        << missing.errorString().toStdString();
    EXPECT_FALSE(missing.running());

    // The folder goes away while watched: the watch ends and says so once.
    auto dir = std::make_unique<QTemporaryDir>();
    ASSERT_TRUE(dir->isValid());
    std::mutex m;
    QStringList reasons;
    FolderWatch watch(dir->path(), changed, [&](const QString& reason) {
        std::lock_guard<std::mutex> lock(m);
        reasons << reason;
    });
    ASSERT_TRUE(watch.start());
    dir.reset();
    EXPECT_TRUE(waitUntil([&] { return !watch.running(); }));
    std::lock_guard<std::mutex> lock(m);
    ASSERT_EQ(reasons.size(), 1);
    EXPECT_EQ(reasons.first(), watch.errorString());
}
