// kolvane-sim: a virtual quad-view device on a pseudo-terminal, for trying the program
// without the hardware and for tests.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "port_alias.h"
#include "serial/fd.h"
#include "serial/port_name.h"
#include "sim_logic.h"
#include "sim_options.h"
#include "version.h"

namespace {

using namespace std::chrono_literals;
using serial::Fd;
using serial::systemError;
using sim::Clock;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

bool makeCloseOnExecNonBlocking(int fd) {
    const int flags = ::fcntl(fd, F_GETFL);
    return flags != -1 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != -1 &&
           ::fcntl(fd, F_SETFD, FD_CLOEXEC) != -1;
}

struct Pty {
    Fd master;
    // Held for the simulator's whole life: when the last slave descriptor closes the line
    // hangs up, and the master would see nothing but EIO until someone opens it again. The
    // port alias leads through it.
    Fd slave;
    std::string slavePath;
};

std::optional<Pty> openPty(std::string& error) {
    Pty pty;
    pty.master = Fd(::posix_openpt(O_RDWR | O_NOCTTY));
    if (!pty.master) {
        error = systemError("posix_openpt", errno);
        return std::nullopt;
    }
    const int master = pty.master.get();
    if (!makeCloseOnExecNonBlocking(master)) {
        error = systemError("fcntl", errno);
        return std::nullopt;
    }
    if (::grantpt(master) != 0) {
        error = systemError("grantpt", errno);
        return std::nullopt;
    }
    if (::unlockpt(master) != 0) {
        error = systemError("unlockpt", errno);
        return std::nullopt;
    }
    const char* name = ::ptsname(master);
    if (name == nullptr) {
        error = "ptsname: the terminal has no name";
        return std::nullopt;
    }
    pty.slavePath = name;
    pty.slave = Fd(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!pty.slave) {
        error = systemError(name, errno);
        return std::nullopt;
    }
    // Raw before anything is written: a cooked line would echo frames back to the program
    // and turn the line feed of "gEFG\n" into a carriage return and line feed.
    termios settings{};
    if (::tcgetattr(pty.slave.get(), &settings) != 0) {
        error = systemError("tcgetattr", errno);
        return std::nullopt;
    }
    ::cfmakeraw(&settings);
    if (::tcsetattr(pty.slave.get(), TCSANOW, &settings) != 0) {
        error = systemError("tcsetattr", errno);
        return std::nullopt;
    }
    return pty;
}

// The signal handler's only work is to wake the poll loop through this pipe.
int gWakeWriteFd = -1;
volatile std::sig_atomic_t gSignal = 0;

extern "C" void onSignal(int signal) {
    const int saved = errno;
    gSignal = signal;
    const char byte = 0;
    const ssize_t ignored = ::write(gWakeWriteFd, &byte, 1);
    (void)ignored;  // a full pipe already holds a wake-up
    errno = saved;
}

bool installSignalHandlers(std::string& error) {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        if (::sigaction(signal, &action, nullptr) != 0) {
            error = systemError("sigaction", errno);
            return false;
        }
    }
    // A parent that stops reading our log must not kill us before the alias is removed.
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

const char* signalName(int signal) {
    switch (signal) {
        case SIGINT:
            return "SIGINT";
        case SIGTERM:
            return "SIGTERM";
        case SIGHUP:
            return "SIGHUP";
        default:
            return "a signal";
    }
}

void logLine(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
}

std::string baudText(speed_t speed) {
    static const std::pair<speed_t, const char*> kSpeeds[] = {
        {B0, "0"},
        {B50, "50"},
        {B75, "75"},
        {B110, "110"},
        {B134, "134"},
        {B150, "150"},
        {B200, "200"},
        {B300, "300"},
        {B600, "600"},
        {B1200, "1200"},
        {B1800, "1800"},
        {B2400, "2400"},
        {B4800, "4800"},
        {B9600, "9600"},
        {B19200, "19200"},
        {B38400, "38400"},
        {B57600, "57600"},
        {B115200, "115200"},
        {B230400, "230400"},
#ifdef B460800
        {B460800, "460800"},
        {B500000, "500000"},
        {B576000, "576000"},
        {B921600, "921600"},
        {B1000000, "1000000"},
        {B1152000, "1152000"},
        {B1500000, "1500000"},
        {B2000000, "2000000"},
        {B2500000, "2500000"},
        {B3000000, "3000000"},
        {B3500000, "3500000"},
        {B4000000, "4000000"},
#endif
    };
    for (const auto& [code, text] : kSpeeds) {
        if (code == speed) {
            return text;
        }
    }
    return "?";
}

// `line 19200 8N1`. A pseudo-terminal keeps the speed and stop bits it is given but always
// reports eight data bits and no parity.
std::string describeLine(const termios& settings) {
    const tcflag_t size = settings.c_cflag & CSIZE;
    const char data = size == CS5 ? '5' : size == CS6 ? '6' : size == CS7 ? '7' : '8';
    char parity = 'N';
    if ((settings.c_cflag & PARENB) != 0) {
        parity = (settings.c_cflag & PARODD) != 0 ? 'O' : 'E';
#ifdef CMSPAR
        if ((settings.c_cflag & CMSPAR) != 0) {
            parity = parity == 'O' ? 'M' : 'S';
        }
#endif
    }
    const char stop = (settings.c_cflag & CSTOPB) != 0 ? '2' : '1';
    return "line " + baudText(::cfgetospeed(&settings)) + " " + data + parity + stop;
}

class Simulator {
public:
    Simulator(const sim::Options& options, Pty& pty, sim::PortAlias* alias, int wakeReadFd)
        : options_(options),
          pty_(pty),
          alias_(alias),
          wakeReadFd_(wakeReadFd),
          answers_(options.delay),
          rng_(static_cast<unsigned>(Clock::now().time_since_epoch().count()) ^
               static_cast<unsigned>(::getpid())) {}

