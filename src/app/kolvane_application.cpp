#include "app/kolvane_application.h"

#include <QIcon>

#include "app/error_display.h"

namespace app {

KolvaneApplication::KolvaneApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Kolvane Remote"));
    // How a desktop finds the menu entry, and with it the icon, for the window; on Wayland
    // the only way.
    setDesktopFileName(QStringLiteral("org.kolvane.Remote"));
    QIcon icon;
    for (const int side : {16, 32, 48, 64, 128, 256}) {
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(side), QSize(side, side));
    }
    setWindowIcon(icon);
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
