// Saved settings: restore rules, defaults, unreadable values and failures to save.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QTemporaryDir>

#include <atomic>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/ControlIds.h"
#include "app/MainWindowCore.h"
#include "app/MainWindowPanel.h"
#include "app/WindowTexts.h"
#include "common/FileOpens.h"
#include "host/SerialDownloadHost.h"
#include "platform/QSettingsStore.h"

using namespace talvo;

namespace {

struct Fixture {
    QTemporaryDir dir;
    QString ini = dir.path() + "/TALVO/TALVO.conf";
    QSettingsStore store{ini};
    MainWindowPanel panel;
    std::unique_ptr<MainWindowCore> core;

    Fixture() { core = std::make_unique<MainWindowCore>(panel, CoreServices{&store, nullptr, {}, {}, {}, {}, {}}); }

    void write(const QMap<QString, QVariant>& values) {
        QDir().mkpath(dir.path() + "/TALVO");
        QSettings s(ini, QSettings::IniFormat);
        for (auto it = values.begin(); it != values.end(); ++it) s.setValue(it.key(), it.value());
        s.sync();
    }
    QString baud() const {
        const int i = panel.currentIndex(ctl::BaudList);
        return i < 0 ? QString() : panel.items(ctl::BaudList)[i];
    }
};

} // namespace

TEST(Settings, MissingStoreGivesTheFirstRunDefaultsSilently) {
    Fixture f;
    EXPECT_FALSE(f.core->LoadSettings());
    f.core->Initialise();
    EXPECT_TRUE(f.panel.messages.empty());
    EXPECT_EQ(f.baud(), "110");
    EXPECT_EQ(f.panel.currentIndex(ctl::ChipType), 0);
    EXPECT_EQ(f.core->FirmwareFile(), FilePrompt());
    EXPECT_EQ(f.core->FirmwareFileName(), "hex");
    EXPECT_EQ(f.panel.text(ctl::FilePath), FilePrompt());
}

TEST(Settings, BaudIsFoundByPrefixFromItemOneWrappingToItemZero) {
    struct Case {
        const char* saved;
        const char* selected;
    } cases[] = {
        {"1", "1200"},        // item 3, not "110" (item 0): the search starts at item 1
        {"115200", "115200"},
        {"110", "110"},       // only item 0 matches: found after wrapping
        {"11", "115200"},     // "110" is item 0, searched last
        {"", "300"},          // an empty prefix matches the first item searched
        {"96", "9600"},
        {"7", ""},            // no item begins with it: no selection
    };
    for (const Case& c : cases) {
        Fixture f;
        f.write({{"Path", "/tmp/x.hex"}, {"filename", "x.hex"}, {"baud", c.saved}, {"MCUTYPE", "1"}});
        ASSERT_TRUE(f.core->LoadSettings());
        EXPECT_EQ(f.baud(), c.selected) << "saved baud '" << c.saved << "'";
    }
}

TEST(Settings, PrefixSearchIgnoresCase) {
    const QStringList items{"abc", "ABD", "xyz"};
    EXPECT_EQ(MainWindowCore::FindPrefix(items, "ab", 1), 1);
    EXPECT_EQ(MainWindowCore::FindPrefix(items, "AbC", 1), 0);
    EXPECT_EQ(MainWindowCore::FindPrefix({}, "a", 1), -1);
}

TEST(Settings, ChipTypeIsTheLeadingDecimalNumberLowEightBitsSigned) {
    struct Case {
        const char* saved;
        int index;
    } cases[] = {
        {"4", 4}, {"0", 0}, {"9", -1}, {"-1", -1}, {"3abc", 3}, {" 2", 2},
        {"x", 0},     // no digits: 0
        {"256", 0},   // low 8 bits
        {"257", 1},
        {"255", -1},  // 0xFF as a signed byte
        {"99999999999", -1},
    };
    for (const Case& c : cases) {
        Fixture f;
        f.write({{"Path", "p"}, {"filename", "n"}, {"baud", "9600"}, {"MCUTYPE", c.saved}});
        ASSERT_TRUE(f.core->LoadSettings());
        EXPECT_EQ(f.panel.currentIndex(ctl::ChipType), c.index) << "saved MCUTYPE '" << c.saved << "'";
    }
}

