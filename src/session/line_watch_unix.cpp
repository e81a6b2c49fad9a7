#include <QSocketNotifier>

#include "session/line_watch.h"

namespace session {

// Every wake here is a descriptor.
LineWatch::LineWatch(const serial::InputWake& wake, QObject* owner,
                     const std::function<void()>& ready)
    : notifier_(new QSocketNotifier(wake.handle, QSocketNotifier::Read, owner)) {
    QObject::connect(static_cast<QSocketNotifier*>(notifier_), &QSocketNotifier::activated, owner,
                     ready);
}

LineWatch::~LineWatch() {
    setEnabled(false);
    notifier_->deleteLater();
}

void LineWatch::setEnabled(bool enabled) {
    static_cast<QSocketNotifier*>(notifier_)->setEnabled(enabled);
}

}  // namespace session
