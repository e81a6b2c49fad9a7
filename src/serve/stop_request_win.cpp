#include <windows.h>

#include <QMetaObject>
#include <atomic>

#include "serve/stop_request.h"

namespace serve {

namespace {

std::atomic<StopRequest*> current{nullptr};
std::function<void()>* currentStop = nullptr;
// Set once the program has stopped: closing the console ends the process as soon as the
// handler returns, so the handler waits for the port to be closed first.
HANDLE stopped = nullptr;

BOOL WINAPI noteControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT && type != CTRL_CLOSE_EVENT) {
        return FALSE;
    }
    if (StopRequest* request = current.load()) {
        // The handler runs on a thread of its own; the stop runs on the event loop.
        QMetaObject::invokeMethod(
            request, [] { (*currentStop)(); }, Qt::QueuedConnection);
    }
    if (type == CTRL_CLOSE_EVENT) {
        WaitForSingleObject(stopped, 4000);
    }
    return TRUE;
}

}  // namespace

StopRequest::StopRequest(std::function<void()> stop, QObject* parent)
    : QObject(parent), stop_(std::move(stop)) {
    currentStop = &stop_;
    stopped = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    current = this;
    SetConsoleCtrlHandler(noteControl, TRUE);
}

StopRequest::~StopRequest() {
    current = nullptr;
    SetEvent(stopped);
}

}  // namespace serve
