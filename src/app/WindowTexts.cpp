#include "app/WindowTexts.h"

#include <QCoreApplication>

#include "protocol/ChipTypes.h"

namespace talvo {

namespace {

// "星期" and the day: the status bar's weekday, Sunday first.
const char* const kWeekdays[7] = {
    QT_TRANSLATE_NOOP("MainWindowCore", "星期日"), QT_TRANSLATE_NOOP("MainWindowCore", "星期一"),
    QT_TRANSLATE_NOOP("MainWindowCore", "星期二"), QT_TRANSLATE_NOOP("MainWindowCore", "星期三"),
    QT_TRANSLATE_NOOP("MainWindowCore", "星期四"), QT_TRANSLATE_NOOP("MainWindowCore", "星期五"),
    QT_TRANSLATE_NOOP("MainWindowCore", "星期六")};

const char* const kFilePrompt =
    QT_TRANSLATE_NOOP("MainWindowCore", "请用“打开文件”选择《单片机例程》中单片机目标文件(.hex\\.bin文件)");

} // namespace

QString FilePrompt() { return QCoreApplication::translate("MainWindowCore", kFilePrompt); }

QString FilePromptSource() { return QString::fromUtf8(kFilePrompt); }

bool IsFilePrompt(const QString& path) { return path == FilePrompt() || path == FilePromptSource(); }

QString NoFirmwareText() {
    return QCoreApplication::translate("MainWindowCore",
                                       "还没有选择固件文件：请先用“打开文件”选择要下载的 .hex 或 .bin 文件");
}

// The window's filter "Hex文件(*.HEX)|*.hex|Bin文件(*.BIN)|*.bin||" in Qt's
// syntax: each "description|pattern" pair becomes "description (patterns)",
// pairs are joined by ";;" and the closing "||" is dropped.  The description
// is kept as it was, so a dialog that hides filter details shows the same
// text; Qt takes the last parenthesised group as the patterns.  Both cases are
// listed because file names are case-sensitive here, unlike where the filter
// came from.  Of the dialog flags, hiding the read-only box and the overwrite
// prompt have no meaning for Qt's open dialog, and multiple selection is not
// offered because only one file is ever used.
QString FirmwareFileFilter() {
    return QCoreApplication::translate("MainWindowCore", "Hex文件(*.HEX) (*.hex *.HEX);;Bin文件(*.BIN) (*.bin *.BIN)");
}

QString FormatClock(const QDateTime& local) {
    const QDate d = local.date();
    const QTime t = local.time();
    const int weekday = d.dayOfWeek() % 7; // Qt: Monday 1 .. Sunday 7; the table starts on Sunday
    return QString::asprintf("%d-%02d-%02d  %02d:%02d:%02d   ", d.year(), d.month(), d.day(), t.hour(), t.minute(),
                             t.second()) +
           QCoreApplication::translate("MainWindowCore", kWeekdays[weekday]);
}

QString UnprotectQuestionText() {
    return QCoreApplication::translate("MainWindowCore",
                                       "芯片的读保护已开启：FLASH不能读出，也不能写入，程序没有下载。\n\n"
                                       "解除读保护时芯片会擦除整个FLASH，包括这个文件没有覆盖的部分，"
                                       "芯片中原有的程序和数据全部丢失，无法恢复。\n\n"
                                       "要解除读保护并下载吗？");
}

QString UnprotectAnswerText() { return QCoreApplication::translate("MainWindowCore", "解除读保护并下载"); }

QString CancelAnswerText() { return QCoreApplication::translate("MainWindowCore", "取消"); }

QString WrongChipTypeQuestionText(const QString& chip, int chipType) {
    return QCoreApplication::translate("MainWindowCore",
                                       "连接的芯片是 %1，属于芯片类型“%2”，与所选的芯片类型不符，程序没有下载。\n\n"
                                       "要改选芯片类型“%2”并重新下载吗？（请在下载开始后给芯片重新上电）")
        .arg(chip, protocol::ChipTypeDisplayName(QString::fromUtf8(protocol::ChipTypeAt(chipType).listText)));
}

QString WrongChipTypeAnswerText() { return QCoreApplication::translate("MainWindowCore", "改选芯片类型并下载"); }

} // namespace talvo
