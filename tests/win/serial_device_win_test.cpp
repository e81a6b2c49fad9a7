// The Windows serial calls, against a COM port on a pseudo-terminal under Wine.
#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "com_device.h"
#include "serial/port_list.h"
#include "serial/port_path.h"
#include "serial/serial_device.h"
#include "support/wait_for.h"

using serial::SerialDevice;
using testing_support::ComDevice;
using testing_support::waitFor;
using Kind = serial::OpenError::Kind;

namespace {

TEST(SerialDeviceWin, RefusesWhatIsNotASerialPortAndTouchesNothing) {
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / "kolvane-refusals";
    fs::create_directories(dir);
    const fs::path file = dir / "notes.txt";
    std::ofstream(file) << "keep";
    const fs::path absent = dir / "absent.txt";
    // Where Windows and Wine differ (CON, a volume, a COM port Wine links to nowhere), only
    // the refusal is checked.
    const std::pair<std::string, std::optional<Kind>> cases[] = {
        {"NUL", Kind::NotSerial},
        {"CON", {}},
        {"C:", {}},
        {ComDevice::kMissingPort, {}},
        {"", Kind::NoSuchDevice},
        {"COM0", Kind::NoSuchDevice},
        {"\\\\server\\share", Kind::NotSerial},
        {file.string(), Kind::NotSerial},
        {dir.string(), Kind::NotSerial},
        {absent.string(), Kind::NotSerial}};
    for (const auto& [name, kind] : cases) {
        const serial::OpenResult result = SerialDevice::open(serial::portPathFor(name));
        EXPECT_EQ(result.device, nullptr) << name;
        EXPECT_TRUE(!kind || result.error.kind == *kind) << name;
        // The system's words, without the line end FormatMessage puts after them.
        EXPECT_EQ(result.error.systemMessage.find_first_of("\r\n"), std::string::npos) << name;
        EXPECT_FALSE(result.error.systemMessage.empty()) << name;
    }
    EXPECT_FALSE(fs::exists(absent));
    std::string content;
    std::ifstream(file) >> content;
    EXPECT_EQ(content, "keep");
    fs::remove_all(dir);
}

TEST(SerialDeviceWin, CarriesBytesBothWaysAndDiscardsInput) {
    ComDevice device;
    const auto port = SerialDevice::open(serial::portPathFor(ComDevice::kProgramPort)).device;
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

// Reads COM3's settings through a handle of its own, and writes back what `change` makes of
// them: Wine lets a second handle in beside the program's.
void changeCom3(const std::function<void(DCB&)>& change) {
    const HANDLE raw = ::CreateFileA("//./COM3", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
    DCB state{};
    state.DCBlength = sizeof state;
    EXPECT_TRUE(::GetCommState(raw, &state));
    change(state);
    EXPECT_TRUE(::SetCommState(raw, &state));
    ::CloseHandle(raw);
}

// XON/XOFF set on COM3 for as long as it lives: the tests after need a plain line.
struct XonXoffSet {
    XonXoffSet() { set(TRUE); }
    ~XonXoffSet() { set(FALSE); }
    static void set(BOOL on) {
        changeCom3([on](DCB& state) { state.fOutX = state.fInX = on; });
    }
};

// The port's own settings stay, flow control included; and input wakes a caller that waits
// on the port, with the byte that woke it handed out first.
TEST(SerialDeviceWin, KeepsThePortsFlowControlAndWakesOnInput) {
    const XonXoffSet xonXoff;
    ComDevice device;
    auto port = SerialDevice::open(serial::portPathFor(ComDevice::kProgramPort)).device;
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->applyLineSettings(19200));
    changeCom3([](DCB& state) {
        EXPECT_TRUE(state.fOutX && state.fInX);
        EXPECT_EQ(state.BaudRate, 19200u);
        EXPECT_EQ(state.ByteSize, 8);
    });

    const auto wake = port->inputWake();
    ASSERT_TRUE(wake && wake->kind == serial::InputWake::Kind::Signalled);
    const auto event = reinterpret_cast<HANDLE>(wake->handle);
    EXPECT_EQ(port->waitingBytes(), 0u);
    EXPECT_EQ(::WaitForSingleObject(event, 200), WAIT_TIMEOUT);
    device.send("AB");
    ASSERT_EQ(::WaitForSingleObject(event, 2000), WAIT_OBJECT_0);
    ASSERT_TRUE(waitFor([&] { return port->waitingBytes().value_or(0) == 2; }));
    std::string got(2, '\0');
    EXPECT_EQ(port->read(reinterpret_cast<std::uint8_t*>(got.data()), 2), 2u);
    EXPECT_EQ(got, "AB");
    EXPECT_EQ(port->waitingBytes(), 0u);
    EXPECT_EQ(::WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "waiting again";
    // A purge takes the byte a wait may hold, too.
    device.send("CD");
    ASSERT_EQ(::WaitForSingleObject(event, 2000), WAIT_OBJECT_0);
    ASSERT_TRUE(waitFor([&] { return port->waitingBytes().value_or(0) == 2; }));
    port->discardInput();
    EXPECT_EQ(port->waitingBytes(), 0u);
}

// wine_run.sh names every port COM1..COM256 to Wine, which enters them in the registry.
TEST(PortListWin, ListsThePortsTheRegistryHoldsInNumberOrder) {
    const std::vector<std::string> ports = serial::availablePorts();
    const auto at = [&ports](const char* name) {
        return std::find(ports.begin(), ports.end(), name);
    };
    ASSERT_NE(at("COM3"), ports.end());
    ASSERT_NE(at("COM10"), ports.end());
    EXPECT_LT(at("COM9"), at("COM10"));
}

}  // namespace
