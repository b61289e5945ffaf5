// `talvo sim` behind a pseudo-terminal, driven by independent clients:
// stm32flash for the STM32 bootloader, and plain termios code for the STC
// handshake, reconnects and hang-ups.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <memory>
#include <random>

#include "image/HexWriter.h"

namespace {

// A `talvo sim` process that is always stopped at the end of the test.
class SimProcess {
public:
    SimProcess(const QStringList& args, const QString& link) : link_(link) {
        proc_.setProgram(QStringLiteral(TALVO_EXE));
        proc_.setArguments(QStringList{QStringLiteral("sim")} + args + QStringList{QStringLiteral("--link"), link});
        proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc_.start();
    }
    ~SimProcess() { stop(); }
    // Waits (bounded) for the link to appear.
    bool ready(int ms = 15000) {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            if (proc_.state() == QProcess::NotRunning) return false;
            if (QFileInfo(link_).exists()) return true;
            QThread::msleep(20);
        }
        return false;
    }
    // Freezes and thaws the simulator, as a busy machine may.
    void pause(bool frozen) { ::kill(static_cast<pid_t>(proc_.processId()), frozen ? SIGSTOP : SIGCONT); }
    int stop() {
        if (proc_.state() != QProcess::NotRunning) {
            proc_.terminate(); // SIGTERM: the simulator dumps its flash and leaves
            if (!proc_.waitForFinished(10000)) {
                proc_.kill();
                proc_.waitForFinished(5000);
            }
        }
        return proc_.exitCode();
    }

private:
    QProcess proc_;
    QString link_;
};

int run(const QString& program, const QStringList& args, QString* output, int ms = 90000) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(ms)) {
        p.kill();
        p.waitForFinished(5000);
        *output = QString::fromLocal8Bit(p.readAll()) + QStringLiteral("\n(timed out)");
        return -1;
    }
    *output = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// A host end on the pty: raw, at a chosen rate.
class Port {
public:
    // A speed of 0 leaves the line as the last user set it.
    Port(const QString& path, speed_t speed) {
        fd_ = ::open(path.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd_ >= 0 && speed) setSpeed(speed);
    }
    void setSpeed(speed_t speed) {
        termios t{};
        ::tcgetattr(fd_, &t);
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, speed);
        ::cfsetospeed(&t, speed);
        ::tcsetattr(fd_, TCSANOW, &t);
    }
    ~Port() { close(); }
    void close() {
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }
    bool ok() const { return fd_ >= 0; }
    void write(const QByteArray& b) { [[maybe_unused]] auto n = ::write(fd_, b.constData(), static_cast<size_t>(b.size())); }
    // Reads what arrives within `ms`; false when the pty was hung up.
    bool read(QByteArray* into, int ms) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, ms) <= 0) return true;
        if (p.revents & (POLLHUP | POLLERR)) return false;
        char buf[512];
        const ssize_t n = ::read(fd_, buf, sizeof buf);
        if (n < 0) return errno == EAGAIN;
        into->append(buf, static_cast<int>(n));
        return true;
    }
    // The host's sync stream until `n` bytes have come back (bounded).
    QByteArray sync(int n, int ms = 5000) {
        QByteArray got;
        QElapsedTimer t;
        t.start();
        while (got.size() < n && t.elapsed() < ms) {
            if (got.isEmpty()) write(QByteArray("\x7f\x7f", 2));
            if (!read(&got, 14)) break;
        }
        return got;
    }

private:
    int fd_ = -1;
};

QByteArray stcFrame(const QByteArray& payload) {
    QByteArray f = QByteArray::fromHex("46B96A00");
    f.append(static_cast<char>(payload.size() + 5));
    f.append(payload);
    unsigned sum = 0;
    for (int i = 2; i < f.size(); ++i) sum += static_cast<uint8_t>(f[i]);
    f.append(static_cast<char>(sum & 0xFF));
    f.append('\x16');
    return f;
}

// Reads until `n` bytes came (bounded).
QByteArray readN(Port& p, int n, int ms = 3000) {
    QByteArray got;
    QElapsedTimer t;
    t.start();
    while (got.size() < n && t.elapsed() < ms && p.read(&got, 20)) {
    }
    return got;
}

