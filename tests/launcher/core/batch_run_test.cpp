// The batch state machine: the steps of an interval and of picked files, how
// each run's ending is counted and merged, stopping, and the summary line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/exit_codes.h"
#include "common/paths.h"
#include "common/platform.h"
#include "launcher/core/batch_run.h"
#include "tests/support/fresh_directory.h"

namespace tremcvt {
namespace {

const std::string kSep(1, kNativeSeparator);

RunResult exited(int exitCode, std::string output)
{
    return {RunEnd::Exited, processExitStatus(exitCode), std::move(output)};
}

class BatchRunTest : public ::testing::Test {
protected:
    void SetUp() override { root_ = test::freshDirectory("tremcvt-batch-"); }
    void TearDown() override { std::filesystem::remove_all(root_); }

    std::string path(const std::string& relative) const
    {
        std::string p = (root_ / relative).string();
        toNativeSeparators(p);
        return p;
    }
    void writeFile(const std::string& relative, const std::string& contents) const
    {
        std::filesystem::create_directories(std::filesystem::path(path(relative)).parent_path());
        std::ofstream(path(relative), std::ios::binary) << contents;
    }
    static BatchSettings settings(std::optional<std::string> css = std::nullopt)
    {
        return {"KAM", std::move(css), {"/opt/tremcvt", "/opt/tremcvt and on the search path (PATH)"}};
    }

