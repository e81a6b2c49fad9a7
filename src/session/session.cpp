#include "session/session.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <exception>
#include <stdexcept>

#include "remote/key_table.h"
#include "serial/pause.h"

namespace session {

namespace {

using Clock = std::chrono::steady_clock;
using serial::kDataBits;
using serial::kNoParity;
using serial::kOneStopBit;

void pauseAndProcessEvents() {
    serial::pauseOneMillisecond();
    QCoreApplication::processEvents();
}

void printError(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "kolvane: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "kolvane: unexpected error\n");
    }
}

std::string frameText(const remote::CommandFrame& frame) {
    return std::string(frame.bytes.begin(), frame.bytes.end());
}

}  // namespace

// The search's view of the session: every step it takes is one the window shows.
class Session::SearchSteps : public search::SearchHost {
public:
    explicit SearchSteps(Session& session) : s_(session) {}

    bool comOpened() const override { return s_.link_.ComOpened(); }
    void sendProbe() override { s_.sendCommandText(); }
    std::string portText() const override { return s_.portText_; }
    void setPortText(const std::string& text) override { s_.setPortText(text); }
    void logLine(const std::string& line) override {
        s_.tell([&](Watcher& w) { w.logLine(line); });
    }
    bool openPortQuietly() override { return s_.openQuietly(); }
    void closePortShowingOff() override { s_.closeShowingOff(); }
    void setProbeCommand() override { s_.setCommandText(std::string(remote::kProbeCommand)); }
    void setTimerInterval(int milliseconds) override {
        s_.TimerSearcgDevice->setInterval(milliseconds);
    }
    void stopTimer() override {
        s_.TimerSearcgDevice->stop();
        stopped = true;
    }

    bool stopped = false;

private:
    Session& s_;
};

Session::Session(QObject* parent, std::chrono::milliseconds pollPeriod)
    : QObject(parent),
      pollPeriod_(pollPeriod),
      pacer_(Clock::now(), pollPeriod),
      sender_(link_, pauseAndProcessEvents),
      TimerRs232(new QTimer(this)),
      TimerSearcgDevice(new QTimer(this)),
      errorHandler_(printError),
      requestTimer_(new QTimer(this)) {
    // Each poll sets the timer to the next tick of the grid; a coarse timer could fire early.
    TimerRs232->setObjectName(QStringLiteral("TimerRs232"));
    TimerRs232->setTimerType(Qt::PreciseTimer);
    TimerRs232->setSingleShot(true);
    TimerRs232->setInterval(int(pollPeriod.count()));
    TimerSearcgDevice->setObjectName(QStringLiteral("TimerSearcgDevice"));
    TimerSearcgDevice->setInterval(search::DeviceSearch::kSkipInterval);
    requestTimer_->setSingleShot(true);
    requestTimer_->setTimerType(Qt::PreciseTimer);
    link_.setWhileWaiting([this] {
        if (!waitShown_) {
            waitShown_ = true;
            tell([](Watcher& w) { w.waiting(true); });
        }
        QCoreApplication::processEvents();
    });
    connect(TimerRs232, &QTimer::timeout, this, [this] { guarded([this] { pollTick(); }); });
    connect(TimerSearcgDevice, &QTimer::timeout, this,
            [this] { guarded([this] { searchTick(); }); });
    connect(requestTimer_, &QTimer::timeout, this,
            [this] { guarded([this] { requestTimedOut(); }); });
}

Session::~Session() = default;

void Session::addWatcher(Watcher* watcher) {
    watchers_.push_back(watcher);
}

void Session::removeWatcher(Watcher* watcher) {
    watchers_.erase(std::remove(watchers_.begin(), watchers_.end(), watcher), watchers_.end());
}

void Session::setErrorHandler(std::function<void(std::exception_ptr)> handler) {
    errorHandler_ = std::move(handler);
}