TEST(Settings, RoundTripThroughSaveAndLoad) {
    Fixture f;
    f.core->Initialise();
    const QString firmware = f.dir.path() + "/固件/blink.hex";
    ASSERT_TRUE(QDir().mkpath(f.dir.path() + "/固件"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(TALVO_SOURCE_DIR "/tests/app/data/tiny.hex"), firmware));
    ASSERT_TRUE(f.core->SetFirmwareFile(firmware));
    f.panel.setCurrentIndex(ctl::BaudList, 11);
    f.panel.setCurrentIndex(ctl::ChipType, 3);
    f.core->SaveSettings();
    ASSERT_TRUE(f.panel.messages.empty());
    {
        QSettings s(f.ini, QSettings::IniFormat);
        EXPECT_EQ(s.value("baud").toString(), "115200");
        EXPECT_EQ(s.value("MCUTYPE").toString(), "3");
    }

    MainWindowPanel panel2;
    MainWindowCore core2(panel2, CoreServices{&f.store, nullptr, {}, {}, {}, {}, {}});
    core2.Initialise();
    EXPECT_EQ(core2.FirmwareFile(), firmware);
    EXPECT_EQ(core2.FirmwareFileName(), "blink.hex");
    EXPECT_EQ(panel2.text(ctl::FilePath), firmware);
    EXPECT_EQ(panel2.currentIndex(ctl::BaudList), 11);
    EXPECT_EQ(panel2.currentIndex(ctl::ChipType), 3);
    EXPECT_TRUE(panel2.messages.empty());
}

TEST(Settings, NoSelectionsSaveItemOneAndMinusOne) {
    Fixture f;
    f.panel.setCurrentIndex(ctl::BaudList, -1);
    f.panel.setCurrentIndex(ctl::ChipType, -1);
    f.core->SaveSettings();
    QSettings s(f.ini, QSettings::IniFormat);
    EXPECT_EQ(s.value("baud").toString(), "300");
    EXPECT_EQ(s.value("MCUTYPE").toString(), "-1");
}

TEST(Settings, EachUnreadableValueShowsOneMessageAndTheOthersAreRestored) {
    Fixture f;
    // "filename" is missing and "baud" is not a text (a list): two messages.
    f.write({{"Path", "/a/b.hex"}, {"baud", QStringList{"1", "2"}}, {"MCUTYPE", "2"}});
    ASSERT_TRUE(f.core->LoadSettings());
    ASSERT_EQ(f.panel.messages.size(), 2u);
    for (const ShownMessage& m : f.panel.messages) {
        EXPECT_EQ(m.text, "错误：无法查询有关的注册表信息");
        EXPECT_EQ(m.caption, AppTitle());
    }
    EXPECT_EQ(f.core->FirmwareFile(), "/a/b.hex");
    EXPECT_EQ(f.panel.currentIndex(ctl::ChipType), 2);
    // An unreadable value takes its first-run default.
    EXPECT_EQ(f.core->FirmwareFileName(), "hex");
    EXPECT_EQ(f.baud(), "110");
}

TEST(Settings, ValueLongerThanTheValueBufferIsUnreadable) {
    Fixture f;
    f.write({{"Path", QString(600, 'x')}, {"filename", "n"}, {"baud", "9600"}, {"MCUTYPE", "1"}});
    ASSERT_TRUE(f.core->LoadSettings());
    ASSERT_EQ(f.panel.messages.size(), 1u);
    EXPECT_EQ(f.core->FirmwareFile(), FilePrompt());
}

