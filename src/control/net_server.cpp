#include "control/net_server.h"

#include "control/answer_text.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/streambuf.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <deque>
#include <sstream>
#include <stdexcept>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

namespace control {

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Request = http::request<http::string_body>;
using Response = http::response<http::string_body>;

// Messages waiting for one slow client before it is dropped.
constexpr std::size_t kMaxQueuedMessages = 256;
constexpr auto kIdle = std::chrono::seconds(NetServer::kIdleSeconds);
// How long a closing connection's last words get to reach a peer that is still sending.
constexpr auto kLinger = std::chrono::seconds(2);
constexpr std::string_view kEventsPath = "/api/v1/events";

std::string_view view(beast::string_view text) {
    return {text.data(), text.size()};
}

std::string lowered(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = char(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

bool sameNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && lowered(a) == lowered(b);
}

// Takes as long whatever `given` is, so that timing tells nothing of the secret.
bool sameSecret(std::string_view given, std::string_view secret) {
    const std::size_t n = std::max(given.size(), secret.size());
    unsigned diff = given.size() != secret.size() ? 1 : 0;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char a = i < given.size() ? given[i] : 0;
        const unsigned char b = i < secret.size() ? secret[i] : 0;
        diff |= unsigned(a ^ b);
    }
    return diff == 0;
}

bool bearerMatches(std::string_view header, std::string_view token) {
    constexpr std::string_view scheme = "bearer ";
    return header.size() >= scheme.size() && sameNoCase(header.substr(0, scheme.size()), scheme) &&
           sameSecret(header.substr(scheme.size()), token);
}

// The host part of a Host header, lower case and without brackets; nothing when malformed.
std::optional<std::string> hostName(std::string_view value) {
    std::string_view name = value;
    std::string_view port;
    if (!value.empty() && value.front() == '[') {
        const std::size_t close = value.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        name = value.substr(1, close - 1);
        port = value.substr(close + 1);
    } else if (std::count(value.begin(), value.end(), ':') == 1) {
        const std::size_t colon = value.find(':');
        name = value.substr(0, colon);
        port = value.substr(colon);
    }
    if (!port.empty() &&
        (port.size() == 1 || port.front() != ':' ||
         !std::all_of(port.begin() + 1, port.end(), [](char c) { return c >= '0' && c <= '9'; }))) {
        return std::nullopt;
    }
    return lowered(name);
}

Response makeResponse(unsigned status, std::string body, unsigned version, bool keepAlive) {
    Response res;
    res.version(version);
    // A status the framing cannot carry would break the connection for the client.
    res.result(status >= 200 && status <= 599 ? status : 500);
    res.set(http::field::content_type, "application/json");
    res.keep_alive(keepAlive);
    if (status != 204 && status != 304) {
        res.body() = std::move(body);
    }
    res.prepare_payload();
    return res;
}

std::string wireText(const Response& res) {
    std::ostringstream out;
    out << res;
    return out.str();
}

// Sends `text`, then closes so that the peer can still read it: stops sending, throws away
// what the peer still sends for a moment, then closes (closing on unread input would reset
// the connection and lose the text).
void closeAfter(tcp::socket socket, std::string text) {
    struct Closing {
        Closing(tcp::socket s, std::string t)
            : socket(std::move(s)), text(std::move(t)), timer(socket.get_executor()) {}
        tcp::socket socket;
        std::string text;
        asio::steady_timer timer;
        std::array<char, 512> scratch{};
    };
    struct Drain {
        static void run(const std::shared_ptr<Closing>& c) {
            c->socket.async_read_some(asio::buffer(c->scratch),
                                      [c](beast::error_code ec, std::size_t) {
                                          if (ec) {
                                              c->timer.cancel();
                                              return;
                                          }
                                          run(c);
                                      });
        }
    };
    auto closing = std::make_shared<Closing>(std::move(socket), std::move(text));
    asio::async_write(closing->socket, asio::buffer(closing->text),
                      [closing](beast::error_code ec, std::size_t) {
                          if (ec) {
                              return;
                          }
                          closing->socket.shutdown(tcp::socket::shutdown_send, ec);
                          closing->timer.expires_after(kLinger);
                          closing->timer.async_wait([closing](beast::error_code) {
                              beast::error_code ignored;
                              closing->socket.close(ignored);
                          });
                          Drain::run(closing);
                      });
}

// A connection that is sent every event.
class Watcher {
public:
    virtual ~Watcher() = default;
    virtual void event(const std::string& json, const std::string& line) = 0;
};

// Everything of the server that lives on the network thread. Members are destroyed in reverse:
// the connections held by pending work (in `io`) still count themselves off while going.
struct Server : std::enable_shared_from_this<Server> {
    Server(ApiHandler& h, std::optional<std::string> t) : handler(h), token(std::move(t)) {}

