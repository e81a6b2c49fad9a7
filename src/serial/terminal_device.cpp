#include "serial/terminal_device.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

namespace serial {

// The kernel files every tty under the "tty" class, except Unix98 pty slaves, which have no
// sysfs entry.
bool isTerminalDeviceNumber(dev_t device) {
    const unsigned major = ::major(device);
    const unsigned minor = ::minor(device);
    char link[64];
    std::snprintf(link, sizeof link, "/sys/dev/char/%u:%u/subsystem", major, minor);
    char target[PATH_MAX];
    const ssize_t length = ::readlink(link, target, sizeof target - 1);
    if (length >= 0) {
        target[length] = '\0';
        const std::string subsystem(target);
        return subsystem.size() >= 4 && subsystem.compare(subsystem.size() - 4, 4, "/tty") == 0;
    }
    constexpr unsigned kFirstPtySlaveMajor = 136;
    constexpr unsigned kLastPtySlaveMajor = 143;
    if (major >= kFirstPtySlaveMajor && major <= kLastPtySlaveMajor) {
        return true;
    }
    // Without sysfs there is nothing to ask; the terminal check after open still applies.
    return ::access("/sys/dev/char", F_OK) != 0;
}

bool leadsToTerminal(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
           isTerminalDeviceNumber(st.st_rdev);
}

}  // namespace serial
