#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace control {

// Where a server listens: an IP address as text ("127.0.0.1", "::1", "0.0.0.0") and a port,
// 0 for any free one.
struct ListenAddress {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;
};

// "127.0.0.1:8470", "[::1]:8470": the host as people and URLs write it, on `port`.
inline std::string addressText(const ListenAddress& address, std::uint16_t port) {
    const bool v6 = address.host.find(':') != std::string::npos;
    return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(port);
}

// What the network side asks of the program. Called on the network thread; an implementation
// hands each call over to the thread that owns the session, in the order they came, and calls
// `reply` exactly once, from any thread.
class ApiHandler {
public:
    struct HttpReply {
        unsigned status = 200;
        std::string body;  // JSON
    };
    struct LineReply {
        std::string line;  // without its line feed
        bool close = false;
        bool watch = false;  // from now on the connection also gets every event
    };

    virtual ~ApiHandler() = default;
    // `target` is the request target as sent, query included.
    virtual void http(std::string method, std::string target, std::string body,
                      std::function<void(HttpReply)> reply) = 0;
    virtual void line(std::string line, std::function<void(LineReply)> reply) = 0;
    // The full state as JSON, which a WebSocket client is sent first.
    virtual void state(std::function<void(std::string)> reply) = 0;
};

struct ServerSettings {
    std::optional<ListenAddress> http;  // HTTP, and WebSocket on /api/v1/events
    std::optional<ListenAddress> tcp;   // one request a line
    std::optional<std::string> token;   // wanted from every caller when set
};

// HTTP, WebSocket and TCP lines for an ApiHandler, on one thread of its own. Bounds every size,
// count and silence, refuses callers without the token and requests a web page could have
// made, and never waits on the handler.
class NetServer {
public:
    static constexpr std::size_t kMaxHeaderBytes = 8 * 1024;
    static constexpr std::size_t kMaxBodyBytes = 4 * 1024;
    static constexpr std::size_t kMaxLineBytes = 1024;
    static constexpr std::size_t kMaxConnections = 32;
    static constexpr std::size_t kMaxQueuedRequests = 64;
    static constexpr int kIdleSeconds = 30;

    // Listens on what `settings` asks for, then starts the network thread; throws
    // std::runtime_error saying which address could not be used and why.
    NetServer(const ServerSettings& settings, ApiHandler& handler);
    ~NetServer();
    NetServer(const NetServer&) = delete;
    NetServer& operator=(const NetServer&) = delete;

    // The ports listened on, as bound (0 where that server is not asked for).
    std::uint16_t httpPort() const;
    std::uint16_t tcpPort() const;

    // From any thread: one event to every WebSocket client, as `json`, and to every TCP client
    // that watches, as "EVENT " + `line`.
    void broadcast(std::string json, std::string line);

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace control
