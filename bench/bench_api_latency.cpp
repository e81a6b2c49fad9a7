// From an HTTP request for a key leaving a client to the fifth byte of its frame readable on
// the device's side of the line, with the window holding the port and serving the API.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QApplication>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "bench_common.h"
#include "bench_window.h"
#include "control/api_service.h"
#include "frame_watcher.h"

namespace {

int connectTo(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    return fd;
}

// Reads one whole response (headers and the body its Content-Length gives) while the window's
// event loop runs; false when none came.
bool readResponse(int fd) {
    std::string got;
    bool complete = false;
    bench::runEventLoop(2000, [&] {
        char buffer[4096];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n > 0) {
            got.append(buffer, static_cast<std::size_t>(n));
        }
        const auto end = got.find("\r\n\r\n");
        const auto length = got.find("Content-Length: ");
        if (end != std::string::npos && length != std::string::npos) {
            complete = got.size() >= end + 4 + std::stoul(got.substr(length + 16));
        }
        return complete;
    });
    return complete;
}

}  // namespace

int main(int argc, char** argv) {
    bench::preferOffscreenPlatform();
    QApplication application(argc, argv);
    const int presses = static_cast<int>(bench::numberOption(argc, argv, "--presses", 100));

    bench::WindowOnPty window;
    if (!window.open()) {
        return 1;
    }
    window.device.drain();
    bench::FrameWatcher watcher(window.device.master());
    control::ServerSettings settings;
    settings.http = control::ListenAddress{"127.0.0.1", 0};
    control::ApiService api(window.form.session(), "kolvane", settings);
    const int fd = connectTo(api.httpPort());
    if (fd < 0) {
        std::fprintf(stderr, "cannot connect to the API\n");
        return 1;
    }
    // Nothing answers on the pty: no wait, so each press ends as soon as its frame is out.
    const std::string request =
        "POST /api/v1/keys/power?wait=0 HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 0\r\n\r\n";

    std::mt19937 random(12345);
    std::uniform_int_distribution<int> gapMs(3, 25);
    std::vector<double> toFifthByte;
    int lost = 0;
    for (int i = 0; i < presses; ++i) {
        bench::runEventLoop(gapMs(random));
        const std::size_t frame = watcher.frames();
        const auto start = bench::Clock::now();
        if (::send(fd, request.data(), request.size(), 0) != ssize_t(request.size())) {
            std::fprintf(stderr, "the API closed the connection\n");
            return 1;
        }
        bench::runEventLoop(1000, [&] { return watcher.frames() > frame; });
        bench::Clock::time_point fifth;
        if (!watcher.frameTime(frame, std::chrono::milliseconds(1), fifth) || !readResponse(fd)) {
            ++lost;
            continue;
        }
        toFifthByte.push_back(bench::msBetween(start, fifth));
    }
    ::close(fd);
    std::printf("presses: %d, frames not seen on the line: %d\n", presses, lost);
    bench::printSummary("api_to_fifth_byte_ms", bench::summarize(toFifthByte));
    bench::printValue("api_frames_lost", lost);
    return 0;
}