template <typename Event>
void Session::tell(Event event) {
    // A watcher may leave while it is told; the ones after it are still told.
    const std::vector<Watcher*> watchers = watchers_;
    for (Watcher* watcher : watchers) {
        if (std::find(watchers_.begin(), watchers_.end(), watcher) != watchers_.end()) {
            event(*watcher);
        }
    }
}

void Session::guarded(const std::function<void()>& work) {
    try {
        work();
    } catch (...) {
        errorHandler_(std::current_exception());
    }
}

void Session::setPortText(const std::string& text) {
    if (text != portText_) {
        portText_ = text;
        tell([&](Watcher& w) { w.portTextChanged(portText_); });
    }
}

void Session::setCommandText(const std::string& text) {
    if (text != commandText_) {
        commandText_ = text;
        tell([&](Watcher& w) { w.commandTextChanged(commandText_); });
    }
}

// The switch.

void Session::switchPort() {
    if (opening_) {
        return;
    }
    if (link_.ComOpened()) {
        switchOff();
        return;
    }
    switchOn();
}

// A network port's open runs the event loop while it waits; whatever comes in meanwhile
// must not start a second open, or close the port this one is opening.
bool Session::openLink(const std::string& path) {
    struct Opening {
        Session& s;
        explicit Opening(Session& session) : s(session) { s.opening_ = true; }
        ~Opening() {
            s.opening_ = false;
            if (s.waitShown_) {
                s.waitShown_ = false;
                s.tell([](Watcher& w) { w.waiting(false); });
            }
        }
    } opening{*this};
    dropLineWatch();  // its wake goes with the device it came from
    return link_.Rs232Control(true, path, link_.BaudRate(), kDataBits, kNoParity, kOneStopBit);
}

bool Session::switchOn() {
    if (opening_) {
        return false;
    }
    const std::string path = serial::portPathFor(portText_);
    if (openLink(path)) {
        showOn(path);
        QCoreApplication::processEvents();
        return true;
    }
    tell([](Watcher& w) { w.logLine("RS232 Open Error. "); });
    tell([](Watcher& w) { w.openFailed(); });
    return false;
}

void Session::switchOff() {
    if (!opening_) {
        closeShowingOff();
    }
}

bool Session::openQuietly() {
    const std::string path = serial::portPathFor(portText_);
    if (!openLink(path)) {
        return false;
    }
    showOn(path);
    return true;
}

void Session::showOn(const std::string& path) {
    lastCloseWasGone_ = false;
    link_.setComPortPath(path);
    followLink();
    tell([](Watcher& w) { w.portSwitched(true); });
    tell([this](Watcher& w) { w.logLine(portText_ + " RS232 ON"); });
}

void Session::closeShowingOff() {
    const bool gone = link_.deviceGone();
    lastCloseWasGone_ = gone;
    dropLineWatch();
    link_.Rs232Control(false, link_.ComPortPath(), link_.BaudRate(), kDataBits, kNoParity,
                       kOneStopBit);
    followLink();
    if (requestOut_) {
        finishRequest({gone ? Answer::Outcome::Gone : Answer::Outcome::PortClosed, {}, {}, {}});
    }
    tell([](Watcher& w) { w.portSwitched(false); });
    tell([this](Watcher& w) { w.logLine(portText_ + " RS232 OFF"); });
}

// Receiving. Polls fall on the receive timer's grid, but only while there is something to
// poll for: with the port closed, or the line quiet and no message gathered, the timer
// rests and the line's descriptor wakes the session when input comes.

void Session::followLink() {
    dropLineWatch();
    if (!link_.ComOpened()) {
        TimerRs232->stop();
        return;
    }
    if (const auto wake = link_.inputWake()) {
        lineWatch_ = std::make_unique<LineWatch>(*wake, this,
                                                 [this] { guarded([this] { lineReadable(); }); });
    }
    // A network port may have taken in data while it was being set up, which its
    // descriptor no longer announces.
    if (link_.waitingBytes().value_or(0) > 0) {
        schedulePoll(pacer_.inputArrived(Clock::now()));
        return;
    }
    paceReceiving();
}

