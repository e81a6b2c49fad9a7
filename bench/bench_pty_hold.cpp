// Holds a pseudo-terminal for a program under measurement: prints the path a program should
// open, keeps the line up, and swallows whatever is written to it, until SIGTERM or SIGINT.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>

namespace {
volatile sig_atomic_t stopping = 0;
void stop(int) {
    stopping = 1;
}
}  // namespace

int main() {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
        std::perror("pty");
        return 1;
    }
    const char* path = ::ptsname(master);
    // One slave descriptor of our own keeps the line from hanging up between users.
    const int slave = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios raw{};
    if (slave < 0 || ::tcgetattr(slave, &raw) != 0) {
        std::perror("pty slave");
        return 1;
    }
    ::cfmakeraw(&raw);
    ::tcsetattr(slave, TCSANOW, &raw);
    std::printf("%s\n", path);
    std::fflush(stdout);

    struct sigaction action {};
    action.sa_handler = stop;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    char sink[4096];
    while (!stopping) {
        pollfd pfd{master, POLLIN, 0};
        if (::poll(&pfd, 1, 1000) > 0 && (pfd.revents & POLLIN) != 0) {
            if (::read(master, sink, sizeof sink) <= 0) {
                break;
            }
        }
    }
    ::close(slave);
    ::close(master);
    return 0;
}
