#pragma once

#include <QObject>
#include <functional>

namespace serve {

// Runs `stop` on the event loop when the program is asked to end: SIGTERM or SIGINT, or on
// Windows Ctrl+C, Ctrl+Break or its console closing. Only one may exist at a time.
class StopRequest : public QObject {
public:
    explicit StopRequest(std::function<void()> stop, QObject* parent = nullptr);
    ~StopRequest() override;

private:
    std::function<void()> stop_;
};

}  // namespace serve
