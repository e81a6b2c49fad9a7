// The session on its own, without a window: the device is a pty the test plays.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>
#include <chrono>
#include <stdexcept>

#include "oracle/keys.h"
#include "pty_device.h"
#include "session/session.h"
#include "support/wait_for.h"

namespace {

using session::Answer;
using session::Request;
using testing_support::PtyDevice;
using testing_support::waitFor;
using namespace std::chrono_literals;

// Everything a session reports, as lines; it can be made to throw on log lines.
struct Recorder : session::Watcher {
    std::vector<std::string> events;
    bool throwOnLog = false;

    void logLine(std::string_view line) override {
        events.push_back("log " + std::string(line));
        if (throwOnLog) {
            throw std::runtime_error("log is full");
        }
    }
    void portSwitched(bool on) override { events.push_back(on ? "on" : "off"); }
    void openFailed() override { events.push_back("open failed"); }
    void commandTextChanged(const std::string& text) override { events.push_back("cmd " + text); }
};

int hotspotOf(const std::string& hint) {
    for (const auto& key : oracle::keys()) {
        if (key.hint == hint) {
            return key.hotspot;
        }
    }
    return 0;
}

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        line.setBaudRate(9600);
        line.addWatcher(&recorder);
        line.setErrorHandler([this](std::exception_ptr) { ++errors; });
    }

    void switchOnTo(const PtyDevice& device) {
        line.setPortText(device.path());
        ASSERT_TRUE(line.switchOn());
    }

    // Queues a request; the answer lands in `answers`.
    void ask(Request r) {
        line.request(r, [this](const Answer& a) { answers.push_back(a); });
    }
    static Request key(const std::string& hint, std::chrono::milliseconds wait = 2000ms) {
        Request r;
        r.hotspot = hotspotOf(hint);
        r.wait = wait;
        return r;
    }

    // What reaches the device, `n` bytes or whatever came within `within`, with the
    // session's events running meanwhile.
    static std::string received(PtyDevice& device, std::size_t n,
                                std::chrono::milliseconds within = 1000ms) {
        std::string got;
        waitFor(
            [&] {
                const auto bytes = device.drain();
                got.append(bytes.begin(), bytes.end());
                return got.size() >= n;
            },
            within);
        return got;
    }

    testing_support::PortAliases aliases;
    session::Session line{nullptr, 20ms};
    Recorder recorder;
    std::vector<Answer> answers;
    int errors = 0;
};

// Three requests go out one at a time, each only once the one before has its answer; a
// message meant for no request is logged and nothing more.
TEST_F(SessionTest, RequestsGoOutOneAtATimeAndTakeOnlyTheirOwnAnswers) {
    PtyDevice device;
    switchOnTo(device);
    ask(key("POWER_ON/OFF"));
    ask(key("4CH_Show"));
    Request typed;
    typed.kind = Request::Kind::Text;
    typed.text = "Hi";
    ask(typed);

    ASSERT_EQ(received(device, 5), "G45g\n");
    EXPECT_EQ(received(device, 1, 150ms), "") << "the second frame went out unanswered";
    device.send(std::vector<std::uint8_t>{0x08});  // another key's answer: log only
    ASSERT_TRUE(waitFor([&] { return recorder.events.back() == "log _IR_KEY_4CH_Show"; }));
    EXPECT_TRUE(answers.empty());
    device.send(std::vector<std::uint8_t>{0x45});
    ASSERT_EQ(received(device, 5), "G08g\n");
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].text, "KEY_POWER_ON/OFF");
    EXPECT_EQ(answers[0].sent, "G45g\n");
    device.send(std::vector<std::uint8_t>{0x08});
    ASSERT_EQ(received(device, 5), std::string("Hi\0\0\n", 5));
    device.send("any text\n");  // a typed command takes whatever comes first
    ASSERT_TRUE(waitFor([&] { return answers.size() == 3; }));
    EXPECT_EQ(answers[2].text, "any text\n");
    EXPECT_EQ(line.commandText(), "Hi");
    EXPECT_EQ(*line.lastMessage(), "any text\n");
}

