#include "app/kolvane_application.h"

#include <QIcon>
#include <QImageReader>
#include <QPixmap>

#include "app/error_display.h"

namespace app {

KolvaneApplication::KolvaneApplication(int& argc, char** argv) : QApplication(argc, argv) {
    setApplicationName(QStringLiteral("Kolvane Remote"));
    // How a desktop finds the menu entry, and with it the icon, for the window; on Wayland
    // the only way.
    setDesktopFileName(QStringLiteral("org.kolvane.Remote"));
    // Read as PNG and nothing else: left to guess the format, the reader loads every image
    // plugin installed to ask each one.
    QIcon icon;
    for (const int side : {16, 32, 48, 64, 128, 256}) {
        QImageReader reader(QStringLiteral(":/icons/%1.png").arg(side), "png");
        reader.setAutoDetectImageFormat(false);
        icon.addPixmap(QPixmap::fromImage(reader.read()));
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
