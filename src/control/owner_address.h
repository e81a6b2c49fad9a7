#pragma once

#include <QString>
#include <string>

class QLocalSocket;

namespace control {

// Where the owner of a port listens for the others: a name for QLocalServer and
// QLocalSocket, the same for every name of the port. Empty, with the reason, when there is
// no safe place for it.
struct OwnerAddress {
    QString name;
    std::string refusal;
};
OwnerAddress ownerAddressFor(const std::string& portPath);

// A short, fixed-length name for a port's identity.
std::string identityHash(const std::string& identity);

// Whether the program at the other end of a connected socket runs as our user.
bool peerIsSameUser(const QLocalSocket& socket);

}  // namespace control
