// The folder watch: plain writes, rename-saves, failures and stopping.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "platform/FolderWatch.h"

using namespace talvo;

namespace {

// Waits (generously) for the flag; the watch normally reacts within microseconds.
bool waitFor(const std::atomic<bool>& flag, int ms = 10000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!flag.load()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Clears the flag once the events of earlier writes have all been taken: one
// write gives several events (modify, then close), which the watch may read
// in more than one go.
void settle(std::atomic<bool>& flag) {
    for (int i = 0; i < 100; ++i) {
        flag = false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!flag.load())
            return;
    }
}

void writeFile(const QString& path, const QByteArray& data, QIODevice::OpenMode mode = QIODevice::WriteOnly) {
    QFile f(path);
    ASSERT_TRUE(f.open(mode));
    f.write(data);
}

} // namespace

TEST(FolderWatch, SeesPlainWritesAndRenameSaves) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fw = dir.filePath(QStringLiteral("fw.hex"));
    writeFile(fw, "old");
    QDir().mkpath(dir.filePath(QStringLiteral("sub")));

    std::atomic<bool> changed{false};
    FolderWatch watch(dir.path(), changed);
    ASSERT_TRUE(watch.start()) << watch.errorString().toStdString();
    EXPECT_TRUE(watch.running());
    EXPECT_FALSE(changed.load());

    // An append to the existing file.
    writeFile(fw, "more", QIODevice::Append);
    EXPECT_TRUE(waitFor(changed));

    // An editor's save: write a temporary file in a subfolder, rename it over the original.
    settle(changed);
    const QString temp = dir.filePath(QStringLiteral("sub/fw.hex.tmp"));
    writeFile(temp, "new");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(changed.load()); // subfolders are not watched
    ASSERT_TRUE(QFile::remove(fw));
    ASSERT_TRUE(QFile::rename(temp, fw));
    EXPECT_TRUE(waitFor(changed));

    // Any file of the folder counts.
    settle(changed);
    writeFile(dir.filePath(QStringLiteral("other.txt")), "x");
    EXPECT_TRUE(waitFor(changed));

    watch.stop();
    EXPECT_FALSE(watch.running());
    changed = false;
    writeFile(fw, "after stop");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(changed.load());
    watch.stop(); // twice is harmless
}

TEST(FolderWatch, FilesWithTheIgnoredPrefixDoNotCount) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::atomic<bool> changed{false};
    FolderWatch watch(dir.path(), changed, {}, QStringLiteral("tmp-own-"));
    ASSERT_TRUE(watch.start()) << watch.errorString().toStdString();
    writeFile(dir.filePath(QStringLiteral("tmp-own-1234.tmp")), "image");
    ASSERT_TRUE(QFile::remove(dir.filePath(QStringLiteral("tmp-own-1234.tmp"))));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(changed.load());
    // The prefix must start the name: a file that only contains it counts.
    writeFile(dir.filePath(QStringLiteral("fw-tmp-own-.hex")), "x");
    EXPECT_TRUE(waitFor(changed));
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
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (watch.running() && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_FALSE(watch.running());
    std::lock_guard<std::mutex> lock(m);
    ASSERT_EQ(reasons.size(), 1);
    EXPECT_EQ(reasons.first(), watch.errorString());
}