    ApiHandler& handler;
    const std::optional<std::string> token;
    std::string httpHost;  // as the Host header would name it, lower case, no brackets
    std::uint16_t httpPort = 0;
    std::uint16_t tcpPort = 0;
    std::size_t connections = 0;
    std::size_t atHandler = 0;
    std::vector<std::weak_ptr<Watcher>> watchers;
    asio::io_context io;
    // Connections whose request is at the handler, with no other work keeping them alive.
    std::unordered_map<const void*, std::shared_ptr<void>> parked;
    std::optional<tcp::acceptor> httpAcceptor;
    std::optional<tcp::acceptor> tcpAcceptor;
    std::thread thread;

    tcp::acceptor listen(const ListenAddress& where);
    void accept(tcp::acceptor& acceptor, bool lines);
    void admit(tcp::socket socket, bool lines);
    void run();
    void broadcast(const std::string& json, const std::string& line);

    bool reserve() {
        if (atHandler >= NetServer::kMaxQueuedRequests) {
            return false;
        }
        ++atHandler;
        return true;
    }
    void release() { --atHandler; }

    bool hostAllowed(std::string_view hostHeader) const {
        const std::optional<std::string> name = hostName(hostHeader);
        return name && (*name == "localhost" || *name == "127.0.0.1" || *name == "::1" ||
                        *name == httpHost);
    }

    // A reply function for the handler: from any thread, once, it hands `value` to `deliver`
    // on the network thread, and does nothing once the server is gone.
    template <class T, class Deliver>
    std::function<void(T)> replyTo(Deliver deliver) {
        auto once = std::make_shared<std::atomic<bool>>(false);
        return [weak = weak_from_this(), once, deliver = std::move(deliver)](T value) {
            if (once->exchange(true)) {
                return;
            }
            if (auto server = weak.lock()) {
                asio::post(server->io,
                           [raw = server.get(), deliver, value = std::move(value)]() mutable {
                               raw->release();
                               deliver(std::move(value));
                           });
            }
        };
    }
};

// Counts a connection from its start to its end, whoever holds it meanwhile.
class Slot {
public:
    explicit Slot(Server& server) : server_(&server) { ++server.connections; }
    Slot(Slot&& other) noexcept : server_(std::exchange(other.server_, nullptr)) {}
    Slot(const Slot&) = delete;
    Slot& operator=(const Slot&) = delete;
    Slot& operator=(Slot&&) = delete;
    ~Slot() {
        if (server_ != nullptr) {
            --server_->connections;
        }
    }

private:
    Server* server_;
};

class WsSession : public Watcher, public std::enable_shared_from_this<WsSession> {
public:
    WsSession(Server& server, beast::tcp_stream stream, Slot slot, Request upgrade)
        : server_(server),
          ws_(std::move(stream)),
          slot_(std::move(slot)),
          upgrade_(std::move(upgrade)) {}

    // The handler's place has been reserved for the state.
    void start() {
        beast::get_lowest_layer(ws_).expires_never();
        // Pings keep a client that only listens; one that answers nothing goes.
        ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
        ws_.read_message_max(NetServer::kMaxBodyBytes);
        ws_.async_accept(upgrade_, [self = shared_from_this()](beast::error_code ec) {
            if (ec) {
                self->server_.release();
                return;
            }
            self->ws_.text(true);
            self->server_.handler.state(self->server_.replyTo<std::string>(
                [weak = std::weak_ptr<WsSession>(self)](std::string json) {
                    if (auto session = weak.lock()) {
                        session->push(std::move(json));
                        session->server_.watchers.push_back(session);
                    }
                }));
            self->read();
        });
    }

    void event(const std::string& json, const std::string&) override { push(json); }

private:
    void read() {
        ws_.async_read(in_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec) {
                self->closed_ = true;
                return;
            }
            self->in_.clear();
            self->read();
        });
    }

    void push(std::string message) {
        if (closed_) {
            return;
        }
        if (out_.size() >= kMaxQueuedMessages) {
            closed_ = true;
            beast::error_code ignored;
            beast::get_lowest_layer(ws_).socket().close(ignored);
            return;
        }
        out_.push_back(std::move(message));
        if (out_.size() == 1) {
            write();
        }
    }

    void write() {
        ws_.async_write(asio::buffer(out_.front()),
                        [self = shared_from_this()](beast::error_code ec, std::size_t) {
                            if (ec) {
                                self->closed_ = true;
                                return;
                            }
                            self->out_.pop_front();
                            if (!self->out_.empty()) {
                                self->write();
                            }
                        });
    }

    Server& server_;
    websocket::stream<beast::tcp_stream> ws_;
    Slot slot_;
    Request upgrade_;
    beast::flat_buffer in_;
    std::deque<std::string> out_;
    bool closed_ = false;
};

