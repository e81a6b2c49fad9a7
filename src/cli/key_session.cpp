#include "cli/key_session.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "cli/exit_status.h"
#include "cli/output.h"
#include "cli/port.h"
#include "remote/command_sender.h"
#include "remote/receiver.h"
#include "serial/open_error.h"
#include "serial/pause.h"
#include "serial/serial_link.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;

// A message ends at a poll that finds nothing waiting, as in the window; polling faster than
// its 100 ms only makes the answer known sooner, since a device sends a message in one go.
constexpr std::chrono::milliseconds kPollInterval{20};

struct Wait {
    enum class Outcome { Answered, Silent, Meaningless, StillSending, Gone };
    Outcome outcome;
    std::string answer;
};

Wait awaitAnswer(serial::SerialLink& link, Clock::time_point deadline) {
    remote::ReceiveState rx;
    bool heardBytes = false;
    for (;;) {
        const std::optional<std::size_t> waiting = link.waitingBytes();
        if (!waiting) {
            return {Wait::Outcome::Gone, {}};
        }
        heardBytes = heardBytes || *waiting > 0;
        std::optional<std::string> answer;
        remote::pollReceiver(link, rx, [&](const remote::Message& message) {
            // A message ended by a full buffer, not by a quiet line, is the middle of a
            // flood rather than an answer.
            if (*waiting == 0 && !answer) {
                answer = std::string(message.text);
            }
        });
        if (answer) {
            return {Wait::Outcome::Answered, std::move(*answer)};
        }
        const Clock::time_point now = Clock::now();
        if (now >= deadline) {
            if (rx.RxCount() > 0) {
                return {Wait::Outcome::StillSending, {}};
            }
            return {heardBytes ? Wait::Outcome::Meaningless : Wait::Outcome::Silent, {}};
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(kPollInterval, deadline - now));
    }
}

std::string failureLine(const Wait& wait, const Options& options, const Command& command) {
    const std::string within = " within " + std::to_string(options.wait.count()) + " ms";
    const std::string noAnswer = "no answer to " + command.label + " from " + options.port;
    switch (wait.outcome) {
        case Wait::Outcome::Gone:
            return options.port + " has gone (unplugged?) after " + command.label + " was sent";
        case Wait::Outcome::StillSending:
            return noAnswer + within + ": the device was still sending";
        case Wait::Outcome::Meaningless:
            return noAnswer + within + ": only bytes that are no key and no text";
        case Wait::Outcome::Silent:
        case Wait::Outcome::Answered:
            break;
    }
    return noAnswer + within;
}

}  // namespace

int sendKeys(const Options& options, std::ostream& out, std::ostream& err) {
    serial::SerialLink link;
    if (!openPort(link, options.port, options.baud)) {
        const auto& error = link.lastOpenError();
        err << "kolvane-send: "
            << (error ? serial::describe(*error) : "cannot open " + options.port) << '\n';
        return kPortDidNotOpen;
    }
    remote::CommandSender sender(link, serial::pauseOneMillisecond);
    for (const Command& command : options.commands) {
        // Whatever came before, a late answer to the previous key say, is not this key's.
        link.discardInput();
        sender.sendFrame(command.frame);
        const Clock::time_point sent = Clock::now();
        const Wait wait = awaitAnswer(link, sent + options.wait);
        KeyResult result{
            command.label, std::string(command.frame.bytes.begin(), command.frame.bytes.end()),
            std::nullopt,
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - sent).count()};
        if (wait.outcome == Wait::Outcome::Answered) {
            result.answer = wait.answer;
        }
        printResult(out, result, options.json);
        if (!result.answer) {
            err << "kolvane-send: " << failureLine(wait, options, command) << '\n';
            return kNoAnswer;
        }
    }
    return kAllAnswered;
}

}  // namespace cli
