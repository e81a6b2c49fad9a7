#include "serial/telnet_codec.h"

namespace serial {

namespace {

constexpr std::uint8_t kIac = 255;
constexpr std::uint8_t kDont = 254;
constexpr std::uint8_t kDo = 253;
constexpr std::uint8_t kWont = 252;
constexpr std::uint8_t kWill = 251;
constexpr std::uint8_t kSb = 250;
constexpr std::uint8_t kSe = 240;
constexpr std::uint8_t kCr = 13;

constexpr std::uint8_t kBinary = 0;
constexpr std::uint8_t kSuppressGoAhead = 3;
constexpr std::uint8_t kComPort = 44;

// COM-PORT-OPTION commands; the server answers each with the same number plus 100.
constexpr std::uint8_t kSetBaudRate = 1;
constexpr std::uint8_t kSetDataSize = 2;
constexpr std::uint8_t kSetParity = 3;
constexpr std::uint8_t kSetStopSize = 4;
constexpr std::uint8_t kPurgeData = 12;
constexpr std::uint8_t kServerReply = 100;
constexpr std::uint8_t kPurgeReceiveBuffer = 1;

// No reply we read is longer than a baud rate; anything longer is kept short and ignored.
constexpr std::size_t kLongestSub = 64;

bool weDo(std::uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}

bool weLetThem(std::uint8_t option) {
    return option == kBinary || option == kSuppressGoAhead;
}

void appendSub(TelnetCodec::Bytes& out, std::uint8_t command,
               std::initializer_list<std::uint8_t> payload) {
    out.insert(out.end(), {kIac, kSb, kComPort, command});
    for (const std::uint8_t b : payload) {
        out.push_back(b);
        if (b == kIac) {
            out.push_back(kIac);
        }
    }
    out.insert(out.end(), {kIac, kSe});
}

}  // namespace

TelnetCodec::Bytes TelnetCodec::start() {
    option(kComPort).offered = true;
    option(kBinary).offered = option(kBinary).asked = true;
    option(kSuppressGoAhead).offered = option(kSuppressGoAhead).asked = true;
    return {kIac, kWill, kComPort, kIac, kWill, kBinary,         kIac, kWill, kSuppressGoAhead,
            kIac, kDo,   kBinary,  kIac, kDo,   kSuppressGoAhead};
}

void TelnetCodec::receive(const std::uint8_t* raw, std::size_t count, Bytes& data, Bytes& replies) {
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t b = raw[i];
        switch (state_) {
            case State::CarriageReturn:
                state_ = State::Data;
                if (b == 0) {
                    break;  // the NUL that a non-binary sender puts after CR
                }
                [[fallthrough]];
            case State::Data:
                if (b == kIac) {
                    state_ = State::Command;
                } else {
                    data.push_back(b);
                    if (b == kCr && !option(kBinary).theirs) {
                        state_ = State::CarriageReturn;
                    }
                }
                break;
            case State::Command:
                if (b == kIac) {
                    data.push_back(kIac);
                    state_ = State::Data;
                } else if (b >= kWill && b <= kDont) {
                    verb_ = b;
                    state_ = State::Option;
                } else if (b == kSb) {
                    sub_.clear();
                    subOverflow_ = false;
                    state_ = State::Sub;
                } else {
                    state_ = State::Data;  // NOP, GA, AYT and the rest mean nothing here
                }
                break;
            case State::Option:
                command(verb_, b, replies);
                state_ = State::Data;
                break;
            case State::Sub:
                if (b == kIac) {
                    state_ = State::SubCommand;
                } else if (sub_.size() < kLongestSub) {
                    sub_.push_back(b);
                } else {
                    subOverflow_ = true;
                }
                break;
            case State::SubCommand:
                if (b == kIac) {
                    if (sub_.size() < kLongestSub) {
                        sub_.push_back(kIac);
                    }
                    state_ = State::Sub;
                } else if (b == kSe) {
                    if (!subOverflow_) {
                        subnegotiation();
                    }
                    state_ = State::Data;
                } else {
                    // An unterminated subnegotiation: drop it and take this as a command.
                    state_ = State::Command;
                    --i;
                }
                break;
        }
    }
}

void TelnetCodec::command(std::uint8_t verb, std::uint8_t code, Bytes& replies) {
    Option& o = option(code);
    switch (verb) {
        case kWill:
            if (!weLetThem(code)) {
                replies.insert(replies.end(), {kIac, kDont, code});
            } else if (!o.theirs) {
                o.theirs = true;
                if (!o.asked) {
                    replies.insert(replies.end(), {kIac, kDo, code});
                }
            }
            o.asked = false;
            break;
        case kWont:
            if (o.theirs && !o.asked) {
                replies.insert(replies.end(), {kIac, kDont, code});
            }
            o.theirs = false;
            o.asked = false;
            break;
        case kDo:
            if (!weDo(code)) {
                replies.insert(replies.end(), {kIac, kWont, code});
                break;
            }
            if (!o.ours) {
                o.ours = true;
                if (!o.offered) {
                    replies.insert(replies.end(), {kIac, kWill, code});
                }
            }
            o.offered = false;
            if (code == kComPort) {
                portControl_ = PortControl::Accepted;
            }
            break;
        case kDont:
            if (o.ours && !o.offered) {
                replies.insert(replies.end(), {kIac, kWont, code});
            }
            o.ours = false;
            o.offered = false;
            if (code == kComPort) {
                portControl_ = PortControl::Refused;
            }
            break;
        default:
            break;
    }
}

void TelnetCodec::subnegotiation() {
    if (sub_.size() < 3 || sub_[0] != kComPort || sub_[1] <= kServerReply) {
        return;
    }
    const std::uint8_t* value = sub_.data() + 2;
    const std::size_t length = sub_.size() - 2;
    switch (sub_[1] - kServerReply) {
        case kSetBaudRate:
            if (length == 4) {
                far_.baud = std::uint32_t(value[0]) << 24 | std::uint32_t(value[1]) << 16 |
                            std::uint32_t(value[2]) << 8 | value[3];
            }
            break;
        case kSetDataSize:
            far_.dataSize = value[0];
            break;
        case kSetParity:
            far_.parity = value[0];
            break;
        case kSetStopSize:
            far_.stopSize = value[0];
            break;
        default:
            break;
    }
}

void TelnetCodec::encode(const std::uint8_t* data, std::size_t count, Bytes& out) const {
    const bool binary = options_[kBinary].ours;
    for (std::size_t i = 0; i < count; ++i) {
        out.push_back(data[i]);
        if (data[i] == kIac) {
            out.push_back(kIac);
        } else if (data[i] == kCr && !binary) {
            out.push_back(0);
        }
    }
}

TelnetCodec::Bytes TelnetCodec::lineSettings(std::uint32_t baud) {
    Bytes out;
    appendSub(out, kSetBaudRate,
              {std::uint8_t(baud >> 24), std::uint8_t(baud >> 16), std::uint8_t(baud >> 8),
               std::uint8_t(baud)});
    appendSub(out, kSetDataSize, {8});
    appendSub(out, kSetParity, {kParityNone});
    appendSub(out, kSetStopSize, {kStopSizeOne});
    return out;
}

TelnetCodec::Bytes TelnetCodec::purgeReceived() {
    Bytes out;
    appendSub(out, kPurgeData, {kPurgeReceiveBuffer});
    return out;
}

}  // namespace serial
