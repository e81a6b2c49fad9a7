#include "serve/port_keeper.h"

#include <QTimer>

#include "serial/open_error.h"

namespace serve {

PortKeeper::PortKeeper(session::Session& session, std::function<void(const std::string&)> say,
                       std::chrono::milliseconds retryInterval, QObject* parent)
    : QObject(parent), session_(session), say_(std::move(say)), retry_(new QTimer(this)) {
    retry_->setSingleShot(true);
    retry_->setInterval(retryInterval);
    connect(retry_, &QTimer::timeout, this, &PortKeeper::tryOpen);
    session_.addWatcher(this);
}

PortKeeper::~PortKeeper() {
    session_.removeWatcher(this);
}

void PortKeeper::start() {
    stopped_ = false;
    tryOpen();
}

void PortKeeper::stop() {
    stopped_ = true;
    retry_->stop();
    if (session_.link().ComOpened()) {
        session_.switchOff();
    }
}

void PortKeeper::tryOpen() {
    if (!stopped_ && !session_.link().ComOpened()) {
        session_.switchOn();
    }
}

void PortKeeper::portSwitched(bool on) {
    if (stopped_) {
        return;
    }
    if (on) {
        retry_->stop();
        say("opened " + session_.portText());
    } else if (session_.lastCloseWasGone()) {
        lost(session_.portText() + " has gone (unplugged?)", Loss::Gone);
    } else {
        // A caller switched it off, which it stays until one switches it on.
        retry_->stop();
        say("switched off " + session_.portText());
    }
}

void PortKeeper::openFailed() {
    if (stopped_) {
        return;
    }
    const auto& error = session_.link().lastOpenError();
    lost(error ? serial::describe(*error) : "cannot open " + session_.portText(), Loss::NotOpened);
}

void PortKeeper::lost(const std::string& line, Loss loss) {
    if (giveUp_) {
        say(line);
        stopped_ = true;
        giveUp_(loss);
        return;
    }
    say(line + "; trying again");
    retry_->start();
}

void PortKeeper::say(const std::string& line) {
    if (line != said_) {
        said_ = line;
        say_(line);
    }
}

}  // namespace serve