QByteArray randomImage(int size, unsigned seed) {
    QByteArray image(size, '\0');
    std::mt19937 rng(seed);
    for (auto& c : image) c = static_cast<char>(rng() & 0xFF);
    return image;
}

bool writeFile(QFile& file, const QByteArray& bytes) {
    if (!file.open(QIODevice::WriteOnly)) return false;
    const bool ok = file.write(bytes) == bytes.size();
    file.close();
    return ok;
}

// The first clock count of an STC89 status frame.
int count(const QByteArray& status) { return static_cast<uint8_t>(status[4]) << 8 | static_cast<uint8_t>(status[5]); }

} // namespace

namespace {

// The STM32 simulators, their product ID as stm32flash prints it, their
// flash and write unit.
const struct Stm32Sim {
    const char* chip;
    const char* pid;
    int flashKb;
    int writeUnit;
} kStm32Sims[] = {
    {"stm32f103", "0x0410", 64, 4},  // Erase (0x43)
    {"stm32f030", "0x0440", 64, 4},  // Extended Erase (0x44)
    {"stm32f401", "0x0423", 256, 4}, // sectors of 16, 64 and 128 KB
    {"stm32g071", "0x0460", 128, 8}, // 8-byte writes
    {"stm32l431", "0x0435", 256, 8},
};

QStringList stm32flashArgs(const QStringList& args) {
    return QStringList{QStringLiteral("-b"), QStringLiteral("115200"), QStringLiteral("-m"), QStringLiteral("8n1")} +
           args;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST(PtyStm32, Stm32flashWritesVerifiesAndReadsBack) {
    const QString stm32flash = QStandardPaths::findExecutable(QStringLiteral("stm32flash"));
    if (stm32flash.isEmpty()) GTEST_SKIP() << "stm32flash is not installed (Debian package stm32flash): skipped";
    for (const Stm32Sim& c : kStm32Sims) {
        SCOPED_TRACE(c.chip);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString link = dir.filePath(QStringLiteral("stm32"));
        const QString dump = dir.filePath(QStringLiteral("dump.bin"));
        // A multiple of eight: stm32flash pads its writes to four bytes only.
        const QByteArray image = randomImage(3000, 20261207);
        QFile img(dir.filePath(QStringLiteral("img.bin")));
        ASSERT_TRUE(writeFile(img, image));

        SimProcess sim({QString::fromLatin1(c.chip), QStringLiteral("--dump"), dump}, link);
        ASSERT_TRUE(sim.ready()) << "talvo sim did not make " << link.toStdString();
        QString output;
        ASSERT_EQ(run(stm32flash, stm32flashArgs({QStringLiteral("-w"), img.fileName(), QStringLiteral("-v"), link}),
                      &output),
                  0)
            << output.toStdString();
        const QString out = dir.filePath(QStringLiteral("out.bin"));
        ASSERT_EQ(run(stm32flash,
                      stm32flashArgs(
                          {QStringLiteral("-r"), out, QStringLiteral("-S"), QStringLiteral("0x08000000:3000"), link}),
                      &output),
                  0)
            << output.toStdString();
        EXPECT_TRUE(output.contains(QString::fromLatin1(c.pid))) << output.toStdString();
        EXPECT_EQ(readFile(out), image);
        EXPECT_EQ(sim.stop(), 0);
        const QByteArray flash = readFile(dump);
        EXPECT_EQ(flash.size(), c.flashKb * 1024);
        EXPECT_EQ(flash.left(3000), image);
    }
}

TEST(PtyStm32, TalvoWritesStm32flashReadsBack) {
    const QString stm32flash = QStandardPaths::findExecutable(QStringLiteral("stm32flash"));
    if (stm32flash.isEmpty()) GTEST_SKIP() << "stm32flash is not installed (Debian package stm32flash): skipped";
    for (const Stm32Sim& c : kStm32Sims) {
        SCOPED_TRACE(c.chip);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString link = dir.filePath(QStringLiteral("stm32"));
        // Not a multiple of four: the last block goes out padded with FF to the write unit.
        const QByteArray image = randomImage(5001, 5001);
        const int padded = (5001 + c.writeUnit - 1) / c.writeUnit * c.writeUnit;
        QFile img(dir.filePath(QStringLiteral("img.bin")));
        ASSERT_TRUE(writeFile(img, image));

        SimProcess sim({QString::fromLatin1(c.chip)}, link);
        ASSERT_TRUE(sim.ready());
        QString output;
        ASSERT_EQ(run(QStringLiteral(TALVO_EXE),
                      {QStringLiteral("download"), QStringLiteral("--chip"), QStringLiteral("stm32"),
                       QStringLiteral("--port"), link, QStringLiteral("--verify"), img.fileName()},
                      &output),
                  0)
            << output.toStdString();
        EXPECT_TRUE(output.contains(QStringLiteral("校验成功"))) << output.toStdString();
        // Someone else checks what TALVO wrote.
        const QString out = dir.filePath(QStringLiteral("out.bin"));
        ASSERT_EQ(run(stm32flash,
                      stm32flashArgs({QStringLiteral("-r"), out, QStringLiteral("-S"),
                                      QStringLiteral("0x08000000:%1").arg(padded), link}),
                      &output),
                  0)
            << output.toStdString();
        EXPECT_EQ(readFile(out), image + QByteArray(padded - 5001, '\xFF'));
    }
}

// A read-protected simulator (option rdp) as stm32flash finds it: reads are
// refused; its unprotect (-k) erases the chip; then it writes and reads back.
TEST(PtyStm32, Stm32flashUnprotectsAReadProtectedChip) {
    const QString stm32flash = QStandardPaths::findExecutable(QStringLiteral("stm32flash"));
    if (stm32flash.isEmpty()) GTEST_SKIP() << "stm32flash is not installed (Debian package stm32flash): skipped";
    for (const char* chip : {"stm32f103", "stm32g071"}) {
        SCOPED_TRACE(chip);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString link = dir.filePath(QStringLiteral("stm32"));
        const QByteArray image = randomImage(2048, 11);
        QFile img(dir.filePath(QStringLiteral("img.bin")));
        ASSERT_TRUE(writeFile(img, image));
        SimProcess sim({QString::fromLatin1(chip), QStringLiteral("--faults"), QStringLiteral("rdp")}, link);
        ASSERT_TRUE(sim.ready());
        QString output;
        const QString out = dir.filePath(QStringLiteral("out.bin"));
        const QStringList readArgs = {QStringLiteral("-r"), out, QStringLiteral("-S"),
                                      QStringLiteral("0x08000000:2048"), link};
        EXPECT_NE(run(stm32flash, stm32flashArgs(readArgs), &output), 0) << output.toStdString();
        ASSERT_EQ(run(stm32flash, stm32flashArgs({QStringLiteral("-k"), link}), &output), 0) << output.toStdString();
        ASSERT_EQ(run(stm32flash, stm32flashArgs({QStringLiteral("-w"), img.fileName(), QStringLiteral("-v"), link}),
                      &output),
                  0)
            << output.toStdString();
        ASSERT_EQ(run(stm32flash, stm32flashArgs(readArgs), &output), 0) << output.toStdString();
        EXPECT_EQ(readFile(out), image);
    }
}

// `talvo read` and `stm32flash -r` on the same simulator return the same
// bytes: 64 KB from the flash start, and a range that starts and ends inside
// a 256-byte read.  Then `talvo protect` makes the chip refuse both, and
// `talvo unprotect` erases it.
TEST(PtyStm32, TalvoReadReturnsWhatStm32flashReadsAndProtectionCommands) {
    const QString stm32flash = QStandardPaths::findExecutable(QStringLiteral("stm32flash"));
    if (stm32flash.isEmpty()) GTEST_SKIP() << "stm32flash is not installed (Debian package stm32flash): skipped";
    for (const char* chip : {"stm32f401", "stm32g071", "stm32l431"}) {
        SCOPED_TRACE(chip);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString link = dir.filePath(QStringLiteral("stm32"));
        QFile content(dir.filePath(QStringLiteral("content.bin")));
        ASSERT_TRUE(writeFile(content, randomImage(64 * 1024, 64)));
        SimProcess sim({QString::fromLatin1(chip), QStringLiteral("--faults"), QStringLiteral("load=") + content.fileName()},
                       link);
        ASSERT_TRUE(sim.ready());
        const auto talvo = [&](const QString& command, const QStringList& more, QString* output) {
            return run(QStringLiteral(TALVO_EXE),
                       QStringList{command, QStringLiteral("--chip"), QStringLiteral("stm32"), QStringLiteral("--port"), link} +
                           more,
                       output);
        };
        for (const auto& [address, length] : {std::pair{0x08000000, 65536}, std::pair{0x08000124, 1001}}) {
            const QString range = QStringLiteral("0x%1").arg(address, 8, 16, QLatin1Char('0'));
            const QString ours = dir.filePath(QStringLiteral("talvo-%1.bin").arg(length));
            const QString theirs = dir.filePath(QStringLiteral("stm32flash-%1.bin").arg(length));
            QString output;
            ASSERT_EQ(talvo(QStringLiteral("read"),
                            {QStringLiteral("--address"), range, QStringLiteral("--length"), QString::number(length), ours},
                            &output),
                      0)
                << output.toStdString();
            ASSERT_EQ(run(stm32flash,
                          stm32flashArgs({QStringLiteral("-r"), theirs, QStringLiteral("-S"),
                                          QStringLiteral("%1:%2").arg(range).arg(length), link}),
                          &output),
                      0)
                << output.toStdString();
            EXPECT_EQ(readFile(ours).size(), length);
            EXPECT_TRUE(readFile(ours) == readFile(theirs));
        }
        QString output;
        ASSERT_EQ(talvo(QStringLiteral("protect"), {}, &output), 0) << output.toStdString();
        const QString after = dir.filePath(QStringLiteral("after.bin"));
        EXPECT_EQ(talvo(QStringLiteral("read"), {QStringLiteral("--length"), QStringLiteral("16"), after}, &output), 1);
        EXPECT_TRUE(output.contains(QStringLiteral("读保护已开启"))) << output.toStdString();
        EXPECT_FALSE(QFileInfo::exists(after));
        EXPECT_NE(run(stm32flash, stm32flashArgs({QStringLiteral("-r"), after, QStringLiteral("-S"),
                                                  QStringLiteral("0x08000000:16"), link}),
                      &output),
                  0);
        ASSERT_EQ(talvo(QStringLiteral("unprotect"), {}, &output), 0) << output.toStdString();
        EXPECT_TRUE(output.contains(QStringLiteral("读保护已解除"))) << output.toStdString();
        ASSERT_EQ(run(stm32flash, stm32flashArgs({QStringLiteral("-r"), after, QStringLiteral("-S"),
                                                  QStringLiteral("0x08000000:4096"), link}),
                      &output),
                  0)
            << output.toStdString();
        EXPECT_EQ(readFile(after), QByteArray(4096, '\xFF')) << "the unprotected chip was not erased";
    }
}

TEST(PtyStm32, AnApplicationBehindItsBootloaderAsStm32flashReadsIt) {
    // A board that holds a 16 KB bootloader gets an application HEX for
    // 0x08004000 from TALVO; stm32flash then finds the bootloader byte for
    // byte as it was and the application at its address.
    const QString stm32flash = QStandardPaths::findExecutable(QStringLiteral("stm32flash"));
    if (stm32flash.isEmpty()) GTEST_SKIP() << "stm32flash is not installed (Debian package stm32flash): skipped";
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("stm32"));
    const QByteArray boot = randomImage(16 * 1024, 16);
    const QByteArray app = randomImage(5000, 5000);
    QFile bootFile(dir.filePath(QStringLiteral("boot.bin")));
    QFile hex(dir.filePath(QStringLiteral("app.hex")));
    ASSERT_TRUE(writeFile(bootFile, boot));
    ASSERT_TRUE(writeFile(hex, talvo::test::linearData(0x08004000, app) + talvo::test::eofRecord()));

    SimProcess sim({QStringLiteral("stm32f103"), QStringLiteral("--faults"), QStringLiteral("load=") + bootFile.fileName()}, link);
    ASSERT_TRUE(sim.ready());
    QString output;
    ASSERT_EQ(run(QStringLiteral(TALVO_EXE), {QStringLiteral("download"), QStringLiteral("--chip"), QStringLiteral("stm32"),
                                              QStringLiteral("--port"), link, hex.fileName()},
                  &output),
              0)
        << output.toStdString();
    const auto readBack = [&](const QString& range, const QString& name) {
        const QString out = dir.filePath(name);
        QString said;
        EXPECT_EQ(run(stm32flash, {QStringLiteral("-b"), QStringLiteral("115200"), QStringLiteral("-m"), QStringLiteral("8n1"),
                                   QStringLiteral("-r"), out, QStringLiteral("-S"), range, link},
                      &said),
                  0)
            << said.toStdString();
        QFile f(out);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    EXPECT_TRUE(readBack(QStringLiteral("0x08000000:16384"), QStringLiteral("boot-out.bin")) == boot) << "the bootloader changed";
    EXPECT_TRUE(readBack(QStringLiteral("0x08004000:5000"), QStringLiteral("app-out.bin")) == app);
}

TEST(PtyStc, StatusFrameAtTwelveHundredAcrossReconnectsAndHangUps) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("stc"));
    SimProcess sim({QStringLiteral("stc89c52rc"), QStringLiteral("--faults"), QStringLiteral("hangup-block=2,scale=0")},
                   link);
    ASSERT_TRUE(sim.ready());
    {
        Port p(link, B1200);
        ASSERT_TRUE(p.ok());
        const QByteArray status = p.sync(59);
        ASSERT_EQ(status.size(), 59);
        EXPECT_EQ(status.left(4).toHex(), QByteArray("68003b00"));
        EXPECT_NEAR(count(status), 5376, 2); // 11.0592e6*7/(1200*12)
        // The host closes the port in the middle of a session...
        p.write(stcFrame(QByteArray::fromHex("8EFFFA001428")));
    }
    QThread::msleep(1000); // ...and leaves it closed for a while (a quick re-open would continue the session)
    {
        // ...and the next session finds a fresh bootloader (this time at 4800,
        // where reload B8 keeps the chip: 11.0592e6 / (32 * 72) = 4800).
        Port p(link, B4800);
        ASSERT_TRUE(p.ok());
        const QByteArray status = p.sync(59);
        ASSERT_EQ(status.size(), 59);
        EXPECT_EQ(status.left(3).toHex(), QByteArray("68003b"));
        EXPECT_NEAR(count(status), 1344, 2);
        QByteArray got;
        p.write(stcFrame(QByteArray::fromHex("8EFFB8009C50")));
        for (int i = 0; i < 150 && got.size() < 13; ++i) p.read(&got, 20);
        EXPECT_EQ(got.toHex(), QByteArray("46b968000b8effb8009c50a416"));
        got.clear();
        p.write(stcFrame(QByteArray::fromHex("8401333333333333")));
        for (int i = 0; i < 150 && got.size() < 8; ++i) p.read(&got, 20);
        EXPECT_EQ(got.toHex(), QByteArray("46b968000680ee16"));
        // Block 1 is answered; block 2 makes the simulated converter hang up.
        for (int block = 0; block < 2; ++block) {
            QByteArray w = QByteArray::fromHex("00000000") ;
            w.append(static_cast<char>(block * 0x80));
            w.append(QByteArray::fromHex("0080"));
            w.append(QByteArray(128, static_cast<char>(block + 1)));
            p.write(stcFrame(w));
            got.clear();
            bool alive = true;
            for (int i = 0; i < 250 && alive && got.size() < 9; ++i) alive = p.read(&got, 20);
            if (block == 0) {
                EXPECT_EQ(got.size(), 9);
            } else {
                EXPECT_FALSE(alive) << "the port was not hung up";
            }
        }
    }
    // The link now leads to a new pty (the kernel may give it the old number),
    // where the simulator serves the next session.
    QElapsedTimer t;
    t.start();
    int statusBytes = 0;
    while (statusBytes != 59 && t.elapsed() < 10000) {
        Port p(link, B1200);
        if (p.ok()) statusBytes = static_cast<int>(p.sync(59, 2000).size());
        if (statusBytes != 59) QThread::msleep(50);
    }
    EXPECT_EQ(statusBytes, 59);
    EXPECT_EQ(sim.stop(), 0);
}

