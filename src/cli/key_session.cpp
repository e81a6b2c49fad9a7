#include "cli/key_session.h"

#include <QEventLoop>
#include <optional>
#include <string>

#include "cli/exit_status.h"
#include "cli/output.h"
#include "control/answer_text.h"
#include "control/local_server.h"
#include "control/owner_client.h"
#include "serial/open_error.h"
#include "serial/serial_link.h"
#include "session/session.h"
#include "version.h"

namespace cli {

namespace {

using session::Answer;
using session::Request;

// A message ends at a poll that finds nothing waiting, as in the window; polling faster than
// its 100 ms only makes the answer known sooner, since a device sends a message in one go.
constexpr std::chrono::milliseconds kPollInterval{20};
// How long an answer through an owner may wait behind other programs' requests.
constexpr std::chrono::seconds kQueueSlack{30};

Request requestFor(const Command& command, const Options& options) {
    Request request;
    request.wait = options.wait;
    if (command.hotspot != 0) {
        request.kind = Request::Kind::Key;
        request.hotspot = command.hotspot;
    } else {
        request.kind = Request::Kind::Text;
        request.text = command.text;
    }
    return request;
}

std::string failureLine(const Answer& answer, const Options& options, const Command& command) {
    const std::string within = " within " + std::to_string(options.wait.count()) + " ms";
    const std::string noAnswer = "no answer to " + command.label + " from " + options.port;
    switch (answer.outcome) {
        case Answer::Outcome::Gone:
            return options.port + " has gone (unplugged?) after " + command.label + " was sent";
        case Answer::Outcome::StillSending:
            return noAnswer + within + ": the device was still sending";
        case Answer::Outcome::Meaningless:
            return noAnswer + within + ": only bytes that are no key and no text";
        case Answer::Outcome::PortClosed:
            return options.port + " was switched off before " + command.label + " had its answer";
        case Answer::Outcome::Busy:
            return "the owner of " + options.port + " has too many requests waiting; " +
                   command.label + " was not sent";
        case Answer::Outcome::Silent:
        case Answer::Outcome::Answered:
            break;
    }
    return noAnswer + within;
}

// Prints one key's outcome; false when it had no answer.
bool report(const Answer& answer, const Command& command, const Options& options, std::ostream& out,
            std::ostream& err) {
    KeyResult result{command.label,
                     std::string(command.frame.bytes.begin(), command.frame.bytes.end()),
                     std::nullopt, answer.ms.count()};
    if (answer.outcome == Answer::Outcome::Answered) {
        result.answer = answer.text;
    }
    printResult(out, result, options.json);
    if (!result.answer) {
        err << "kolvane-send: " << failureLine(answer, options, command) << '\n';
        return false;
    }
    return true;
}

int sendThroughOwner(control::OwnerClient& owner, const Options& options, std::ostream& out,
                     std::ostream& err) {
    for (const Command& command : options.commands) {
        const std::optional<Answer> answer =
            owner.ask(requestFor(command, options), std::chrono::milliseconds(kQueueSlack));
        if (!answer) {
            err << "kolvane-send: lost the program that holds " << options.port << " ("
                << owner.greeting().program << ") before " << command.label << " had its answer\n";
            return kNoAnswer;
        }
        if (!report(*answer, command, options, out, err)) {
            return kNoAnswer;
        }
    }
    return kAllAnswered;
}

int sendOnOwnPort(const Options& options, std::ostream& out, std::ostream& err) {
    session::Session line(nullptr, kPollInterval);
    line.setBaudRate(options.baud);
    line.setPortText(options.port);
    // While it holds the port, others reach the device through it.
    control::LocalServer server(line, "kolvane-send " KOLVANE_VERSION);
    if (!line.switchOn()) {
        const auto& error = line.link().lastOpenError();
        err << "kolvane-send: "
            << (error ? serial::describe(*error) : "cannot open " + options.port) << '\n';
        return kPortDidNotOpen;
    }
    for (const Command& command : options.commands) {
        Request request = requestFor(command, options);
        // Whatever came before, a late answer to the previous key say, is not this key's.
        request.discardFirst = true;
        Answer answer;
        QEventLoop loop;
        line.request(request, [&](const Answer& a) {
            answer = a;
            loop.quit();
        });
        loop.exec();
        if (!report(answer, command, options, out, err)) {
            return kNoAnswer;
        }
    }
    return kAllAnswered;
}

}  // namespace

int sendKeys(const Options& options, std::ostream& out, std::ostream& err) {
    control::OwnerClient::Lookup owner =
        control::OwnerClient::find(serial::portPathFor(options.port));
    if (owner.client) {
        return sendThroughOwner(*owner.client, options, out, err);
    }
    if (!owner.refusal.empty()) {
        err << "kolvane-send: " << options.port << " is held by another program, and "
            << owner.refusal << '\n';
        return kNoAnswer;
    }
    return sendOnOwnPort(options, out, err);
}

int showOwner(const Options& options, std::ostream& out) {
    const control::OwnerClient::Lookup owner =
        control::OwnerClient::find(serial::portPathFor(options.port));
    if (!owner.client) {
        out << (options.json ? "{\"port\":" + control::jsonString(options.port) + ",\"owner\":null}"
                             : "no program holds " + options.port)
            << '\n';
        return kNoAnswer;
    }
    const control::Greeting& g = owner.client->greeting();
    if (options.json) {
        out << "{\"port\":" << control::jsonString(options.port)
            << ",\"owner\":" << control::jsonString(g.program) << ",\"pid\":" << g.pid << "}\n";
    } else {
        out << options.port << " is held by " << g.program << " (process " << g.pid << ")\n";
    }
    return kAllAnswered;
}

}  // namespace cli
