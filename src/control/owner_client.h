#pragma once

#include <QLocalSocket>
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "control/owner_protocol.h"
#include "session/session.h"

namespace control {

// A program's way to the owner of a port: asks it to send for us and waits for its answer,
// blocking, as a command-line tool may.
class OwnerClient {
public:
    // What looking for the owner of a port came to: a client when an owner answered; else
    // nothing, and `refusal` says why when an owner was there but would not serve us.
    struct Lookup {
        std::unique_ptr<OwnerClient> client;
        std::string refusal;
    };
    // A socket left behind by an owner that was killed is removed on the way.
    static Lookup find(const std::string& portPath);

    const Greeting& greeting() const { return greeting_; }

    // Sends a request and waits for its answer; nothing when the owner went away or did not
    // answer within the request's wait and `slack`.
    std::optional<session::Answer> ask(const session::Request& request,
                                       std::chrono::milliseconds slack);

private:
    OwnerClient() = default;
    std::optional<std::string> readLine(std::chrono::milliseconds within);

    QLocalSocket socket_;
    Greeting greeting_;
};

}  // namespace control