TEST_F(SessionTest, RequestWithoutAnAnswerSaysWhy) {
    const struct {
        const char* name;
        std::function<void(PtyDevice&, session::Session&)> meanwhile;
        Answer::Outcome outcome;
    } cases[] = {
        {"silent", [](PtyDevice&, session::Session&) {}, Answer::Outcome::Silent},
        {"a byte that is no key",
         [](PtyDevice& d, session::Session&) { d.send(std::vector<std::uint8_t>{0x01}); },
         Answer::Outcome::Meaningless},
        {"still sending",
         [](PtyDevice& d, session::Session&) {
             for (int i = 0; i < 30; ++i) {
                 d.send("xxxxxxxxxx");
                 waitFor([] { return false; }, 10ms);
             }
         },
         Answer::Outcome::StillSending},
        {"switched off", [](PtyDevice&, session::Session& s) { s.switchOff(); },
         Answer::Outcome::PortClosed},
        {"unplugged", [](PtyDevice& d, session::Session&) { d.vanish(); }, Answer::Outcome::Gone},
    };
    for (const auto& c : cases) {
        PtyDevice device;
        switchOnTo(device);
        answers.clear();
        ask(key("POWER_ON/OFF", 250ms));
        ASSERT_EQ(received(device, 5), "G45g\n") << c.name;
        c.meanwhile(device, line);
        ASSERT_TRUE(waitFor([&] { return answers.size() == 1; })) << c.name;
        EXPECT_EQ(int(answers[0].outcome), int(c.outcome)) << c.name;
        line.switchOff();
    }
    // A request that comes after the port closed is told how it closed.
    ask(key("POWER_ON/OFF"));
    ASSERT_TRUE(waitFor([&] { return answers.size() == 2; }));
    EXPECT_EQ(int(answers[1].outcome), int(Answer::Outcome::PortClosed));
    PtyDevice vanishing;
    switchOnTo(vanishing);
    vanishing.vanish();
    ASSERT_TRUE(waitFor([&] { return !line.link().ComOpened(); }));
    ask(key("POWER_ON/OFF"));
    ASSERT_TRUE(waitFor([&] { return answers.size() == 3; }));
    EXPECT_EQ(int(answers[2].outcome), int(Answer::Outcome::Gone));
}

TEST_F(SessionTest, QueueIsBoundedAndTheOverflowIsToldSo) {
    PtyDevice device;
    switchOnTo(device);
    for (std::size_t i = 0; i <= session::Session::kMaxQueuedRequests; ++i) {
        ask(key("POWER_ON/OFF", 20ms));
    }
    ASSERT_TRUE(waitFor([&] { return !answers.empty(); }));
    EXPECT_EQ(int(answers[0].outcome), int(Answer::Outcome::Busy));
    ASSERT_TRUE(waitFor([&] { return answers.size() == session::Session::kMaxQueuedRequests + 1; },
                        5000ms));
}

// What a watcher throws goes to the error handler; the message is not shown twice, and the
// line is still read afterwards.
TEST_F(SessionTest, WatcherThatThrowsStopsNeitherTheLineNorItsPolls) {
    PtyDevice device;
    switchOnTo(device);
    recorder.throwOnLog = true;
    device.send(std::vector<std::uint8_t>{0x45});
    ASSERT_TRUE(waitFor([&] { return errors == 1; }));
    recorder.throwOnLog = false;
    waitFor([] { return false; }, 200ms);
    device.send(std::vector<std::uint8_t>{0x08});
    ASSERT_TRUE(waitFor([&] { return recorder.events.back() == "log _IR_KEY_4CH_Show"; }));
    EXPECT_EQ(std::count(recorder.events.begin(), recorder.events.end(), "log KEY_POWER_ON/OFF"),
              1);
    EXPECT_EQ(errors, 1);
}

TEST_F(SessionTest, WatchersSeeTheSwitchTheBoxesAndTheReservedKey) {
    line.setPortText("/nonexistent/tty");
    EXPECT_FALSE(line.switchOn());
    PtyDevice device;
    switchOnTo(device);
    line.pressKey(6);
    line.pressKey(1);
    EXPECT_EQ(received(device, 5), "G45g\n");
    line.switchPort();
    EXPECT_EQ(recorder.events,
              (std::vector<std::string>{"log RS232 Open Error. ", "open failed", "on",
                                        "log " + device.path() + " RS232 ON", "log Reserved",
                                        "cmd G45g", "off", "log " + device.path() + " RS232 OFF"}));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
