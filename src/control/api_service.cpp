#include "control/api_service.h"

#include <exception>
#include <utility>

#include "control/answer_text.h"
#include "remote/key_table.h"
#include "serial/open_error.h"

namespace control {

namespace {

using Outcome = session::Answer::Outcome;

constexpr const char* kNotOpen = "the port is not open";

std::string waitText(std::chrono::milliseconds wait) {
    return "no answer in " + std::to_string(wait.count()) + " ms";
}

std::string namesJson(const std::vector<std::string_view>& names) {
    std::string json = "[";
    for (std::string_view name : names) {
        json += (json.size() > 1 ? "," : "") + jsonString(name);
    }
    return json + "]";
}

}  // namespace

ApiService::ApiService(session::Session& session, std::string program,
                       const ServerSettings& settings, QObject* parent)
    : QObject(parent), session_(session), program_(std::move(program)), settings_(settings) {
    session_.addWatcher(this);
    net_ = std::make_unique<NetServer>(settings, *this);
}

ApiService::~ApiService() {
    net_.reset();
    session_.removeWatcher(this);
    for (std::uint64_t id : requests_) {
        session_.cancel(id);
    }
}

std::vector<std::string> ApiService::addresses() const {
    std::vector<std::string> lines;
    if (settings_.http) {
        lines.push_back("HTTP API on http://" + addressText(*settings_.http, httpPort()) +
                        "/api/v1/");
    }
    if (settings_.tcp) {
        lines.push_back("TCP lines on " + addressText(*settings_.tcp, tcpPort()));
    }
    return lines;
}

// From the network thread: each call becomes an event on the session's thread. Posted from
// one thread to one receiver, they are handled in the order they were posted.

void ApiService::http(std::string method, std::string target, std::string body,
                      std::function<void(HttpReply)> reply) {
    QMetaObject::invokeMethod(
        this,
        [this, method = std::move(method), target = std::move(target), body = std::move(body),
         reply = std::move(reply)] {
            try {
                serveHttp(method, target, body, reply);
            } catch (const std::exception& e) {
                reply({500, errorJson(e.what())});
            }
        },
        Qt::QueuedConnection);
}

void ApiService::serveHttp(const std::string& method, const std::string& target,
                           const std::string& body, const std::function<void(HttpReply)>& reply) {
    const ParsedApiRequest parsed = parseHttpRequest(method, target, body);
    if (!parsed.request) {
        std::string json = errorJson(parsed.refusal);
        if (!parsed.names.empty()) {
            json.insert(json.size() - 1, ",\"names\":" + namesJson(parsed.names));
        }
        reply({parsed.status, std::move(json)});
        return;
    }
    const ApiRequest request = *parsed.request;
    perform(request, [this, request, reply](const Result& result) {
        reply({result.status, httpBody(request, result)});
    });
}

void ApiService::line(std::string line, std::function<void(LineReply)> reply) {
    QMetaObject::invokeMethod(
        this,
        [this, line = std::move(line), reply = std::move(reply)] {
            try {
                serveLine(line, reply);
            } catch (const std::exception& e) {
                reply({"ERR " + plainLine(e.what()), true, false});
            }
        },
        Qt::QueuedConnection);
}

void ApiService::serveLine(const std::string& line, const std::function<void(LineReply)>& reply) {
    const ParsedApiRequest parsed = parseLine(line);
    if (!parsed.request) {
        std::string text = "ERR " + parsed.refusal;
        if (!parsed.names.empty()) {
            std::string names;
            for (std::string_view name : parsed.names) {
                names += (names.empty() ? "" : ", ") + std::string(name);
            }
            text += " (nearest: " + names + ")";
        }
        // Whatever sent a line that is no request may be a browser's form post, whose
        // further lines must not be taken as keys.
        reply({plainLine(text), !parsed.wellFormed, false});
        return;
    }
    const ApiRequest request = *parsed.request;
    perform(request, [this, request, reply](const Result& result) {
        reply({replyLine(request, result), false, request.kind == ApiRequest::Kind::Watch});
    });
}

void ApiService::state(std::function<void(std::string)> reply) {
    QMetaObject::invokeMethod(
        this,
        [this, reply = std::move(reply)] { reply("{\"event\":\"state\"," + stateFields() + "}"); },
        Qt::QueuedConnection);
}

// On the session's thread.

void ApiService::perform(const ApiRequest& request, Done done) {
    switch (request.kind) {
        case ApiRequest::Kind::State:
        case ApiRequest::Kind::Keys:
        case ApiRequest::Kind::Watch:
            done({});
            return;
        case ApiRequest::Kind::Key:
        case ApiRequest::Kind::Text:
            send(request, std::move(done));
            return;
        case ApiRequest::Kind::Port:
        case ApiRequest::Kind::Search:
            // The switch and the search ignore a click meanwhile; a caller hears why.
            if (session_.opening()) {
                done({409, "the port is opening", {}});
            } else if (request.kind == ApiRequest::Kind::Port) {
                switchPort(request.open, done);
            } else {
                search(std::move(done));
            }
            return;
    }
}

void ApiService::send(const ApiRequest& request, Done done) {
    session::Request asked;
    asked.kind = request.kind == ApiRequest::Kind::Key ? session::Request::Kind::Key
                                                       : session::Request::Kind::Text;
    asked.hotspot = request.hotspot;
    asked.text = request.text;
    asked.wait = request.wait;
    auto id = std::make_shared<std::uint64_t>(0);
    *id = session_.request(asked, [this, id, wait = request.wait,
                                   done = std::move(done)](const session::Answer& answer) {
        requests_.erase(*id);
        Result result;
        result.answer = answer;
        switch (answer.outcome) {
            case Outcome::Answered:
                break;
            case Outcome::Silent:
                result = {504, waitText(wait), answer};
                break;
            case Outcome::Meaningless:
                result = {504, waitText(wait) + ": what came was no answer", answer};
                break;
            case Outcome::StillSending:
                result = {504, waitText(wait) + ": the device is still sending", answer};
                break;
            case Outcome::Gone:
                result = {409, std::string(kNotOpen) + ": the device went away", answer};
                break;
            case Outcome::PortClosed:
                result = {409, kNotOpen, answer};
                break;
            case Outcome::Busy:
                result = {429, "busy: too many requests waiting", answer};
                break;
        }
        done(result);
    });
    requests_.insert(*id);
}

void ApiService::switchPort(bool open, const Done& done) {
    if (open == session_.link().ComOpened()) {
        done({});
        return;
    }
    if (!open) {
        session_.switchOff();
        done({});
        return;
    }
    if (session_.switchOn()) {
        done({});
        return;
    }
    const auto& error = session_.link().lastOpenError();
    done({409, error ? serial::describe(*error) : "cannot open " + session_.portText(), {}});
}

void ApiService::search(Done done) {
    if (!session_.searching() && session_.link().ComOpened()) {
        // The search button only switches an open port off.
        session_.startSearch();
        done({409, "the port was open: the search switched it off; search again to scan", {}});
        return;
    }
    if (!session_.searching()) {
        session_.startSearch();
    }
    searchWaiters_.push_back(std::move(done));
}

void ApiService::searchEnded(const std::optional<std::string>& port) {
    std::vector<Done> waiters;
    waiters.swap(searchWaiters_);
    for (const Done& done : waiters) {
        if (port) {
            done({});
        } else {
            done({404, "no device found on COM1 to COM20", {}});
        }
    }
}

std::string ApiService::stateFields() const {
    const auto& answer = session_.lastMessage();
    return "\"port\":" + jsonString(session_.portText()) +
           ",\"open\":" + (session_.link().ComOpened() ? "true" : "false") +
           ",\"answer\":" + (answer ? jsonString(*answer) : "null") +
           ",\"program\":" + jsonString(program_);
}

std::string ApiService::httpBody(const ApiRequest& request, const Result& result) const {
    const session::Answer& answer = result.answer;
    const bool answered = answer.outcome == Outcome::Answered;
    switch (request.kind) {
        case ApiRequest::Kind::Key:
        case ApiRequest::Kind::Text: {
            if (result.status != 200 && result.status != 504) {
                return errorJson(result.error);
            }
            std::string json =
                request.kind == ApiRequest::Kind::Key
                    ? resultJson(remote::keyByHotspot(request.hotspot).hint, answer.sent,
                                 answered ? std::optional<std::string>(answer.text) : std::nullopt,
                                 answer.ms.count())
                    : "{\"text\":" + jsonString(request.text) +
                          ",\"sent\":" + jsonString(answer.sent) +
                          ",\"answer\":" + (answered ? jsonString(answer.text) : "null") +
                          ",\"ms\":" + std::to_string(answer.ms.count()) + "}";
            if (result.status != 200) {
                json.insert(1, "\"error\":" + jsonString(result.error) + ",");
            }
            return json;
        }
        case ApiRequest::Kind::Keys: {
            std::string json = "[";
            for (const remote::RemoteKey& key : remote::RemoteKeyTable) {
                json += (json.size() > 1 ? "," : "") + keyJson(key);
            }
            return json + "]";
        }
        case ApiRequest::Kind::State:
        case ApiRequest::Kind::Port:
        case ApiRequest::Kind::Search:
        case ApiRequest::Kind::Watch:
            break;
    }
    return result.status == 200 ? "{" + stateFields() + "}" : errorJson(result.error);
}

std::string ApiService::replyLine(const ApiRequest& request, const Result& result) const {
    if (result.status != 200) {
        return "ERR " + plainLine(result.error);
    }
    switch (request.kind) {
        case ApiRequest::Kind::Key:
        case ApiRequest::Kind::Text:
            return plainLine(result.answer.text);
        case ApiRequest::Kind::Search:
            return "FOUND " + plainLine(session_.portText());
        case ApiRequest::Kind::Watch:
            return "OK";
        case ApiRequest::Kind::Keys:
        case ApiRequest::Kind::State:
        case ApiRequest::Kind::Port:
            break;
    }
    return (session_.link().ComOpened() ? "ON " : "OFF ") + plainLine(session_.portText());
}

// Events.

void ApiService::tell(const std::string& json, const std::string& line) {
    net_->broadcast("{\"event\":" + json + "}", line);
}

void ApiService::logLine(std::string_view line) {
    tell("\"log\",\"line\":" + jsonString(line), "log " + plainLine(line));
}

void ApiService::portSwitched(bool on) {
    const char* reason = !on && session_.lastCloseWasGone() ? "gone" : "switch";
    tell(std::string("\"port\",\"open\":") + (on ? "true" : "false") +
             ",\"port\":" + jsonString(session_.portText()) + ",\"reason\":\"" + reason + "\"",
         std::string("port ") + (on ? "on " : "off ") + plainLine(session_.portText()) +
             (on ? "" : std::string(" ") + reason));
}

void ApiService::openFailed() {
    const auto& error = session_.link().lastOpenError();
    const std::string why =
        "error: " + (error ? serial::describe(*error) : "cannot open " + session_.portText());
    tell("\"port\",\"open\":false,\"port\":" + jsonString(session_.portText()) +
             ",\"reason\":" + jsonString(why),
         "port off " + plainLine(session_.portText()) + " " + plainLine(why));
}

void ApiService::messageFinished(const remote::Message& message) {
    tell("\"answer\",\"answer\":" + jsonString(message.text), "answer " + plainLine(message.text));
}

}  // namespace control
