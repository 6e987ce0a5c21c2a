#include "launcher/qt/converter_runner.h"

#include <QByteArray>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>

namespace tremcvt {

RunResult RunConverter(const QString& program, const QStringList& arguments, int timeoutMs)
{
    enum class State { Running, Ended, NotStarted, TimedOut };
    State state = State::Running;
    RunResult result;
    if (program.isEmpty()) return result;

    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QByteArray output;

    // A converter that prints more than the pipe holds must be drained while
    // it runs, or it would block on writing and never end.
    QObject::connect(&process, &QProcess::readyReadStandardOutput, &loop,
                     [&] { output += process.readAllStandardOutput(); });
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
        if (state != State::Running) return;
        state = State::TimedOut;
        process.kill();
        loop.quit();
    });

    timer.start(timeoutMs);
    process.start(program, arguments, QIODevice::ReadOnly);
    if (state == State::Running) loop.exec();
    timer.stop();

    switch (state) {
    case State::Ended:
        output += process.readAllStandardOutput();
        result.end = process.exitStatus() == QProcess::CrashExit ? RunEnd::Crashed : RunEnd::Exited;
        result.exitStatus = process.exitCode();
        result.output.assign(output.constData(), static_cast<std::size_t>(output.size()));
        break;
    case State::TimedOut:
        QObject::disconnect(&process, nullptr, &loop, nullptr);
        process.waitForFinished();
        result.end = RunEnd::TimedOut;
        break;
    case State::NotStarted:
    case State::Running:
        result.end = RunEnd::NotStarted;
        break;
    }
    return result;
}

}  // namespace tremcvt
