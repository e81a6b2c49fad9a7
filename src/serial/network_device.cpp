#include "serial/network_device.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "serial/net_socket.h"
#include "serial/telnet_codec.h"

namespace serial {

namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;

constexpr std::string_view kRawScheme = "socket://";
constexpr std::string_view kTelnetScheme = "rfc2217://";

// How long a wait goes before the caller gets its turn again.
constexpr std::chrono::milliseconds kWaitSlice{20};
// What is held for the receiver, and for the server, before either has to catch up.
constexpr std::size_t kMostHeld = 64 * 1024;
// A server answers port control at once; an open that used up its bound still gives it this.
constexpr std::chrono::milliseconds kLeastSettleTime{250};
// A server that cannot open its own port says so and closes at once; this long is "at once".
constexpr std::chrono::milliseconds kTurnAwayTime{200};
// The most of a server's parting words that an error repeats.
constexpr std::size_t kMostQuoted = 120;

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return a == (b >= 'A' && b <= 'Z' ? char(b - 'A' + 'a') : b);
           });
}

bool isHostCharacter(char c, bool bracketed) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.' || c == '_' || (bracketed && (c == ':' || c == '%'));
}

std::optional<std::string> portNumberText(std::string_view text) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const long number = std::stol(std::string(text));
    if (number < 1 || number > 65535) {
        return std::nullopt;
    }
    return std::to_string(number);
}

int millisecondsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return int(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}

// Waits for `events` until the deadline, giving the caller a turn every slice.
int waitUntil(net::Handle socket, int events, Clock::time_point deadline,
              const WhileWaiting& whileWaiting) {
    for (;;) {
        const int left = millisecondsUntil(deadline);
        const int slice = whileWaiting ? std::min(left, int(kWaitSlice.count())) : left;
        const int ready = net::waitFor(socket, events, slice);
        if (ready != 0 || left == 0) {
            return ready;
        }
        if (whileWaiting) {
            whileWaiting();
        }
    }
}

struct Address {
    int family = 0;
    sockaddr_storage storage{};
    std::size_t length = 0;
};

struct Resolved {
    std::vector<Address> addresses;
    std::string failure;
};

Resolved resolveNow(const NetworkPort& port, int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = flags | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const int code = ::getaddrinfo(port.host.c_str(), port.service.c_str(), &hints, &list);
    if (code != 0) {
        return {{}, net::resolveErrorText(code)};
    }
    Resolved resolved;
    for (const addrinfo* a = list; a != nullptr; a = a->ai_next) {
        if (a->ai_addrlen <= sizeof(sockaddr_storage)) {
            Address address;
            address.family = a->ai_family;
            std::memcpy(&address.storage, a->ai_addr, a->ai_addrlen);
            address.length = a->ai_addrlen;
            resolved.addresses.push_back(address);
        }
    }
    ::freeaddrinfo(list);
    return resolved;
}

// An address needs no lookup. A name is looked up on a thread of its own, which cannot be
// stopped: past the deadline it is left to finish alone, holding only its own copy.
std::optional<Resolved> resolve(const NetworkPort& port, Clock::time_point deadline,
                                const WhileWaiting& whileWaiting) {
    Resolved literal = resolveNow(port, AI_NUMERICHOST);
    if (!literal.addresses.empty()) {
        return literal;
    }
    struct Lookup {
        std::mutex mutex;
        std::condition_variable finished;
        std::optional<Resolved> result;
    };
    const auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, port] {
        Resolved result = resolveNow(port, 0);
        const std::lock_guard<std::mutex> lock(lookup->mutex);
        lookup->result = std::move(result);
        lookup->finished.notify_all();
    }).detach();
    std::unique_lock<std::mutex> lock(lookup->mutex);
    while (!lookup->result) {
        const auto now = Clock::now();
        if (now >= deadline) {
            return std::nullopt;
        }
        lookup->finished.wait_until(lock,
                                    whileWaiting ? std::min(deadline, now + kWaitSlice) : deadline);
        if (!lookup->result && whileWaiting) {
            lock.unlock();
            whileWaiting();
            lock.lock();
        }
    }
    return std::move(lookup->result);
}

