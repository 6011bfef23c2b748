#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

namespace orvello::test {

// How a program run to its end ended, and what it wrote (standard output and error together).
struct Ran {
    bool finished = false; // it started and ended by itself in the time given
    int exitCode = -1;
    QString output;
    bool ok() const { return finished && exitCode == 0; }
};

// Runs `program` with `args` in `workDir` (empty: this process's) and waits for its end; one
// that runs past `timeoutMs` is killed.
inline Ran RunProgram(const QString& program, const QStringList& args, int timeoutMs = 120000,
                      const QString& workDir = {}) {
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(workDir);
    process.start(program, args);
    Ran ran;
    ran.finished =
        process.waitForFinished(timeoutMs) && process.exitStatus() == QProcess::NormalExit;
    ran.exitCode = process.exitCode();
    ran.output = QString::fromLocal8Bit(process.readAll());
    if (!ran.finished) {
        ran.output += process.errorString();
        process.kill();
        process.waitForFinished(3000);
    }
    return ran;
}

} // namespace orvello::test
