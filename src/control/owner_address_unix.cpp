#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLocalSocket>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "control/owner_address.h"
#include "serial/port_identity.h"

namespace control {

namespace {

std::string runtimeFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        return std::string(runtime) + "/kolvane";
    }
    // A cron job has no runtime folder.
    return "/tmp/kolvane-" + std::to_string(::geteuid());
}

// The folder is made ours and private, or refused: anyone who could put a socket in it
// could pose as the owner of a port.
std::string refusalOf(const std::string& folder) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        return "cannot make " + folder + ": " + std::strerror(errno);
    }
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) {
        return "cannot look at " + folder + ": " + std::strerror(errno);
    }
    if (!S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()) {
        return folder + " is not a folder of ours";
    }
    if ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0) {
        return "cannot make " + folder + " private: " + std::strerror(errno);
    }
    return {};
}

}  // namespace

OwnerAddress ownerAddressFor(const std::string& portPath) {
    const std::string folder = runtimeFolder();
    if (std::string refusal = refusalOf(folder); !refusal.empty()) {
        return {{}, std::move(refusal)};
    }
    const std::string path = folder + "/" + identityHash(serial::portIdentity(portPath));
    if (path.size() >= sizeof(sockaddr_un::sun_path)) {
        return {{}, "the socket path " + path + " is too long"};
    }
    return {QString::fromLocal8Bit(path.c_str()), {}};
}

bool peerIsSameUser(const QLocalSocket& socket) {
    ucred peer{};
    socklen_t size = sizeof(peer);
    return ::getsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer, &size) ==
               0 &&
           peer.uid == ::geteuid();
}

}  // namespace control
