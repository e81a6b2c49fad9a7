#pragma once

#include <ostream>

#include "cli/send_options.h"

namespace cli {

// Sends each command as a click on the remote would, and waits for the device's answer to
// it, printing each as it comes; stops at the first key left unanswered. When another
// program holds the port, it sends through that program; else it opens the port itself.
// Returns the exit status.
int sendKeys(const Options& options, std::ostream& out, std::ostream& err);

// Says which program holds the port, if any: exit status 0 when one does, 1 when none.
int showOwner(const Options& options, std::ostream& out);

}  // namespace cli
