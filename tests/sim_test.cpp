#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "oracle/keys.h"
#include "port_alias.h"
#include "serial/fd.h"
#include "sim_logic.h"
#include "sim_options.h"
#include "support/temp_dir.h"
#include "version.h"

extern char** environ;

namespace {

using namespace std::chrono_literals;
using serial::Fd;
using sim::Bytes;
using sim::Clock;
using sim::Frame;
using sim::FrameEnd;
using testing_support::TempDir;
namespace fs = std::filesystem;

Bytes bytes(const std::string& text) {
    return Bytes(text.begin(), text.end());
}
Frame lineFrame(const std::string& text) {
    return {bytes(text), FrameEnd::LineFeed};
}

std::vector<Frame> split(const Bytes& input, const std::vector<std::size_t>& cuts) {
    sim::FrameSplitter splitter;
    std::vector<Frame> frames;
    std::size_t from = 0;
    for (std::size_t to : cuts) {
        splitter.feed(input.data() + from, to - from, frames);
        from = to;
    }
    splitter.feed(input.data() + from, input.size() - from, frames);
    return frames;
}

TEST(FrameSplitter, SameFramesHoweverTheInputIsChunked) {
    const std::string xs64(64, 'x');
    const struct {
        std::string input;
        std::vector<std::pair<std::string, FrameEnd>> frames;
    } cases[] = {
        {"G45g\n", {{"G45g\n", FrameEnd::LineFeed}}},
        {"G45g\nGFEg\n", {{"G45g\n", FrameEnd::LineFeed}, {"GFEg\n", FrameEnd::LineFeed}}},
        {std::string("\0\0\n\n", 4),
         {{std::string("\0\0\n", 3), FrameEnd::LineFeed}, {"\n", FrameEnd::LineFeed}}},
        {"no line feed", {}},
        {xs64.substr(1) + "\n", {{xs64.substr(1) + "\n", FrameEnd::LineFeed}}},
        {xs64 + "\n", {{xs64, FrameEnd::Cut}, {"\n", FrameEnd::CutTail}}},
        {xs64 + xs64 + "yy\nG45g\n",
         {{xs64, FrameEnd::Cut},
          {xs64, FrameEnd::Cut},
          {"yy\n", FrameEnd::CutTail},
          {"G45g\n", FrameEnd::LineFeed}}},
    };
    for (const auto& c : cases) {
        const Bytes input = bytes(c.input);
        std::vector<std::vector<std::size_t>> chunkings = {{}};
        for (std::size_t at = 1; at < input.size(); ++at) {
            chunkings.push_back({at});
        }
        for (std::size_t step = 1; step <= 7; ++step) {
            std::vector<std::size_t> cuts;
            for (std::size_t at = step; at < input.size(); at += step) {
                cuts.push_back(at);
            }
            chunkings.push_back(cuts);
        }
        for (const auto& cuts : chunkings) {
            const std::vector<Frame> frames = split(input, cuts);
            ASSERT_EQ(frames.size(), c.frames.size()) << c.input;
            for (std::size_t i = 0; i < frames.size(); ++i) {
                EXPECT_EQ(frames[i].bytes, bytes(c.frames[i].first)) << c.input;
                EXPECT_EQ(frames[i].end, c.frames[i].second) << c.input;
            }
        }
    }
}

TEST(FrameSplitter, FinishHandsOverTheRestAndStartsAfresh) {
    sim::FrameSplitter splitter;
    std::vector<Frame> frames;
    const Bytes run = bytes(std::string(70, 'x'));
    splitter.feed(run.data(), run.size(), frames);
    const auto rest = splitter.finish();
    ASSERT_TRUE(rest);
    EXPECT_EQ(rest->bytes, bytes("xxxxxx"));
    EXPECT_EQ(rest->end, FrameEnd::NoLineFeed);
    EXPECT_FALSE(splitter.finish());

    frames.clear();
    const Bytes key = bytes("G45g\n");
    splitter.feed(key.data(), key.size(), frames);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].end, FrameEnd::LineFeed);  // not taken for the tail of the old run
    EXPECT_EQ(sim::correctAnswer(frames[0]), Bytes{0x45});
}