// The host has had the status frame at 1200 and sent 8F; as it switches rates,
// it closed the port and opened it again at 57600 for the echo.  The switch
// answers come 1 s after their frame and the chip waits 3 s for a re-open, so
// that a slow re-open on a busy machine still catches them.
class PtyRateSwitch : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        link = dir.filePath(QStringLiteral("stc"));
        sim = std::make_unique<SimProcess>(
            QStringList{QStringLiteral("stc89c52rc"), QStringLiteral("--faults"), QStringLiteral("switchfloor=1,reopen=3")},
            link);
        ASSERT_TRUE(sim->ready());
        p = std::make_unique<Port>(link, B1200);
        ASSERT_TRUE(p->ok());
        ASSERT_EQ(p->sync(59).size(), 59);
        QThread::msleep(700);
        const QByteArray f8f = stcFrame(QByteArray::fromHex("8FFFFA00142881"));
        p->write(f8f);
        reopenAt(B57600, 20);
        QByteArray echo = f8f;
        echo[2] = '\x68';
        echo[echo.size() - 2] = static_cast<char>(echo[echo.size() - 2] - 2);
        ASSERT_EQ(readN(*p, 14).toHex(), echo.toHex());
    }
    void TearDown() override {
        p.reset();
        if (sim) {
            EXPECT_EQ(sim->stop(), 0);
        }
    }
    // A speed of 0 opens the port without setting the line.
    void reopenAt(speed_t speed, int pauseMs) {
        p.reset();
        QThread::msleep(static_cast<unsigned long>(pauseMs));
        p = std::make_unique<Port>(link, speed);
    }

    QTemporaryDir dir;
    QString link;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<Port> p;
    const QByteArray f8e = stcFrame(QByteArray::fromHex("8EFFFA001428"));
    const QByteArray f8eEcho = QByteArray::fromHex("46b968000b8efffa0014283616");
};

