#include "cli/std_streams.h"

namespace cli {

// A port's handle is never taken for a standard stream on Windows.
void holdClosedStandardStreams() {}

}  // namespace cli
