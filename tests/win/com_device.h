#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// The device's end of the null-modem pair that wine_run.sh sets up: what the program writes
// to COM3 arrives here, and what is sent here arrives on COM3.
class ComDevice {
public:
    static constexpr const char* kProgramPort = "COM3";
    static constexpr const char* kMissingPort = "COM4";

    ComDevice();
    ~ComDevice();
    ComDevice(const ComDevice&) = delete;
    ComDevice& operator=(const ComDevice&) = delete;

    void send(const std::string& bytes);
    // Everything that arrives within `wait`; stops early once `expected` bytes are in.
    std::string receive(std::size_t expected,
                        std::chrono::milliseconds wait = std::chrono::milliseconds(1000));

private:
    void* handle_;
};

}  // namespace testing_support