// The first of the addresses that takes the connection, or the last error. Each address
// gets an even share of the time left, so one that never answers cannot starve the rest.
net::Handle connectToAny(const std::vector<Address>& addresses, Clock::time_point deadline,
                         const WhileWaiting& whileWaiting, int* error) {
    *error = net::timedOutCode();
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        const Address& address = addresses[i];
        const auto now = Clock::now();
        if (now >= deadline) {
            *error = net::timedOutCode();
            break;
        }
        const auto shareEnds = now + (deadline - now) / std::int64_t(addresses.size() - i);
        const net::Handle socket = net::openStream(address.family, error);
        if (socket == net::kNoHandle) {
            continue;
        }
        int outcome = net::startConnect(socket, reinterpret_cast<const sockaddr*>(&address.storage),
                                        address.length);
        if (outcome == net::kConnecting) {
            outcome = waitUntil(socket, net::kWritable, shareEnds, whileWaiting) != 0
                          ? net::connectOutcome(socket)
                          : net::timedOutCode();
        }
        if (outcome == 0) {
            net::keepAlive(socket);
            return socket;
        }
        net::closeStream(socket);
        *error = outcome;
    }
    return net::kNoHandle;
}

class NetworkDevice final : public SerialDevice {
public:
    NetworkDevice(net::Handle socket, bool telnet, Clock::time_point settleBy,
                  WhileWaiting whileWaiting)
        : socket_(socket), telnet_(telnet), settleBy_(settleBy) {
        if (whileWaiting) {
            turn_ = [this, whileWaiting = std::move(whileWaiting)] {
                lastTurn_ = Clock::now();
                whileWaiting();
            };
        }
    }

    ~NetworkDevice() override { net::closeStream(socket_); }

    // Offers Telnet's options and waits until the server takes port control or refuses it.
    bool negotiate(Clock::time_point deadline, std::string* failure) {
        const Bytes offers = codec_.start();
        out_.insert(out_.end(), offers.begin(), offers.end());
        flushOut(deadline);
        while (codec_.portControl() == TelnetCodec::PortControl::Asked) {
            if (gone_) {
                *failure = closedReason();
                return false;
            }
            if (!awaitAnswer(deadline)) {
                *failure = "the server did not take RFC 2217 port control in time";
                return false;
            }
        }
        if (codec_.portControl() == TelnetCodec::PortControl::Refused) {
            *failure = "the server refuses RFC 2217 port control";
            return false;
        }
        return true;
    }

    // A server whose own port is busy or missing still takes the connection, says why and
    // closes it. Seen at once, that is a port that did not open rather than one that went.
    bool staysOpen(Clock::time_point until, std::string* failure) {
        while (!gone_ && in_.size() < kMostHeld && Clock::now() < until) {
            turnIfDue();
            if (waitUntil(socket_, net::kReadable, until, turn_) == 0) {
                return true;
            }
            pump();
        }
        if (gone_) {
            *failure = closedReason();
            return false;
        }
        return true;
    }

    // Only a Telnet server sets the far port; a raw one carries bytes at whatever speed the
    // adapter was set to.
    bool applyLineSettings(std::int32_t baud, std::string* refusal) override {
        const auto refuse = [refusal](const std::string& why) {
            if (refusal != nullptr) {
                *refusal = why;
            }
            return false;
        };
        if (baud <= 0) {
            return refuse("no such speed");
        }
        if (!telnet_) {
            return true;
        }
        codec_.forgetFarSettings();
        const Bytes settings = TelnetCodec::lineSettings(std::uint32_t(baud));
        out_.insert(out_.end(), settings.begin(), settings.end());
        const auto deadline = std::max(settleBy_, Clock::now() + kLeastSettleTime);
        flushOut(deadline);
        const TelnetCodec::FarSettings& reported = codec_.farSettings();
        while (!reported.baud || !reported.dataSize || !reported.parity || !reported.stopSize) {
            if (gone_) {
                return refuse(closedReason());
            }
            if (!awaitAnswer(deadline)) {
                return refuse("the server did not confirm the line settings");
            }
        }
        if (*reported.baud != std::uint32_t(baud)) {
            return refuse("the server set " + std::to_string(*reported.baud) + " baud instead");
        }
        if (*reported.dataSize != 8 || *reported.parity != TelnetCodec::kParityNone ||
            *reported.stopSize != TelnetCodec::kStopSizeOne) {
            return refuse("the server set " + std::to_string(*reported.dataSize) +
                          " data bits, parity " + std::to_string(*reported.parity) +
                          " and stop size " + std::to_string(*reported.stopSize) +
                          " (RFC 2217 codes) instead of 8N1");
        }
        return true;
    }

