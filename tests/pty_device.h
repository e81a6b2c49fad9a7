#pragma once

#include <termios.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace testing_support {

// A pseudo-terminal standing in for the device: the test holds the master side and the
// program opens `path()`. The slave is made raw before anything is written, unless the test
// asks for the kernel's own settings, which a freshly plugged adapter has too; one slave
// descriptor stays open so the line does not hang up when the program closes its end.
class PtyDevice {
public:
    enum class Line { Raw, KernelDefaults };

    explicit PtyDevice(Line line = Line::Raw);
    ~PtyDevice();
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    const std::string& path() const { return path_; }
    int master() const { return master_; }

    // The line settings as the program left them.
    termios lineSettings() const;

    void send(const std::vector<std::uint8_t>& bytes);
    void send(const std::string& text);

    // Everything readable within `wait` after the last byte; stops early once `expected`
    // bytes are in.
    std::vector<std::uint8_t> receive(
        std::size_t expected, std::chrono::milliseconds wait = std::chrono::milliseconds(500));
    // What is readable right now, without waiting.
    std::vector<std::uint8_t> drain();

    // Closes both sides: the device vanishes.
    void vanish();

private:
    int master_ = -1;
    int slave_ = -1;
    std::string path_;
};

// A temporary XDG_CONFIG_HOME whose port-alias directory maps COM1..COM20 to paths that do
// not exist, so no test ever reaches a real serial port; `mapPort` points one at a device.
class PortAliases {
public:
    PortAliases();
    ~PortAliases();
    PortAliases(const PortAliases&) = delete;
    PortAliases& operator=(const PortAliases&) = delete;

    void mapPort(int comNumber, const std::string& devicePath);
    const std::string& dir() const { return dir_; }
    std::string root() const { return root_.path().string(); }

private:
    TempDir root_;
    std::string dir_;
    std::string previousXdg_;
    bool hadXdg_ = false;
};

}  // namespace testing_support