void Session::dropLineWatch() {
    lineWatch_.reset();
}

// Input has come, or the line hung up: poll at the first tick that would have seen it. A
// hung-up line stays readable for ever, so it is polled on every tick from then on instead.
void Session::lineReadable() {
    if (link_.lineHungUp()) {
        dropLineWatch();
    } else {
        lineWatch_->setEnabled(false);
    }
    schedulePoll(pacer_.inputArrived(Clock::now()));
}

void Session::paceReceiving() {
    const auto next = pacer_.polled(Clock::now(), rx_.RxCount() != 0, lineWatch_ != nullptr);
    if (next) {
        if (lineWatch_) {
            lineWatch_->setEnabled(false);
        }
        schedulePoll(*next);
    } else {
        TimerRs232->stop();
        lineWatch_->setEnabled(true);
    }
}

void Session::schedulePoll(remote::PollPacer::TimePoint at) {
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(at - Clock::now());
    TimerRs232->start(std::max(0, int(wait.count())));
}

void Session::pollTick() {
    if (link_.ComOpened()) {
        poll();
        // An unplugged adapter is shown switched off, once; a merely quiet one stays on.
        if (link_.deviceGone()) {
            closeShowingOff();
        }
    }
}

void Session::poll() {
    // Whatever a watcher throws while a message is shown, the next poll stays scheduled:
    // an open port that is never read again would look alive and show nothing.
    struct PaceAfter {
        Session& s;
        ~PaceAfter() {
            if (s.link_.ComOpened()) {
                s.paceReceiving();
            }
        }
    } paceAfter{*this};
    const std::size_t got =
        remote::pollReceiver(link_, rx_, [this](const remote::Message& m) { messageArrived(m); });
    if (got > 0 && requestOut_) {
        requests_.front().heardBytes = true;
    }
}

void Session::messageArrived(const remote::Message& message) {
    if (message.kind == remote::Message::Kind::ProbeReply) {
        search_.probeReplyArrived();
    }
    lastMessage_ = std::string(message.text);
    if (requestOut_ && answers(requests_.front(), message)) {
        finishRequest({Answer::Outcome::Answered, std::string(message.text), {}, {}});
    }
    tell([&](Watcher& w) { w.messageFinished(message); });
    tell([&](Watcher& w) { w.logLine(message.text); });
}

// Sending.

void Session::sendCommandText() {
    const auto frame = remote::CommandFrame::fromText(commandText_);
    if (link_.ComOpened()) {
        sender_.sendFrame(frame);
    }
}

void Session::pressKey(int hotspot) {
    const remote::RemoteKey& key = remote::keyByHotspot(hotspot);
    if (key.isReserved()) {
        tell([](Watcher& w) { w.logLine("Reserved"); });
        return;
    }
    setCommandText(std::string(key.commandText));
    sendCommandText();
}

void Session::sendByte(std::uint8_t byte) {
    if (link_.ComOpened()) {
        sender_.sendBytes({byte});
    }
}

// Device search.

void Session::startSearch() {
    if (opening_) {
        return;
    }
    search_.restart();
    if (link_.ComOpened()) {
        switchPort();
    } else {
        TimerSearcgDevice->start();
    }
}

bool Session::searching() const {
    return TimerSearcgDevice->isActive();
}

void Session::searchTick() {
    if (opening_) {
        return;
    }
    SearchSteps steps(*this);
    search_.tick(steps);
    if (steps.stopped) {
        std::optional<std::string> found;
        if (search_.DeviceFound()) {
            found = portText_;
        }
        tell([&](Watcher& w) { w.searchEnded(found); });
    }
}

// Requests: one out at a time, so that two answers never fall into one poll period, where
// they would be joined into one message.

