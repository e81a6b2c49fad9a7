#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "control/api_request.h"
#include "control/net_server.h"
#include "session/session.h"

namespace control {

// Serves a session over HTTP, WebSocket and TCP lines. The network thread hands each request
// over to the session's thread as a queued event, so they are taken in the order they came
// and the session is touched from its own thread only; what the session reports goes out to
// every listener as an event.
class ApiService : public QObject, public ApiHandler, private session::Watcher {
public:
    // `program` is what the state says serves it: "kolvane 1.0". Throws std::runtime_error
    // when a server cannot listen.
    ApiService(session::Session& session, std::string program, const ServerSettings& settings,
               QObject* parent = nullptr);
    ~ApiService() override;

    std::uint16_t httpPort() const { return net_->httpPort(); }
    std::uint16_t tcpPort() const { return net_->tcpPort(); }
    // Where it listens, one line a server, to be told to the user: "HTTP API on
    // http://127.0.0.1:8470/api/v1/", "TCP lines on 127.0.0.1:8471".
    std::vector<std::string> addresses() const;

    void http(std::string method, std::string target, std::string body,
              std::function<void(HttpReply)> reply) override;
    void line(std::string line, std::function<void(LineReply)> reply) override;
    void state(std::function<void(std::string)> reply) override;

private:
    // What became of a request, before it is put as JSON or as a line.
    struct Result {
        unsigned status = 200;
        std::string error;       // when not 200
        session::Answer answer;  // Key and Text
    };
    using Done = std::function<void(const Result&)>;

    void serveHttp(const std::string& method, const std::string& target, const std::string& body,
                   const std::function<void(HttpReply)>& reply);
    void serveLine(const std::string& line, const std::function<void(LineReply)>& reply);
    void perform(const ApiRequest& request, Done done);
    void send(const ApiRequest& request, Done done);
    void switchPort(bool open, const Done& done);
    void search(Done done);

    std::string stateFields() const;
    std::string httpBody(const ApiRequest& request, const Result& result) const;
    std::string replyLine(const ApiRequest& request, const Result& result) const;
    void tell(const std::string& json, const std::string& line);

    void logLine(std::string_view line) override;
    void portSwitched(bool on) override;
    void openFailed() override;
    void messageFinished(const remote::Message& message) override;
    void searchEnded(const std::optional<std::string>& port) override;

    session::Session& session_;
    std::string program_;
    ServerSettings settings_;
    std::set<std::uint64_t> requests_;  // out at the session for a caller
    std::vector<Done> searchWaiters_;
    std::unique_ptr<NetServer> net_;  // last: it calls in as soon as it listens
};

}  // namespace control
