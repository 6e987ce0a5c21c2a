// Batch runs of the launcher dialog with a stand-in program in place of the
// converter (it prints, sleeps or exits as the file it is given says), and
// end to end with the real converter when its path is compiled in.
#include <QDir>
#include <QtTest>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <memory>

#include "common/platform.h"
#include "launcher/qt/converter_runner.h"
#include "launcher/qt/launcher_dialog.h"

using namespace tremcvt;

namespace {

QString fileOpenError(const QString& path)
{
    return "File open error (" + path + ").\r\n";
}

// The summary line that ends the results of a batch that was not stopped.
QString summary(int steps, int converted, int missing, int timeOuts, int failures, int notStarted)
{
    return QStringLiteral("Steps: %1, files converted: %2, minutes missing: %3, failed runs: %4 "
                          "(time-outs: %5, converter failures: %6, not started: %7).\r\n")
        .arg(steps)
        .arg(converted)
        .arg(missing)
        .arg(timeOuts + failures + notStarted)
        .arg(timeOuts)
        .arg(failures)
        .arg(notStarted);
}

// The modal stop question once it is open, else null.
QMessageBox* openStopQuestion()
{
    return qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
}

QAbstractButton* buttonWithText(QMessageBox* box, const QString& text)
{
    for (QAbstractButton* button : box->buttons()) {
        if (button->text() == text) return button;
    }
    return nullptr;
}

}  // namespace

class BatchRunTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void intervalBatchFindsMinuteFiles();
    void intervalLengths();
    void chosenFilesRunInPickedOrderWithTheirArguments();
    void cancelledFileDialogStartsNothing();
    void slowConverterIsKilledAndInputIsIgnored();
    void defaultTimeLimitLetsAShortRunFinish();
    void defaultTimeLimitIsTenSeconds();
    void largeOutputArrivesWhole();
    void missingConverterFailsEveryStep();
    void converterFailuresAreCounted();
    void stopRequestEndsTheBatchAfterTheRunningStep_data();
    void stopRequestEndsTheBatchAfterTheRunningStep();
    void realConverterConvertsMinuteFiles();
    void realConverterWithoutDataSourceFailsEveryStep();
    void realConverterTakesPickedFilesInTimeOrder();

private:
    struct Message {
        QString caption;
        QString text;
        bool progressFull = false;
        QString resultsBox;
        bool busyCursor = false;
    };
    // What the bar and the cursor show at each move of the bar.
    struct ProgressMove {
        int value = 0;
        QString text;  // empty when the bar shows no text
        bool busyCursor = false;
    };
    // A SQLite archive database behind a private data source "TRZ", with
    // SITECHAN rows for the two channels of the shared recordings, or
    // nothing (and the test skipped) without the real converter and data.
    // With usePrepared, the archive that TREMCVT_LAUNCHER_ARCHIVE names
    // when it is set: a directory with archive.db behind the data source
    // "TRZ" of the odbc.ini that ODBCINI names, and archive/ below it
    // (scripts/test-windows.sh compares it with the Windows dialog's).
    void prepareRealConversion(QString& database, QString& skip, bool usePrepared = false);
    QString queryArchive(const QString& database, const QString& sql);

    void startDialog(const QByteArray& settings);
    void writeFile(const QString& path, const QByteArray& content);
    void setInterval(QDate date, QTime time, const QString& interval);
    QStringList runLog() const;
    // Runs a chosen-files batch over the files, which the dialog reports in
    // this order.
    void convertFiles(const QStringList& reported);
    std::string results() const { return dialog_->resultsText(); }

    template <typename T>
    T* control(const char* name)
    {
        T* widget = dialog_->findChild<T*>(QString::fromLatin1(name));
        if (!widget) qFatal("control %s missing", name);
        return widget;
    }

    std::unique_ptr<QTemporaryDir> dir_;
    QString previousDirectory_;
    std::unique_ptr<LauncherDialog> dialog_;
    QList<Message> messages_;
    QList<int> progressValues_;
    QList<ProgressMove> progressMoves_;
};

