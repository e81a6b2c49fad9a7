// The ports offered in the port box: found by looking at aliases, device nodes and sysfs.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pty_device.h"
#include "serial/fd.h"
#include "serial/port_list.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;
using serial::Fd;
using testing_support::PtyDevice;

namespace {

TEST(PortList, OffersWhatWouldOpenAsATerminalWithoutOpeningAnything) {
    testing_support::TempDir root;
    const fs::path ports = root.path() / "ports";
    const fs::path dev = root.path() / "dev";
    const fs::path sys = root.path() / "sys";
    const fs::path byId = dev / "serial" / "by-id";
    fs::create_directories(ports);
    fs::create_directories(byId);
    PtyDevice a, b, c, d;
    const fs::path absent = root.path() / "absent";
    const auto link = [](const fs::path& target, const fs::path& at) {
        fs::create_symlink(target, at);
    };
    const auto uart = [&sys](const char* tty, const char* type) {
        fs::create_directories(sys / tty);
        std::ofstream(sys / tty / "type") << type << "\n";
    };

    link(a.path(), ports / "com7");
    link(absent, ports / "com8");
    link(absent, ports / "com2");  // hides ttyS1, as it does when the port is opened

    link(b.path(), dev / "ttyS0");
    uart("ttyS0", "4");
    link(c.path(), dev / "ttyS1");
    uart("ttyS1", "4");
    link(d.path(), dev / "ttyS2");
    uart("ttyS2", "0");  // no UART there
    link(c.path(), dev / "ttyUSB10");
    link(d.path(), dev / "ttyUSB2");
    link("/dev/null", dev / "ttyUSB3");
    link(a.path(), dev / "ttyACM0");
    link(b.path(), byId / "usb-FTDI_FT232R-if00-port0");

    const Fd watch(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    ASSERT_TRUE(watch);
    for (const PtyDevice* pty : {&a, &b, &c, &d}) {
        ASSERT_GE(::inotify_add_watch(watch.get(), pty->path().c_str(), IN_OPEN), 0);
    }

    const std::vector<std::string> found =
        serial::availablePorts({ports.string(), dev.string(), sys.string()});
    EXPECT_EQ(found, (std::vector<std::string>{
                         "COM1", "COM7", (byId / "usb-FTDI_FT232R-if00-port0").string(),
                         (dev / "ttyUSB2").string(), (dev / "ttyUSB10").string(),
                         (dev / "ttyACM0").string()}));
    char event[4096];
    EXPECT_LT(::read(watch.get(), event, sizeof event), 0) << "a port was opened";
}

}  // namespace
