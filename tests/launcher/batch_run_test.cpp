// Batch runs of the launcher dialog with a stand-in program in place of the
// converter (it prints, sleeps or exits as the file it is given says), and
// end to end with the real converter when its path is compiled in.
#include <QDir>
#include <QtTest>

#include <QCheckBox>
#include <QDateEdit>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimeEdit>
#include <memory>

#include "common/platform.h"
#include "launcher/converter_runner.h"
#include "launcher/launcher_dialog.h"

using namespace tremcvt;

namespace {

QString fileOpenError(const QString& path)
{
    return "File open error (" + path + ").\r\n";
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
    void converterIsLookedUpBesideTheLauncherFirst();
    void realConverterConvertsMinuteFiles();

private:
    struct Message {
        QString caption;
        QString text;
        bool progressFull = false;
        QString resultsBox;
    };

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
};

void BatchRunTest::init()
{
    previousDirectory_ = QDir::currentPath();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    QVERIFY(QDir::setCurrent(dir_->path()));
    qputenv("TREMCVT_STAND_IN_LOG", dir_->filePath(QStringLiteral("run.log")).toLocal8Bit());
    messages_.clear();
    progressValues_.clear();
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
        messages_.append({caption, text, progress->value() == progress->maximum(), box->toPlainText()});
    });
    connect(progress, &QProgressBar::valueChanged, this, [this](int value) { progressValues_ << value; });
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
                             fileOpenError(win + "/100101/10010100.01") + fileOpenError(win + "/10010100.01");
    QCOMPARE(QString::fromStdString(results()), expected);
    QCOMPARE(runLog(), (QStringList{"KAM|" + win + "/091231/09123123/09123123.59", "KAM|" + win + "/10010100.00"}));
    QCOMPARE(messages_.size(), 1);
    QCOMPARE(messages_[0].text, QStringLiteral("Операция завершена!\nОшибки = 1"));
    QCOMPARE(messages_[0].caption, QCoreApplication::applicationName());
    QVERIFY(messages_[0].progressFull);
    QVERIFY(messages_[0].resultsBox.isEmpty());  // the box keeps the earlier text until the end
    QCOMPARE(control<QProgressBar>("ctl1006")->maximum(), 2);
    QCOMPARE(progressValues_, (QList<int>{1, 2, 0}));
    QCOMPARE(dialog_->size(), dialog_->fullSize());
    QCOMPARE(control<QPlainTextEdit>("ctl1019")->toPlainText(), QString(expected).replace("\r\n", "\n"));
}

void BatchRunTest::intervalLengths()
{
    startDialog("[system]\nnsta=1\n[sta0]\nname=KAM\ndir=" + dir_->filePath("absent").toUtf8() + "\n");
    auto* progress = control<QProgressBar>("ctl1006");
    setInterval(QDate(2010, 3, 3), QTime(2, 0), QStringLiteral("000 00:00"));
    control<QPushButton>("ctl1005")->click();
    QCOMPARE(QString::fromStdString(results()), QStringLiteral("Operation has been completed successfully!"));
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
    QVERIFY(runLog().isEmpty());
}

void BatchRunTest::chosenFilesRunInPickedOrderWithTheirArguments()
{
    const QString picked = dir_->filePath(QStringLiteral("picked files"));
    const QByteArray stations = "[system]\nnsta=1\n[sta0]\nname=KAM\ndir=" + picked.toUtf8() + "\n";
    startDialog(stations + "[data]\ndir=/arch dir\n");
    for (const char* name : {"A", "B", "C"}) writeFile(picked + "/" + name, QByteArray("text from ") + name);
    const QStringList reported = {picked + "/C", picked + "/A", picked + "/B"};

    // The results box shows an earlier batch's text until this one starts.
    control<QCheckBox>("ctl1020")->click();
    control<QPushButton>("ctl1005")->click();
    QVERIFY(!control<QPlainTextEdit>("ctl1019")->toPlainText().isEmpty());

    convertFiles(reported);
    QCOMPARE(runLog(), (QStringList{"KAM|" + picked + "/A|data=/arch dir", "KAM|" + picked + "/B|data=/arch dir",
                                    "KAM|" + picked + "/C|data=/arch dir"}));
    QCOMPARE(QString::fromStdString(results()), QStringLiteral("from A\nfrom B\nfrom C\n"));
    QCOMPARE(messages_.value(1).text, QStringLiteral("Операция завершена!\nОшибки = 0"));
    QVERIFY(messages_.value(1).resultsBox.isEmpty());

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
    // batch nor the dialog's Escape.
    bool pokedWhileRunning = false;
    QTimer::singleShot(150, this, [&] {
        pokedWhileRunning = dialog_->batchRunning();
        auto* convert = control<QPushButton>("ctl1005");
        QTest::mouseClick(convert, Qt::LeftButton);
        QTest::keyClick(dialog_.get(), Qt::Key_Escape);
    });
    QElapsedTimer clock;
    clock.start();
    convertFiles({dir_->filePath("fast"), dir_->filePath("slow")});
    QVERIFY(clock.elapsed() < 5000);

    QVERIFY(pokedWhileRunning);
    QCOMPARE(messages_.size(), 1);
    QCOMPARE(messages_[0].text, QStringLiteral("Операция завершена!\nОшибки = 1"));
    // The killed run adds nothing; the next finished run sets the offset.
    QCOMPARE(QString::fromStdString(results()), QStringLiteral("==after\n"));
    QCOMPARE(runLog().size(), 2);
    QVERIFY(dialog_->isVisible());
    QVERIFY(!dialog_->batchRunning());
}

