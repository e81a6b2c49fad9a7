#include "app/error_display.h"

#include <QCoreApplication>
#include <QMessageBox>

namespace app {

QString withFullStop(const QString& message) {
    if (message.isEmpty() || message.endsWith(QLatin1Char('.'))) {
        return message;
    }
    return message + QLatin1Char('.');
}

QString messageOf(const std::exception_ptr& error) {
    try {
        std::rethrow_exception(error);
    } catch (const std::exception& e) {
        return QString::fromLocal8Bit(e.what());
    } catch (...) {
        return {};
    }
}

void showErrorBox(QWidget* parent, const QString& message) {
    QMessageBox box(QMessageBox::Critical, QCoreApplication::applicationName(),
                    withFullStop(message), QMessageBox::Ok, parent);
    box.exec();
}

}  // namespace app
