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

namespace testing_support {

// ser2net offering one pty on the loopback address, as a raw TCP port and as a Telnet port
// with RFC 2217 port control, until stop() or the end of this. usable() is false, having said
// why, when it is not installed or did not listen.
class SerialServer {
public:
    explicit SerialServer(const std::string& device) {
        char dir[] = "/tmp/kolvane-bench-ser2net-XXXXXX";
        if (::mkdtemp(dir) == nullptr) {
            return;
        }
        dir_ = dir;
        rawPort_ = freePort();
        telnetPort_ = freePort();
        const std::string config = dir_ + "/ser2net.yaml";
        std::ofstream(config) << "connection: &raw\n  accepter: tcp,127.0.0.1," << rawPort_
                              << "\n  connector: serialdev," << device << ",9600n81,local\n"
                              << "connection: &telnet\n  accepter: telnet(rfc2217),tcp,127.0.0.1,"
                              << telnetPort_ << "\n  connector: serialdev," << device
                              << ",9600n81,local\n";
        pid_ = ::fork();
        if (pid_ == 0) {
            std::freopen("/dev/null", "w", stdout);
            std::freopen("/dev/null", "w", stderr);
            ::execlp("ser2net", "ser2net", "-n", "-d", "-c", config.c_str(), "-P",
                     (dir_ + "/pid").c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        for (int i = 0; i < 100 && pid_ > 0 && !usable(); ++i) {
            if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
                pid_ = -1;  // not installed, or it took no part of the configuration
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!usable()) {
            std::fprintf(stderr, "ser2net did not listen on 127.0.0.1:%d and %d\n", rawPort_,
                         telnetPort_);
        }
    }
    ~SerialServer() {
        stop();
        if (!dir_.empty()) {
            std::system(("rm -rf '" + dir_ + "'").c_str());
        }
    }
    SerialServer(const SerialServer&) = delete;
    SerialServer& operator=(const SerialServer&) = delete;

    bool usable() const { return pid_ > 0 && listening(rawPort_) && listening(telnetPort_); }
    // "socket" or "rfc2217"
    std::string portName(const std::string& scheme) const {
        return scheme +
               "://127.0.0.1:" + std::to_string(scheme == "socket" ? rawPort_ : telnetPort_);
    }

    // Ends the server as an operator would, its connections with it.
    void stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

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
    static bool listening(int port) {
        char wanted[32];
        std::snprintf(wanted, sizeof wanted, "0100007F:%04X 00000000:0000 0A", port);
        std::ifstream table("/proc/net/tcp");
        for (std::string line; std::getline(table, line);) {
            if (line.find(wanted) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

    std::string dir_;
    int rawPort_ = 0;
    int telnetPort_ = 0;
    pid_t pid_ = -1;
};

}  // namespace testing_support
