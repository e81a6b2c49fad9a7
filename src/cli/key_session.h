#pragma once

#include <ostream>

#include "cli/send_options.h"

namespace cli {

// Opens the port, sends each command as a click on the remote would, and waits for the
// device's answer to it, printing each as it comes. Stops at the first key left unanswered.
// Returns the exit status.
int sendKeys(const Options& options, std::ostream& out, std::ostream& err);

}  // namespace cli
