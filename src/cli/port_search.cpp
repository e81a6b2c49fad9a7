#include "cli/port_search.h"

#include <QEventLoop>

#include "control/local_server.h"
#include "control/owner_client.h"
#include "search/device_search.h"
#include "serial/serial_link.h"
#include "session/session.h"
#include "version.h"

namespace cli {

namespace {

// A port another program holds cannot be opened, so its owner is asked to probe it instead.
std::optional<std::string> askOwners() {
    for (int n = 1; n <= search::DeviceSearch().SearchPortLast(); ++n) {
        const std::string name = "COM" + std::to_string(n);
        const auto owner = control::OwnerClient::find(serial::portPathFor(name));
        if (!owner.client) {
            continue;
        }
        session::Request probe;
        probe.kind = session::Request::Kind::Probe;
        probe.wait = std::chrono::milliseconds(search::DeviceSearch::kProbeInterval);
        const auto answer = owner.client->ask(probe, std::chrono::seconds(30));
        if (answer && answer->outcome == session::Answer::Outcome::Answered) {
            return name;
        }
    }
    return std::nullopt;
}

// The window's search, run by the same session code with the same timers.
class SearchRun : private session::Watcher {
public:
    std::optional<std::string> run(std::int32_t baud) {
        session::Session line;
        line.setBaudRate(baud);
        line.addWatcher(this);
        control::LocalServer server(line, "kolvane-send " KOLVANE_VERSION);
        line.startSearch();
        loop_.exec();
        line.removeWatcher(this);
        return found_;
    }

private:
    void searchEnded(const std::optional<std::string>& port) override {
        found_ = port;
        loop_.quit();
    }

    QEventLoop loop_;
    std::optional<std::string> found_;
};

}  // namespace

std::optional<std::string> searchForDevice(std::int32_t baud) {
    if (auto port = askOwners()) {
        return port;
    }
    return SearchRun().run(baud);
}

}  // namespace cli
