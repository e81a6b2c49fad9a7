#pragma once

#include <QObject>
#include <functional>

#include "serial/serial_device.h"

namespace session {

// Calls back on the owner's event loop when an open line's wake becomes ready, while enabled;
// the platform's notifier for the kind of wake the device offers.
class LineWatch {
public:
    LineWatch(const serial::InputWake& wake, QObject* owner, const std::function<void()>& ready);
    // The notifier goes later: this may run inside its own signal.
    ~LineWatch();
    LineWatch(const LineWatch&) = delete;
    LineWatch& operator=(const LineWatch&) = delete;

    void setEnabled(bool enabled);

private:
    QObject* notifier_;
};

}  // namespace session
