#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace serial {

// The port number of a "COMn" name (any case, n >= 1), or nothing for any other name.
std::optional<int> comPortNumber(std::string_view name);

// Maps a port path (see portPathFor, or a bare name) to the device to open:
//   - a name containing '/' is a device path as it stands;
//   - COMn is what the alias `comN` in `aliasDir` points to, when that alias exists,
//     otherwise /dev/ttyS<n-1>;
//   - any other name is /dev/<name>.
// Returns an empty string for a name that cannot name a device (empty, or holding a NUL).
std::string devicePathForPort(std::string_view portPath, const std::string& aliasDir);

// $XDG_CONFIG_HOME/kolvane/ports, or ~/.config/kolvane/ports; empty when neither is known.
std::string portAliasDir();

// Where the alias for port COMn lives in `aliasDir`.
std::string aliasPathFor(const std::string& aliasDir, int portNumber);

// Where the alias for port COMn points, when there is such an alias.
std::optional<std::string> aliasTargetFor(const std::string& aliasDir, int portNumber);

}  // namespace serial