class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(Server& server, tcp::socket socket)
        : server_(server), stream_(std::move(socket)), slot_(server) {}

    void start() { read(); }

private:
    void read() {
        parser_.emplace();
        parser_->header_limit(NetServer::kMaxHeaderBytes);
        parser_->body_limit(NetServer::kMaxBodyBytes);
        stream_.expires_after(kIdle);
        http::async_read(
            stream_, buffer_, *parser_,
            [self = shared_from_this()](beast::error_code ec, std::size_t) { self->onRead(ec); });
    }

    void onRead(beast::error_code ec) {
        if (ec == http::error::end_of_stream) {
            closeAfter(stream_.release_socket(), "");
            return;
        }
        if (ec == http::error::header_limit) {
            refuse(431, "the request's header is too large", 11, false);
        } else if (ec == http::error::body_limit) {
            refuse(413, "the request's body is too large", 11, false);
        } else if (ec &&
                   ec.category() == http::make_error_code(http::error::bad_target).category()) {
            refuse(400, "the request is malformed", 11, false);
        } else if (!ec) {
            handle(parser_->release());
        }
    }

    void handle(Request req) {
        const unsigned version = req.version();
        const bool keepAlive = req.keep_alive();
        if (server_.token &&
            !bearerMatches(view(req[http::field::authorization]), *server_.token)) {
            Response res =
                makeResponse(401, errorJson("a token is needed: Authorization: Bearer TOKEN"),
                             version, keepAlive);
            res.set(http::field::www_authenticate, "Bearer");
            send(std::move(res));
            return;
        }
        if (req.count(http::field::host) != 1) {
            refuse(400, "a request needs one Host header", version, keepAlive);
            return;
        }
        const std::string_view host = view(req[http::field::host]);
        if (!server_.token && !server_.hostAllowed(host)) {
            refuse(403, "requests for another host name are refused", version, keepAlive);
            return;
        }
        if (req.count(http::field::origin) > 1 ||
            (req.count(http::field::origin) == 1 &&
             !sameNoCase(view(req[http::field::origin]), "http://" + std::string(host)))) {
            refuse(403, "requests from web pages are refused", version, keepAlive);
            return;
        }
        const std::string_view target = view(req.target());
        if (target.substr(0, target.find('?')) == kEventsPath) {
            upgrade(std::move(req));
            return;
        }
        if (!server_.reserve()) {
            refuse(429, "busy: too many requests waiting", version, keepAlive);
            return;
        }
        // Waiting for the handler is not idleness.
        stream_.expires_never();
        server_.parked.emplace(this, shared_from_this());
        server_.handler.http(
            std::string(view(req.method_string())), std::string(target), std::move(req.body()),
            server_.replyTo<ApiHandler::HttpReply>(
                [weak = weak_from_this(), version, keepAlive](ApiHandler::HttpReply reply) {
                    if (auto self = weak.lock()) {
                        self->server_.parked.erase(self.get());
                        self->send(
                            makeResponse(reply.status, std::move(reply.body), version, keepAlive));
                    }
                }));
    }

    void upgrade(Request req) {
        const unsigned version = req.version();
        const bool keepAlive = req.keep_alive();
        if (!websocket::is_upgrade(req)) {
            refuse(400, "/api/v1/events is a WebSocket", version, keepAlive);
            return;
        }
        // What Beast would refuse in plain text, refused here in JSON.
        if (req.count(http::field::sec_websocket_key) != 1 ||
            req[http::field::sec_websocket_version] != "13") {
            refuse(400, "not a WebSocket handshake of version 13", version, false);
            return;
        }
        if (!server_.reserve()) {
            refuse(429, "busy: too many requests waiting", version, keepAlive);
            return;
        }
        std::make_shared<WsSession>(server_, std::move(stream_), std::move(slot_), std::move(req))
            ->start();
    }

    void refuse(unsigned status, std::string_view words, unsigned version, bool keepAlive) {
        send(makeResponse(status, errorJson(words), version, keepAlive));
    }

    void send(Response res) {
        keepOpen_ = res.keep_alive();
        out_ = wireText(res);
        stream_.expires_after(kIdle);
        asio::async_write(stream_, asio::buffer(out_),
                          [self = shared_from_this()](beast::error_code ec, std::size_t) {
                              if (ec) {
                                  return;
                              }
                              if (self->keepOpen_) {
                                  self->read();
                              } else {
                                  self->stream_.expires_never();
                                  closeAfter(self->stream_.release_socket(), "");
                              }
                          });
    }

    Server& server_;
    beast::tcp_stream stream_;
    Slot slot_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    std::string out_;
    bool keepOpen_ = false;
};