TEST(Settings, ReadOnlyConfigurationFolderShowsTheSaveFailure) {
    if (geteuid() == 0) {
        // root writes through permission bits; use a path whose parent is a file instead.
        Fixture f;
        QFile blocker(f.dir.path() + "/blocker");
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QSettingsStore store(f.dir.path() + "/blocker/TALVO.conf");
        MainWindowPanel panel;
        MainWindowCore core(panel, CoreServices{&store, nullptr, {}, {}, {}, {}, {}});
        core.SaveSettings();
        ASSERT_EQ(panel.messages.size(), 1u);
        EXPECT_EQ(panel.messages[0].text, "错误: 无法打开有关的hKEY!");
        return;
    }
    Fixture f;
    QDir().mkpath(f.dir.path() + "/TALVO");
    ASSERT_EQ(chmod(QFile::encodeName(f.dir.path() + "/TALVO").constData(), 0555), 0);
    f.core->SaveSettings();
    chmod(QFile::encodeName(f.dir.path() + "/TALVO").constData(), 0755);
    ASSERT_EQ(f.panel.messages.size(), 1u);
    EXPECT_EQ(f.panel.messages[0].text, "错误: 无法打开有关的hKEY!");
}

TEST(Settings, CloseStopsSavesAndQuitsWithZero) {
    Fixture f;
    f.core->Initialise();
    f.panel.setCurrentIndex(ctl::ChipType, 4);
    f.core->OnCloseWindow();
    EXPECT_EQ(f.panel.exitCode, 0);
    QSettings s(f.ini, QSettings::IniFormat);
    EXPECT_EQ(s.value("MCUTYPE").toString(), "4");
}

TEST(Initialisation, SelectionsEnableStatesAndTexts) {
    Fixture f;
    EXPECT_TRUE(f.core->Initialise());
    EXPECT_EQ(f.panel.statusText(0), "就绪");
    EXPECT_FALSE(f.panel.isEnabled(ctl::SerialDebug));
    EXPECT_FALSE(f.panel.isEnabled(ctl::ChipButton));
    EXPECT_TRUE(f.panel.isEnabled(ctl::Download));
    EXPECT_TRUE(f.panel.isEnabled(ctl::OpenFile));
    EXPECT_TRUE(f.panel.isChecked(ctl::HighSpeed));
    EXPECT_FALSE(f.panel.isChecked(ctl::LowSpeed));
    EXPECT_FALSE(f.core->IsLowSpeed());
    EXPECT_EQ(f.panel.progress(ctl::Progress), 0);
    f.core->Host().Progress(5000); // held at the top of the 0..1024 range
    EXPECT_EQ(f.panel.progress(ctl::Progress), 1024);
    EXPECT_EQ(f.panel.items(ctl::ChipType),
              (QStringList{"ARM-STM32", "STC89C5XX系列", "STC11F60系列", "STC12C60系列", "STC90C5XX系列", "STC15系列", "STC8系列"}));
    EXPECT_EQ(f.panel.items(ctl::BaudList).size(), 12);
    // The troubleshooting texts: 14 and 13 lines with their exact ends.
    EXPECT_TRUE(f.core->Host().ConnectDiagnosis().startsWith(QString(11, ' ') + "故障诊断：  1.使用STC"));
    EXPECT_TRUE(f.core->Host().ConnectDiagnosis().endsWith(QString(25, ' ') + "7.单片机ISP功能损坏\n"));
    EXPECT_EQ(f.core->Host().ConnectDiagnosis().count("\r\n"), 10);
    EXPECT_EQ(f.core->Host().ConnectDiagnosis().count("\n"), 14);
    EXPECT_TRUE(f.core->Host().PortDiagnosis().endsWith("请按照上述故障信息逐个排查" + QString(26, ' ')));
    EXPECT_EQ(f.core->Host().PortDiagnosis().count("\r\n"), 12);
}

