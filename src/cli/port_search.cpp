#include "cli/port_search.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "cli/port.h"
#include "remote/command_sender.h"
#include "remote/key_table.h"
#include "remote/receiver.h"
#include "search/device_search.h"
#include "serial/pause.h"
#include "serial/serial_link.h"

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;

// The window's receive timer: the probe reply must be gathered into messages exactly as it
// is there, or the search would find what the window does not.
constexpr std::chrono::milliseconds kReceiveInterval{100};

// The window's search timer and receive timer, without a window: the scan itself is the
// shared DeviceSearch.
class SearchRun : private search::SearchHost {
public:
    explicit SearchRun(std::int32_t baud)
        : baud_(baud), sender_(link_, serial::pauseOneMillisecond) {}

    std::optional<std::string> run() {
        search_.restart();
        while (running_) {
            receiveFor(std::chrono::milliseconds(interval_));
            search_.tick(*this);
        }
        if (search_.DeviceFound() != 1) {
            return std::nullopt;
        }
        return portText_;
    }

private:
    void receiveFor(std::chrono::milliseconds span) {
        const Clock::time_point until = Clock::now() + span;
        for (;;) {
            const Clock::time_point now = Clock::now();
            if (now >= until) {
                return;
            }
            std::this_thread::sleep_for(std::min<Clock::duration>(kReceiveInterval, until - now));
            if (link_.ComOpened()) {
                remote::pollReceiver(link_, rx_, [this](const remote::Message& message) {
                    if (message.kind == remote::Message::Kind::ProbeReply) {
                        search_.probeReplyArrived();
                    }
                });
            }
        }
    }

    bool comOpened() const override { return link_.ComOpened(); }
    void sendProbe() override {
        sender_.sendFrame(remote::CommandFrame::fromText(remote::kProbeCommand));
    }
    std::string portText() const override { return portText_; }
    void setPortText(const std::string& text) override { portText_ = text; }
    void logLine(const std::string&) override {}
    bool openPortQuietly() override { return openPort(link_, portText_, baud_); }
    void closePortShowingOff() override { closePort(link_); }
    void setProbeCommand() override {}
    void setTimerInterval(int milliseconds) override { interval_ = milliseconds; }
    void stopTimer() override { running_ = false; }

    std::int32_t baud_;
    serial::SerialLink link_;
    remote::ReceiveState rx_;
    remote::CommandSender sender_;
    search::DeviceSearch search_;
    std::string portText_;
    int interval_ = search::DeviceSearch::kSkipInterval;
    bool running_ = true;
};

}  // namespace

std::optional<std::string> searchForDevice(std::int32_t baud) {
    return SearchRun(baud).run();
}

}  // namespace cli
