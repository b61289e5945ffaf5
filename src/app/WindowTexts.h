#pragma once
// The main window's fixed texts and their formats, in the reader's language:
// the file box's prompt, what "下载程序" says without a firmware file, the
// open-file dialog's filter, the status bar's clock, and the question a
// download refused by a read-protected STM32 or stopped on a chip of
// another chip type ends with.  Free functions, so
// the window, its core and the tests reach them without the core.

#include <QDateTime>
#include <QString>

namespace talvo {

// The prompt shown in the file box before a file was chosen.
QString FilePrompt();
// The prompt in the program's own words, as the settings keep it.
QString FilePromptSource();
// Whether `path` is that prompt (in the program's words or the reader's).
bool IsFilePrompt(const QString& path);
// What "下载程序" says while no firmware file is chosen.
QString NoFirmwareText();
// The open-file dialog's filter in Qt's syntax.
QString FirmwareFileFilter();
// The status bar's clock: "2026-12-06  02:05:08   星期日".
QString FormatClock(const QDateTime& local);
// The question a download refused by a read-protected STM32 ends with, and
// its two answers.
QString UnprotectQuestionText();
QString UnprotectAnswerText();
QString CancelAnswerText();
// The question after a download stopped on a chip of another chip type
// (names the chip that answered and the chip type it belongs to), and its
// answer that switches.
QString WrongChipTypeQuestionText(const QString& chip, int chipType);
QString WrongChipTypeAnswerText();

} // namespace talvo
