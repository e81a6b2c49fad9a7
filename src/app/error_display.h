#pragma once

#include <QString>
#include <exception>

class QWidget;

namespace app {

// The message as the error display shows it: a full stop added unless empty or already there.
QString withFullStop(const QString& message);

// The message of whatever was thrown; empty for anything that is not a std::exception.
QString messageOf(const std::exception_ptr& error);

// The stop-icon box with OK, titled with the application's name. The program goes on.
void showErrorBox(QWidget* parent, const QString& message);

}  // namespace app