static bool busyCursorShown()
{
    return QApplication::overrideCursor() && QApplication::overrideCursor()->shape() == Qt::WaitCursor;
}

void BatchRunTest::init()
{
    previousDirectory_ = QDir::currentPath();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    QVERIFY(QDir::setCurrent(dir_->path()));
    qputenv("TREMCVT_STAND_IN_LOG", dir_->filePath(QStringLiteral("run.log")).toLocal8Bit());
    messages_.clear();
    progressValues_.clear();
    progressMoves_.clear();
}

void BatchRunTest::cleanup()
{
    dialog_.reset();
    qunsetenv("TREMCVT_STAND_IN_LOG");
    qunsetenv("ODBCINI");
    qunsetenv("TREMCVT_SYSCONFDIR");
    QDir::setCurrent(previousDirectory_);
    dir_.reset();
}

void BatchRunTest::writeFile(const QString& path, const QByteArray& content)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
}

void BatchRunTest::startDialog(const QByteArray& settings)
{
    writeFile(dir_->filePath(QStringLiteral("tremcvt.ini")), settings);
    dialog_ = std::make_unique<LauncherDialog>();
    dialog_->setConverterProgram(QStringLiteral(TREMCVT_STAND_IN_PATH));
    auto* progress = control<QProgressBar>("ctl1006");
    auto* box = control<QPlainTextEdit>("ctl1019");
    dialog_->setMessageBox([this, progress, box](const QString& caption, const QString& text) {
        messages_.append({caption, text, progress->value() == progress->maximum(), box->toPlainText(),
                          busyCursorShown()});
    });
    connect(progress, &QProgressBar::valueChanged, this, [this, progress](int value) {
        progressValues_ << value;
        progressMoves_.append({value, progress->isTextVisible() ? progress->text() : QString(), busyCursorShown()});
    });
}

void BatchRunTest::setInterval(QDate date, QTime time, const QString& interval)
{
    control<QDateEdit>("ctl1007")->setDate(date);
    control<QTimeEdit>("ctl1008")->setTime(time);
    control<QLineEdit>("ctl1000")->setText(interval);
}

