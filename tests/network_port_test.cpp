// Network ports: their names, the Telnet side of RFC 2217, and the device against listeners
// of the test's own on the loopback address. ser2net itself is net.through_ser2net.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "serial/network_device.h"
#include "serial/open_error.h"
#include "serial/port_identity.h"
#include "serial/port_path.h"
#include "serial/serial_device.h"
#include "serial/telnet_codec.h"
#include "support/wait_for.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using serial::NetworkPort;
using serial::SerialDevice;
using serial::TelnetCodec;
using testing_support::waitFor;

constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250, SE = 240,
                       NOP = 241;

Bytes bytes(std::initializer_list<int> values) {
    Bytes out;
    for (const int v : values) {
        out.push_back(std::uint8_t(v));
    }
    return out;
}

TEST(NetworkPortName, TakesHostAndPortAfterEitherScheme) {
    struct Case {
        const char* name;
        bool valid;
        NetworkPort::Protocol protocol;
        const char* host;
        const char* service;
    };
    const auto raw = NetworkPort::Protocol::Raw;
    const auto telnet = NetworkPort::Protocol::Rfc2217;
    const Case cases[] = {
        {"socket://127.0.0.1:7001", true, raw, "127.0.0.1", "7001"},
        {"RFC2217://rack-3.av.example:04001", true, telnet, "rack-3.av.example", "4001"},
        {"socket://[::1]:7001", true, raw, "::1", "7001"},
        {"rfc2217://[fe80::1%eth0]:2217", true, telnet, "fe80::1%eth0", "2217"},
        {"socket://127.0.0.1", false, raw, "", ""},
        {"socket://:7001", false, raw, "", ""},
        {"socket://127.0.0.1:0", false, raw, "", ""},
        {"socket://127.0.0.1:65536", false, raw, "", ""},
        {"socket://127.0.0.1:70a", false, raw, "", ""},
        {"socket://::1:7001", false, raw, "", ""},
        {"socket://[::1:7001", false, raw, "", ""},
        {"socket://host name:7001", false, raw, "", ""},
        {"socket://user@host:7001", false, raw, "", ""},
        {"socket://host:7001/", false, raw, "", ""},
        {"telnet://host:23", false, raw, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto port = serial::parseNetworkPort(c.name);
        ASSERT_EQ(port.has_value(), c.valid);
        if (port) {
            EXPECT_EQ(port->protocol, c.protocol);
            EXPECT_EQ(port->host, c.host);
            EXPECT_EQ(port->service, c.service);
        }
    }
    EXPECT_TRUE(serial::isNetworkPortName("Socket://nonsense"));
    // Both protocols to one server port, in any spelling, are one port to its owner.
    EXPECT_EQ(serial::portIdentity("//./RFC2217://Rack.Example:4001"),
              serial::portIdentity("//./socket://rack.example:4001"));
    EXPECT_NE(serial::portIdentity("//./socket://rack.example:4001"),
              serial::portIdentity("//./socket://rack.example:4002"));
    EXPECT_FALSE(serial::isNetworkPortName("COM1"));
}

TEST(TelnetCodec, KeepsCommandsOutOfTheDataAndAnswersPolitely) {
    struct Case {
        const char* what;
        Bytes fromServer;
        Bytes data;
        Bytes replies;
    };
    const Case cases[] = {
        {"plain data", bytes({'E', 0, 0x7F}), bytes({'E', 0, 0x7F}), {}},
        {"a doubled 0xFF is one data byte", bytes({IAC, IAC, 'x'}), bytes({0xFF, 'x'}), {}},
        {"no-operation and go-ahead vanish",
         bytes({'a', IAC, NOP, IAC, 249, 'b'}),
         bytes({'a', 'b'}),
         {}},
        {"acknowledgements of our offers need no answer",
         bytes({IAC, DO, 44, IAC, DO, 0, IAC, WILL, 0, IAC, WILL, 3}),
         {},
         {}},
        {"other options are refused",
         bytes({IAC, DO, 24, IAC, WILL, 1, IAC, DO, 31, IAC, WILL, 44}),
         {},
         bytes({IAC, WONT, 24, IAC, DONT, 1, IAC, WONT, 31, IAC, DONT, 44})},
        {"port control replies are not data",
         bytes({'A', IAC, SB, 44, 101, 0, 0, 0x4B, 0, IAC, SE, 'B'}),
         bytes({'A', 'B'}),
         {}},
        {"an unknown subnegotiation is skipped",
         bytes({IAC, SB, 24, 1, IAC, SE, 'C'}),
         bytes({'C'}),
         {}},
        {"a subnegotiation cut short by a command",
         bytes({IAC, SB, 44, 1, IAC, NOP, 'D'}),
         bytes({'D'}),
         {}},
        {"CR NUL is CR until the server sends binary",
         bytes({'\r', 0, '\r', 'x'}),
         bytes({'\r', '\r', 'x'}),
         {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TelnetCodec codec;
        codec.start();
        Bytes data;
        Bytes replies;
        // Byte by byte as well as in one piece: commands split across reads.
        for (const std::uint8_t b : c.fromServer) {
            codec.receive(&b, 1, data, replies);
        }
        EXPECT_EQ(data, c.data);
        EXPECT_EQ(replies, c.replies);
        TelnetCodec whole;
        whole.start();
        Bytes wholeData;
        Bytes wholeReplies;
        whole.receive(c.fromServer.data(), c.fromServer.size(), wholeData, wholeReplies);
        EXPECT_EQ(wholeData, c.data);
    }
}

TEST(TelnetCodec, NegotiatesPortControlAndTheLine) {
    TelnetCodec codec;
    EXPECT_EQ(codec.start(),
              bytes({IAC, WILL, 44, IAC, WILL, 0, IAC, WILL, 3, IAC, DO, 0, IAC, DO, 3}));
    Bytes data;
    Bytes replies;
    const Bytes accepted = bytes({IAC, DO, 44, IAC, DO, 0, IAC, WILL, 0});
    codec.receive(accepted.data(), accepted.size(), data, replies);
    EXPECT_EQ(codec.portControl(), TelnetCodec::PortControl::Accepted);

    // 0xFF in data is doubled; binary both ways, so CR goes alone.
    Bytes out;
    const Bytes frame = bytes({'G', 0xFF, '\r', '\n'});
    codec.encode(frame.data(), frame.size(), out);
    EXPECT_EQ(out, bytes({'G', 0xFF, 0xFF, '\r', '\n'}));

    EXPECT_EQ(TelnetCodec::lineSettings(0x1FF00),
              bytes({IAC, SB, 44,  1,  0,  1, 0xFF, 0xFF, 0,  IAC, SE, IAC, SB, 44, 2,   8,
                     IAC, SE, IAC, SB, 44, 3, 1,    IAC,  SE, IAC, SB, 44,  4,  1,  IAC, SE}));
    EXPECT_EQ(TelnetCodec::purgeReceived(), bytes({IAC, SB, 44, 12, 1, IAC, SE}));

    const Bytes confirmed =
        bytes({IAC, SB, 44,  101, 0,  1,   IAC, IAC, 0,  IAC, SE, IAC, SB,  44, 102, 8,
               IAC, SE, IAC, SB,  44, 103, 1,   IAC, SE, IAC, SB, 44,  104, 1,  IAC, SE});
    codec.receive(confirmed.data(), confirmed.size(), data, replies);
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(codec.farSettings().baud, 0x1FF00u);
    EXPECT_EQ(codec.farSettings().dataSize, 8);

    const Bytes dropped = bytes({IAC, DONT, 44});
    codec.receive(dropped.data(), dropped.size(), data, replies);
    EXPECT_EQ(codec.portControl(), TelnetCodec::PortControl::Refused);
    EXPECT_EQ(replies, bytes({IAC, WONT, 44}));
}

// A TCP listener on the loopback address that accepts one client.
class Listener {
public:
    explicit Listener(int family = AF_INET) {
        fd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage address{};
        socklen_t length;
        if (family == AF_INET6) {
            auto* v6 = reinterpret_cast<sockaddr_in6*>(&address);
            v6->sin6_family = AF_INET6;
            v6->sin6_addr = in6addr_loopback;
            length = sizeof *v6;
        } else {
            auto* v4 = reinterpret_cast<sockaddr_in*>(&address);
            v4->sin_family = AF_INET;
            v4->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof *v4;
        }
        usable_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), length) == 0 &&
                  ::listen(fd_, 4) == 0 &&
                  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0;
        port_ = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                         : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    }
    ~Listener() {
        closeClient();
        ::close(fd_);
    }

    bool usable() const { return usable_; }
    int port() const { return port_; }

    bool accept() {
        pollfd pfd{fd_, POLLIN, 0};
        if (::poll(&pfd, 1, 5000) != 1) {
            return false;
        }
        client_ = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
        return client_ >= 0;
    }
    void send(const Bytes& data) { ::send(client_, data.data(), data.size(), MSG_NOSIGNAL); }
    bool sendAll(const Bytes& data) {
        return ::send(client_, data.data(), data.size(), MSG_NOSIGNAL) > 0;
    }
    Bytes receiveSome() {
        Bytes got(4096);
        pollfd pfd{client_, POLLIN, 0};
        const ssize_t n =
            ::poll(&pfd, 1, 2000) == 1 ? ::recv(client_, got.data(), got.size(), 0) : 0;
        got.resize(n > 0 ? std::size_t(n) : 0);
        return got;
    }
    void closeClient() {
        if (client_ >= 0) {
            ::close(client_);
            client_ = -1;
        }
    }

private:
    int fd_ = -1;
    int client_ = -1;
    int port_ = 0;
    bool usable_ = false;
};

Bytes readAll(SerialDevice& device, std::size_t wanted) {
    Bytes got;
    waitFor([&] {
        std::uint8_t chunk[256];
        const std::size_t waiting = device.waitingBytes().value_or(0);
        const std::size_t n = device.read(chunk, std::min(waiting, sizeof chunk));
        got.insert(got.end(), chunk, chunk + n);
        return got.size() >= wanted;
    });
    return got;
}

TEST(NetworkDevice, RawPortCarriesEveryByteAndNoticesTheServerLeaving) {
    for (const int family : {AF_INET, AF_INET6}) {
        Listener server(family);
        if (!server.usable()) {
            continue;  // no IPv6 loopback on this machine
        }
        const std::string host = family == AF_INET6 ? "[::1]" : "127.0.0.1";
        SCOPED_TRACE(host);
        auto opened = SerialDevice::open(
            serial::portPathFor("socket://" + host + ":" + std::to_string(server.port())));
        ASSERT_NE(opened.device, nullptr) << serial::describe(opened.error);
        SerialDevice& device = *opened.device;
        ASSERT_TRUE(server.accept());
        EXPECT_TRUE(device.applyLineSettings(19200));
        EXPECT_TRUE(device.inputWake());

        const Bytes all = [] {
            Bytes b;
            for (int v = 0; v < 256; ++v) {
                b.push_back(std::uint8_t(v));
            }
            return b;
        }();
        EXPECT_EQ(device.write(all.data(), all.size()), all.size());
        Bytes arrived;
        while (arrived.size() < all.size()) {
            const Bytes chunk = server.receiveSome();
            ASSERT_FALSE(chunk.empty());
            arrived.insert(arrived.end(), chunk.begin(), chunk.end());
        }
        EXPECT_EQ(arrived, all);
        server.send(all);
        EXPECT_EQ(readAll(device, all.size()), all);

        // What the server sends just before it closes is still read.
        server.send(bytes({'b', 'y', 'e'}));
        server.closeClient();
        EXPECT_EQ(readAll(device, 3), bytes({'b', 'y', 'e'}));
        EXPECT_TRUE(waitFor([&] { return !device.waitingBytes() && device.gone(); }));
        EXPECT_FALSE(device.inputWake());
        EXPECT_EQ(device.write(all.data(), 1), 0u);
    }
}

TEST(NetworkDevice, TelnetPortDoublesFfAndPurgesTheFarBuffer) {
    Listener server;
    ASSERT_TRUE(server.usable());
    std::optional<serial::OpenResult> opened;
    int turns = 0;
    // The server answers from the caller's turns, as a window's timers would run.
    const serial::WhileWaiting whileWaiting = [&] {
        if (++turns == 1 && server.accept()) {
            server.receiveSome();
            server.send(bytes({IAC, DO, 44, IAC, WILL, 0, IAC, DO, 0}));
        }
    };
    opened =
        SerialDevice::open("rfc2217://127.0.0.1:" + std::to_string(server.port()), whileWaiting);
    ASSERT_NE(opened->device, nullptr) << serial::describe(opened->error);
    SerialDevice& device = *opened->device;

    server.send(bytes({IAC, SB,  44, 101, 0,   0, 0x4B, 0,  IAC, SE, IAC, SB,  44, 102, 8, IAC,
                       SE,  IAC, SB, 44,  103, 1, IAC,  SE, IAC, SB, 44,  104, 1,  IAC, SE}));
    EXPECT_TRUE(device.applyLineSettings(19200));
    server.receiveSome();  // the settings

    const Bytes frame = bytes({'G', 0xFF, '\n'});
    device.write(frame.data(), frame.size());
    EXPECT_EQ(server.receiveSome(), bytes({'G', 0xFF, 0xFF, '\n'}));
    server.send(bytes({'E', IAC, IAC, IAC, NOP, 'F'}));
    EXPECT_EQ(readAll(device, 3), bytes({'E', 0xFF, 'F'}));
    device.discardInput();
    EXPECT_EQ(server.receiveSome(), bytes({IAC, SB, 44, 12, 1, IAC, SE}));
}

TEST(NetworkDevice, OpenFailsWithAReasonWithinItsBound) {
    Listener silent;  // accepts, and never says a word
    Listener busy;    // a server whose own port is taken says so and hangs up
    Listener chatty;  // sends Telnet no-ops without pause, and answers nothing
    ASSERT_TRUE(silent.usable() && busy.usable() && chatty.usable());
    std::atomic<bool> done{false};
    std::thread chatter([&] {
        if (chatty.accept()) {
            Bytes stream;
            for (int i = 0; i < 2048; ++i) {
                stream.insert(stream.end(), {IAC, NOP});
            }
            while (!done && chatty.sendAll(stream)) {
            }
        }
    });
    const std::string closedPort = [] {
        const Listener gone;
        return std::to_string(gone.port());
    }();
    const std::string busyPort = std::to_string(busy.port());

    struct Case {
        std::string name;
        std::string reason;
        bool turnsWhileSilent;
    };
    const Case cases[] = {
        {"socket://127.0.0.1:" + closedPort,
         "cannot open socket://127.0.0.1:" + closedPort + ": Connection refused", false},
        {"rfc2217://127.0.0.1:" + std::to_string(silent.port()),
         "cannot open rfc2217://127.0.0.1:" + std::to_string(silent.port()) +
             ": the server did not take RFC 2217 port control in time",
         true},
        {"socket://127.0.0.1:99999",
         "cannot open socket://127.0.0.1:99999: not HOST:PORT after the scheme", false},
        {"socket://127.0.0.1:" + busyPort,
         "cannot open socket://127.0.0.1:" + busyPort +
             ": the server closed the connection, saying \"Port already in use\"",
         false},
        {"rfc2217://127.0.0.1:" + busyPort,
         "cannot open rfc2217://127.0.0.1:" + busyPort +
             ": the server closed the connection, saying \"Port already in use\"",
         false},
        {"rfc2217://127.0.0.1:" + std::to_string(chatty.port()),
         "cannot open rfc2217://127.0.0.1:" + std::to_string(chatty.port()) +
             ": the server did not take RFC 2217 port control in time",
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        int turns = 0;
        const auto started = std::chrono::steady_clock::now();
        const auto result = SerialDevice::open(serial::portPathFor(c.name), [&] {
            const bool toBusy =
                c.name.size() > busyPort.size() &&
                c.name.compare(c.name.size() - busyPort.size(), busyPort.size(), busyPort) == 0;
            if (++turns == 1 && toBusy && busy.accept()) {
                busy.send(bytes({'P', 'o', 'r', 't', ' ', 'a', 'l', 'r', 'e',  'a', 'd',
                                 'y', ' ', 'i', 'n', ' ', 'u', 's', 'e', '\r', '\n'}));
                busy.closeClient();
            }
        });
        EXPECT_EQ(result.device, nullptr);
        EXPECT_EQ(serial::describe(result.error), c.reason);
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now() - started)
                      .count(),
                  3500);
        if (c.turnsWhileSilent) {
            EXPECT_GT(turns, 10) << "the caller must get its turns however the server behaves";
        }
    }
    done = true;  // the open gave up, closing its end: the chatter's next send fails
    chatter.join();
}

}  // namespace
