#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <algorithm>
#include <cstring>

#include "serial/port_list.h"

namespace serial {

// Every serial port driver enters its ports here, with the name Device Manager shows.
std::vector<std::string> availablePorts() {
    HKEY key = nullptr;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE,
                        &key) != ERROR_SUCCESS) {
        return {};
    }
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char valueName[256];
        DWORD valueNameLength = sizeof valueName;
        char port[64];
        DWORD portLength = sizeof port;
        DWORD type = 0;
        const LONG status = ::RegEnumValueA(key, index, valueName, &valueNameLength, nullptr, &type,
                                            reinterpret_cast<BYTE*>(port), &portLength);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        // A value too long to be a port name is someone else's entry.
        if (status != ERROR_SUCCESS || type != REG_SZ || portLength == 0) {
            continue;
        }
        names.emplace_back(port, strnlen(port, portLength));
    }
    ::RegCloseKey(key);
    // COM9 before COM10.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() < b.size() : a < b;
    });
    names.erase(std::unique(names.begin(), names.end()), names.end());
    names.erase(std::remove(names.begin(), names.end(), std::string()), names.end());
    return names;
}

}  // namespace serial
