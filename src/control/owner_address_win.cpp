#include <windows.h>

#include <QLocalSocket>
#include <memory>
#include <vector>

#include "control/owner_address.h"
#include "serial/port_identity.h"

namespace control {

namespace {

struct HandleCloser {
    void operator()(HANDLE h) const { ::CloseHandle(h); }
};
using Handle = std::unique_ptr<void, HandleCloser>;

// The user a process runs as, as its token gives it.
std::vector<unsigned char> userOf(HANDLE process) {
    HANDLE token = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &token)) {
        return {};
    }
    const Handle owned(token);
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    if (size == 0 || !::GetTokenInformation(token, TokenUser, user.data(), size, &size)) {
        return {};
    }
    return user;
}

}  // namespace

// The pipe's name is open to anyone who knows it; the server is made to let in our user
// only, and each side checks the other.
OwnerAddress ownerAddressFor(const std::string& portPath) {
    const std::string name = "kolvane-" + identityHash(serial::portIdentity(portPath));
    return {QString::fromLatin1(name.c_str()), {}};
}

bool peerIsSameUser(const QLocalSocket& socket) {
    const auto pipe = reinterpret_cast<HANDLE>(socket.socketDescriptor());
    ULONG pid = 0;
    if (!::GetNamedPipeServerProcessId(pipe, &pid) || pid == ::GetCurrentProcessId()) {
        if (!::GetNamedPipeClientProcessId(pipe, &pid)) {
            return false;
        }
    }
    const Handle peer(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!peer) {
        return false;
    }
    const auto theirs = userOf(peer.get());
    const auto ours = userOf(::GetCurrentProcess());
    return !theirs.empty() && !ours.empty() &&
           ::EqualSid(reinterpret_cast<const TOKEN_USER*>(theirs.data())->User.Sid,
                      reinterpret_cast<const TOKEN_USER*>(ours.data())->User.Sid);
}

}  // namespace control