TEST(Answers, EveryKeyGetsItsCodeAndTheProbeItsReply) {
    for (const oracle::Key& key : oracle::keys()) {
        if (!key.code) {
            continue;
        }
        const Frame frame = lineFrame(key.command + "\n");
        EXPECT_EQ(sim::correctAnswer(frame), Bytes{*key.code}) << key.command;
        EXPECT_NE(sim::describeFrame(frame).find(key.receivedName), std::string::npos);
    }
    EXPECT_EQ(sim::correctAnswer(lineFrame("GFEg\n")), bytes("gEFG\n"));
}

TEST(Answers, NothingButExactFramesIsAnswered) {
    const Frame unanswered[] = {
        lineFrame("G45G\n"),
        lineFrame("g45g\n"),
        lineFrame("G4ag\n"),  // the table's hex is upper case
        lineFrame("G45g\r\n"),
        lineFrame("xG45g\n"),
        lineFrame("GFEg\r\n"),
        lineFrame("gEFG\n"),
        lineFrame("\n"),
        lineFrame(std::string(4, '\0') + "\n"),  // what the reserved key's empty command sends
        {bytes("G45g\n"), FrameEnd::CutTail},
        {bytes("G45g"), FrameEnd::NoLineFeed},
        {bytes("GFEg\n"), FrameEnd::CutTail},
    };
    for (const Frame& frame : unanswered) {
        EXPECT_FALSE(sim::correctAnswer(frame)) << sim::describeFrame(frame);
    }
}

TEST(Answers, LogLinesShowEscapedTextHexAndVerdict) {
    EXPECT_EQ(sim::describeFrame(lineFrame("G45g\n")),
              "rx \"G45g\\n\" 47 34 35 67 0A -> KEY_POWER_ON/OFF");
    EXPECT_EQ(sim::describeFrame(lineFrame(std::string("\0\"\\\x7f\n", 5))),
              "rx \"\\x00\\\"\\\\\\x7F\\n\" 00 22 5C 7F 0A -> unknown");
    const std::string cut = sim::describeFrame({bytes(std::string(64, 'a')), FrameEnd::Cut});
    EXPECT_EQ(cut.substr(cut.rfind(" -> ")), " -> over-long, cut at 64 bytes");
    EXPECT_EQ(sim::describeAnswer(Bytes{0x45}), "tx \"E\" 45");
}

TEST(Answers, GarbageVariesHoldsZerosAndIsNeverTheRightAnswer) {
    std::mt19937 rng(7);
    const Bytes right{0x00};  // the likeliest garbage of all
    std::vector<bool> lengths(9);
    bool sawZero = false;
    for (int i = 0; i < 2000; ++i) {
        const Bytes answer = sim::garbageAnswer(rng, right);
        ASSERT_GE(answer.size(), 1u);
        ASSERT_LE(answer.size(), 8u);
        ASSERT_NE(answer, right);
        lengths[answer.size()] = true;
        sawZero = sawZero || std::find(answer.begin(), answer.end(), 0) != answer.end();
    }
    EXPECT_EQ(std::count(lengths.begin(), lengths.end(), true), 8);
    EXPECT_TRUE(sawZero);
}

TEST(AnswerQueue, AnswersWaitForTheDelayAndForEachOther) {
    const Clock::time_point t0{};
    sim::AnswerQueue queue(300ms);
    ASSERT_TRUE(queue.push(t0, {1}));
    ASSERT_TRUE(queue.push(t0 + 10ms, {2}));
    EXPECT_FALSE(queue.popDue(t0 + 299ms));
    EXPECT_EQ(queue.popDue(t0 + 300ms), Bytes{1});
    EXPECT_EQ(queue.nextDue(), t0 + 550ms);  // the spacing outweighs its own delay
    EXPECT_FALSE(queue.popDue(t0 + 549ms));
    EXPECT_EQ(queue.popDue(t0 + 600ms), Bytes{2});
    // Spaced from when an answer was really taken, and no wait after a quiet spell.
    ASSERT_TRUE(queue.push(t0 + 500ms, {3}));
    EXPECT_EQ(queue.nextDue(), t0 + 850ms);
    EXPECT_EQ(queue.popDue(t0 + 850ms), Bytes{3});
    ASSERT_TRUE(queue.push(t0 + 5s, {4}));
    EXPECT_EQ(queue.nextDue(), t0 + 5s + 300ms);
}

