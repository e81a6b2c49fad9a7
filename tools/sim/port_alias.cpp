#include "port_alias.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <system_error>

#include "serial/fd.h"
#include "serial/port_name.h"

namespace sim {

namespace {

using serial::systemError;

std::optional<std::string> linkTarget(const std::string& path) {
    std::string buffer(256, '\0');
    for (;;) {
        const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
        if (length < 0) {
            return std::nullopt;
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            buffer.resize(static_cast<std::size_t>(length));
            return buffer;
        }
        buffer.resize(buffer.size() * 2);  // may have been cut short
    }
}

// A dangling alias that points at a pseudo-terminal, or into a process's descriptors, is what a
// killed simulator leaves behind. Putting one back would bring the danger back: the kernel
// hands pty numbers and process ids out again, and the alias would then lead to someone's
// terminal.
bool leftBySimulator(const std::string& target) {
    return target.rfind("/dev/pts/", 0) == 0 || target.rfind("/proc/", 0) == 0;
}

// Puts the new link in place with rename(), which swaps it in whole, so the program never
// finds the port name missing or half made.
bool replaceLink(const std::string& path, const std::string& target, std::string& error) {
    const std::string temporary = path + ".new." + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(target.c_str(), temporary.c_str()) != 0) {
        error = systemError("cannot create " + temporary, errno);
        return false;
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        error = systemError("cannot replace " + path, errno);
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<PortAlias> PortAlias::create(const std::string& dir, int port,
                                             const std::string& target, std::string& error) {
    if (dir.empty()) {
        error = "no place for port aliases: neither XDG_CONFIG_HOME nor HOME is set";
        return nullptr;
    }
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        error = "cannot create " + dir + ": " + ec.message();
        return nullptr;
    }
    const std::string path = serial::aliasPathFor(dir, port);
    if (::symlink(target.c_str(), path.c_str()) == 0) {
        return std::unique_ptr<PortAlias>(new PortAlias(path, target, false, std::nullopt));
    }
    if (errno != EEXIST) {
        error = systemError("cannot create " + path, errno);
        return nullptr;
    }

    const std::string name = "COM" + std::to_string(port);
    const std::optional<std::string> existing = linkTarget(path);
    if (!existing) {
        error = path + " exists and is not a link; leaving it alone";
        return nullptr;
    }
    if (*existing == target) {
        return std::unique_ptr<PortAlias>(new PortAlias(path, target, false, std::nullopt));
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        error = name + " is already registered to " + *existing + " (" + path +
                "); remove that link if no simulator is using it";
        return nullptr;
    }
    if (errno != ENOENT && errno != ENOTDIR) {
        error = systemError("cannot check " + path, errno);
        return nullptr;
    }
    if (!replaceLink(path, target, error)) {
        return nullptr;
    }
    std::optional<std::string> restore;
    if (!leftBySimulator(*existing)) {
        restore = *existing;
    }
    return std::unique_ptr<PortAlias>(new PortAlias(path, target, true, std::move(restore)));
}

void PortAlias::remove() {
    if (removed_) {
        return;
    }
    removed_ = true;
    // Another simulator may have taken the name over since; its link is not ours to remove.
    if (linkTarget(path_) != target_) {
        return;
    }
    std::string ignored;
    if (!restore_ || !replaceLink(path_, *restore_, ignored)) {
        ::unlink(path_.c_str());
    }
}

std::string aliasTargetForDescriptor(int fd) {
    return "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(fd);
}

}  // namespace sim
