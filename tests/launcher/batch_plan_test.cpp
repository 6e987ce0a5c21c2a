// Batch arithmetic of the launcher, without a window: minute stepping and
// WIN file names, interval and start-time texts, command lines and the
// merging of converter reports.
#include <QtTest>

#include <string>
#include <vector>

#include "launcher/batch_plan.h"

using namespace tremcvt;

class BatchPlanTest : public QObject {
    Q_OBJECT

private slots:
    void minuteSteppingNamesFiles_data();
    void minuteSteppingNamesFiles();
    void intervalTextGivesStepCount_data();
    void intervalTextGivesStepCount();
    void startTimeText_data();
    void startTimeText();
    void commandLines();
    void outputMerging_data();
    void outputMerging();
};

// The third-layout names (YYMMDDHH.MM) of every minute of a batch.
static QStringList minuteFileNames(const StartTime& start, int steps)
{
    QStringList names;
    double t = startSeconds(start);
    for (int i = 0; i < steps; ++i, t += 60.0) {
        MinuteName name;
        if (!minuteName(t, name)) return {QStringLiteral("no date")};
        names << QString::fromStdString(winFileLayouts("", name)[2]).mid(1);
    }
    return names;
}

void BatchPlanTest::minuteSteppingNamesFiles_data()
{
    QTest::addColumn<QString>("time");
    QTest::addColumn<int>("steps");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("across the new year")
        << "31/12/2009 23:59" << 2 << QStringList{"09123123.59", "10010100.00"};
    QTest::newRow("into a leap day")
        << "28/02/2008 23:59" << 2 << QStringList{"08022823.59", "08022900.00"};
    QTest::newRow("no leap day in 2009")
        << "28/02/2009 23:59" << 2 << QStringList{"09022823.59", "09030100.00"};
    QTest::newRow("last century") << "31/12/1999 23:58" << 3
                                  << QStringList{"99123123.58", "99123123.59", "00010100.00"};
    QTest::newRow("end of a 30-day month")
        << "30/04/2010 23:59" << 2 << QStringList{"10043023.59", "10050100.00"};
}

void BatchPlanTest::minuteSteppingNamesFiles()
{
    QFETCH(QString, time);
    QFETCH(int, steps);
    QFETCH(QStringList, expected);
    const std::optional<StartTime> start = parseStartTime(time.toStdString());
    QVERIFY(start);
    QCOMPARE(minuteFileNames(*start, steps), expected);

    // The three layouts, in the order they are tried, for the first minute.
    MinuteName first;
    QVERIFY(minuteName(startSeconds(*start), first));
    const auto layouts = winFileLayouts("/srv/win dir", first);
    const QString day = expected[0].left(6), hour = expected[0].left(8);
    QCOMPARE(QString::fromStdString(layouts[0]),
             "/srv/win dir/" + day + "/" + hour + "/" + expected[0]);
    QCOMPARE(QString::fromStdString(layouts[1]), "/srv/win dir/" + day + "/" + expected[0]);
    QCOMPARE(QString::fromStdString(layouts[2]), "/srv/win dir/" + expected[0]);
}

void BatchPlanTest::intervalTextGivesStepCount_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("steps");
    QTest::newRow("empty interval") << "000 00:00" << 0;
    QTest::newRow("one day") << "001 00:00" << 1440;
    QTest::newRow("all parts") << "002 03:04" << 2 * 1440 + 3 * 60 + 4;
    QTest::newRow("hours and minutes out of range add their worth") << "000 25:75" << 25 * 60 + 75;
    QTest::newRow("pasted: only days") << "3" << 3 * 1440;
    QTest::newRow("pasted: a piece that is no number") << "x 01:05" << 65;
    QTest::newRow("pasted: pieces beyond the third ignored") << "0 0:1:99" << 1;
    QTest::newRow("negative count gives no step") << "-1 00:00" << 0;
    QTest::newRow("huge numbers are held") << "99999999999999 0:0" << 2147483647;
}

void BatchPlanTest::intervalTextGivesStepCount()
{
    QFETCH(QString, text);
    QFETCH(int, steps);
    QCOMPARE(intervalStepCount(text.toStdString()), steps);
}

