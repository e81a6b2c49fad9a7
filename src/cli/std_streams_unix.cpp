#include <fcntl.h>

#include <cerrno>

#include "cli/std_streams.h"

namespace cli {

void holdClosedStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        // open() takes the lowest free number, which is this one.
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            ::open("/dev/null", O_RDONLY);
        }
    }
}

}  // namespace cli