    int run();

private:
    // While the master reports a hang-up it is left out of poll(), which would otherwise
    // return at once, over and over.
    static constexpr auto kQuietAfterHangup = 100ms;
    // Flood text is made only while less than this is waiting to be written, so a line no
    // one reads does not pile it up here.
    static constexpr std::size_t kFloodBacklog = 4096;
    static constexpr std::size_t kMaxReadsPerWake = 16;
    // A change of settings wakes no one on the master side, so --show-line looks this often.
    static constexpr auto kLineCheckInterval = 50ms;

    void receive(Clock::time_point now);
    void handleFrame(const sim::Frame& frame, Clock::time_point now);
    void writeOutput(Clock::time_point now);
    void showLineIfChanged();
    void finish(const std::string& reason);

    const sim::Options& options_;
    Pty& pty_;
    sim::PortAlias* alias_;
    int wakeReadFd_;
    sim::FrameSplitter splitter_;
    sim::AnswerQueue answers_;
    std::mt19937 rng_;
    std::string out_;
    std::optional<Clock::time_point> quietUntil_;
    bool endOfInput_ = false;
    bool warnedQueueFull_ = false;
    std::string lineShown_;
};

int Simulator::run() {
    const auto start = Clock::now();
    std::optional<Clock::time_point> vanishAt;
    if (options_.vanishAfter) {
        vanishAt = start + *options_.vanishAfter;
    }
    std::optional<sim::FloodSource> flood;
    if (options_.floodBytesPerSecond > 0) {
        flood.emplace(options_.floodBytesPerSecond, start);
    }
    showLineIfChanged();

    for (;;) {
        auto now = Clock::now();
        if (vanishAt && now >= *vanishAt) {
            pty_.master.reset();
            pty_.slave.reset();
            finish("vanished");
            return EXIT_SUCCESS;
        }
        if (auto answer = answers_.popDue(now)) {
            logLine(sim::describeAnswer(*answer));
            out_.append(answer->begin(), answer->end());
        }
        const bool floodWanted = flood && out_.size() < kFloodBacklog;
        if (floodWanted) {
            out_ += flood->take(now);
        }
        writeOutput(now);

        now = Clock::now();
        std::optional<Clock::time_point> wake;
        auto wakeBy = [&wake](Clock::time_point t) {
            if (!wake || t < *wake) {
                wake = t;
            }
        };
        if (auto due = answers_.nextDue()) {
            wakeBy(*due);
        }
        if (floodWanted) {
            wakeBy(flood->nextDue());
        }
        if (vanishAt) {
            wakeBy(*vanishAt);
        }
        if (quietUntil_) {
            wakeBy(*quietUntil_);
        }
        // Rounded up: waking a fraction of a millisecond early would poll again with 0.
        auto timeout = wake ? std::chrono::ceil<std::chrono::milliseconds>(*wake - now) : 1000ms;
        timeout = std::clamp<std::chrono::milliseconds>(
            timeout, 0ms, options_.showLine ? kLineCheckInterval : 1000ms);

        if (quietUntil_ && now >= *quietUntil_) {
            quietUntil_.reset();
        }
        pollfd fds[2] = {{wakeReadFd_, POLLIN, 0}, {pty_.master.get(), 0, 0}};
        nfds_t count = 1;
        if (!quietUntil_) {
            fds[1].events = static_cast<short>(POLLIN | (out_.empty() ? 0 : POLLOUT));
            count = 2;
        }
        if (::poll(fds, count, static_cast<int>(timeout.count())) < 0 && errno != EINTR) {
            finish(systemError("poll", errno));
            return kExitFailure;
        }
        if (gSignal != 0) {
            finish(std::string("stopped by ") + signalName(gSignal));
            return EXIT_SUCCESS;
        }
        // Before the frames: a program sets the line up and then sends at its new speed.
        showLineIfChanged();
        if (count == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
            receive(Clock::now());
        }
        if (endOfInput_) {
            finish("end of input");
            return EXIT_SUCCESS;
        }
    }
}

void Simulator::receive(Clock::time_point now) {
    std::uint8_t buffer[4096];
    std::vector<sim::Frame> frames;
    // Bounded, so that input pouring in cannot hold back due answers and the timers.
    for (std::size_t i = 0; i < kMaxReadsPerWake; ++i) {
        const ssize_t n = ::read(pty_.master.get(), buffer, sizeof buffer);
        if (n > 0) {
            frames.clear();
            splitter_.feed(buffer, static_cast<std::size_t>(n), frames);
            for (const sim::Frame& frame : frames) {
                handleFrame(frame, now);
            }
            continue;
        }
        if (n == 0) {
            endOfInput_ = true;
            return;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            // EIO: no one has the line open, which our own slave descriptor should prevent.
            quietUntil_ = now + kQuietAfterHangup;
        }
        return;
    }
}

void Simulator::handleFrame(const sim::Frame& frame, Clock::time_point now) {
    logLine(sim::describeFrame(frame));
    if (options_.silent) {
        return;
    }
    std::optional<sim::Bytes> answer = sim::correctAnswer(frame);
    if (options_.garbage) {
        answer = sim::garbageAnswer(rng_, answer);
    }
    if (answer && !answers_.push(now, std::move(*answer)) && !warnedQueueFull_) {
        warnedQueueFull_ = true;
        logLine("kolvane-sim: too many answers waiting; dropping answers until some are sent");
    }
    if (answers_.size() < sim::AnswerQueue::kMaxQueued / 2) {
        warnedQueueFull_ = false;
    }
}

void Simulator::writeOutput(Clock::time_point now) {
    if (quietUntil_) {
        return;
    }
    while (!out_.empty()) {
        const ssize_t n = ::write(pty_.master.get(), out_.data(), out_.size());
        if (n > 0) {
            out_.erase(0, static_cast<std::size_t>(n));
            continue;
        }
        if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
            return;  // the line is full; poll() says when it has room
        }
        if (errno == EINTR) {
            continue;
        }
        logLine("kolvane-sim: " + systemError("write", errno) + "; dropped " +
                std::to_string(out_.size()) + " bytes");
        out_.clear();
        quietUntil_ = now + kQuietAfterHangup;
        return;
    }
}

