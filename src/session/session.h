#pragma once

#include <QObject>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "remote/command_sender.h"
#include "remote/poll_pacer.h"
#include "remote/receiver.h"
#include "search/device_search.h"
#include "serial/serial_link.h"
#include "session/line_watch.h"
#include "session/request.h"

class QTimer;

namespace session {

// What a session reports to those who show it or serve it. Each says only what it needs.
class Watcher {
public:
    virtual ~Watcher() = default;
    // A line for the log, as the device's bytes or our own ASCII texts.
    virtual void logLine(std::string_view /*line*/) {}
    // The port was switched on or off (the switch, the search, or a device that vanished).
    virtual void portSwitched(bool /*on*/) {}
    // The switch did not open the port; the session's lastOpenError() says why.
    virtual void openFailed() {}
    virtual void portTextChanged(const std::string& /*text*/) {}
    virtual void commandTextChanged(const std::string& /*text*/) {}
    // A message from the device has been finished, before it is logged.
    virtual void messageFinished(const remote::Message& /*message*/) {}
    // The search has stopped: the port it found, or nothing.
    virtual void searchEnded(const std::optional<std::string>& /*port*/) {}
    // An open is waiting on the network (true), or has ended (false). Meanwhile the session
    // keeps the event loop going and ignores the switch and the search.
    virtual void waiting(bool /*begins*/) {}
};

// One serial line and everything that works it, without a window: the link, the receiver
// and its poll pacer, the sender and the device search, on the thread and event loop it was
// made on. The window, kolvane-send and the servers are ways in to it; it reports what
// happens to its watchers.
class Session : public QObject {
public:
    static constexpr std::chrono::milliseconds kReceivePollPeriod{100};
    static constexpr std::size_t kMaxQueuedRequests = 32;

    explicit Session(QObject* parent = nullptr,
                     std::chrono::milliseconds pollPeriod = kReceivePollPeriod);
    ~Session() override;

    void addWatcher(Watcher* watcher);
    void removeWatcher(Watcher* watcher);
    // Where a failure inside a timer or line event goes; nothing stops for it.
    void setErrorHandler(std::function<void(std::exception_ptr)> handler);

    const serial::SerialLink& link() const { return link_; }
    const remote::ReceiveState& receiveState() const { return rx_; }
    const search::DeviceSearch& deviceSearch() const { return search_; }
    const remote::CommandSender& commandSender() const { return sender_; }
    std::chrono::milliseconds pollPeriod() const { return pollPeriod_; }

    // The port name and the command text, as the port box and the command box hold them.
    const std::string& portText() const { return portText_; }
    void setPortText(const std::string& text);
    const std::string& commandText() const { return commandText_; }
    void setCommandText(const std::string& text);
    void setBaudRate(std::int32_t baud) { link_.setBaudRate(baud); }
    // The last message the device finished, or nothing yet.
    const std::optional<std::string>& lastMessage() const { return lastMessage_; }
    // The port was last closed because its device vanished, not by a switch.
    bool lastCloseWasGone() const { return lastCloseWasGone_; }

    // The switch: closes an open port, else opens the one named, showing the outcome.
    void switchPort();
    // Opens the named port as the switch does; false (and "RS232 Open Error. ") when not.
    bool switchOn();
    void switchOff();

    // Sends the command text as a five-byte frame, when the port is open.
    void sendCommandText();
    // A key of the remote, as a click on it: the reserved key only logs.
    void pressKey(int hotspot);
    void sendByte(std::uint8_t byte);

    // One poll of the port, and the receive timer's tick.
    void poll();
    void pollTick();

    // The search button, and one tick of the search.
    void startSearch();
    void searchTick();
    bool searching() const;
    // A network port's open is waiting for its server; the switch and the search wait too.
    bool opening() const { return opening_; }

    // Queues a request; requests go out one at a time, each once the one before it has its
    // answer or its wait has run out. `done` is called exactly once, never from inside this
    // call. Returns an id for cancel().
    std::uint64_t request(const Request& request, std::function<void(const Answer&)> done);
    // Forgets a request whose asker has gone; one already sent still runs out its wait.
    void cancel(std::uint64_t id);

private:
    class SearchSteps;
    struct Pending {
        std::uint64_t id;
        Request request;
        std::function<void(const Answer&)> done;
        std::chrono::steady_clock::time_point sentAt{};
        bool heardBytes = false;
    };

    template <typename Event>
    void tell(Event event);
    void guarded(const std::function<void()>& work);

    bool openLink(const std::string& path);
    bool openQuietly();
    void showOn(const std::string& path);
    void closeShowingOff();
    void followLink();
    void dropLineWatch();
    void lineReadable();
    void paceReceiving();
    void schedulePoll(remote::PollPacer::TimePoint at);
    void messageArrived(const remote::Message& message);

    void startNextRequest();
    void finishRequest(Answer answer);
    void requestTimedOut();
    bool answers(const Pending& pending, const remote::Message& message) const;

    std::chrono::milliseconds pollPeriod_;
    serial::SerialLink link_;
    remote::ReceiveState rx_;
    remote::PollPacer pacer_;
    std::unique_ptr<LineWatch> lineWatch_;  // while the open line can wake us
    remote::CommandSender sender_;
    search::DeviceSearch search_;
    QTimer* TimerRs232;
    QTimer* TimerSearcgDevice;
    std::string portText_ = "COM6";
    std::string commandText_ = "G46g";
    std::optional<std::string> lastMessage_;
    std::vector<Watcher*> watchers_;
    std::function<void(std::exception_ptr)> errorHandler_;

    bool lastCloseWasGone_ = false;  // the device vanished, rather than being switched off
    bool opening_ = false;
    bool waitShown_ = false;
    std::deque<Pending> requests_;  // the front one is out when `requestOut_`
    bool requestOut_ = false;
    std::uint64_t nextRequestId_ = 1;
    QTimer* requestTimer_;
};

}  // namespace session
