#include "app/kolvane_application.h"

#include "app/error_display.h"

namespace app {

KolvaneApplication::KolvaneApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Kolvane Remote"));
}

bool KolvaneApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        showErrorBox(activeWindow(), messageOf(std::current_exception()));
        return false;
    }
}

}  // namespace app
