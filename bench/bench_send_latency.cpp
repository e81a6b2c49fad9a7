// From kolvane-send starting to the fifth byte of its frame readable on the device's side:
// with the port free, kolvane-send opens it itself; with the window holding it, the frame
// goes through the window.
#include <poll.h>
#include <unistd.h>

#include <QApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <atomic>
#include <cstdio>
#include <thread>

#include "bench_common.h"
#include "bench_window.h"
#include "control/local_server.h"
#include "remote/key_table.h"

namespace {

// Reads the device side on a thread of its own and stamps each frame's fifth byte.
class FifthByte {
public:
    explicit FifthByte(int master) : master_(master), thread_([this] { run(); }) {}
    ~FifthByte() {
        stop_ = true;
        thread_.join();
    }
    // The time the next whole frame arrived, counted from now; -1 when none came.
    std::atomic<std::int64_t> lastFrameNs{-1};

private:
    void run() {
        std::size_t bytes = 0;
        unsigned char buffer[256];
        while (!stop_) {
            pollfd pfd{master_, POLLIN, 0};
            if (::poll(&pfd, 1, 10) <= 0) {
                continue;
            }
            const ssize_t n = ::read(master_, buffer, sizeof buffer);
            if (n <= 0) {
                continue;
            }
            const std::size_t before = bytes / remote::CommandFrame::kSize;
            bytes += std::size_t(n);
            if (bytes / remote::CommandFrame::kSize != before) {
                lastFrameNs = bench::Clock::now().time_since_epoch().count();
            }
        }
    }

    int master_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Runs kolvane-send once and returns the milliseconds from its start to its frame's fifth
// byte on the line, or -1.
double oneSend(const QString& program, FifthByte& watcher) {
    watcher.lastFrameNs = -1;
    QProcess send;
    const auto start = bench::Clock::now();
    send.start(program, {QStringLiteral("--port"), QStringLiteral("COM6"), QStringLiteral("--wait"),
                         QStringLiteral("1"), QStringLiteral("power")});
    bench::runEventLoop(5000, [&] { return send.state() == QProcess::NotRunning; });
    send.waitForFinished();
    const std::int64_t at = watcher.lastFrameNs;
    if (at < 0) {
        return -1;
    }
    return bench::msBetween(start, bench::Clock::time_point(bench::Clock::duration(at)));
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
    FifthByte watcher(window.device.master());
    std::vector<double> direct;
    for (int i = 0; i < runs; ++i) {
        if (const double ms = oneSend(program, watcher); ms >= 0) {
            direct.push_back(ms);
        }
    }
    bench::printSummary("send_to_fifth_byte_direct_ms", bench::summarize(direct));

    control::LocalServer server(window.form.session(), "kolvane");
    if (!window.open()) {
        std::fprintf(stderr, "the window did not open COM6\n");
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