TEST_F(PtyRateSwitch, TheChipGoesOnAcrossEachReopen) {
    reopenAt(B1200, 20);
    p->write(f8e);
    reopenAt(B57600, 50);
    EXPECT_EQ(readN(*p, 13).toHex(), f8eEcho.toHex());
    p->write(stcFrame(QByteArray::fromHex("8002003601F002")));
    EXPECT_EQ(readN(*p, 8).toHex(), QByteArray("46b968000680ee16"));
}

TEST_F(PtyRateSwitch, BytesWrittenWhileTheSimulatorStallsKeepTheRateTheyWereSentAt) {
    // The simulator takes the open while the line is still at the last
    // session's 57600, then stalls while the host sets 1200, writes 8E and
    // closes.  The frame was sent at 1200 and must be heard so.
    reopenAt(0, 20);
    ASSERT_TRUE(p->ok());
    QThread::msleep(300);
    sim->pause(true);
    p->setSpeed(B1200);
    p->write(f8e);
    p.reset();
    sim->pause(false);
    reopenAt(B57600, 50);
    ASSERT_TRUE(p->ok());
    EXPECT_EQ(readN(*p, 13).toHex(), f8eEcho.toHex());
}

// The whole STC download through a pseudo-terminal: `talvo download` on one
// end, `talvo sim` on the other, the image read back from the simulator's dump.
TEST(PtyStc, TalvoDownloadProgramsTheSimulatorBehindAPty) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString link = dir.filePath(QStringLiteral("stc"));
    const QString dump = dir.filePath(QStringLiteral("dump.bin"));
    const QString firmware = QStringLiteral(TALVO_SOURCE_DIR "/examples/stc89-blink/blink.hex");
    QFile bin(QStringLiteral(TALVO_SOURCE_DIR "/examples/stc89-blink/blink.bin"));
    ASSERT_TRUE(bin.open(QIODevice::ReadOnly));
    const QByteArray image = bin.readAll();

    for (const char* speed : {"", "--low-speed"}) {
        SimProcess sim({QStringLiteral("stc89c52rc"), QStringLiteral("--dump"), dump, QStringLiteral("--faults"),
                        QStringLiteral("switchfloor=0.5")}, link);
        ASSERT_TRUE(sim.ready());
        QStringList args = {QStringLiteral("download"), QStringLiteral("--chip"), QStringLiteral("stc89"),
                            QStringLiteral("--port"), link, firmware};
        if (*speed) args << QString::fromLatin1(speed);
        QString output;
        EXPECT_EQ(run(QStringLiteral(TALVO_EXE), args, &output), 0) << output.toStdString();
        EXPECT_TRUE(output.contains(QStringLiteral("数 据 下 载 成 功!"))) << output.toStdString();
        EXPECT_EQ(sim.stop(), 0);
        QFile dumped(dump);
        ASSERT_TRUE(dumped.open(QIODevice::ReadOnly));
        EXPECT_EQ(dumped.readAll().left(image.size()), image) << speed;
    }
}

