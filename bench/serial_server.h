#pragma once

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

namespace bench {

// ser2net offering one pty as a raw TCP port on the loopback address, for as long as this
// lives. usable() is false, having said why, when it is not installed or did not listen.
class SerialServer {
public:
    explicit SerialServer(const std::string& device) {
        char dir[] = "/tmp/kolvane-bench-ser2net-XXXXXX";
        if (::mkdtemp(dir) == nullptr) {
            return;
        }
        dir_ = dir;
        port_ = freePort();
        const std::string config = dir_ + "/ser2net.yaml";
        std::ofstream(config) << "connection: &bench\n  accepter: tcp,127.0.0.1," << port_
                              << "\n  connector: serialdev," << device << ",9600n81,local\n";
        pid_ = ::fork();
        if (pid_ == 0) {
            std::freopen("/dev/null", "w", stdout);
            std::freopen("/dev/null", "w", stderr);
            ::execlp("ser2net", "ser2net", "-n", "-d", "-c", config.c_str(), "-P",
                     (dir_ + "/pid").c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 100 && pid_ > 0 && !listening(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!listening()) {
            std::fprintf(stderr, "ser2net did not listen on 127.0.0.1:%d\n", port_);
        }
    }
    ~SerialServer() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (!dir_.empty()) {
            std::system(("rm -rf '" + dir_ + "'").c_str());
        }
    }
    SerialServer(const SerialServer&) = delete;
    SerialServer& operator=(const SerialServer&) = delete;

    bool usable() const { return pid_ > 0 && listening(); }
    std::string portName() const { return "socket://127.0.0.1:" + std::to_string(port_); }

private:
    static int freePort() {
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        ::close(fd);
        return ntohs(address.sin_port);
    }

    // Asked of the kernel, not by connecting: a connection would make ser2net open the pty.
    bool listening() const {
        char wanted[32];
        std::snprintf(wanted, sizeof wanted, "0100007F:%04X 00000000:0000 0A", port_);
        std::ifstream table("/proc/net/tcp");
        for (std::string line; std::getline(table, line);) {
            if (line.find(wanted) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    std::string dir_;
    int port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace bench