void BatchRunTest::defaultTimeLimitLetsAShortRunFinish()
{
    startDialog("[system]\nnsta=1\n[sta0]\nname=KAM\n");
    writeFile(dir_->filePath("short"), "sleep 1200\ntext done\nexit 3");
    convertFiles({dir_->filePath("short")});
    QCOMPARE(messages_.value(0).text, QStringLiteral("Операция завершена!\nОшибки = 0"));
    QCOMPARE(QString::fromStdString(results()), QStringLiteral("done\n"));
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
    const std::string text = results();
    QCOMPARE(text.size(), std::size_t{1048576 + 4});
    QCOMPARE(QByteArray::fromStdString(text.substr(0, 26)), QByteArray("abcdefghijklmnopqrstuvwxyz"));
    QCOMPARE(QByteArray::fromStdString(text.substr(text.size() - 4)), QByteArray("END\n"));
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
    QCOMPARE(text.count(QStringLiteral("\r\n")), 1);
    QVERIFY(text.endsWith(QStringLiteral("\r\n")));
}

void BatchRunTest::converterIsLookedUpBesideTheLauncherFirst()
{
    const QString own = dir_->filePath(QStringLiteral("bin"));
    const QString onPath = dir_->filePath(QStringLiteral("path dir"));
    const QString name = QString::fromLatin1(kConverterProgramName);
    QVERIFY(QDir().mkpath(own) && QDir().mkpath(onPath));
    QVERIFY(QFile::copy(QStringLiteral(TREMCVT_STAND_IN_PATH), own + "/" + name));
    QVERIFY(QFile::copy(QStringLiteral(TREMCVT_STAND_IN_PATH), onPath + "/" + name));

    QCOMPARE(locateConverter(own, {onPath}).program, own + "/" + name);
    QFile::setPermissions(own + "/" + name, QFile::ReadOwner | QFile::WriteOwner);  // not executable
    QCOMPARE(locateConverter(own, {onPath}).program, onPath + "/" + name);
    QVERIFY(QFile::remove(onPath + "/" + name));
    const ConverterLocation none = locateConverter(own, {onPath});
    QVERIFY(none.program.isEmpty());
    QVERIFY(none.searched.contains(own + "/" + name));
    QVERIFY(none.searched.contains(onPath));
}

void BatchRunTest::realConverterConvertsMinuteFiles()
{
#ifndef TREMCVT_CONVERTER_PATH
    QSKIP("TREMCVT_CONVERTER_PATH is not defined: the end-to-end batch needs the real converter");
#else
    const QString converter = QStringLiteral(TREMCVT_CONVERTER_PATH);
    const QString win = QStringLiteral(TREMCVT_SHARED_WIN_DIR);
    const QString sqlite = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (!QFileInfo(converter).isExecutable()) QSKIP(qPrintable("no converter at " + converter));
    if (!QFileInfo::exists(win + "/10030302.00")) QSKIP(qPrintable("no WIN recordings in " + win));
    if (sqlite.isEmpty()) QSKIP("the sqlite3 command is not installed");

    // A SQLite archive behind a private data source "TRZ".
    const QString database = dir_->filePath(QStringLiteral("archive.db"));
    QProcess create;
    create.setStandardInputFile(QStringLiteral(TREMCVT_SQLITE_SCHEMA));
    create.start(sqlite, {database});
    QVERIFY(create.waitForFinished() && create.exitCode() == 0);
    const QString anyLocation = QStringLiteral("'?") + QStringLiteral("?'");
    QProcess::execute(sqlite, {database, "INSERT INTO SITECHAN (STA, CHAN, SPS, LCODE) VALUES ('KAM', 'HHZ', 100, " +
                                             anyLocation + "), ('KAM', 'HHN', 100, " + anyLocation + ");"});
    writeFile(dir_->filePath("odbc.ini"), "[TRZ]\nDriver=SQLite3\nDatabase=" + database.toUtf8() + "\n");
    qputenv("ODBCINI", dir_->filePath("odbc.ini").toLocal8Bit());
    qputenv("TREMCVT_SYSCONFDIR", dir_->path().toLocal8Bit());

    // The archive's root must exist: the converter creates the station and
    // hour directories below it, never the root itself.
    QVERIFY(QDir().mkpath(dir_->filePath("archive")));
    startDialog("[system]\nnsta=1\ndir=" + win.toUtf8() + "\ntime=03/03/2010 02:00\ntimeqty=000 00:11\n"
                "[sta0]\nname=KAM\na100=HHZ\na101=HHN\n"
                "[DATABASE]\nODBC=TRZ\n[DATA]\nDIR=" + dir_->filePath("archive").toUtf8() + "\n");
    dialog_->setConverterProgram(converter);
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

    // Eleven consecutive minutes continue one hour file per channel.
    QProcess query;
    query.start(sqlite, {database, "SELECT CH, TQTY FROM FILELIST ORDER BY CH;"});
    QVERIFY(query.waitForFinished());
    QCOMPARE(QString::fromUtf8(query.readAllStandardOutput()).trimmed(),
             QStringLiteral("HHN|660.0\nHHZ|660.0"));
#endif
}

QTEST_MAIN(BatchRunTest)
#include "batch_run_test.moc"