TEST(AnswerQueue, IsBoundedWithoutLosingWhatItHolds) {
    sim::AnswerQueue queue(0ms);
    const Clock::time_point t0{};
    for (std::size_t i = 0; i < sim::AnswerQueue::kMaxQueued; ++i) {
        ASSERT_TRUE(queue.push(t0, {static_cast<std::uint8_t>(i)}));
    }
    EXPECT_FALSE(queue.push(t0, {0xFF}));
    EXPECT_EQ(queue.size(), sim::AnswerQueue::kMaxQueued);
    EXPECT_EQ(queue.popDue(t0), Bytes{0});
}

TEST(FloodSource, KeepsItsRateWithoutBurstsAndNeverAsksForASpin) {
    for (std::uint32_t rate : {1u, 10u, 11520u, 1'000'000u}) {
        const Clock::time_point t0{};
        sim::FloodSource flood(rate, t0);
        std::string sent;
        Clock::time_point now = t0;
        while (now < t0 + 10s) {
            const std::string chunk = flood.take(now);
            sent += chunk;
            ASSERT_GT(flood.nextDue(), now) << rate;
            ASSERT_LE(chunk.size(), std::max<std::size_t>(1, rate / 20)) << rate;
            now = flood.nextDue();
        }
        EXPECT_NEAR(static_cast<double>(sent.size()), rate * 10.0, rate * 0.02 + 2) << rate;
        for (char c : sent) {
            ASSERT_TRUE(c == '\n' || (c >= 0x20 && c < 0x7F)) << rate;
        }
        // A stall is not made up for in one go.
        EXPECT_LE(flood.take(now + 5s).size(), std::max<std::size_t>(1, rate / 20)) << rate;
    }
}

TEST(Options, ValidCommandLines) {
    using sim::ParsedOptions;
    auto parse = [](std::vector<std::string_view> args) { return sim::parseOptions(args); };
    EXPECT_EQ(parse({}).action, ParsedOptions::Action::Run);
    EXPECT_EQ(parse({"--silent", "--help"}).action, ParsedOptions::Action::Help);

    const auto all = parse({"--as", "com6", "--delay=300", "--flood", "11520", "--vanish-after",
                            "0", "--garbage", "--show-line"});
    ASSERT_EQ(all.action, ParsedOptions::Action::Run) << all.error;
    EXPECT_EQ(all.options.comPort, 6);
    EXPECT_EQ(all.options.delay, 300ms);
    EXPECT_EQ(all.options.floodBytesPerSecond, 11520u);
    EXPECT_EQ(all.options.vanishAfter, 0ms);
    EXPECT_TRUE(all.options.garbage);
    EXPECT_FALSE(all.options.silent);
    EXPECT_TRUE(all.options.showLine);
}

TEST(Options, BadCommandLinesAreUsageErrors) {
    const std::vector<std::vector<std::string_view>> bad = {
        {"--bogus"},          {"stray"},         {"--as"},
        {"--as", "LPT1"},     {"--as", "COM0"},  {"--as", "COM"},
        {"--as", "COM-1"},    {"--delay"},       {"--delay", "-5"},
        {"--delay", "5ms"},   {"--delay", ""},   {"--delay", "99999999999999999999999"},
        {"--flood", "0"},     {"--flood", "-1"}, {"--flood", "1e4"},
        {"--vanish-after=x"}, {"--silent=yes"},  {"--silent", "--garbage"},
        {"--show-line=1"},
    };
    for (const auto& args : bad) {
        const auto parsed = sim::parseOptions(args);
        EXPECT_EQ(parsed.action, sim::ParsedOptions::Action::UsageError) << args[0];
        EXPECT_FALSE(parsed.error.empty()) << args[0];
    }
}

