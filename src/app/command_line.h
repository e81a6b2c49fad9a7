#pragma once

#include <optional>
#include <string>
#include <vector>

#include "control/server_options.h"

namespace app {

// The text that --help or --version asks for, read from the command line before any window
// exists, so that neither needs a display. Nothing for any other command line: Qt's own options
// and whatever else is there stay for QApplication, as they always have.
std::optional<std::string> informationRequested(int argc, const char* const* argv);

// What a desktop shortcut asks of the window at its start: a port for the box, and the switch
// clicked once the window is up; and the servers that other programs drive it through.
struct StartRequest {
    std::optional<std::string> port;
    bool switchOn = false;
    control::ServerOptions servers;
    std::vector<std::string> errors;  // wrong uses of the options, without the program's name
};

// Takes --port NAME, --on and the server options out of argv, leaving Qt's options for
// QApplication.
StartRequest takeStartRequest(int& argc, char** argv);

// Why no window can be shown, where Qt would abort for want of a display; nothing where one
// may be there, or where the platform chosen needs none.
std::optional<std::string> missingDisplay(int argc, const char* const* argv);

}  // namespace app
