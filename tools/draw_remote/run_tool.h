#pragma once

#include <QByteArray>
#include <QProcess>
#include <QStringList>

struct RunResult {
    int exitCode = -1;
    QByteArray stderrText;
};

// Runs draw_remote with `args`.
inline RunResult runTool(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral(DRAW_REMOTE_PATH), args);
    RunResult result;
    // Stays -1 when the tool failed to start, hung or crashed.
    if (process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit) {
        result.exitCode = process.exitCode();
    }
    result.stderrText = process.readAllStandardError();
    return result;
}
