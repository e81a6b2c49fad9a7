#pragma once

#include <QApplication>

namespace app {

// The application object, with the last net for exceptions: one that escapes an event
// handler is shown in the error display and the program goes on.
class KolvaneApplication : public QApplication {
public:
    KolvaneApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

}  // namespace app
