#pragma once

#include <optional>
#include <string>

namespace app {

// The text that --help or --version asks for, read from the command line before any window
// exists, so that neither needs a display. Nothing for any other command line: Qt's own options
// and whatever else is there stay for QApplication, as they always have.
std::optional<std::string> informationRequested(int argc, const char* const* argv);

}  // namespace app
