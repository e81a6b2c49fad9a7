#include <QSocketNotifier>
#include <QWinEventNotifier>

#include "session/line_watch.h"

namespace session {

// A COM port wakes through an event object, a network port through its socket.
LineWatch::LineWatch(const serial::InputWake& wake, QObject* owner,
                     const std::function<void()>& ready) {
    if (wake.kind == serial::InputWake::Kind::Signalled) {
        auto* notifier = new QWinEventNotifier(reinterpret_cast<void*>(wake.handle), owner);
        QObject::connect(notifier, &QWinEventNotifier::activated, owner, ready);
        notifier_ = notifier;
    } else {
        auto* notifier = new QSocketNotifier(wake.handle, QSocketNotifier::Read, owner);
        QObject::connect(notifier, &QSocketNotifier::activated, owner, ready);
        notifier_ = notifier;
    }
}

LineWatch::~LineWatch() {
    setEnabled(false);
    notifier_->deleteLater();
}

void LineWatch::setEnabled(bool enabled) {
    if (auto* events = qobject_cast<QWinEventNotifier*>(notifier_)) {
        events->setEnabled(enabled);
    } else {
        static_cast<QSocketNotifier*>(notifier_)->setEnabled(enabled);
    }
}

}  // namespace session
