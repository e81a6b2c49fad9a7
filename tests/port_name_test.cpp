// Port names to device paths, with and without aliases.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "serial/port_name.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using serial::devicePathForPort;

namespace {

TEST(ComPortNumber, RecognisesComNamesOnly) {
    const struct {
        std::string name;
        std::optional<int> number;
    } cases[] = {
        {"COM1", 1},
        {"com6", 6},
        {"CoM12", 12},
        {"COM99999", 99999},
        {"COM0", {}},
        {"COM", {}},
        {"COM1x", {}},
        {"COM-1", {}},
        {"COM 1", {}},
        {" COM1", {}},
        {"COMM1", {}},
        {"COM100000", {}},
        {"COM99999999999", {}},
        {"//./COM1", {}},
        {"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(serial::comPortNumber(c.name), c.number);
    }
}

TEST(DevicePathForPort, MapsNamesWithoutAliases) {
    const struct {
        std::string port;
        std::string device;
    } cases[] = {
        {"//./COM1", "/dev/ttyS0"},
        {"COM1", "/dev/ttyS0"},
        {"//./com6", "/dev/ttyS5"},
        {"//./COM20", "/dev/ttyS19"},
        {"//./COM0", "/dev/COM0"},
        {"//./COM", "/dev/COM"},
        {"//./COM1x", "/dev/COM1x"},
        {"//./ttyUSB0", "/dev/ttyUSB0"},
        {"//.//dev/pts/3", "/dev/pts/3"},
        {"/dev/ttyACM0", "/dev/ttyACM0"},
        {"../dev/ttyS1", "../dev/ttyS1"},
        {"//./..", "/dev/.."},
        {"//./COM 1", "/dev/COM 1"},
        {"//./ COM1", "/dev/ COM1"},
        {"//./COM\xef\xbc\x91", "/dev/COM\xef\xbc\x91"},
        {"//./", ""},
        {"", ""},
        {std::string("//./COM1\0x", 10), ""},
        {std::string("COM1\0", 5), ""},
        {std::string("/dev/pts/1\0/etc/passwd", 22), ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("port '" + c.port + "'");
        EXPECT_EQ(devicePathForPort(c.port, ""), c.device);
        EXPECT_EQ(devicePathForPort(c.port, "/nonexistent/kolvane/ports"), c.device);
    }
}

class Aliases : public ::testing::Test {
protected:
    void alias(int n, const std::string& target) {
        fs::create_symlink(target, serial::aliasPathFor(dir, n));
    }
    testing_support::TempDir tmp;
    const std::string dir = tmp.path().string();
};

TEST_F(Aliases, AliasWinsOverTheDefaultWhetherOrNotItsTargetExists) {
    alias(3, "/dev/pts/7");
    alias(4, dir + "/gone");  // dangling: must not fall back to a real port
    alias(5, "usb-adapter");
    alias(6, "../elsewhere/tty");
    EXPECT_EQ(serial::aliasPathFor(dir, 3), dir + "/com3");
    EXPECT_EQ(devicePathForPort("//./COM3", dir), "/dev/pts/7");
    EXPECT_EQ(devicePathForPort("//./COM4", dir), dir + "/gone");
    EXPECT_EQ(devicePathForPort("//./COM5", dir), dir + "/usb-adapter");
    EXPECT_EQ(devicePathForPort("//./COM6", dir), dir + "/../elsewhere/tty");
    EXPECT_EQ(devicePathForPort("//./com6", dir), dir + "/../elsewhere/tty");
    EXPECT_EQ(devicePathForPort("//./COM2", dir), "/dev/ttyS1");
    // Aliases are for COM names only.
    EXPECT_EQ(devicePathForPort("//./com3x", dir), "/dev/com3x");
}

class AliasDirEnv : public ::testing::Test {
protected:
    void SetUp() override {
        save("XDG_CONFIG_HOME", xdg);
        save("HOME", home);
    }
    void TearDown() override {
        restore("XDG_CONFIG_HOME", xdg);
        restore("HOME", home);
    }
    static void save(const char* name, std::optional<std::string>& into) {
        if (const char* v = std::getenv(name)) {
            into = v;
        }
    }
    static void restore(const char* name, const std::optional<std::string>& value) {
        if (value) {
            ::setenv(name, value->c_str(), 1);
        } else {
            ::unsetenv(name);
        }
    }
    std::optional<std::string> xdg, home;
};

TEST_F(AliasDirEnv, OnlyAnAbsoluteXdgConfigHomeIsUsed) {
    const struct {
        const char* xdg;
        const char* home;
        std::string dir;
    } cases[] = {
        {"/cfg", "/home/u", "/cfg/kolvane/ports"},
        {"relative/cfg", "/home/u", "/home/u/.config/kolvane/ports"},
        {"", "/home/u", "/home/u/.config/kolvane/ports"},
        {nullptr, "/home/u", "/home/u/.config/kolvane/ports"},
        {"/cfg", nullptr, "/cfg/kolvane/ports"},
        {"relative", nullptr, ""},
        {nullptr, "", ""},
        {nullptr, nullptr, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("XDG_CONFIG_HOME=") + (c.xdg ? c.xdg : "(unset)") +
                     " HOME=" + (c.home ? c.home : "(unset)"));
        restore("XDG_CONFIG_HOME", c.xdg ? std::optional<std::string>(c.xdg) : std::nullopt);
        restore("HOME", c.home ? std::optional<std::string>(c.home) : std::nullopt);
        EXPECT_EQ(serial::portAliasDir(), c.dir);
    }
}

}  // namespace