std::string linkOf(const fs::path& path) {
    std::error_code ec;
    return fs::read_symlink(path, ec).string();
}

TEST(PortAlias, CreatesReplacesStaleAndRefusesLiveAliases) {
    TempDir tmp;
    const fs::path dir = tmp.path() / "a" / "ports";
    std::string error;
    {
        auto alias = sim::PortAlias::create(dir.string(), 7, "/dev/pts/77", error);
        ASSERT_TRUE(alias) << error;
        EXPECT_EQ(linkOf(dir / "com7"), "/dev/pts/77");
    }
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir / "com7")));

    // A dangling alias is replaced and put back afterwards, unless a killed simulator left it:
    // its pty number or process id may belong to someone else by then.
    const struct {
        std::string previous;
        bool putBack;
    } dangling[] = {{(tmp.path() / "gone").string(), true},
                    {"/dev/pts/98765", false},
                    {"/proc/2147483646/fd/4", false}};
    for (const auto& c : dangling) {
        SCOPED_TRACE(c.previous);
        fs::create_symlink(c.previous, dir / "com2");
        auto stale = sim::PortAlias::create(dir.string(), 2, "/proc/1/fd/5", error);
        ASSERT_TRUE(stale) << error;
        EXPECT_TRUE(stale->replacedDangling());
        EXPECT_EQ(linkOf(dir / "com2"), "/proc/1/fd/5");
        stale.reset();
        EXPECT_EQ(linkOf(dir / "com2"), c.putBack ? c.previous : "");
        fs::remove(dir / "com2");
    }

    fs::create_symlink("/dev/null", dir / "com3");
    EXPECT_FALSE(sim::PortAlias::create(dir.string(), 3, "/dev/pts/5", error));
    EXPECT_NE(error.find("/dev/null"), std::string::npos);
    EXPECT_EQ(linkOf(dir / "com3"), "/dev/null");

    std::ofstream(dir / "com4") << "not a link";
    EXPECT_FALSE(sim::PortAlias::create(dir.string(), 4, "/dev/pts/5", error));
    EXPECT_TRUE(fs::is_regular_file(dir / "com4"));
}

TEST(PortAlias, LeavesAnAliasThatWasTakenOver) {
    TempDir tmp;
    std::string error;
    auto alias = sim::PortAlias::create(tmp.path().string(), 1, "/dev/pts/8", error);
    ASSERT_TRUE(alias) << error;
    fs::remove(tmp.path() / "com1");
    fs::create_symlink("/dev/pts/9", tmp.path() / "com1");
    alias->remove();
    EXPECT_EQ(linkOf(tmp.path() / "com1"), "/dev/pts/9");
}