// Without --pace the 8F answer reaches the host at once: the chip is back at
// the handshake rate by then, so an 8E sent a millisecond after the answer
// was read, at the handshake rate, is heard.
TEST_F(PtyRateSwitch, AnEightESentAtOnceAfterTheAnswerIsHeard) {
    reopenAt(B1200, 1);
    p->write(f8e);
    reopenAt(B57600, 50);
    EXPECT_EQ(readN(*p, 13).toHex(), f8eEcho.toHex());
}

// `--link PATH` makes PATH only where nothing is, or where a link to a
// pseudo-terminal is (the kind it makes itself, left by a simulator that was
// killed); anything else there is refused and left as it was.  At the end it
// removes its own link only, and never a file beside it.
TEST(PtyLink, OnlyAnAbsentPathOrAPtyLinkBecomesTheLink) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString notes = dir.filePath(QStringLiteral("notes.txt"));
    QFile notesFile(notes);
    ASSERT_TRUE(writeFile(notesFile, "precious"));

    // Refused: a file, a link to a file.
    const QString linkToNotes = dir.filePath(QStringLiteral("to-notes"));
    ASSERT_TRUE(QFile::link(notes, linkToNotes));
    for (const QString& path : {notes, linkToNotes}) {
        SCOPED_TRACE(path.toStdString());
        QString output;
        EXPECT_EQ(run(QStringLiteral(TALVO_EXE), {QStringLiteral("sim"), QStringLiteral("stc89c52rc"),
                                                  QStringLiteral("--link"), path},
                      &output, 20000),
                  1);
        EXPECT_TRUE(output.contains(QStringLiteral("exists and is not a link to a pseudo-terminal"))) << output.toStdString();
        QFile f(notes);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_EQ(f.readAll(), "precious");
        EXPECT_EQ(QFileInfo(linkToNotes).symLinkTarget(), notes);
    }

    // Taken: an absent path (a file named like a temporary beside it stays),
    // and a stale link to a pty; each removed at the end.
    const QString absent = dir.filePath(QStringLiteral("stc"));
    QFile beside(absent + QStringLiteral(".tmp"));
    ASSERT_TRUE(writeFile(beside, "mine"));
    const QString stale = dir.filePath(QStringLiteral("stale"));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/pts/987654"), stale));
    for (const QString& path : {absent, stale}) {
        SCOPED_TRACE(path.toStdString());
        SimProcess sim({QStringLiteral("stc89c52rc")}, path);
        ASSERT_TRUE(sim.ready());
        EXPECT_TRUE(QFileInfo(path).symLinkTarget().startsWith(QStringLiteral("/dev/pts/")));
        EXPECT_NE(QFileInfo(path).symLinkTarget(), QStringLiteral("/dev/pts/987654"));
        EXPECT_EQ(sim.stop(), 0);
        EXPECT_FALSE(QFileInfo(path).isSymLink());
    }
    EXPECT_TRUE(beside.exists());

    // A file put in the link's place while the simulator runs is left there.
    {
        SimProcess sim({QStringLiteral("stc89c52rc")}, absent);
        ASSERT_TRUE(sim.ready());
        ASSERT_TRUE(QFile::remove(absent));
        QFile replacement(absent);
        ASSERT_TRUE(writeFile(replacement, "new"));
        EXPECT_EQ(sim.stop(), 0);
        EXPECT_TRUE(replacement.exists());
    }
}