void BatchPlanTest::startTimeText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QList<int>>("fields");  // year, month, day, hour, minute
    QTest::newRow("plain") << "14/09/2009 11:04" << true << QList<int>{2009, 9, 14, 11, 4};
    QTest::newRow("extra numbers ignored") << "14/09/2009 11:04:59" << true << QList<int>{2009, 9, 14, 11, 4};
    QTest::newRow("no time of day") << "14/09/2009" << true << QList<int>{2009, 9, 14, 0, 0};
    QTest::newRow("leap day") << "29/02/2008 00:00" << true << QList<int>{2008, 2, 29, 0, 0};
    QTest::newRow("no leap day") << "29/02/2009 00:00" << false << QList<int>{};
    QTest::newRow("default value") << "00/00/0000 00:00" << false << QList<int>{};
    QTest::newRow("hour 24") << "14/09/2009 24:00" << false << QList<int>{};
    QTest::newRow("month 13") << "01/13/2009 10:00" << false << QList<int>{};
    QTest::newRow("before 1970") << "31/12/1969 23:59" << false << QList<int>{};
    QTest::newRow("empty") << "" << false << QList<int>{};
}

void BatchPlanTest::startTimeText()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QFETCH(QList<int>, fields);
    const std::optional<StartTime> start = parseStartTime(text.toStdString());
    QCOMPARE(start.has_value(), valid);
    if (start) {
        QCOMPARE((QList<int>{start->year, start->month, start->day, start->hour, start->minute}), fields);
    }
}

void BatchPlanTest::commandLines()
{
    struct Row {
        std::optional<std::string> css;
        std::optional<std::string> data;
        std::vector<std::string> arguments;
    };
    const std::string path = "/srv/win data/10030302.00";
    const Row rows[] = {
        {std::nullopt, std::nullopt, {"KAM", path}},
        {"/out/a.wfdisc", std::nullopt, {"KAM", path, "css=/out/a.wfdisc"}},
        {std::nullopt, "/arch", {"KAM", path, "data=/arch"}},
        {"", "/arch", {"KAM", path, "css=", "data=/arch"}},
    };
    for (const Row& row : rows) {
        QCOMPARE(buildConverterCommand("KAM", path, row.css, row.data).arguments, row.arguments);
    }
    // The text shown to people reads like the command line.
    QVERIFY(buildConverterCommand("KAM", path, "/o", "/a").displayText.ends_with(" KAM " + path + " css=/o data=/a"));
}

void BatchPlanTest::outputMerging_data()
{
    QTest::addColumn<QList<QByteArray>>("outputs");
    QTest::addColumn<QByteArray>("merged");
    const QByteArray header = "Checking\n====\n";  // offset 13, just after the last "="
    QTest::newRow("later outputs from the header offset")
        << QList<QByteArray>{header + "one\n", "CHECKING\n====\ntwo\n", "Checking more\n====\nthree\n"}
        << header + "one\n" + "\ntwo\n" + "\n====\nthree\n";
    QTest::newRow("first output without '=' shows later ones whole")
        << QList<QByteArray>{"plain\n", "second\n", "x=y\n"} << QByteArray("plain\nsecond\nx=y\n");
    QTest::newRow("a later output shorter than the offset adds nothing")
        << QList<QByteArray>{header, "short", QByteArray(13, 'x') + "tail"} << header + "tail";
    QTest::newRow("an output exactly as long as the offset adds nothing visible")
        << QList<QByteArray>{header, QByteArray(13, 'x')} << header;
    QTest::newRow("an output ends at its first zero byte")
        << QList<QByteArray>{QByteArray("a=b\0hidden=", 11), QByteArray("123\0zzz", 7)} << QByteArray("a=b3");
    QTest::newRow("empty first output") << QList<QByteArray>{"", "all\n"} << QByteArray("all\n");
}

void BatchPlanTest::outputMerging()
{
    QFETCH(QList<QByteArray>, outputs);
    QFETCH(QByteArray, merged);
    OutputMerger merger;
    std::string results;
    for (const QByteArray& output : outputs) {
        merger.merge(std::string_view(output.constData(), static_cast<std::size_t>(output.size())), results);
    }
    QCOMPARE(QByteArray::fromStdString(results), merged);
}

QTEST_APPLESS_MAIN(BatchPlanTest)
#include "batch_plan_test.moc"
