// From kolvane-send starting to the fifth byte of its frame readable on the device's side:
// with the port free, kolvane-send opens it itself; with the window holding it, the frame
// goes through the window.
#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <cstdio>

#include "bench_common.h"
#include "bench_window.h"
#include "control/local_server.h"
#include "frame_watcher.h"
#include "remote/key_table.h"

namespace {

// Runs kolvane-send once and returns the milliseconds from its start to its frame's fifth
// byte on the line, or -1.
double oneSend(const QString& program, bench::FrameWatcher& watcher) {
    const std::size_t frame = watcher.frames();
    QProcess send;
    const auto start = bench::Clock::now();
    send.start(program, {QStringLiteral("--port"), QStringLiteral("COM6"), QStringLiteral("--wait"),
                         QStringLiteral("1"), QStringLiteral("power")});
    bench::runEventLoop(5000, [&] { return send.state() == QProcess::NotRunning; });
    send.waitForFinished();
    bench::Clock::time_point at;
    if (!watcher.frameTime(frame, std::chrono::seconds(1), at)) {
        return -1;
    }
    return bench::msBetween(start, at);
}

}  // namespace

int main(int argc, char** argv) {
    bench::preferOffscreenPlatform();
    QApplication app(argc, argv);
    const int runs = int(bench::numberOption(argc, argv, "--runs", 20));
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    // Another build of kolvane-send, to compare with, may be named in KOLVANE_SEND.
    const QString program = qEnvironmentVariableIsSet("KOLVANE_SEND")
                                ? qEnvironmentVariable("KOLVANE_SEND")
                                : QStringLiteral(KOLVANE_SEND_PATH);

    bench::WindowOnPty window;
    window.aliases.mapPort(6, window.device.path());
    bench::FrameWatcher watcher(window.device.master());
    std::vector<double> direct;
    for (int i = 0; i < runs; ++i) {
        if (const double ms = oneSend(program, watcher); ms >= 0) {
            direct.push_back(ms);
        }
    }
    bench::printSummary("send_to_fifth_byte_direct_ms", bench::summarize(direct));

    control::LocalServer server(window.form.session(), "kolvane");
    if (!window.open()) {
        return 1;
    }
    std::vector<double> through;
    for (int i = 0; i < runs; ++i) {
        if (const double ms = oneSend(program, watcher); ms >= 0) {
            through.push_back(ms);
        }
    }
    bench::printSummary("send_to_fifth_byte_through_window_ms", bench::summarize(through));
    return 0;
}
