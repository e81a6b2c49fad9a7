#include "search/device_search.h"

namespace search {

void DeviceSearch::tick(SearchHost& host) {
    if (host.comOpened() && !deviceFound_) {
        host.sendProbe();
        ++probeCount_;
        host.logLine(host.portText() + "Check .... ");
        // A reply that came in while the probe was going out belongs to this port; giving
        // the port up now would credit the device to the next port number instead.
        if (probeCount_ > kProbesPerPort && !deviceFound_) {
            host.closePortShowingOff();
        }
    }
    if (!host.comOpened()) {
        host.setPortText("COM" + std::to_string(searchPort_));
        if (host.openPortQuietly()) {
            probeCount_ = 1;
            host.setProbeCommand();
            host.setTimerInterval(kProbeInterval);
        } else {
            host.setTimerInterval(kSkipInterval);
        }
    }
    if (deviceFound_) {
        host.stopTimer();
        host.logLine("Search Device : " + host.portText());
        return;
    }
    ++searchPort_;
    if (searchPort_ > kSearchPortLast) {
        host.logLine("Device not found . ");
        host.stopTimer();
        if (host.comOpened()) {
            host.closePortShowingOff();
        }
    }
}

}  // namespace search