class LineSession : public Watcher, public std::enable_shared_from_this<LineSession> {
public:
    LineSession(Server& server, tcp::socket socket)
        : server_(server),
          socket_(std::move(socket)),
          idle_(socket_.get_executor()),
          slot_(server),
          authorized_(!server.token) {}

    void start() { read(true); }

    void event(const std::string&, const std::string& line) override { send("EVENT " + line); }

private:
    // `rearm`: a request came, so the silence counts from now.
    void read(bool rearm) {
        if (rearm && !watching_) {
            idle_.expires_after(kIdle);
            idle_.async_wait([weak = weak_from_this()](beast::error_code ec) {
                // A wait that fired as it was called off or moved on is no longer meant.
                auto self = weak.lock();
                if (self && !ec && self->idle_.expiry() <= std::chrono::steady_clock::now()) {
                    self->drop();
                }
            });
        }
        asio::async_read_until(socket_, in_, '\n',
                               [self = shared_from_this()](beast::error_code ec, std::size_t n) {
                                   self->onRead(ec, n);
                               });
    }

    void onRead(beast::error_code ec, std::size_t n) {
        if (gone_) {
            return;
        }
        if (ec == asio::error::not_found) {
            sendAndClose("ERR line too long");
            return;
        }
        if (ec) {
            drop();
            return;
        }
        const auto begin = asio::buffers_begin(in_.data());
        std::string line(begin, begin + std::ptrdiff_t(n - 1));
        in_.consume(n);
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.size() > NetServer::kMaxLineBytes) {
            sendAndClose("ERR line too long");
            return;
        }
        if (line.empty()) {
            read(false);
            return;
        }
        stopIdle();
        if (!authorized_) {
            if (sameSecret(line, "auth " + *server_.token)) {
                authorized_ = true;
                send("OK");
                read(true);
            } else {
                sendAndClose("ERR a token is needed: auth TOKEN");
            }
            return;
        }
        if (!server_.reserve()) {
            send("ERR busy");
            read(true);
            return;
        }
        server_.parked.emplace(this, shared_from_this());
        server_.handler.line(std::move(line),
                             server_.replyTo<ApiHandler::LineReply>(
                                 [weak = weak_from_this()](ApiHandler::LineReply reply) {
                                     if (auto self = weak.lock()) {
                                         self->server_.parked.erase(self.get());
                                         self->onReply(std::move(reply));
                                     }
                                 }));
    }

    void onReply(ApiHandler::LineReply reply) {
        if (gone_) {
            return;
        }
        if (reply.close) {
            sendAndClose(std::move(reply.line));
            return;
        }
        send(std::move(reply.line));
        if (reply.watch && !watching_) {
            // A watcher that only listens is not idle.
            watching_ = true;
            server_.watchers.push_back(shared_from_this());
        }
        read(true);
    }

    void stopIdle() { idle_.expires_at(asio::steady_timer::time_point::max()); }

    void send(std::string text) {
        if (gone_ || closing_) {
            return;
        }
        if (out_.size() >= kMaxQueuedMessages) {
            drop();
            return;
        }
        out_.push_back(std::move(text) + "\n");
        if (out_.size() == 1) {
            write();
        }
    }

    void sendAndClose(std::string text) {
        send(std::move(text));
        closing_ = true;
        if (out_.empty()) {
            finish();
        }
    }

    void write() {
        asio::async_write(socket_, asio::buffer(out_.front()),
                          [self = shared_from_this()](beast::error_code ec, std::size_t) {
                              if (ec) {
                                  self->drop();
                                  return;
                              }
                              self->out_.pop_front();
                              if (!self->out_.empty()) {
                                  self->write();
                              } else if (self->closing_) {
                                  self->finish();
                              }
                          });
    }

    void finish() {
        if (gone_) {
            return;
        }
        gone_ = true;
        stopIdle();
        closeAfter(std::move(socket_), "");
    }

    void drop() {
        gone_ = true;
        stopIdle();
        beast::error_code ignored;
        socket_.close(ignored);
    }

    Server& server_;
    tcp::socket socket_;
    // One byte more than a line may have for its \r, one for its \n.
    asio::streambuf in_{NetServer::kMaxLineBytes + 2};
    asio::steady_timer idle_;
    Slot slot_;
    std::deque<std::string> out_;
    bool authorized_;
    bool watching_ = false;
    bool closing_ = false;
    bool gone_ = false;
};

