#include "launcher/converter_runner.h"

#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

namespace tremcvt {

ConverterLocation locateConverter(const QString& ownDirectory, const QStringList& searchPaths)
{
    ConverterLocation location;
    const QString name = QString::fromLatin1(kConverterProgramName);
    const QString beside = QDir(ownDirectory).filePath(name);
    const QFileInfo besideInfo(beside);
    if (besideInfo.isFile() && besideInfo.isExecutable()) {
        location.program = besideInfo.absoluteFilePath();
    } else {
        location.program = QStandardPaths::findExecutable(name, searchPaths);
    }
    location.searched = QDir::toNativeSeparators(beside) +
                        (searchPaths.isEmpty()
                             ? QStringLiteral(" and on the search path (PATH)")
                             : QStringLiteral(" and in ") + searchPaths.join(QDir::listSeparator()));
    return location;
}

RunResult RunConverter(const QString& program, const QStringList& arguments, int timeoutMs)
{
    enum class State { Running, Ended, NotStarted, TimedOut };
    State state = State::Running;
    RunResult result;

    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);

    // A converter that prints more than the pipe holds must be drained while
    // it runs, or it would block on writing and never end.
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &loop,
                     [&] { result.output += process.readAllStandardOutput(); });
    QObject::connect(&process, &QProcess::finished, &loop, [&] {
        if (state == State::Running) state = State::Ended;
        loop.quit();
    });
    QObject::connect(&process, &QProcess::errorOccurred, &loop, [&](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart && state == State::Running) {
            state = State::NotStarted;
            loop.quit();
        }
    });
    QObject::connect(&timer, &QTimer::timeout, &loop, [&] {
        if (state == State::Running) state = State::TimedOut;
        loop.quit();
    });

    if (program.isEmpty()) return result;
    timer.start(timeoutMs);
    process.start(program, arguments, QIODevice::ReadOnly);
    if (state == State::Running) loop.exec();
    timer.stop();

    switch (state) {
    case State::Ended:
        result.output += process.readAllStandardOutput();
        result.outcome = RunOutcome::Finished;
        break;
    case State::TimedOut:
        QObject::disconnect(&process, nullptr, &loop, nullptr);
        process.kill();
        process.waitForFinished();
        result.output.clear();
        result.outcome = RunOutcome::TimedOut;
        break;
    case State::NotStarted:
    case State::Running:
        result.output.clear();
        result.outcome = RunOutcome::FailedToStart;
        break;
    }
    return result;
}

}  // namespace tremcvt