    // What the server has not taken yet waits in our queue and goes first next time; a
    // server that stops reading fills the queue, and then nothing more is taken.
    std::size_t write(const std::uint8_t* data, std::size_t count,
                      std::chrono::milliseconds bound) override {
        const auto deadline = Clock::now() + bound;
        flushOut(deadline);
        if (gone_ || out_.size() + 2 * count > kMostHeld) {
            return 0;
        }
        if (telnet_) {
            codec_.encode(data, count, out_);
        } else {
            out_.insert(out_.end(), data, data + count);
        }
        flushOut(deadline);
        return count;
    }

    std::optional<std::size_t> waitingBytes() const override {
        pump();
        if (in_.empty() && gone_) {
            return std::nullopt;
        }
        return in_.size();
    }

    std::size_t read(std::uint8_t* buffer, std::size_t max) override {
        if (in_.empty()) {
            pump();
        }
        const std::size_t n = std::min(max, in_.size());
        std::copy_n(in_.begin(), n, buffer);
        in_.erase(in_.begin(), in_.begin() + std::ptrdiff_t(n));
        return n;
    }

    void discardInput() override {
        // A flood refills as fast as we empty; what came before this call is enough.
        for (int round = 0; round < 16 && !gone_; ++round) {
            pump();
            const bool emptied = in_.empty();
            in_.clear();
            if (emptied) {
                break;
            }
        }
        in_.clear();
        if (telnet_ && !gone_) {
            const Bytes purge = TelnetCodec::purgeReceived();
            out_.insert(out_.end(), purge.begin(), purge.end());
            flushOut(Clock::now() + kWriteBound);
        }
    }

    std::optional<InputWake> inputWake() const override {
        if (gone_) {
            return std::nullopt;
        }
        return InputWake{InputWake::Kind::Readable, static_cast<std::intptr_t>(socket_)};
    }

    bool hungUp() const override { return gone_; }
    bool gone() const override { return gone_; }

private:
    // The caller's turn, when a slice has passed since the last: a server that keeps sending
    // must not keep the window from its events.
    void turnIfDue() {
        if (turn_ && Clock::now() - lastTurn_ >= kWaitSlice) {
            turn_();
        }
    }

    // One round of waiting for the server to answer what the open asked; false at the
    // deadline. Data held up to the limit came before the far port was set, and would keep
    // the answer behind it from being read: it goes.
    bool awaitAnswer(Clock::time_point deadline) {
        turnIfDue();
        if (Clock::now() >= deadline || waitUntil(socket_, net::kReadable, deadline, turn_) == 0) {
            return false;
        }
        if (in_.size() >= kMostHeld) {
            in_.clear();
        }
        pump();
        return true;
    }

    // What the server said before it closed, on one line, is the best reason there is.
    std::string closedReason() const {
        std::string said;
        for (const std::uint8_t byte : in_) {
            if (said.size() >= kMostQuoted) {
                break;
            }
            if (byte >= 0x20 && byte < 0x7f) {
                said += char(byte);
            } else if (!said.empty() && said.back() != ' ') {
                said += ' ';
            }
        }
        while (!said.empty() && said.back() == ' ') {
            said.pop_back();
        }
        std::string reason = "the server closed the connection";
        if (!said.empty()) {
            reason += ", saying \"" + said + "\"";
        }
        return reason;
    }

    // Takes what has arrived, answering Telnet as it goes. A connection closed or reset by
    // the far end is a device gone; what it sent before that is still read.
    // At most kMostHeld bytes a call, so a server that sends only Telnet commands cannot keep
    // the caller here; one that never reads the answers they ask for is let go.
    void pump() const {
        std::uint8_t chunk[4096];
        for (std::size_t taken = 0; !gone_ && in_.size() < kMostHeld && taken < kMostHeld;) {
            const net::Transfer got = net::receive(socket_, chunk, sizeof chunk);
            if (got.closed || got.error != 0) {
                gone_ = true;
                break;
            }
            taken += got.bytes;
            if (telnet_) {
                codec_.receive(chunk, got.bytes, in_, out_);
                if (out_.size() > 2 * kMostHeld) {
                    gone_ = true;
                    break;
                }
            } else {
                in_.insert(in_.end(), chunk, chunk + got.bytes);
            }
            if (got.bytes < sizeof chunk) {
                break;
            }
        }
        if (!out_.empty()) {
            flushOut(Clock::now());
        }
    }

