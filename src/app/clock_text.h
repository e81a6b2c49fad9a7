#pragma once

#include <ctime>
#include <string>

namespace app {

// The status-bar clock: the short date, a space and the long time in the user's regional
// formats (LC_TIME on POSIX systems); exactly midnight shows the date alone. Bytes in the
// locale's encoding (on Windows, the ANSI code page).
std::string clockText(std::time_t when);

}  // namespace app