QStringList BatchRunTest::runLog() const
{
    QFile file(dir_->filePath(QStringLiteral("run.log")));
    if (!file.open(QIODevice::ReadOnly)) return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

void BatchRunTest::convertFiles(const QStringList& reported)
{
    dialog_->setOpenFilesChooser([reported](const QString&) { return reported; });
    control<QPushButton>("ctl1011")->click();
}

void BatchRunTest::intervalBatchFindsMinuteFiles()
{
    const QString win = dir_->filePath(QStringLiteral("win data"));
    startDialog("[system]\nnsta=1\n[sta0]\nname=kam\ndir=" + win.toUtf8() + "\n");
    // First layout for the last minute of 2009, third layout for the first
    // of 2010, nothing for the minute after.
    writeFile(win + "/091231/09123123/09123123.59", "text first");
    writeFile(win + "/10010100.00", "text second");
    setInterval(QDate(2009, 12, 31), QTime(23, 59), QStringLiteral("000 00:03"));
    control<QCheckBox>("ctl1020")->click();
    control<QPushButton>("ctl1005")->click();

    const QString expected = "first\n" + fileOpenError(win + "/100101/10010100/10010100.00") +
                             fileOpenError(win + "/100101/10010100.00") + "second\n" +
                             fileOpenError(win + "/100101/10010100/10010100.01") +
                             fileOpenError(win + "/100101/10010100.01") + fileOpenError(win + "/10010100.01") +
                             summary(3, 2, 1, 0, 0, 0);
    QCOMPARE(QString::fromStdString(results()), expected);
    QCOMPARE(runLog(), (QStringList{"KAM|" + win + "/091231/09123123/09123123.59", "KAM|" + win + "/10010100.00"}));
    QCOMPARE(messages_.size(), 1);
    QCOMPARE(messages_[0].text, QStringLiteral("Операция завершена!\nОшибки = 1"));
    QCOMPARE(messages_[0].caption, QCoreApplication::applicationName());
    QVERIFY(messages_[0].progressFull);
    QVERIFY(messages_[0].resultsBox.isEmpty());
    QVERIFY(!messages_[0].busyCursor);  // the message box is answered with the usual cursor
    QCOMPARE(control<QProgressBar>("ctl1006")->maximum(), 2);
    QCOMPARE(progressValues_, (QList<int>{1, 2, 0}));
    // The bar names the step and the minute looked up; the cursor is busy
    // throughout; afterwards the bar is plain again.
    QCOMPARE(progressMoves_[0].text, QStringLiteral("2 / 3  10010100.00"));
    QCOMPARE(progressMoves_[1].text, QStringLiteral("3 / 3  10010100.01"));
    QVERIFY(progressMoves_[0].busyCursor && progressMoves_[1].busyCursor);
    QVERIFY(!control<QProgressBar>("ctl1006")->isTextVisible());
    QVERIFY(!busyCursorShown());
    QCOMPARE(dialog_->size(), dialog_->fullSize());
    QCOMPARE(control<QPlainTextEdit>("ctl1019")->toPlainText(), QString(expected).replace("\r\n", "\n"));
}

void BatchRunTest::intervalLengths()
{
    startDialog("[system]\nnsta=1\n[sta0]\nname=KAM\ndir=" + dir_->filePath("absent").toUtf8() + "\n");
    auto* progress = control<QProgressBar>("ctl1006");
    setInterval(QDate(2010, 3, 3), QTime(2, 0), QStringLiteral("000 00:00"));
    control<QPushButton>("ctl1005")->click();
    QCOMPARE(QString::fromStdString(results()),
             QStringLiteral("Operation has been completed successfully!\r\n") + summary(0, 0, 0, 0, 0, 0));
    QCOMPARE(messages_.value(0).text, QStringLiteral("Операция завершена!\nОшибки = 0"));
    QCOMPARE(progress->value(), 0);
    QVERIFY(progressValues_.isEmpty());

    // A whole day with no files: every minute fails after three lookups.
    control<QLineEdit>("ctl1000")->setText(QStringLiteral("001 00:00"));
    control<QPushButton>("ctl1005")->click();
    QCOMPARE(progress->maximum(), 1439);
    QCOMPARE(progressValues_.size(), 1440);  // 1 ... 1439, then back to 0
    QCOMPARE(messages_.value(1).text, QStringLiteral("Операция завершена!\nОшибки = 1440"));
    QCOMPARE(QString::fromStdString(results()).count(QStringLiteral("File open error")), 3 * 1440);
    QVERIFY(QString::fromStdString(results()).endsWith(summary(1440, 0, 1440, 0, 0, 0)));
    QVERIFY(runLog().isEmpty());
}

void BatchRunTest::chosenFilesRunInPickedOrderWithTheirArguments()
{
    const QString picked = dir_->filePath(QStringLiteral("picked files"));
    const QByteArray stations = "[system]\nnsta=1\n[sta0]\nname=KAM\ndir=" + picked.toUtf8() + "\n";
    startDialog(stations + "[data]\ndir=/arch dir\n");
    for (const char* name : {"A", "B", "C"}) writeFile(picked + "/" + name, QByteArray("text from ") + name);
    const QStringList reported = {picked + "/C", picked + "/A", picked + "/B"};

    // The results box shows an earlier batch's text until the next batch
    // starts, of either kind.
    control<QCheckBox>("ctl1020")->click();
    control<QPushButton>("ctl1005")->click();
    QVERIFY(!control<QPlainTextEdit>("ctl1019")->toPlainText().isEmpty());
    control<QPushButton>("ctl1005")->click();
    QVERIFY(messages_.value(1).resultsBox.isEmpty());

    convertFiles(reported);
    QCOMPARE(runLog(), (QStringList{"KAM|" + picked + "/A|data=/arch dir", "KAM|" + picked + "/B|data=/arch dir",
                                    "KAM|" + picked + "/C|data=/arch dir"}));
    QCOMPARE(QString::fromStdString(results()), "from A\nfrom B\nfrom C\n" + summary(3, 3, 0, 0, 0, 0));
    QCOMPARE(messages_.value(2).text, QStringLiteral("Операция завершена!\nОшибки = 0"));
    QVERIFY(messages_.value(2).resultsBox.isEmpty());

    // CSS output, and the archive directory read afresh: without the key
    // the built-in one applies.
    writeFile(dir_->filePath(QStringLiteral("tremcvt.ini")), stations);
    QFile::remove(dir_->filePath(QStringLiteral("run.log")));
    dialog_->setSaveFileChooser([] { return QStringLiteral("/out dir/w.wfdisc"); });
    control<QRadioButton>("ctl1022")->click();
    convertFiles({picked + "/B", picked + "/A"});
    const QString archive = QString::fromLatin1(defaultDataDirectory());
    QCOMPARE(runLog(), (QStringList{"KAM|" + picked + "/A|css=/out dir/w.wfdisc|data=" + archive,
                                    "KAM|" + picked + "/B|css=/out dir/w.wfdisc|data=" + archive}));
}

void BatchRunTest::cancelledFileDialogStartsNothing()
{
    startDialog("[system]\nnsta=1\n");
    control<QPushButton>("ctl1005")->click();
    const std::string before = results();
    QVERIFY(!before.empty());
    convertFiles({});
    QCOMPARE(messages_.size(), 1);
    QCOMPARE(results(), before);
    QVERIFY(runLog().isEmpty());
}

void BatchRunTest::slowConverterIsKilledAndInputIsIgnored()
{
    startDialog("[system]\nnsta=1\n[sta0]\nname=KAM\n");
    dialog_->show();
    dialog_->setConverterTimeout(400);
    writeFile(dir_->filePath("slow"), "text lost\nsleep 30000\n");
    writeFile(dir_->filePath("fast"), "text ==after");

    // Clicks and keys while a batch runs reach nothing: neither a second
    // batch nor the dialog's Enter, nor the interval field.
    bool pokedWhileRunning = false;
    const QString interval = control<QLineEdit>("ctl1000")->text();
    QTimer::singleShot(150, this, [&] {
        pokedWhileRunning = dialog_->batchRunning();
        auto* convert = control<QPushButton>("ctl1005");
        QTest::mouseClick(convert, Qt::LeftButton);
        QTest::mouseClick(control<QPushButton>("ctl1011"), Qt::LeftButton);
        QTest::keyClick(dialog_.get(), Qt::Key_Return);
        QTest::keyClicks(control<QLineEdit>("ctl1000"), QStringLiteral("123"));
    });
    QElapsedTimer clock;
    clock.start();
    convertFiles({dir_->filePath("fast"), dir_->filePath("slow")});
    QVERIFY(clock.elapsed() < 5000);

    QVERIFY(pokedWhileRunning);
    QCOMPARE(messages_.size(), 1);
    QCOMPARE(messages_[0].text, QStringLiteral("Операция завершена!\nОшибки = 1"));
    // The killed run adds nothing; the next finished run sets the offset.
    QCOMPARE(QString::fromStdString(results()), "==after\n" + summary(2, 1, 0, 1, 0, 0));
    QCOMPARE(runLog().size(), 2);
    QVERIFY(dialog_->isVisible());
    QCOMPARE(control<QLineEdit>("ctl1000")->text(), interval);
    QVERIFY(!dialog_->batchRunning());
}

void BatchRunTest::defaultTimeLimitLetsAShortRunFinish()
{
    startDialog("[system]\nnsta=1\n[sta0]\nname=KAM\n");
    writeFile(dir_->filePath("short"), "sleep 1200\ntext done\nexit 3");
    convertFiles({dir_->filePath("short")});
    QCOMPARE(messages_.value(0).text, QStringLiteral("Операция завершена!\nОшибки = 0"));
    QCOMPARE(QString::fromStdString(results()), "done\n" + summary(1, 1, 0, 0, 0, 0));
}

void BatchRunTest::defaultTimeLimitIsTenSeconds()
{
    if (qEnvironmentVariableIsEmpty("TREMCVT_SLOW_TESTS")) {
        QSKIP("takes 10 s; set TREMCVT_SLOW_TESTS=1 to run it");
    }
    startDialog("[system]\nnsta=1\n");
    writeFile(dir_->filePath("long"), "sleep 20000");
    QElapsedTimer clock;
    clock.start();
    convertFiles({dir_->filePath("long")});
    QVERIFY2(clock.elapsed() >= 9500 && clock.elapsed() < 12000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(messages_.value(0).text, QStringLiteral("Операция завершена!\nОшибки = 1"));
}

void BatchRunTest::largeOutputArrivesWhole()
{
    startDialog("[system]\nnsta=1\n");
    writeFile(dir_->filePath("big"), "print 1048576\ntext END");
    convertFiles({dir_->filePath("big")});
    QCOMPARE(messages_.value(0).text, QStringLiteral("Операция завершена!\nОшибки = 0"));
    const std::string summaryLine = summary(1, 1, 0, 0, 0, 0).toStdString();
    const std::string text = results();
    QCOMPARE(text.size(), std::size_t{1048576 + 4} + summaryLine.size());
    QCOMPARE(QByteArray::fromStdString(text.substr(0, 26)), QByteArray("abcdefghijklmnopqrstuvwxyz"));
    QCOMPARE(QByteArray::fromStdString(text.substr(text.size() - 4 - summaryLine.size())),
             QByteArray::fromStdString("END\n" + summaryLine));
}

void BatchRunTest::missingConverterFailsEveryStep()
{
    startDialog("[system]\nnsta=1\n[sta0]\nname=KAM\n");
    const QString missing = dir_->filePath(QStringLiteral("no such dir/tremcvt"));
    dialog_->setConverterProgram(missing);
    writeFile(dir_->filePath("a"), "text a");
    convertFiles({dir_->filePath("a"), dir_->filePath("a"), dir_->filePath("a")});
    QCOMPARE(messages_.value(0).text, QStringLiteral("Операция завершена!\nОшибки = 3"));
    const QString text = QString::fromStdString(results());
    QVERIFY2(text.startsWith(QStringLiteral("The converter could not be started: ")), qPrintable(text));
    QVERIFY(text.contains(missing));
    QCOMPARE(text.count(QStringLiteral("\r\n")), 2);  // named once, then the summary
    QVERIFY(text.endsWith(summary(3, 0, 0, 0, 0, 3)));
}

void BatchRunTest::converterFailuresAreCounted()
{
    startDialog("[system]\nnsta=1\n[sta0]\nname=KAM\n");
    // The converter's codes for a failed connection, an unopened WIN file,
    // an exception, a refused setting and a channel not stored fail; problem
    // counts (capped at 249) do not.
    const QList<QPair<QString, int>> runs = {{"a0", 255}, {"a1", 254}, {"a2", 253}, {"a3", 252},
                                             {"a4", 3},   {"a5", 0},   {"a6", 249}, {"a7", 250}};
    QStringList files;
    for (const auto& [name, code] : runs) {
        writeFile(dir_->filePath(name), "text report " + name.toUtf8() + "\nexit " + QByteArray::number(code));
        files << dir_->filePath(name);
    }
    convertFiles(files);
    QCOMPARE(messages_.value(0).text, QStringLiteral("Операция завершена!\nОшибки = 5"));
    // The reports of failed runs are merged all the same.
    QString reports;
    for (const auto& [name, code] : runs) reports += "report " + name + "\n";
    QCOMPARE(QString::fromStdString(results()), reports + summary(8, 3, 0, 0, 5, 0));
}

void BatchRunTest::stopRequestEndsTheBatchAfterTheRunningStep_data()
{
    QTest::addColumn<QString>("trigger");
    QTest::addColumn<QString>("answer");
    QTest::newRow("Выход, Да") << "exit" << "Да";
    QTest::newRow("Escape, Да") << "escape" << "Да";
    QTest::newRow("close box, Да") << "close" << "Да";
    QTest::newRow("Выход, Нет") << "exit" << "Нет";
}

void BatchRunTest::stopRequestEndsTheBatchAfterTheRunningStep()
{
    QFETCH(QString, trigger);
    QFETCH(QString, answer);
    const QString win = dir_->filePath(QStringLiteral("win"));
    startDialog("[system]\nnsta=1\n[sta0]\nname=KAM\ndir=" + win.toUtf8() + "\n");
    dialog_->show();
    constexpr int kSteps = 6;
    for (int i = 0; i < kSteps; ++i) {
        writeFile(win + QStringLiteral("/100303020%1.00").arg(i), "text step " + QByteArray::number(i) + "\nsleep 250");
    }
    QStringList files;
    for (int i = kSteps - 1; i >= 0; --i) files << win + QStringLiteral("/100303020%1.00").arg(i);

    // While the third step runs, the operator asks to stop; the question is
    // answered once it is open.
    int questions = 0;
    QString questionText, questionCaption;
    QStringList questionButtons;
    bool closeRefused = false;
    QTimer poll;
    poll.setInterval(20);
    connect(&poll, &QTimer::timeout, this, [&] {
        QMessageBox* box = openStopQuestion();
        if (!box || !box->isVisible()) return;
        ++questions;
        questionText = box->text();
        questionCaption = box->windowTitle();
        questionButtons.clear();
        for (QAbstractButton* button : box->buttons()) questionButtons << button->text();
        if (QAbstractButton* button = buttonWithText(box, answer)) button->click();
    });
    connect(control<QProgressBar>("ctl1006"), &QProgressBar::valueChanged, this, [&](int value) {
        if (value != 2) return;
        QTimer::singleShot(50, this, [&] {
            if (trigger == "exit") {
                QTest::mouseClick(control<QPushButton>("ctl1009"), Qt::LeftButton);
            } else if (trigger == "escape") {
                QTest::keyClick(control<QPushButton>("ctl1005"), Qt::Key_Escape);
            } else {
                closeRefused = !dialog_->close();
            }
            // A second press before the question opens asks nothing more.
            QTest::mouseClick(control<QPushButton>("ctl1009"), Qt::LeftButton);
            poll.start();
        });
    });
    convertFiles(files);
    poll.stop();

    QCOMPARE(questions, 1);
    QCOMPARE(questionText, QStringLiteral("Остановить конвертирование?"));
    QCOMPARE(questionCaption, QCoreApplication::applicationName());
    QCOMPARE(questionButtons.size(), 2);
    QVERIFY(questionButtons.contains(QStringLiteral("Да")) && questionButtons.contains(QStringLiteral("Нет")));
    if (trigger == "close") QVERIFY(closeRefused);
    QVERIFY(dialog_->isVisible());
    QCOMPARE(messages_.size(), 1);
    QCOMPARE(messages_[0].text, QStringLiteral("Операция завершена!\nОшибки = 0"));

    const bool stopped = answer == QStringLiteral("Да");
    const int done = stopped ? 3 : kSteps;  // the running third step still ends
    QCOMPARE(runLog().size(), done);
    QString expected;
    for (int i = 0; i < done; ++i) expected += QStringLiteral("step %1\n").arg(i);
    if (stopped) {
        expected += QStringLiteral("Steps: 6 (stopped, 3 left undone), files converted: 3, minutes missing: 0, "
                                   "failed runs: 0 (time-outs: 0, converter failures: 0, not started: 0).\r\n");
    } else {
        expected += summary(kSteps, kSteps, 0, 0, 0, 0);
    }
    QCOMPARE(QString::fromStdString(results()), expected);
    QVERIFY(!dialog_->batchRunning());

    // The dialog takes its input again: "Выход" now closes it.
    QTest::mouseClick(control<QPushButton>("ctl1009"), Qt::LeftButton);
    QVERIFY(!dialog_->isVisible());
}

void BatchRunTest::prepareRealConversion(QString& database, QString& skip, bool usePrepared)
{
#ifndef TREMCVT_CONVERTER_PATH
    Q_UNUSED(usePrepared);
    skip = QStringLiteral("TREMCVT_CONVERTER_PATH is not defined: the end-to-end batch needs the real converter");
#else
    const QString converter = QStringLiteral(TREMCVT_CONVERTER_PATH);
    const QString win = QStringLiteral(TREMCVT_SHARED_WIN_DIR);
    const QString sqlite = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (!QFileInfo(converter).isExecutable()) skip = "no converter at " + converter;
    if (!QFileInfo::exists(win + "/10030302.10")) skip = "no WIN recordings in " + win;
    if (sqlite.isEmpty()) skip = QStringLiteral("the sqlite3 command is not installed");
    if (!skip.isEmpty()) return;

    const QString prepared = usePrepared ? qEnvironmentVariable("TREMCVT_LAUNCHER_ARCHIVE") : QString();
    QString archive = dir_->filePath("archive");
    if (!prepared.isEmpty()) {
        database = prepared + "/archive.db";
        archive = prepared + "/archive";
    } else {
        // A SQLite archive behind a private data source "TRZ".
        database = dir_->filePath(QStringLiteral("archive.db"));
        QProcess create;
        create.setStandardInputFile(QStringLiteral(TREMCVT_SQLITE_SCHEMA));
        create.start(sqlite, {database});
        QVERIFY(create.waitForFinished() && create.exitCode() == 0);
        const QString anyLocation = QStringLiteral("'?") + QStringLiteral("?'");
        QCOMPARE(QProcess::execute(sqlite, {database, "INSERT INTO SITECHAN (STA, CHAN, SPS, LCODE) VALUES ('KAM', "
                                                      "'HHZ', 100, " + anyLocation + "), ('KAM', 'HHN', 100, " +
                                                      anyLocation + ");"}),
                 0);
        writeFile(dir_->filePath("odbc.ini"), "[TRZ]\nDriver=SQLite3\nDatabase=" + database.toUtf8() + "\n");
        qputenv("ODBCINI", dir_->filePath("odbc.ini").toLocal8Bit());
    }
    qputenv("TREMCVT_SYSCONFDIR", dir_->path().toLocal8Bit());

    // The archive's root must exist: the converter creates the station and
    // hour directories below it, never the root itself.
    QVERIFY(QDir().mkpath(archive));
    startDialog("[system]\nnsta=1\ndir=" + win.toUtf8() + "\ntime=03/03/2010 02:00\ntimeqty=000 00:11\n"
                "[sta0]\nname=KAM\na100=HHZ\na101=HHN\n"
                "[DATABASE]\nODBC=TRZ\n[DATA]\nDIR=" + archive.toUtf8() + "\n");
    dialog_->setConverterProgram(converter);
#endif
}

QString BatchRunTest::queryArchive(const QString& database, const QString& sql)
{
    QProcess query;
    query.start(QStandardPaths::findExecutable(QStringLiteral("sqlite3")), {database, sql});
    if (!query.waitForFinished()) return QStringLiteral("the query did not end");
    return QString::fromUtf8(query.readAllStandardOutput()).trimmed();
}

#define TREMCVT_PREPARE_REAL_CONVERSION(database, ...)            \
    QString database, skip_;                                       \
    prepareRealConversion(database, skip_ __VA_OPT__(,) __VA_ARGS__); \
    if (QTest::currentTestFailed()) return;                        \
    if (!skip_.isEmpty()) QSKIP(qPrintable(skip_))

void BatchRunTest::realConverterConvertsMinuteFiles()
{
    TREMCVT_PREPARE_REAL_CONVERSION(database, true);
    control<QPushButton>("ctl1005")->click();

    const QString text = QString::fromStdString(results());
    QCOMPARE(messages_.value(0).text, QStringLiteral("Операция завершена!\nОшибки = 0"));
    QCOMPARE(control<QProgressBar>("ctl1006")->maximum(), 10);
    QCOMPARE(progressValues_.size(), 11);
    // The files lie in the third layout: two misses before each one.
    QCOMPARE(text.count(QStringLiteral("File open error")), 22);
    QCOMPARE(text.count(QStringLiteral("Checking INI-file")), 1);  // the check block is shown once

    QVERIFY2(!text.contains(QStringLiteral("error (")) || text.count(QStringLiteral("error (")) == 22,
             qPrintable(text));
    QVERIFY2(text.endsWith(summary(11, 11, 0, 0, 0, 0)), qPrintable(text));

    // Eleven consecutive minutes continue one hour file per channel.
    QCOMPARE(queryArchive(database, "SELECT CH, TQTY FROM FILELIST ORDER BY CH;"),
             QStringLiteral("HHN|660.0\nHHZ|660.0"));
}

void BatchRunTest::realConverterWithoutDataSourceFailsEveryStep()
{
    TREMCVT_PREPARE_REAL_CONVERSION(database);
    // The data source is gone: every run reports the failed connection and
    // ends with its failure code.
    writeFile(dir_->filePath("odbc.ini"), "[OTHER]\nDriver=SQLite3\nDatabase=" + database.toUtf8() + "\n");
    control<QPushButton>("ctl1005")->click();

    const QString text = QString::fromStdString(results());
    QCOMPARE(messages_.value(0).text, QStringLiteral("Операция завершена!\nОшибки = 11"));
    // The report has no "=": every later one is shown whole.
    QCOMPARE(text.count(QStringLiteral("Connection error (ODBC: TRZ, USER: TRZ).")), 11);
    QVERIFY2(text.endsWith(summary(11, 0, 0, 0, 11, 0)), qPrintable(text));
    QCOMPARE(queryArchive(database, "SELECT COUNT(*) FROM FILELIST;"), QStringLiteral("0"));
}

void BatchRunTest::realConverterTakesPickedFilesInTimeOrder()
{
    TREMCVT_PREPARE_REAL_CONVERSION(database);
    // Reported as a file dialog might: neither in list order nor rotated.
    const QString win = QStringLiteral(TREMCVT_SHARED_WIN_DIR);
    QStringList reported;
    for (const char* minute : {"03", "01", "04", "00", "02"}) reported << win + "/10030302." + minute;
    convertFiles(reported);

    QCOMPARE(messages_.value(0).text, QStringLiteral("Операция завершена!\nОшибки = 0"));
    QVERIFY(QString::fromStdString(results()).endsWith(summary(5, 5, 0, 0, 0, 0)));
    // In time order the five minutes continue one file per channel; out of
    // order an earlier minute would start a second file.
    QCOMPARE(queryArchive(database, "SELECT CH, TQTY FROM FILELIST ORDER BY CH;"),
             QStringLiteral("HHN|300.0\nHHZ|300.0"));
}

QTEST_MAIN(BatchRunTest)
#include "batch_run_test.moc"