std::uint64_t Session::request(const Request& request, std::function<void(const Answer&)> done) {
    const std::uint64_t id = nextRequestId_++;
    if (requests_.size() >= kMaxQueuedRequests) {
        QTimer::singleShot(0, this, [done = std::move(done)] {
            done({Answer::Outcome::Busy, {}, {}, {}});
        });
        return id;
    }
    requests_.push_back(Pending{id, request, std::move(done)});
    QTimer::singleShot(0, this, [this] { guarded([this] { startNextRequest(); }); });
    return id;
}

void Session::cancel(std::uint64_t id) {
    for (auto it = requests_.begin(); it != requests_.end(); ++it) {
        if (it->id != id) {
            continue;
        }
        if (requestOut_ && it == requests_.begin()) {
            it->done = nullptr;
        } else {
            requests_.erase(it);
        }
        return;
    }
}

void Session::startNextRequest() {
    while (!requestOut_ && !requests_.empty()) {
        if (!link_.ComOpened()) {
            requestOut_ = true;
            finishRequest({lastCloseWasGone_ ? Answer::Outcome::Gone : Answer::Outcome::PortClosed,
                           {},
                           {},
                           {}});
            continue;
        }
        const Pending& next = requests_.front();
        const std::uint64_t id = next.id;
        const Request request = next.request;
        requestOut_ = true;
        if (request.discardFirst) {
            link_.discardInput();
        }
        // Sending lets events in between bytes: nothing of `next` is touched during it.
        switch (request.kind) {
            case Request::Kind::Key:
                pressKey(request.hotspot);
                break;
            case Request::Kind::Text:
                setCommandText(request.text);
                sendCommandText();
                break;
            case Request::Kind::Probe:
                setCommandText(std::string(remote::kProbeCommand));
                sendCommandText();
                break;
        }
        // The wait runs from when the frame has gone out, unless it was ended meanwhile.
        if (requestOut_ && requests_.front().id == id) {
            requests_.front().sentAt = Clock::now();
            requestTimer_->start(request.wait);
        }
    }
}

bool Session::answers(const Pending& pending, const remote::Message& message) const {
    // A message ended by a full buffer, not by a quiet line, is the middle of a flood.
    if (message.cutShort) {
        return false;
    }
    switch (pending.request.kind) {
        case Request::Kind::Key:
            return message.kind == remote::Message::Kind::Key &&
                   message.text == remote::keyByHotspot(pending.request.hotspot).receivedName;
        case Request::Kind::Probe:
            return message.kind == remote::Message::Kind::ProbeReply;
        case Request::Kind::Text:
            return true;
    }
    return false;
}

void Session::requestTimedOut() {
    if (!requestOut_) {
        return;
    }
    Answer::Outcome outcome = Answer::Outcome::Silent;
    if (rx_.RxCount() > 0) {
        outcome = Answer::Outcome::StillSending;
    } else if (requests_.front().heardBytes) {
        outcome = Answer::Outcome::Meaningless;
    }
    finishRequest({outcome, {}, {}, {}});
}

void Session::finishRequest(Answer answer) {
    Pending done = std::move(requests_.front());
    requests_.pop_front();
    requestOut_ = false;
    requestTimer_->stop();
    const Request& r = done.request;
    remote::CommandFrame frame = remote::CommandFrame::fromText(remote::kProbeCommand);
    if (r.kind == Request::Kind::Key) {
        frame = remote::CommandFrame::fromText(remote::keyByHotspot(r.hotspot).commandText);
    } else if (r.kind == Request::Kind::Text) {
        frame = remote::CommandFrame::fromText(r.text);
    }
    if (done.sentAt != Clock::time_point{}) {
        answer.sent = frameText(frame);
        answer.ms =
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - done.sentAt);
    }
    if (!requests_.empty()) {
        QTimer::singleShot(0, this, [this] { guarded([this] { startNextRequest(); }); });
    }
    if (done.done) {
        done.done(answer);
    }
}

}  // namespace session