// The built simulator, run as a user would run it, with its own configuration directory.
class SimProcess {
public:
    SimProcess(const std::vector<std::string>& options, const fs::path& configHome) {
        std::vector<std::string> args = {KOLVANE_SIM_PATH};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<std::string> env = {"XDG_CONFIG_HOME=" + configHome.string()};
        for (char** e = environ; *e != nullptr; ++e) {
            if (std::strncmp(*e, "XDG_CONFIG_HOME=", 16) != 0) {
                env.emplace_back(*e);
            }
        }
        std::vector<char*> argv, envp;
        for (auto& a : args) {
            argv.push_back(a.data());
        }
        for (auto& e : env) {
            envp.push_back(e.data());
        }
        argv.push_back(nullptr);
        envp.push_back(nullptr);
        int fds[2];
        if (::pipe(fds) != 0) {
            return;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 2);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        posix_spawn_file_actions_addclose(&actions, fds[1]);
        if (::posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        out_ = Fd(fds[0]);
    }
    ~SimProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    pid_t pid() const { return pid_; }

    std::string readLine(std::chrono::milliseconds timeout = 5s) {
        const auto deadline = Clock::now() + timeout;
        std::string line;
        char c = 0;
        while (Clock::now() < deadline) {
            pollfd pfd{out_.get(), POLLIN, 0};
            if (::poll(&pfd, 1, 50) == 1 && ::read(out_.get(), &c, 1) == 1) {
                if (c == '\n') {
                    return line;
                }
                line += c;
            }
        }
        return line;
    }

    // The exit status, or nothing if the simulator is still running after `timeout`.
    std::optional<int> waitExit(std::chrono::milliseconds timeout = 5s) {
        const auto deadline = Clock::now() + timeout;
        int status = 0;
        while (Clock::now() < deadline) {
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            ::poll(nullptr, 0, 10);
        }
        return std::nullopt;
    }

private:
    pid_t pid_ = -1;
    Fd out_;
};

std::string slavePathFrom(const std::string& firstLine) {
    const std::string prefix = "kolvane-sim: device on ";
    if (firstLine.rfind(prefix, 0) != 0) {
        return {};
    }
    const std::string rest = firstLine.substr(prefix.size());
    return rest.substr(0, rest.find(' '));
}

struct Received {
    Bytes values;
    std::vector<Clock::time_point> times;
};

// Reads `count` bytes, noting when each arrived.
Received readTimed(int fd, std::size_t count) {
    Received got;
    const auto deadline = Clock::now() + 5s;
    while (got.values.size() < count && Clock::now() < deadline) {
        pollfd pfd{fd, POLLIN, 0};
        std::uint8_t b = 0;
        if (::poll(&pfd, 1, 50) == 1 && ::read(fd, &b, 1) == 1) {
            got.values.push_back(b);
            got.times.push_back(Clock::now());
        }
    }
    return got;
}

bool writeAll(int fd, const std::string& text) {
    return ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

TEST(SimProcess, AnswersKeysAndTheProbeEachAsItsOwnMessage) {
    TempDir config;
    SimProcess sim({}, config.path());
    ASSERT_GT(sim.pid(), 0);
    const std::string path = slavePathFrom(sim.readLine());
    ASSERT_FALSE(path.empty());
    Fd line(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_GE(line.get(), 0) << path;

    ASSERT_TRUE(writeAll(line.get(), "G45g\n"));
    EXPECT_EQ(readTimed(line.get(), 1).values, Bytes{0x45});
    ASSERT_TRUE(writeAll(line.get(), "GFEg\n"));
    EXPECT_EQ(readTimed(line.get(), 5).values, bytes("gEFG\n"));

    // Sent together, answered apart: the program's 100 ms poll must see a quiet spell.
    ASSERT_TRUE(writeAll(line.get(), "G46g\nG4Ag\n"));
    const Received two = readTimed(line.get(), 2);
    ASSERT_EQ(two.values, (Bytes{0x46, 0x4A}));
    EXPECT_GE(two.times[1] - two.times[0], 200ms);
}

// What a program at the other end sets is shown before the frames it then sends, once per
// change; a pty keeps the speed and stop bits but not the data bits or parity.
TEST(SimProcess, ShowsTheLineSettingsWhenTheyChange) {
    TempDir config;
    SimProcess sim({"--show-line"}, config.path());
    const std::string path = slavePathFrom(sim.readLine());
    EXPECT_EQ(sim.readLine().rfind("line ", 0), 0u);
    Fd line(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_GE(line.get(), 0) << path;
    const struct {
        speed_t speed;
        tcflag_t flags;
        std::string shown;  // empty: no change to show
    } steps[] = {
        {B19200, 0, "line 19200 8N1"},
        {B19200, 0, ""},
        {B115200, CSTOPB, "line 115200 8N2"},
        {B4800, CS7 | PARENB, "line 4800 8N1"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.speed);
        termios settings{};
        ASSERT_EQ(::tcgetattr(line.get(), &settings), 0);
        ::cfmakeraw(&settings);
        settings.c_cflag = (settings.c_cflag & ~(CSIZE | CSTOPB | PARENB)) | CS8 | step.flags;
        ASSERT_EQ(::cfsetspeed(&settings, step.speed), 0);
        ASSERT_EQ(::tcsetattr(line.get(), TCSANOW, &settings), 0);
        ASSERT_TRUE(writeAll(line.get(), "G45g\n"));
        if (!step.shown.empty()) {
            EXPECT_EQ(sim.readLine(), step.shown);
        }
        EXPECT_EQ(sim.readLine().rfind("rx \"G45g\\n\"", 0), 0u);
        EXPECT_EQ(sim.readLine(), "tx \"E\" 45");
    }
}

// However the simulator ends, even killed outright, its alias no longer leads to the pty,
// whose number the kernel soon gives to someone's terminal.
TEST(SimProcess, AliasLeadsToTheSimulatorOnlyWhileItLives) {
    for (const int signal : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(signal == SIGTERM ? "SIGTERM" : "SIGKILL");
        TempDir config;
        const fs::path alias = config.path() / "kolvane" / "ports" / "com7";
        SimProcess sim({"--as", "COM7"}, config.path());
        const std::string first = sim.readLine();
        EXPECT_NE(first.find(" as COM7"), std::string::npos) << first;
        EXPECT_EQ(linkOf(alias).rfind("/proc/" + std::to_string(sim.pid()) + "/fd/", 0), 0u);
        std::error_code ec;
        ASSERT_EQ(fs::canonical(alias, ec).string(), slavePathFrom(first));
        ASSERT_EQ(::kill(sim.pid(), signal), 0);
        sim.waitExit();
        EXPECT_FALSE(fs::exists(alias));
        EXPECT_EQ(fs::exists(fs::symlink_status(alias)), signal == SIGKILL);
    }
}

TEST(SimProcess, VanishingHangsUpTheLineAndRemovesTheAlias) {
    TempDir config;
    const fs::path alias = config.path() / "kolvane" / "ports" / "com4";
    SimProcess sim({"--as", "com4", "--vanish-after", "300"}, config.path());
    const std::string path = slavePathFrom(sim.readLine());
    Fd line(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    ASSERT_GE(line.get(), 0) << path;
    std::error_code ec;
    EXPECT_EQ(fs::canonical(alias, ec).string(), path);

    bool hungUp = false;
    for (const auto deadline = Clock::now() + 5s; !hungUp && Clock::now() < deadline;) {
        pollfd pfd{line.get(), POLLIN, 0};
        std::uint8_t b = 0;
        hungUp =
            ::poll(&pfd, 1, 50) == 1 && (pfd.revents & POLLHUP || ::read(line.get(), &b, 1) <= 0);
    }
    EXPECT_TRUE(hungUp);
    EXPECT_EQ(sim.waitExit(), 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(alias)));
}

TEST(SimProcess, ExitStatuses) {
    TempDir config;
    const fs::path ports = config.path() / "kolvane" / "ports";
    fs::create_directories(ports);
    fs::create_symlink("/dev/null", ports / "com5");
    const struct {
        std::vector<std::string> options;
        int status;
        std::string firstLine;  // what the first line starts with; unchecked when empty
    } cases[] = {
        {{"--help"}, 0, "usage: kolvane-sim "},
        {{"--version"}, 0, "kolvane-sim " KOLVANE_VERSION},
        {{"--bogus"}, 2, ""},
        {{"--delay", "-5"}, 2, ""},
        {{"--flood", "x"}, 2, ""},
        {{"--as", "LPT1"}, 2, ""},
        {{"--as", "COM5"}, 1, ""},
        {{"--vanish-after", "0"}, 0, ""},
    };
    for (const auto& c : cases) {
        SimProcess sim(c.options, config.path());
        if (!c.firstLine.empty()) {
            EXPECT_EQ(sim.readLine().rfind(c.firstLine, 0), 0u) << c.options[0];
        }
        EXPECT_EQ(sim.waitExit(), c.status) << c.options[0];
    }
    EXPECT_EQ(linkOf(ports / "com5"), "/dev/null");
}

}  // namespace
