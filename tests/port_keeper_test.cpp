// The port keeper on a session of its own, with the device played by ptys behind a COM
// alias that the test points at them, or at nothing.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <chrono>
#include <memory>

#include "pty_device.h"
#include "serve/port_keeper.h"
#include "session/session.h"
#include "support/wait_for.h"

namespace {

using serve::PortKeeper;
using testing_support::PtyDevice;
using testing_support::waitFor;
using namespace std::chrono_literals;

class PortKeeperTest : public ::testing::Test {
protected:
    void SetUp() override {
        line.setBaudRate(9600);
        line.setPortText("COM6");
    }

    bool opened() {
        return waitFor([&] { return line.link().ComOpened(); });
    }
    // Lets a few retries run, so that a line said twice would show.
    static void severalRetries() {
        waitFor([] { return false; }, 300ms);
    }

    std::string absent() const { return aliases.root() + "/absent/com6"; }

    testing_support::PortAliases aliases;
    session::Session line{nullptr, 20ms};
    std::vector<std::string> said;
    PortKeeper keeper{line, [this](const std::string& s) { said.push_back(s); }, 50ms};
};

TEST_F(PortKeeperTest, SaysEachChangeOnceAndOpensThePortWheneverItIsBack) {
    keeper.start();
    severalRetries();
    auto device = std::make_unique<PtyDevice>();
    aliases.mapPort(6, device->path());
    ASSERT_TRUE(opened());
    // Away from the vanished pty's number, which a test running beside this one may be given.
    aliases.mapPort(6, absent());
    device->vanish();
    ASSERT_TRUE(waitFor([&] { return said.size() == 4; }));
    severalRetries();
    device = std::make_unique<PtyDevice>();
    aliases.mapPort(6, device->path());
    ASSERT_TRUE(opened());
    keeper.stop();
    EXPECT_FALSE(line.link().ComOpened());
    severalRetries();
    EXPECT_FALSE(line.link().ComOpened()) << "tried again after the stop";
    EXPECT_EQ(said,
              (std::vector<std::string>{
                  "cannot open COM6 (" + absent() + "): No such file or directory; trying again",
                  "opened COM6",
                  "COM6 has gone (unplugged?); trying again",
                  "cannot open COM6 (" + absent() + "): No such file or directory; trying again",
                  "opened COM6",
              }));
}

TEST_F(PortKeeperTest, WithoutRetriesTheFirstLossIsHandedOnAndNothingMoreIsTried) {
    std::vector<PortKeeper::Loss> losses;
    keeper.giveUpWith([&](PortKeeper::Loss loss) { losses.push_back(loss); });
    keeper.start();
    auto device = std::make_unique<PtyDevice>();
    aliases.mapPort(6, device->path());
    severalRetries();
    EXPECT_FALSE(line.link().ComOpened());
    ASSERT_EQ(losses, std::vector<PortKeeper::Loss>{PortKeeper::Loss::NotOpened});

    keeper.start();
    ASSERT_TRUE(opened());
    device->vanish();
    ASSERT_TRUE(waitFor([&] { return losses.size() == 2; }));
    severalRetries();
    EXPECT_EQ(losses.back(), PortKeeper::Loss::Gone);
    EXPECT_EQ(said, (std::vector<std::string>{
                        "cannot open COM6 (" + absent() + "): No such file or directory",
                        "opened COM6", "COM6 has gone (unplugged?)"}));
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