void Simulator::showLineIfChanged() {
    termios settings{};
    if (!options_.showLine || ::tcgetattr(pty_.slave.get(), &settings) != 0) {
        return;
    }
    std::string line = describeLine(settings);
    if (line != lineShown_) {
        logLine(line);
        lineShown_ = std::move(line);
    }
}

void Simulator::finish(const std::string& reason) {
    if (auto rest = splitter_.finish()) {
        logLine(sim::describeFrame(*rest));
    }
    if (alias_ != nullptr) {
        alias_->remove();
    }
    logLine("kolvane-sim: " + reason);
}

std::string modeLine(const sim::Options& options) {
    std::string modes;
    auto add = [&modes](const std::string& mode) { modes += (modes.empty() ? "" : ", ") + mode; };
    if (options.silent) {
        add("never answering");
    }
    if (options.garbage) {
        add("answering with garbage");
    }
    if (options.delay.count() > 0) {
        add("answering " + std::to_string(options.delay.count()) + " ms late");
    }
    if (options.floodBytesPerSecond > 0) {
        add("flooding at " + std::to_string(options.floodBytesPerSecond) + " bytes/s");
    }
    if (options.vanishAfter) {
        add("vanishing after " + std::to_string(options.vanishAfter->count()) + " ms");
    }
    return modes.empty() ? std::string() : "kolvane-sim: " + modes;
}

}  // namespace

