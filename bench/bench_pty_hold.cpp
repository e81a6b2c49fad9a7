// Holds a pseudo-terminal for a program under measurement: prints the path a program should
// open, keeps the line up, and swallows whatever is written to it, until SIGTERM or SIGINT.
#include <poll.h>
#include <signal.h>

#include <cstdio>
#include <exception>

#include "pty_device.h"

namespace {
volatile sig_atomic_t stopping = 0;
void stop(int) {
    stopping = 1;
}
}  // namespace

int main() try {
    // The device keeps a slave descriptor of its own, so the line stays up between users.
    testing_support::PtyDevice device;
    std::printf("%s\n", device.path().c_str());
    std::fflush(stdout);

    struct sigaction action {};
    action.sa_handler = stop;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    while (!stopping) {
        pollfd pfd{device.master(), POLLIN, 0};
        if (::poll(&pfd, 1, 1000) > 0 && (pfd.revents & POLLIN) != 0 && device.drain().empty()) {
            break;
        }
    }
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "bench_pty_hold: %s\n", e.what());
    return 1;
}
