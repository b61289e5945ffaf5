// The main window: every control of the template with its id, kind, text,
// list contents, enable state and position; Enter, Escape and close.
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QTreeView>
#include <QProcess>
#include <QRegularExpression>
#include <QRandomGenerator>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>

#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include "app/ControlIds.h"
#include "app/WindowTexts.h"
#include "common/IsolatedRoots.h"
#include "gui/CTALVOApp.h"
#include "gui/CTALVODlg.h"
#include "gui/FileDialogLook.h"
#include "image/HexToBin.h"
#include "platform/QSettingsStore.h"

using namespace talvo;
using namespace talvo::gui;

class MainWindowTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString ini() const { return dir.path() + "/TALVO.conf"; }
    // Empty sysfs and device roots: no port of this machine, and no message
    // about a port list that cannot be read, whatever machine this is.
    test::IsolatedRoots roots;
    CoreServices services(QSettingsStore& store) {
        CoreServices s = roots.services();
        s.settings = &store;
        return s;
    }

    std::unique_ptr<CTALVODlg> makeWindow(QSettingsStore& store) {
        auto w = std::make_unique<CTALVODlg>(services(store));
        w->RecordMessageBoxes = true;
        w->show();
        return w;
    }

private slots:
    void initTestCase() { CTALVOApp::InstallLanguage(Language::Chinese); }

    void everyTemplateControlWithItsTextKindAndPosition() {
        QSettingsStore store(ini());
        auto w = makeWindow(store);
        const QSize base = w->baseUnits();
        QVERIFY(base.width() > 0 && base.height() > 0);
        QCOMPARE(w->size(), w->toPixels(0, 0, kTemplateWidthDu, kTemplateHeightDu).size());

        int labels = 0;
        for (const TemplateControl& c : MainTemplate()) {
            const QString text = QString::fromUtf8(c.text);
            QWidget* widget = nullptr;
            if (c.id > 0) {
                widget = w->findChild<QWidget*>(QString::number(c.id));
                QVERIFY2(widget, qPrintable(QString("control %1 missing").arg(c.id)));
            } else {
                for (QWidget* candidate : w->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
                    auto* l = qobject_cast<QLabel*>(candidate);
                    auto* g = qobject_cast<QGroupBox*>(candidate);
                    if ((l && l->text() == text) || (g && g->title() == text)) widget = candidate;
                }
                QVERIFY2(widget, qPrintable("label " + text + " missing"));
                ++labels;
            }
            const QRect r = w->toPixels(c.x, c.y, c.w, c.h);
            if (c.id == ctl::CodeSize || c.id == ctl::Progress) {
                // The size text and the progress bar share their row as its
                // text needs (below); the outer edges are the template's.
                QCOMPARE(widget->y(), r.y());
                QCOMPARE(widget->height(), r.height());
                QCOMPARE(c.id == ctl::CodeSize ? widget->geometry().right() : widget->x(),
                         c.id == ctl::CodeSize ? r.right() : r.x());
            } else {
                QCOMPARE(widget->pos(), r.topLeft());
                if (c.kind != TemplateControl::ComboBox) QCOMPARE(widget->size(), r.size());
            }
            switch (c.kind) {
            case TemplateControl::Button: QCOMPARE(qobject_cast<QPushButton*>(widget)->text(), text); break;
            case TemplateControl::Radio: QCOMPARE(qobject_cast<QRadioButton*>(widget)->text(), text); break;
            case TemplateControl::ComboBox: QVERIFY(qobject_cast<QComboBox*>(widget)); break;
            case TemplateControl::Progress: QVERIFY(qobject_cast<QProgressBar*>(widget)); break;
            case TemplateControl::MultiLineEdit: QVERIFY(qobject_cast<QPlainTextEdit*>(widget)); break;
            case TemplateControl::Edit: QVERIFY(qobject_cast<QLineEdit*>(widget)); break;
            case TemplateControl::Static: QCOMPARE(qobject_cast<QLabel*>(widget)->text(), text); break;
            case TemplateControl::GroupBox: QCOMPARE(qobject_cast<QGroupBox*>(widget)->title(), text); break;
            }
        }
        QCOMPARE(labels, 5);
        QCOMPARE(w->findChild<QPushButton*>("1035")->text(), QString(" 打开设备管理器"));
        QVERIFY(w->windowTitle().startsWith("TALVO V1.48（程序烧录软件）  Velmora科技  "));
    }

    void initialListsSelectionsAndEnableStates() {
        QSettingsStore store(ini() + ".none");
        auto w = makeWindow(store);
        auto combo = [&](int id) { return w->findChild<QComboBox*>(QString::number(id)); };
        QCOMPARE(combo(ctl::ChipType)->count(), 7);
        QCOMPARE(combo(ctl::ChipType)->itemText(1), QString("STC89C5XX系列"));
        QCOMPARE(combo(ctl::ChipType)->currentIndex(), 0);
        QCOMPARE(combo(ctl::BaudList)->count(), 12);
        QCOMPARE(combo(ctl::BaudList)->itemText(11), QString("115200"));
        QCOMPARE(combo(ctl::BaudList)->currentText(), QString("110"));
        QVERIFY(!w->findChild<QWidget*>("1020")->isEnabled());
        // The serial debug window is a working terminal: its button is offered.
        QVERIFY(w->findChild<QWidget*>("1021")->isEnabled());
        QVERIFY(w->findChild<QWidget*>("1005")->isEnabled());
        QVERIFY(w->findChild<QRadioButton*>("1037")->isChecked());
        QVERIFY(!w->findChild<QRadioButton*>("1038")->isChecked());
        QCOMPARE(w->findChild<QProgressBar*>("1022")->maximum(), 1024);
        QCOMPARE(w->findChild<QLineEdit*>("1026")->text(), FilePrompt());
        QCOMPARE(w->statusText(0), QString("就绪"));
        // Status bar parts end at 100 and 398 pixels and at the window's edge.
        auto* part0 = w->findChild<QLabel*>("statuspart0");
        auto* part1 = w->findChild<QLabel*>("statuspart1");
        auto* part2 = w->findChild<QLabel*>("statuspart2");
        QVERIFY(part0 && part1 && part2);
        QCOMPARE(part0->geometry().right() + 1, 100);
        QCOMPARE(part1->geometry().right() + 1, 398);
        QCOMPARE(part2->geometry().right() + 1, w->width());
        QVERIFY(!w->windowIcon().isNull());
        QVERIFY(w->statusText(1).contains("星期"));

        // The speed radio buttons drive the mode.
        QTest::mouseClick(w->findChild<QRadioButton*>("1038"), Qt::LeftButton, {}, QPoint(4, 4));
        QVERIFY(w->core().IsLowSpeed());
        QVERIFY(!w->findChild<QRadioButton*>("1037")->isChecked());
        QTest::mouseClick(w->findChild<QRadioButton*>("1037"), Qt::LeftButton, {}, QPoint(4, 4));
        QVERIFY(!w->core().IsLowSpeed());
    }

    // "CodeSize:%dByte" is shown whole up to the largest image the window
    // loads, inside the window, and the progress bar ends before it with the
    // template's gap.
    void codeSizeIsShownWholeForTheLargestImages() {
        QSettingsStore store(ini() + ".codesize");
        auto w = makeWindow(store);
        auto* label = w->findChild<QLabel*>(QString::number(ctl::CodeSize));
        auto* progress = w->findChild<QProgressBar*>(QString::number(ctl::Progress));
        auto templateRect = [&](int id) {
            for (const TemplateControl& c : MainTemplate())
                if (c.id == id) return w->toPixels(c.x, c.y, c.w, c.h);
            return QRect();
        };
        const QRect templateLabel = templateRect(ctl::CodeSize), templateProgress = templateRect(ctl::Progress);
        QCOMPARE(label->geometry().right(), templateLabel.right());
        QVERIFY(label->geometry().right() < w->width());
        QCOMPARE(label->x() - progress->geometry().right(), templateLabel.x() - templateProgress.right());

        // The core's own text for a loaded image.
        QTemporaryDir files;
        QFile bin(files.filePath("app.bin"));
        QVERIFY(bin.open(QIODevice::WriteOnly));
        bin.write(QByteArray(60000, '\x5a'));
        bin.close();
        QVERIFY(w->core().SetFirmwareFile(bin.fileName()));
        QCOMPARE(label->text(), CTALVODlg::CodeSizeText(60000));
        for (const qint64 bytes : {qint64(1), qint64(60000), qint64(65535), qint64(261888), qint64(HexToBin::kMaxImageBytes)}) {
            const QString text = CTALVODlg::CodeSizeText(bytes);
            label->setText(text);
            QVERIFY2(label->fontMetrics().horizontalAdvance(text) <= label->contentsRect().width(), qPrintable(text));
        }
    }

    void logShowsLinesWhileKeepingTheExactText() {
        QSettingsStore store(ini() + ".log");
        auto w = makeWindow(store);
        w->core().AppendLog("一");
        w->core().AppendLog("二");
        QCOMPARE(w->text(ctl::StatusLog), QString("一\r\n二"));
        QCOMPARE(w->findChild<QPlainTextEdit*>("1004")->toPlainText(), QString("一\n二"));
    }

    // The open-file dialog starts in the firmware's folder and its buttons
    // speak the window's language.
    void openFileDialogStartsInTheFirmwareFolderInChinese() {
        QSettingsStore store(ini() + ".open");
        const QString folder = dir.path() + "/firmware";
        QVERIFY(QDir().mkpath(folder));
        // Restored from the settings; the file need not exist.
        QVERIFY(store.writeValues({{"Path", folder + "/blink.hex"}, {"filename", "blink.hex"}, {"baud", "9600"},
                                   {"MCUTYPE", "1"}},
                                  nullptr));
        auto w = makeWindow(store);
        QCOMPARE(w->core().FirmwareFile(), folder + "/blink.hex");

        QString shownIn;
        QStringList buttons;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            poll.stop();
            shownIn = dialog->directory().absolutePath();
            for (QPushButton* b : dialog->findChild<QDialogButtonBox*>()->findChildren<QPushButton*>())
                buttons << b->text();
            dialog->reject();
        });
        poll.start(5);
        QVERIFY(w->askOpenFileName(FirmwareFileFilter(), "hex").isEmpty());
        QCOMPARE(shownIn, QDir(folder).absolutePath());
        QVERIFY2(buttons.contains("取消"), qPrintable(buttons.join(", ")));
    }

    // The file dialog's list speaks the window's language in every column
    // (sizes, kinds and dates with the application's Chinese locale, not the
    // system's), and no column cuts its texts.
    void fileDialogListIsChineseAndWhole() {
        QSettingsStore store(ini() + ".list");
        const QString folder = dir.path() + "/list";
        QVERIFY(QDir().mkpath(folder + "/sub"));
        const QList<QPair<QString, int>> files = {{"blink.hex", 466}, {"app60000.bin", 60000}, {"big261888.bin", 261888}};
        for (const auto& [name, size] : files) {
            QFile f(folder + "/" + name);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(size, '\0'));
        }
        QVERIFY(store.writeValues({{"Path", folder + "/blink.hex"}, {"filename", "blink.hex"}, {"baud", "9600"},
                                   {"MCUTYPE", "1"}},
                                  nullptr));
        auto w = makeWindow(store);

        QStringList problems;
        int rowsSeen = 0;
        QTimer poll;
        QElapsedTimer waited;
        waited.start();
        connect(&poll, &QTimer::timeout, this, [&] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return;
            auto* view = dialog->findChild<QTreeView*>("treeView");
            auto* model = view ? qobject_cast<QFileSystemModel*>(view->model()) : nullptr;
            if (!model) return;
            const QModelIndex root = view->rootIndex();
            // Every entry listed, and the columns fitted after them.
            if (model->rowCount(root) < 4 && waited.elapsed() < 20000) return;
            QCoreApplication::processEvents();
            poll.stop();
            rowsSeen = model->rowCount(root);
            QRegularExpression latin("[A-Za-z]{3}");
            for (int row = 0; row < model->rowCount(root); ++row) {
                const QModelIndex name = model->index(row, 0, root);
                for (int column = 1; column <= 3; ++column) {
                    const QModelIndex cell = model->index(row, column, root);
                    // What the view shows: its delegate's text, else the model's.
                    const QString text = dynamic_cast<FileListDelegate*>(view->itemDelegateForIndex(cell))
                                             ? FileListDelegate::DisplayText(cell)
                                             : QString();
                    const QString shown = text.isNull() ? model->data(cell).toString() : text;
                    // The text and the item's margins on both sides.
                    const int margin = view->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
                    const int needs = view->fontMetrics().horizontalAdvance(shown) + 2 * margin;
                    if (needs > view->header()->sectionSize(column))
                        problems << QString("%1 column %2 \"%3\" cut (%4 > %5)").arg(model->fileName(name)).arg(column)
                                        .arg(shown).arg(needs).arg(view->header()->sectionSize(column));
                    if (column == 1 && !model->isDir(name) &&
                        (shown != QLocale().formattedDataSize(model->size(name)) ||
                         (model->size(name) == 466 && shown != QString("466 字节"))))
                        problems << "size " + shown;
                    if (column == 2 && model->isDir(name) && shown != QString("文件夹")) problems << "kind " + shown;
                    if (column == 3 && (latin.match(shown).hasMatch() ||
                                        shown != QLocale().toString(model->lastModified(name), QLocale::ShortFormat)))
                        problems << "date " + shown;
                }
            }
            dialog->reject();
        });
        poll.start(5);
        QVERIFY(w->askOpenFileName("所有文件 (*)", "hex").isEmpty());
        QCOMPARE(rowsSeen, 4);
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join("; ")));
    }

    // With the switch on, message boxes are answered at once instead of
    // waiting for somebody to press OK (a blocking box would hang the test).
    void answeredMessageBoxesDoNotWait() {
        QSettingsStore store(ini() + ".answer");
        CTALVODlg w(services(store));
        w.setProperty("AnswerMessageBoxes", true);
        w.show();
        // Should a box be shown after all, close it (and remember it) rather than hang.
        bool boxShown = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, this, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                boxShown = true;
                modal->close();
            }
        });
        poll.start(5);
        QVERIFY(!w.core().LoadFirmware(dir.path() + "/missing.hex", "missing.hex"));
        QVERIFY(!boxShown);
        QVERIFY(w.isVisible());
    }



    // The tests below close their windows, which ends the application's event
    // loops: a modal dialog opened after them would return at once.  Tests
    // that show modal dialogs stay above.
    void enterDoesNotCloseAndEscapeClosesThroughTheSavePath() {
        QSettingsStore store(ini());
        auto w = makeWindow(store);
        w->findChild<QComboBox*>("1034")->setCurrentIndex(2);
        QTest::keyClick(w.get(), Qt::Key_Return);
        QTest::keyClick(w.get(), Qt::Key_Enter);
        QTest::keyClick(w->findChild<QComboBox*>("1034"), Qt::Key_Return);
        QVERIFY(w->isVisible());
        QCOMPARE(w->ExitCode, -1);
        QVERIFY(w->RecordedMessages.isEmpty());

        // Enter on a focused button presses it: "下载程序" with no file chosen
        // says so.
        auto* download = w->findChild<QPushButton*>("1005");
        download->setFocus();
        QTest::keyClick(download, Qt::Key_Return);
        QCOMPARE(w->RecordedMessages.size(), 1);
        QCOMPARE(w->RecordedMessages[0], NoFirmwareText());
        QVERIFY(w->isVisible());
        QCOMPARE(w->ExitCode, -1);

        QTest::keyClick(w.get(), Qt::Key_Escape);
        QCOMPARE(w->ExitCode, 0);
        QVERIFY(!w->isVisible());
        QSettings s(ini(), QSettings::IniFormat);
        QCOMPARE(s.value("MCUTYPE").toString(), QString("2"));
        QCOMPARE(s.value("baud").toString(), QString("110"));
    }

    void closeButtonSavesToo() {
        QSettingsStore store(ini() + ".close");
        auto w = makeWindow(store);
        w->findChild<QComboBox*>("1007")->setCurrentIndex(6);
        w->close();
        QCOMPARE(w->ExitCode, 0);
        QSettings s(ini() + ".close", QSettings::IniFormat);
        QCOMPARE(s.value("baud").toString(), QString("9600"));
    }

    // The screenshot mode with a settings file of random bytes: the boxes
    // about the settings are logged with the file and the reason, answered,
    // and the picture is still taken.
    void screenshotWithGarbageSettingsLogsAndAnswersItsBoxes() {
        QTemporaryDir config;
        QVERIFY(QDir().mkpath(config.path() + "/TALVO"));
        const QString conf = config.path() + "/TALVO/TALVO.conf";
        QFile f(conf);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QRandomGenerator random(20261207);
        QByteArray noise(4096, Qt::Uninitialized);
        for (char& c : noise) c = static_cast<char>(random.bounded(256));
        f.write(noise);
        f.close();

        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        p.setProcessEnvironment(env);
        const QString shot = config.path() + "/shot.png";
        p.start(TALVO_GUI_BINARY, {"--screenshot", shot});
        // A bound only a hanging window reaches.
        QVERIFY(p.waitForFinished(120000));
        const QString err = QString::fromUtf8(p.readAllStandardError());
        QCOMPARE(p.exitCode(), 0);
        QVERIFY(QFileInfo(shot).size() > 0);
        QVERIFY2(err.contains("错误：无法查询有关的注册表信息") && err.contains(conf), qPrintable(err));
        QVERIFY2(err.contains("answered with OK"), qPrintable(err));
    }

    // --measure-start reports at the first paint and closes the window; a
    // message box at the start (unreadable settings) is answered, not waited on.
    void measureStartReportsTheFirstPaintAndCloses() {
        QTemporaryDir config;
        QVERIFY(QDir().mkpath(config.path() + "/TALVO"));
        QFile f(config.path() + "/TALVO/TALVO.conf");
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(64, '\xff'));
        f.close();
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", config.path());
        env.insert("QT_QPA_PLATFORM", "offscreen");
        env.insert("TALVO_START_NS", "");
        p.setProcessEnvironment(env);
        p.start(TALVO_GUI_BINARY, {"--measure-start"});
        QVERIFY(p.waitForFinished(120000)); // a bound only a window that never paints reaches
        QCOMPARE(p.exitCode(), 0);
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QRegularExpression line("^first paint: ([0-9.]+) ms after the start, CPU ([0-9.]+) ms, RSS ([0-9]+) kB \\(offscreen\\)\n$");
        const QRegularExpressionMatch m = line.match(out);
        QVERIFY2(m.hasMatch(), qPrintable(out));
        QVERIFY(m.captured(1).toDouble() > 0 && m.captured(2).toDouble() > 0);
        QVERIFY(m.captured(3).toLong() > 1024); // a window with Qt loaded holds more than a megabyte
        QVERIFY2(QString::fromUtf8(p.readAllStandardError()).contains("answered with OK"), "the settings box was not answered");
    }

    // --help and --version need no display at all.
    void helpAndVersionWithoutADisplay() {
        for (const char* option : {"--help", "--version"}) {
            QProcess p;
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.remove("DISPLAY");
            env.remove("WAYLAND_DISPLAY");
            env.remove("QT_QPA_PLATFORM");
            p.setProcessEnvironment(env);
            p.start(TALVO_GUI_BINARY, {option});
            QVERIFY(p.waitForFinished(60000));
            QCOMPARE(p.exitCode(), 0);
            const QString out = QString::fromUtf8(p.readAllStandardOutput());
            QVERIFY2(out.contains(QString("Qt ") + qVersion()) || out.contains("--screenshot"), qPrintable(out));
        }
    }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
