#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace serial {

// The client side of a Telnet connection to a serial port server with RFC 2217 port control:
// pure bytes in and out, no socket. It offers COM-PORT-OPTION, BINARY and SUPPRESS-GO-AHEAD,
// refuses every other option, and keeps commands out of the data.
class TelnetCodec {
public:
    using Bytes = std::vector<std::uint8_t>;

    enum class PortControl { Asked, Accepted, Refused };

    // What the server said the far port's settings now are, from its replies.
    struct FarSettings {
        std::optional<std::uint32_t> baud;
        std::optional<std::uint8_t> dataSize;
        std::optional<std::uint8_t> parity;
        std::optional<std::uint8_t> stopSize;
    };

    // RFC 2217's values for no parity and one stop bit.
    static constexpr std::uint8_t kParityNone = 1;
    static constexpr std::uint8_t kStopSizeOne = 1;

    // The offers that open the conversation.
    Bytes start();

    // Takes bytes from the server: data goes to `data`, the answers that Telnet owes the
    // server to `replies`. Commands split across calls are picked up where they stopped.
    void receive(const std::uint8_t* raw, std::size_t count, Bytes& data, Bytes& replies);

    // Data for the server: 0xFF doubled, and CR followed by NUL while we may not send binary.
    void encode(const std::uint8_t* data, std::size_t count, Bytes& out) const;

    // Sets the far port to `baud`, 8 data bits, no parity, one stop bit.
    static Bytes lineSettings(std::uint32_t baud);
    // Empties the far port's receive buffer.
    static Bytes purgeReceived();

    PortControl portControl() const { return portControl_; }
    const FarSettings& farSettings() const { return far_; }
    // Replies that change the far settings clear them first, so a caller can wait for all.
    void forgetFarSettings() { far_ = {}; }

private:
    enum class State { Data, Command, Option, Sub, SubCommand, CarriageReturn };
    struct Option {
        bool ours = false;    // we do it (WILL acknowledged)
        bool theirs = false;  // they do it (DO acknowledged)
        bool offered = false;
        bool asked = false;
    };

    void command(std::uint8_t verb, std::uint8_t option, Bytes& replies);
    void subnegotiation();
    Option& option(std::uint8_t code) { return options_[code]; }

    State state_ = State::Data;
    std::uint8_t verb_ = 0;
    Bytes sub_;
    bool subOverflow_ = false;
    Option options_[256];
    PortControl portControl_ = PortControl::Asked;
    FarSettings far_;
};

}  // namespace serial
