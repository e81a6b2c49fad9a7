#pragma once

#include <QObject>
#include <chrono>
#include <functional>
#include <string>

#include "session/session.h"

class QTimer;

namespace serve {

// Keeps a session's port open for as long as it runs: a rack PC boots before its USB adapter
// appears, and devices are power-cycled. While the port is missing or gone it is tried again
// every retry interval, unless a caller switched it off. Each change of state is said once, as one
// line: a port that stays missing is not news every two seconds.
class PortKeeper : public QObject, private session::Watcher {
public:
    static constexpr std::chrono::milliseconds kRetryInterval{2000};
    enum class Loss { NotOpened, Gone };

    PortKeeper(session::Session& session, std::function<void(const std::string&)> say,
               std::chrono::milliseconds retryInterval = kRetryInterval, QObject* parent = nullptr);
    ~PortKeeper() override;

    // Instead of trying again, hands the loss to `handler`, once.
    void giveUpWith(std::function<void(Loss)> handler) { giveUp_ = std::move(handler); }

    // Opens the session's port, or starts trying to.
    void start();
    // Stops trying, and closes the port if it is open.
    void stop();

private:
    void portSwitched(bool on) override;
    void openFailed() override;

    void tryOpen();
    void lost(const std::string& line, Loss loss);
    void say(const std::string& line);

    session::Session& session_;
    std::function<void(const std::string&)> say_;
    std::function<void(Loss)> giveUp_;
    QTimer* retry_;
    std::string said_;
    bool stopped_ = false;
};

}  // namespace serve