tcp::acceptor Server::listen(const ListenAddress& where) {
    beast::error_code ec;
    const asio::ip::address address = asio::ip::make_address(where.host, ec);
    tcp::acceptor acceptor(io);
    if (!ec) {
        acceptor.open(tcp::endpoint(address, where.port).protocol(), ec);
    }
    if (!ec) {
#ifdef _WIN32
        // There, address reuse would let another program bind the same port and take our
        // callers; exclusive use is what the flag means elsewhere.
        using ExclusiveAddressUse =
            asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>;
        acceptor.set_option(ExclusiveAddressUse(true), ec);
#else
        acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
#endif
    }
    if (!ec) {
        acceptor.bind(tcp::endpoint(address, where.port), ec);
    }
    if (!ec) {
        acceptor.listen(asio::socket_base::max_listen_connections, ec);
    }
    if (ec) {
        throw std::runtime_error("cannot listen on " + addressText(where, where.port) + ": " +
                                 ec.message());
    }
    return acceptor;
}

void Server::accept(tcp::acceptor& acceptor, bool lines) {
    acceptor.async_accept([this, &acceptor, lines](beast::error_code ec, tcp::socket socket) {
        if (ec == asio::error::operation_aborted) {
            return;
        }
        if (!ec) {
            admit(std::move(socket), lines);
            accept(acceptor, lines);
            return;
        }
        // Out of descriptors, say: try again shortly rather than spin.
        auto pause = std::make_shared<asio::steady_timer>(io, std::chrono::milliseconds(100));
        pause->async_wait(
            [this, &acceptor, lines, pause](beast::error_code) { accept(acceptor, lines); });
    });
}

void Server::admit(tcp::socket socket, bool lines) {
    if (connections >= NetServer::kMaxConnections) {
        closeAfter(std::move(socket),
                   lines
                       ? std::string("ERR too many connections\n")
                       : wireText(makeResponse(503, errorJson("too many connections"), 11, false)));
        return;
    }
    if (lines) {
        std::make_shared<LineSession>(*this, std::move(socket))->start();
    } else {
        std::make_shared<HttpSession>(*this, std::move(socket))->start();
    }
}

void Server::run() {
    const auto work = asio::make_work_guard(io);
    for (;;) {
        try {
            io.run();
            return;
        } catch (const std::exception& e) {
            std::fprintf(stderr, "kolvane: the network thread went on after: %s\n", e.what());
        }
    }
}

void Server::broadcast(const std::string& json, const std::string& line) {
    watchers.erase(std::remove_if(watchers.begin(), watchers.end(),
                                  [](const std::weak_ptr<Watcher>& w) { return w.expired(); }),
                   watchers.end());
    for (const std::weak_ptr<Watcher>& weak : watchers) {
        if (auto watcher = weak.lock()) {
            watcher->event(json, line);
        }
    }
}

}  // namespace

struct NetServer::State : Server {
    using Server::Server;
};

NetServer::NetServer(const ServerSettings& settings, ApiHandler& handler)
    : state_(std::make_shared<State>(handler, settings.token)) {
    // An empty token would be a password anyone guesses, yet it lifts the Host check.
    if (settings.token && settings.token->empty()) {
        throw std::runtime_error("the token is empty");
    }
    if (settings.http) {
        state_->httpAcceptor.emplace(state_->listen(*settings.http));
        const tcp::endpoint bound = state_->httpAcceptor->local_endpoint();
        state_->httpHost = lowered(bound.address().to_string());
        state_->httpPort = bound.port();
        state_->accept(*state_->httpAcceptor, false);
    }
    if (settings.tcp) {
        state_->tcpAcceptor.emplace(state_->listen(*settings.tcp));
        state_->tcpPort = state_->tcpAcceptor->local_endpoint().port();
        state_->accept(*state_->tcpAcceptor, true);
    }
    state_->thread = std::thread([server = state_.get()] { server->run(); });
}

NetServer::~NetServer() {
    state_->io.stop();
    state_->thread.join();
}

std::uint16_t NetServer::httpPort() const {
    return state_->httpPort;
}

std::uint16_t NetServer::tcpPort() const {
    return state_->tcpPort;
}

void NetServer::broadcast(std::string json, std::string line) {
    asio::post(state_->io, [server = state_.get(), json = std::move(json), line = std::move(line)] {
        server->broadcast(json, line);
    });
}

}  // namespace control
