// The language a person reads TALVO in: --lang, then the settings, then the
// locale; and the claims on ports that keep two tools of one process off
// one port.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTranslator>

#include "common/QtPrinters.h"
#include "platform/Language.h"
#include "platform/PortClaims.h"
#include "platform/SimBoardSet.h"
#include "platform/SystemSerialDeviceFactory.h"

using namespace talvo;

TEST(Language, OptionThenSettingThenLocale) {
    constexpr Language zh = Language::Chinese, en = Language::English;
    const struct {
        const char* option;
        const char* setting;
        const char* locale;
        Language expected;
    } cases[] = {
        // No locale at all, or the C/POSIX one: the program's own Chinese.
        {"", "", "", zh},
        {"", "", "C", zh},
        {"", "", "C.UTF-8", zh},
        {"", "", "POSIX", zh},
        {"", "", "zh_CN.UTF-8", zh},
        {"", "", "zh_TW.Big5", zh},
        {"", "", "zh", zh},
        {"", "", "en_US.UTF-8", en},
        {"", "", "de_DE@euro", en},
        {"", "", "ja_JP", en},
        // The setting over the locale; a setting that names no language is none.
        {"", "en", "zh_CN.UTF-8", en},
        {"", " ZH ", "en_US.UTF-8", zh},
        {"", "fr", "en_US.UTF-8", en},
        {"", "fr", "C", zh},
        // The option over both; a wrong option is none.
        {"zh", "en", "en_US.UTF-8", zh},
        {"EN", "zh", "C", en},
        {"klingon", "en", "C", en},
        {"klingon", "", "zh_CN", zh},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.option) + "|" + c.setting + "|" + c.locale);
        EXPECT_EQ(chooseLanguage(c.option, c.setting, c.locale), c.expected);
    }
}

TEST(Language, TheOptionIsTakenOutOfTheArgumentsBeforeADoubleDash) {
    const struct {
        QStringList in;
        std::optional<QString> value;
        QStringList out;
    } cases[] = {
        {{"talvo", "download", "x.hex"}, std::nullopt, {"talvo", "download", "x.hex"}},
        {{"talvo", "--lang", "en", "download"}, "en", {"talvo", "download"}},
        {{"talvo", "download", "--lang=zh", "x.hex"}, "zh", {"talvo", "download", "x.hex"}},
        {{"talvo", "ports", "--lang"}, "", {"talvo", "ports"}},
        {{"talvo", "sim", "--", "--lang", "en"}, std::nullopt, {"talvo", "sim", "--", "--lang", "en"}},
        // The program's own name is never an option.
        {{"--lang", "x"}, std::nullopt, {"--lang", "x"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in.join(' ').toStdString());
        QStringList args = c.in;
        EXPECT_EQ(takeLanguageOption(args), c.value);
        EXPECT_EQ(args, c.out);
    }
}

TEST(Language, EveryProgramTextHasItsEnglishTranslation) {
    // Installs the translation the programs carry and reads a few texts back
    // through it; Chinese leaves every text as it stands.
    int argc = 1;
    char name[] = "language_test";
    char* argv[] = {name, nullptr};
    QCoreApplication* app = QCoreApplication::instance();
    std::unique_ptr<QCoreApplication> own;
    if (!app) {
        own = std::make_unique<QCoreApplication>(argc, argv);
        app = own.get();
    }
    const auto text = [] { return QCoreApplication::translate("Template", "下载程序"); };
    ASSERT_TRUE(installTranslations(*app, Language::Chinese, false));
    EXPECT_EQ(text(), "下载程序");
    QString error;
    ASSERT_TRUE(installTranslations(*app, Language::English, false, &error)) << error.toStdString();
    EXPECT_EQ(currentLanguage(), Language::English);
    EXPECT_EQ(text(), "Download");
    EXPECT_EQ(QCoreApplication::translate("PortTestCore", "测试 OK"), "Test OK");
    EXPECT_EQ(portBusyText("ttyUSB0", "Download"), "Port ttyUSB0 is in use by \"Download\": wait until it ends, or close it, and try again");
    // Back to Chinese for the tests after this one.
    for (QTranslator* t : app->findChildren<QTranslator*>()) QCoreApplication::removeTranslator(t);
    EXPECT_EQ(text(), "下载程序");
}

TEST(PortClaims, OneHolderAtATimeUnderEveryNameOfTheDevice) {
    QTemporaryDir dir;
    const QString dev = dir.filePath("dev");
    ASSERT_TRUE(QDir().mkpath(dev + "/serial/by-id"));
    QFile node(dev + "/ttyUSB7");
    ASSERT_TRUE(node.open(QIODevice::WriteOnly));
    ASSERT_TRUE(QFile::link(dev + "/ttyUSB7", dev + "/serial/by-id/usb-FTDI-if00"));
    SystemSerialDeviceFactory devices(dev);
    const QString key = devices.claimKey("ttyUSB7");
    EXPECT_EQ(devices.claimKey(dev + "/ttyUSB7"), key);
    EXPECT_EQ(devices.claimKey(dev + "/serial/by-id/usb-FTDI-if00"), key);
    EXPECT_NE(devices.claimKey("ttyUSB8"), key);
    // A simulated board of a set of its own is another board than the process's.
    SimBoardSet boards;
    EXPECT_EQ(SystemSerialDeviceFactory().claimKey("sim:loopback"), "sim:loopback");
    EXPECT_NE(SystemSerialDeviceFactory(QString(), &boards).claimKey("sim:loopback"), "sim:loopback");

    int download = 0, terminal = 0;
    QString heldBy;
    ASSERT_TRUE(claimPort(key, &download, "下载程序"));
    EXPECT_TRUE(claimPort(devices.claimKey("ttyUSB7"), &download, "下载程序")) << "the holder again";
    EXPECT_FALSE(claimPort(devices.claimKey(dev + "/serial/by-id/usb-FTDI-if00"), &terminal, "串口调试助手", &heldBy));
    EXPECT_EQ(heldBy, "下载程序");
    EXPECT_FALSE(claimPort(key, &download, "串口检测", &heldBy)) << "one owner, another use";
    releasePort(key, &terminal);
    EXPECT_EQ(portHolder(key), "下载程序") << "only the holder releases";
    releasePort(key, &download);
    EXPECT_EQ(portHolder(key), "");
    EXPECT_TRUE(claimPort(key, &terminal, "串口调试助手"));
    releasePort(key, &terminal);
}
