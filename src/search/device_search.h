#pragma once

#include <cstdint>
#include <string>

namespace search {

// What one step of the scan needs from the session around it.
class SearchHost {
public:
    virtual ~SearchHost() = default;
    virtual bool comOpened() const = 0;
    virtual void sendProbe() = 0;  // the send routine, with whatever the command box holds
    virtual std::string portText() const = 0;
    virtual void setPortText(const std::string& text) = 0;
    virtual void logLine(const std::string& line) = 0;
    // Opens the port named in the port box as the switch would, showing it on; false when
    // it does not open (nothing is shown then).
    virtual bool openPortQuietly() = 0;
    virtual void closePortShowingOff() = 0;
    virtual void setProbeCommand() = 0;
    virtual void setTimerInterval(int milliseconds) = 0;
    virtual void stopTimer() = 0;
};

// The scan over COM1..COM20: `SearchPort`, `SearchPortLast`, `ProbeCount`, and the found
// signal it waits for, `DeviceFound`. `SearchMode` is 1 from the start and nothing ever sets
// it to anything else, so a probe reply always counts.
class DeviceSearch {
public:
    static constexpr int kProbeInterval = 2000;
    static constexpr int kSkipInterval = 300;
    static constexpr int kProbesPerPort = 4;

    std::int32_t SearchPort() const { return searchPort_; }
    std::int32_t SearchPortLast() const { return kSearchPortLast; }
    std::int32_t ProbeCount() const { return probeCount_; }
    bool DeviceFound() const { return deviceFound_; }

    // A new scan from COM1, waiting for a fresh answer.
    void restart() {
        deviceFound_ = false;
        searchPort_ = 1;
    }

    // The receiver has seen the probe reply. It counts whenever it comes, also after a scan
    // has ended; the next scan resets it first.
    void probeReplyArrived() { deviceFound_ = true; }

    // One tick of the scan: probe the open port, open the next one if none is open, then
    // decide whether to stop.
    void tick(SearchHost& host);

private:
    static constexpr std::int32_t kSearchPortLast = 20;
    std::int32_t searchPort_ = 1;
    std::int32_t probeCount_ = 1;
    bool deviceFound_ = false;
};

}  // namespace search
