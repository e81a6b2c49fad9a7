// Port names to device paths. Input: one byte choosing the alias directory, then the port path.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "serial/port_name.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::string aliasDir;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // Removed as the fuzzer exits.
    static const testing_support::TempDir root;
    aliasDir = (root.path() / "ports").string();
    fs::create_directories(aliasDir);
    // Absolute, relative, dangling, looping and directory aliases.
    fs::create_symlink("/dev/pts/7", aliasDir + "/com1");
    fs::create_symlink("../elsewhere/tty", aliasDir + "/com2");
    fs::create_symlink("com3", aliasDir + "/com3");
    fs::create_directory_symlink(fs::temp_directory_path(), aliasDir + "/com4");
    fs::create_directory(aliasDir + "/com5");
    fs::create_symlink("tty with space \xc3\xbc", aliasDir + "/com12");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string dirs[] = {"", aliasDir, "/nonexistent/kolvane/ports", aliasDir + "/"};
    const std::string& dir = dirs[data[0] % 4];
    const std::string_view port(reinterpret_cast<const char*>(data) + 1, size - 1);

    const std::string device = serial::devicePathForPort(port, dir);

    std::string_view name = port;
    if (name.substr(0, 4) == "//./") {
        name.remove_prefix(4);
    }
    const bool unusable = name.empty() || name.find('\0') != std::string_view::npos;
    FUZZ_CHECK(device.empty() == unusable);
    FUZZ_CHECK(device.find('\0') == std::string::npos);
    // A relative result only ever comes from a path typed as it stands.
    FUZZ_CHECK(device.empty() || device.front() == '/' ||
               (device == name && name.find('/') != std::string_view::npos));
    if (!unusable && name.find('/') == std::string_view::npos &&
        !serial::comPortNumber(name).has_value()) {
        FUZZ_CHECK(device == "/dev/" + std::string(name));
    }
    return 0;
}