// Something other than a regular file at the settings path (a FIFO would
// block whoever opens it until a writer comes): it is never opened, one
// message names it and why, the window starts with the defaults, and closing
// writes nothing there.
TEST(Settings, ANonRegularFileAtTheSettingsPathIsNeitherOpenedNorReplaced) {
    struct Case {
        const char* kind;
        std::function<bool(const QByteArray&)> make;
        mode_t type;
    } cases[] = {
        {"named pipe (FIFO)", [](const QByteArray& p) { return ::mkfifo(p.constData(), 0600) == 0; }, S_IFIFO},
        {"folder", [](const QByteArray& p) { return ::mkdir(p.constData(), 0700) == 0; }, S_IFDIR},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        Fixture f;
        ASSERT_TRUE(QDir().mkpath(f.dir.path() + "/TALVO"));
        const QByteArray path = QFile::encodeName(f.ini);
        ASSERT_TRUE(c.make(path));
        // A FIFO's writer: its open succeeds only while someone has the FIFO
        // open to read (and is waiting there for a writer); it closes at once,
        // so that such a reader sees the end and goes on.
        std::atomic<bool> done{false}, openedByTheWindow{false};
        std::thread writer;
        if (c.type == S_IFIFO)
            writer = std::thread([&] {
                while (!done) {
                    const int fd = ::open(path.constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
                    if (fd >= 0) {
                        openedByTheWindow = true;
                        ::close(fd);
                    }
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
            });

        EXPECT_TRUE(f.core->Initialise());
        f.core->OnCloseWindow();
        done = true;
        if (writer.joinable()) writer.join();
        EXPECT_FALSE(openedByTheWindow);

        ASSERT_EQ(f.panel.messages.size(), 2u);
        EXPECT_EQ(f.panel.messages[0].text, "错误：无法查询有关的注册表信息");
        EXPECT_TRUE(f.panel.messages[0].cause.contains(f.ini) && f.panel.messages[0].cause.contains(c.kind))
            << f.panel.messages[0].cause.toStdString();
        EXPECT_EQ(f.core->FirmwareFile(), FilePrompt());
        EXPECT_EQ(f.baud(), "110");
        EXPECT_EQ(f.panel.messages[1].text, "错误: 无法打开有关的hKEY!");
        EXPECT_TRUE(f.panel.messages[1].cause.contains(c.kind)) << f.panel.messages[1].cause.toStdString();
        struct stat st {};
        ASSERT_EQ(::lstat(path.constData(), &st), 0);
        EXPECT_EQ(st.st_mode & S_IFMT, c.type) << "left as it was";
    }
}

// Every value at start-up comes from one reading of the file, also of a file
// too large for QSettings to keep in its cache of files read (more than a few
// hundred keys), so that no value costs a reading of the whole file.
TEST(Settings, TheFileIsReadOnceAtStartUp) {
    Fixture f;
    QByteArray text = "[General]\nPath=/a/b.hex\nfilename=b.hex\nbaud=9600\nMCUTYPE=2\nVerifyStm32=1\n";
    for (int i = 0; i < 2000; ++i) text += "other" + QByteArray::number(i) + "=x\n";
    ASSERT_TRUE(QDir().mkpath(f.dir.path() + "/TALVO"));
    QFile file(f.ini);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
    file.close();
    test::FolderOpens opens(f.dir.path() + "/TALVO");
    ASSERT_TRUE(opens.valid());
    f.core->Initialise();
    EXPECT_TRUE(f.panel.messages.empty());
    EXPECT_EQ(f.core->FirmwareFile(), "/a/b.hex");
    EXPECT_EQ(f.baud(), "9600");
    EXPECT_TRUE(f.core->VerifyStm32());
    EXPECT_EQ(opens.opensOf("TALVO.conf"), 1);
}

// The user's settings file is where QSettings keeps them, named without reading it.
TEST(Settings, TheUsersFileIsWhereQSettingsKeepsIt) {
    EXPECT_EQ(QSettingsStore().location(),
              QSettings(QSettings::NativeFormat, QSettings::UserScope, "TALVO", "TALVO").fileName());
}
