// The Windows serial calls, against a COM port on a pseudo-terminal under Wine.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "com_device.h"
#include "serial/serial_device.h"
#include "support/wait_for.h"

using serial::SerialDevice;
using testing_support::ComDevice;
using testing_support::waitFor;

namespace {

std::string portPath(const std::string& name) {
    return "//./" + name;
}

TEST(SerialDeviceWin, RefusesWhatIsNotASerialPortAndTouchesNothing) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / "kolvane-refusals";
    fs::create_directories(dir);
    const fs::path file = dir / "notes.txt";
    std::ofstream(file) << "keep";
    const fs::path absent = dir / "absent.txt";
    for (const std::string& name :
         {std::string("NUL"), std::string("CON"), std::string("C:"),
          std::string(ComDevice::kMissingPort), std::string(""), std::string("COM0"),
          std::string("\\\\server\\share"), file.string(), dir.string(), absent.string()}) {
        EXPECT_EQ(SerialDevice::open(portPath(name)), nullptr) << name;
    }
    EXPECT_FALSE(fs::exists(absent));
    std::string content;
    std::ifstream(file) >> content;
    EXPECT_EQ(content, "keep");
    fs::remove_all(dir);
}

TEST(SerialDeviceWin, CarriesBytesBothWaysAndDiscardsInput) {
    ComDevice device;
    const auto port = SerialDevice::open(portPath(ComDevice::kProgramPort));
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->applyLineSettings(9600));
    EXPECT_FALSE(port->applyLineSettings(0));
    ASSERT_TRUE(port->applyLineSettings(115200));

    const std::uint8_t frame[] = {'G', '4', '5', 'g', '\n'};
    EXPECT_EQ(port->write(frame, sizeof frame), sizeof frame);
    EXPECT_EQ(device.receive(5), "G45g\n");

    // Every byte value comes through unchanged: the line is binary, with no flow control.
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    device.send(all);
    ASSERT_TRUE(waitFor([&] { return port->waitingBytes().value_or(0) == all.size(); }));
    std::string got(all.size(), '\0');
    EXPECT_EQ(port->read(reinterpret_cast<std::uint8_t*>(got.data()), got.size()), all.size());
    EXPECT_EQ(got, all);
    EXPECT_EQ(port->waitingBytes(), 0u);

    device.send("gEFG\n");
    ASSERT_TRUE(waitFor([&] { return port->waitingBytes().value_or(0) == 5; }));
    port->discardInput();
    EXPECT_EQ(port->waitingBytes(), 0u);
}

}  // namespace