    std::filesystem::path root_;
};

TEST_F(BatchRunTest, IntervalStepsLookUpMinutesAndCountEveryEnding)
{
    // Minutes 02:00 ... 02:06; 02:03 lies nowhere.
    for (const char* name : {"10030302.00", "10030302.01", "10030302.02", "10030302.04", "10030302.05",
                             "10030302.06"}) {
        writeFile(name, "WIN");
    }
    const std::string win = root_.string();
    BatchRun batch = BatchRun::interval(settings("/out/k.wfdisc"), win, {2010, 3, 3, 2, 0}, 7);
    EXPECT_EQ(batch.stepCount(), 7);

    const std::string header = "Checking INI-file\n=====\n";
    const RunResult endings[] = {
        exited(0, header + "first\n"),
        exited(3, header + "three problems\n"),  // problem counts are no failures
        exited(kExitConnectionFailed, "Connection error (ODBC: TRZ, USER: TRZ).\n"),
        {},  // 02:03: no run
        {RunEnd::TimedOut, 0, "lost"},
        {RunEnd::Crashed, 0, header + "crashed\n"},
        exited(kExitWinFileNotOpened, header + "not opened\n"),
    };
    std::vector<std::string> progress;
    for (const RunResult& ending : endings) {
        const std::optional<BatchStep> step = batch.nextStep();
        ASSERT_TRUE(step);
        progress.push_back(batch.progressText(*step));
        if (step->index == 3) {
            EXPECT_FALSE(step->command);
            continue;
        }
        ASSERT_TRUE(step->command) << step->index;
        EXPECT_EQ(step->command->arguments,
                  (std::vector<std::string>{"KAM", path(step->fileName), "css=/out/k.wfdisc"}));
        batch.recordRun(ending);
    }
    EXPECT_FALSE(batch.nextStep());
    EXPECT_EQ(progress, (std::vector<std::string>{"1 / 7  10030302.00", "2 / 7  10030302.01", "3 / 7  10030302.02",
                                                  "4 / 7  10030302.03", "5 / 7  10030302.04", "6 / 7  10030302.05",
                                                  "7 / 7  10030302.06"}));

    const BatchCounts& counts = batch.counts();
    EXPECT_EQ(counts.filesConverted, 2);
    EXPECT_EQ(counts.minutesMissing, 1);
    EXPECT_EQ(counts.timeOuts, 1);
    EXPECT_EQ(counts.converterFailures, 3);
    EXPECT_EQ(counts.notStarted, 0);
    EXPECT_EQ(counts.failures(), 5);
    EXPECT_EQ(counts.stepsLeftUndone(), 0);

    // The first layout of every found minute is missing, the second too.
    // Failed runs still have their reports merged, time-outs not; later
    // reports start just after the first one's last "=".
    const auto missing = [&](const std::string& name) {
        return "File open error (" + win + kSep + "100303" + kSep + "10030302" + kSep + name + ").\r\n" +
               "File open error (" + win + kSep + "100303" + kSep + name + ").\r\n";
    };
    const std::string expected =
        missing("10030302.00") + header + "first\n" + missing("10030302.01") + "\nthree problems\n" +
        missing("10030302.02") + " TRZ, USER: TRZ).\n" + missing("10030302.03") + "File open error (" + win +
        kSep + "10030302.03).\r\n" + missing("10030302.04") + missing("10030302.05") + "\ncrashed\n" +
        missing("10030302.06") + "\nnot opened\n";
    EXPECT_EQ(batch.resultsText(), expected);
    const std::string summary =
        "Steps: 7, files converted: 2, minutes missing: 1, failed runs: 4 "
        "(time-outs: 1, converter failures: 3, not started: 0).\r\n";
    EXPECT_EQ(batch.summaryLine(), summary);
    EXPECT_EQ(batch.finish(), expected + summary);
    EXPECT_FALSE(batch.nextStep());  // an ended batch has no steps
}

TEST_F(BatchRunTest, PickedFilesRunInNameOrderWhateverOrderTheyComeIn)
{
    writeFile("tremcvt.ini", "[data]\ndir=/arch one\n");
    const std::vector<std::string> names = {"10030302.00", "10030302.01", "10030302.02", "10030302.10"};
    std::vector<std::string> picked;
    for (const std::string& name : names) picked.push_back(path("sub" + kSep + name));

    std::vector<std::string> order = picked;
    std::sort(order.begin(), order.end());
    do {
        BatchRun batch = BatchRun::pickedFiles(settings(), order, path("tremcvt.ini"));
        std::vector<std::string> converted;
        while (const std::optional<BatchStep> step = batch.nextStep()) {
            ASSERT_TRUE(step->command);
            converted.push_back(step->command->arguments[1]);
            batch.recordRun(exited(0, ""));
        }
        EXPECT_EQ(converted, picked);
    } while (std::next_permutation(order.begin(), order.end()));

    // The name decides, not the directory; the archive directory is read
    // for every file.
    BatchRun batch = BatchRun::pickedFiles(settings("/o.wfdisc"), {path("b" + kSep + "10030302.01"),
                                                                   path("a" + kSep + "10030302.02"),
                                                                   path("c" + kSep + "10030302.00")},
                                           path("tremcvt.ini"));
    std::optional<BatchStep> step = batch.nextStep();
    EXPECT_EQ(step->command->arguments,
              (std::vector<std::string>{"KAM", path("c" + kSep + "10030302.00"), "css=/o.wfdisc", "data=/arch one"}));
    EXPECT_EQ(batch.progressText(*step), "1 / 3  10030302.00");
    batch.recordRun(exited(0, "x"));
    writeFile("tremcvt.ini", "[data]\ndir=/arch two\n");
    step = batch.nextStep();
    EXPECT_EQ(step->command->arguments.back(), "data=/arch two");
    EXPECT_EQ(step->command->arguments[1], path("b" + kSep + "10030302.01"));
}

TEST_F(BatchRunTest, StopSkipsTheRemainingStepsAfterTheRunningOne)
{
    struct Case {
        int stopDuringStep;  // index of the step whose run is going on
        int steps;
    };
    for (const Case c : {Case{0, 5}, Case{2, 5}, Case{4, 5}}) {
        std::vector<std::string> files;
        for (int i = 0; i < c.steps; ++i) files.push_back(path("1003030" + std::to_string(i) + ".00"));
        BatchRun batch = BatchRun::pickedFiles(settings(), files, path("none.ini"));
        int runs = 0;
        while (const std::optional<BatchStep> step = batch.nextStep()) {
            if (step->index == c.stopDuringStep) batch.requestStop();
            batch.recordRun(exited(0, "run " + std::to_string(step->index) + "\n"));
            ++runs;
        }
        EXPECT_EQ(runs, c.stopDuringStep + 1);
        EXPECT_TRUE(batch.stopRequested());
        const int undone = c.steps - c.stopDuringStep - 1;
        EXPECT_EQ(batch.counts().stepsLeftUndone(), undone);
        EXPECT_EQ(batch.counts().filesConverted, runs);  // the running step is recorded
        EXPECT_EQ(batch.summaryLine(), "Steps: 5 (stopped, " + std::to_string(undone) +
                                           " left undone), files converted: " + std::to_string(runs) +
                                           ", minutes missing: 0, failed runs: 0 (time-outs: 0, converter "
                                           "failures: 0, not started: 0).\r\n");
    }
}

TEST_F(BatchRunTest, ProgressAndMessageAtTheEnd)
{
    struct Case {
        int steps;
        int stopDuringStep;  // -1: not stopped
        int maximum;
        int endPosition;
        std::string message;
    };
    const Case cases[] = {
        {0, -1, 1, 0, "Операция завершена!\nОшибки = 0"},  // no step: the bar stays empty
        {1, -1, 1, 1, "Операция завершена!\nОшибки = 1"},  // one step still shows a full bar
        {2, -1, 1, 1, "Операция завершена!\nОшибки = 2"},
        {11, -1, 10, 10, "Операция завершена!\nОшибки = 11"},
        {11, 3, 10, 4, "Операция завершена!\nОшибки = 4"},  // stopped: as far as it got
    };
    for (const Case& c : cases) {
        // Every minute is missing: each started step is one failure.
        BatchRun batch = BatchRun::interval(settings(), path("absent"), {2010, 3, 3, 2, 0}, c.steps);
        EXPECT_EQ(batch.progressMaximum(), c.maximum) << c.steps;
        while (const std::optional<BatchStep> step = batch.nextStep()) {
            EXPECT_LE(step->index, batch.progressMaximum());
            if (step->index == c.stopDuringStep) batch.requestStop();
        }
        EXPECT_EQ(batch.progressEndPosition(), c.endPosition) << c.steps;
        EXPECT_EQ(completionMessage(batch.counts()), c.message) << c.steps;
    }
}

TEST_F(BatchRunTest, ConverterThatCannotStartIsNamedOnce)
{
    BatchRun batch = BatchRun::pickedFiles(settings(), {path("a"), path("b"), path("c")}, path("none.ini"));
    while (batch.nextStep()) batch.recordRun({RunEnd::NotStarted, 0, ""});
    const std::string text = batch.finish();
    const std::string message = "The converter could not be started: " + std::string(kConverterProgramName) +
                                " KAM " + path("a") + " data=" + defaultDataDirectory() +
                                " (looked for /opt/tremcvt and on the search path (PATH)).\r\n";
    EXPECT_EQ(text, message +
                        "Steps: 3, files converted: 0, minutes missing: 0, failed runs: 3 "
                        "(time-outs: 0, converter failures: 0, not started: 3).\r\n");
    EXPECT_EQ(batch.counts().failures(), 3);
}

TEST_F(BatchRunTest, BatchWithoutResultsEndsWithTheCompletedText)
{
    BatchRun empty = BatchRun::interval(settings(), root_.string(), {2010, 3, 3, 2, 0}, 0);
    EXPECT_FALSE(empty.nextStep());
    EXPECT_EQ(empty.finish(), std::string(kCompletedText) +
                                  "\r\nSteps: 0, files converted: 0, minutes missing: 0, failed runs: 0 "
                                  "(time-outs: 0, converter failures: 0, not started: 0).\r\n");

    // Runs that print nothing leave the results empty as well; a report that
    // ends without a line end gets one before the summary.
    writeFile("10030302.00", "WIN");
    BatchRun quiet = BatchRun::pickedFiles(settings(), {path("10030302.00")}, path("none.ini"));
    quiet.nextStep();
    quiet.recordRun(exited(0, ""));
    EXPECT_EQ(quiet.finish().substr(0, std::string(kCompletedText).size() + 2), std::string(kCompletedText) + "\r\n");
    BatchRun unterminated = BatchRun::pickedFiles(settings(), {path("10030302.00")}, path("none.ini"));
    unterminated.nextStep();
    unterminated.recordRun(exited(0, "no line end"));
    EXPECT_EQ(unterminated.finish().substr(0, 13), "no line end\r\n");
}

}  // namespace
}  // namespace tremcvt