    void flushOut(Clock::time_point deadline) const {
        while (!out_.empty() && !gone_) {
            const net::Transfer sent = net::send(socket_, out_.data(), out_.size());
            if (sent.error != 0) {
                gone_ = true;
                return;
            }
            if (sent.bytes > 0) {
                out_.erase(out_.begin(), out_.begin() + std::ptrdiff_t(sent.bytes));
                continue;
            }
            const int left = millisecondsUntil(deadline);
            if (left == 0 || net::waitFor(socket_, net::kWritable, left) == 0) {
                return;
            }
        }
    }

    net::Handle socket_;
    bool telnet_;
    Clock::time_point settleBy_;
    WhileWaiting turn_;  // the caller's, noting when it had it
    Clock::time_point lastTurn_ = Clock::now();
    mutable TelnetCodec codec_;
    mutable Bytes in_;   // data the receiver has not read, Telnet taken out
    mutable Bytes out_;  // bytes for the server it has not taken yet
    mutable bool gone_ = false;
};

}  // namespace

bool isNetworkPortName(std::string_view name) {
    return startsWithNoCase(name, kRawScheme) || startsWithNoCase(name, kTelnetScheme);
}

std::optional<NetworkPort> parseNetworkPort(std::string_view name) {
    NetworkPort port;
    if (startsWithNoCase(name, kRawScheme)) {
        name.remove_prefix(kRawScheme.size());
    } else if (startsWithNoCase(name, kTelnetScheme)) {
        port.protocol = NetworkPort::Protocol::Rfc2217;
        name.remove_prefix(kTelnetScheme.size());
    } else {
        return std::nullopt;
    }
    const bool bracketed = !name.empty() && name.front() == '[';
    const std::size_t hostEnd = bracketed ? name.find(']') : name.rfind(':');
    if (hostEnd == name.npos) {
        return std::nullopt;
    }
    const std::string_view host = bracketed ? name.substr(1, hostEnd - 1) : name.substr(0, hostEnd);
    std::string_view rest = name.substr(hostEnd + (bracketed ? 1 : 0));
    if (host.empty() || rest.empty() || rest.front() != ':' ||
        !std::all_of(host.begin(), host.end(),
                     [bracketed](char c) { return isHostCharacter(c, bracketed); })) {
        return std::nullopt;
    }
    rest.remove_prefix(1);
    const auto service = portNumberText(rest);
    if (!service) {
        return std::nullopt;
    }
    port.host = std::string(host);
    port.service = *service;
    return port;
}

std::optional<std::string> networkPortIdentity(std::string_view name) {
    const std::optional<NetworkPort> port = parseNetworkPort(name);
    if (!port) {
        return std::nullopt;
    }
    std::string host = port->host;
    std::transform(host.begin(), host.end(), host.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
    return "tcp://[" + host + "]:" + port->service;
}

OpenResult openNetworkDevice(const std::string& name, const WhileWaiting& whileWaiting) {
    const auto deadline = Clock::now() + SerialDevice::kConnectBound;
    OpenError error;
    error.port = name;
    error.device = name;
    error.kind = OpenError::Kind::Other;
    const auto fail = [&error](std::string why) {
        error.systemMessage = std::move(why);
        return OpenResult{nullptr, std::move(error)};
    };
    const std::optional<NetworkPort> port = parseNetworkPort(name);
    if (!port) {
        error.kind = OpenError::Kind::NoSuchDevice;
        return fail("not HOST:PORT after the scheme");
    }
    std::string failure;
    if (!net::startUp(&failure)) {
        return fail(failure);
    }
    const std::optional<Resolved> resolved = resolve(*port, deadline, whileWaiting);
    if (!resolved) {
        return fail(net::errorText(net::timedOutCode()));
    }
    if (resolved->addresses.empty()) {
        error.kind = OpenError::Kind::NoSuchDevice;
        return fail(resolved->failure);
    }
    int code = 0;
    const net::Handle socket = connectToAny(resolved->addresses, deadline, whileWaiting, &code);
    if (socket == net::kNoHandle) {
        return fail(net::errorText(code));
    }
    const bool telnet = port->protocol == NetworkPort::Protocol::Rfc2217;
    auto device = std::make_unique<NetworkDevice>(socket, telnet, deadline, whileWaiting);
    if (telnet && !device->negotiate(deadline, &failure)) {
        return fail(failure);
    }
    if (!device->staysOpen(std::min(deadline, Clock::now() + kTurnAwayTime), &failure)) {
        return fail(failure);
    }
    return {std::move(device), std::move(error)};
}

}  // namespace serial