int main(int argc, char** argv) {
    // A parent reading our output through a pipe must see each line as it is written.
    std::setvbuf(stdout, nullptr, _IOLBF, 0);

    const std::vector<std::string_view> args(argv + 1, argv + argc);
    const sim::ParsedOptions parsed = sim::parseOptions(args);
    const std::string usage = sim::usageText("kolvane-sim");
    if (parsed.action == sim::ParsedOptions::Action::Help) {
        std::fputs(usage.c_str(), stdout);
        return EXIT_SUCCESS;
    }
    if (parsed.action == sim::ParsedOptions::Action::Version) {
        std::fputs("kolvane-sim " KOLVANE_VERSION "\n", stdout);
        return EXIT_SUCCESS;
    }
    if (parsed.action == sim::ParsedOptions::Action::UsageError) {
        std::fprintf(stderr, "kolvane-sim: %s\n%s", parsed.error.c_str(), usage.c_str());
        return kExitUsage;
    }
    const sim::Options& options = parsed.options;

    std::string error;
    int wakeFds[2];
    if (::pipe(wakeFds) != 0) {
        std::fprintf(stderr, "kolvane-sim: %s\n", systemError("pipe", errno).c_str());
        return kExitFailure;
    }
    const Fd wakeRead(wakeFds[0]);
    const Fd wakeWrite(wakeFds[1]);
    if (!makeCloseOnExecNonBlocking(wakeRead.get()) ||
        !makeCloseOnExecNonBlocking(wakeWrite.get())) {
        std::fprintf(stderr, "kolvane-sim: %s\n", systemError("fcntl", errno).c_str());
        return kExitFailure;
    }
    gWakeWriteFd = wakeWrite.get();

    std::optional<Pty> pty = openPty(error);
    // Handlers go in before the alias exists, so that no signal can leave it behind.
    if (!pty || !installSignalHandlers(error)) {
        std::fprintf(stderr, "kolvane-sim: %s\n", error.c_str());
        return kExitFailure;
    }

    std::unique_ptr<sim::PortAlias> alias;
    std::string firstLine = "kolvane-sim: device on " + pty->slavePath;
    if (options.comPort) {
        // Through our own descriptor, not the pty's name: the kernel gives the number to
        // someone else's terminal once we are gone, however we end.
        alias = sim::PortAlias::create(serial::portAliasDir(), *options.comPort,
                                       sim::aliasTargetForDescriptor(pty->slave.get()), error);
        if (!alias) {
            std::fprintf(stderr, "kolvane-sim: %s\n", error.c_str());
            return kExitFailure;
        }
        firstLine += " as COM" + std::to_string(*options.comPort);
    }
    logLine(firstLine);
    if (alias) {
        logLine("kolvane-sim: alias " + alias->path() +
                (alias->replacedDangling() ? " (replaced a stale one)" : ""));
    }
    if (const std::string modes = modeLine(options); !modes.empty()) {
        logLine(modes);
    }

    Simulator simulator(options, *pty, alias.get(), wakeRead.get());
    return simulator.run();
}
