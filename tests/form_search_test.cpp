// The device search over COM1..COM20, with every COM name mapped to a temporary alias.
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QTimer>

#include "form_fixture.h"
#include "support/wait_for.h"

using testing_support::PtyDevice;
using testing_support::waitFor;

namespace {

// Plays a device that answers the probe, the way a present device does.
class ProbeResponder {
public:
    explicit ProbeResponder(PtyDevice& device)
        : device_(device), notifier_(device.master(), QSocketNotifier::Read) {
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { onBytes(); });
    }
    int probes() const { return probes_; }

private:
    void onBytes() {
        for (std::uint8_t b : device_.drain()) {
            pending_.push_back(char(b));
            if (b == 0x0A) {
                if (pending_ == "GFEg\n") {
                    ++probes_;
                    device_.send("gEFG\n");
                }
                pending_.clear();
            }
        }
    }
    PtyDevice& device_;
    QSocketNotifier notifier_;
    std::string pending_;
    int probes_ = 0;
};

}  // namespace

using SearchTest = FormTest;

TEST_F(SearchTest, NoPortsTakesTwentyQuietTicksAndSaysSoOnce) {
    startSearchByHand();
    searchTicks(19);
    EXPECT_TRUE(logLines().isEmpty());
    searchTimer()->start();
    searchTicks(1);
    EXPECT_EQ(logLines(), QStringList{"Device not found . "});
    EXPECT_FALSE(searchTimer()->isActive());
    EXPECT_EQ(searchTimer()->interval(), 300);
    EXPECT_EQ(edit("EditCOMport")->text(), QStringLiteral("COM20"));
    EXPECT_EQ(form->session().deviceSearch().SearchPort(), 21);
    EXPECT_EQ(form->session().deviceSearch().SearchPortLast(), 20);
}

TEST_F(SearchTest, SilentPortIsGivenUpAfterFourProbesAndTheScanGoesOnWhereItHadGot) {
    PtyDevice silent;
    aliases->mapPort(3, silent.path());
    startSearchByHand();
    searchTicks(3);
    EXPECT_EQ(logLines(), QStringList{"COM3 RS232 ON"});
    EXPECT_EQ(searchTimer()->interval(), 2000);
    EXPECT_EQ(edit("EditSend")->text(), QStringLiteral("GFEg"));
    EXPECT_EQ(form->session().link().ComPortPath(), "//./COM3");
    EXPECT_EQ(button("BitBtnRS232")->text(), QStringLiteral("RS232 ON"));
    searchTicks(4);
    EXPECT_EQ(silent.receive(20),
              std::vector<std::uint8_t>({'G', 'F', 'E', 'g', 0x0A, 'G', 'F', 'E', 'g', 0x0A,
                                         'G', 'F', 'E', 'g', 0x0A, 'G', 'F', 'E', 'g', 0x0A}));
    EXPECT_EQ(logLines(), (QStringList{"COM3 RS232 ON", "COM3Check .... ", "COM3Check .... ",
                                       "COM3Check .... ", "COM3Check .... ", "COM3 RS232 OFF"}));
    // The same tick tried the number the scan had reached: COM7, not COM4.
    EXPECT_EQ(edit("EditCOMport")->text(), QStringLiteral("COM7"));
    EXPECT_EQ(searchTimer()->interval(), 300);
    EXPECT_EQ(form->session().deviceSearch().ProbeCount(), 5);
    EXPECT_EQ(button("BitBtnRS232")->text(), QStringLiteral("RS232 OFF"));
}

TEST_F(SearchTest, PortOpeningAsCom20IsClosedInTheSameTick) {
    PtyDevice silent;
    aliases->mapPort(20, silent.path());
    startSearchByHand();
    searchTicks(20);
    EXPECT_EQ(logLines(),
              (QStringList{"COM20 RS232 ON", "Device not found . ", "COM20 RS232 OFF"}));
    EXPECT_FALSE(form->session().link().ComOpened());
    EXPECT_EQ(button("BitBtnRS232")->palette().color(QPalette::ButtonText), QColor(0, 0, 0));
    // The next scan starts at the interval this one left.
    form->ButtonSearchDeviceClick();
    EXPECT_EQ(searchTimer()->interval(), 2000);
    EXPECT_TRUE(searchTimer()->isActive());
    // COM20 was never probed.
    searchTimer()->stop();
    form->BitBtnRS232Click();
    EXPECT_TRUE(nothingReachedYet(silent));
}

TEST_F(SearchTest, PortsOpeningLateGetFewerProbes) {
    PtyDevice silent;
    aliases->mapPort(18, silent.path());
    startSearchByHand();
    searchTicks(20);
    EXPECT_EQ(logLines(), (QStringList{"COM18 RS232 ON", "COM18Check .... ", "COM18Check .... ",
                                       "Device not found . ", "COM18 RS232 OFF"}));
}

TEST_F(SearchTest, ReplyIsFoundOnTheNextTickAndThePortStaysOpen) {
    PtyDevice device;
    ProbeResponder responder(device);
    aliases->mapPort(3, device.path());
    startSearchByHand();
    searchTicks(4);
    ASSERT_TRUE(waitFor([&] {
        form->ButtonRs232ReadClick();
        return form->session().deviceSearch().DeviceFound() == 1;
    }));
    searchTicks(1);
    EXPECT_EQ(logLines(), (QStringList{"COM3 RS232 ON", "COM3Check .... ", "gEFG", "",
                                       "Search Device : COM3"}));
    EXPECT_TRUE(form->session().link().ComOpened());
    EXPECT_EQ(button("BitBtnRS232")->text(), QStringLiteral("RS232 ON"));
    EXPECT_FALSE(searchTimer()->isActive());
}

TEST_F(SearchTest, ReplyArrivingDuringTheFourthProbeNamesTheProbedPort) {
    PtyDevice late;
    aliases->mapPort(3, late.path());
    startSearchByHand();
    searchTicks(6);  // open and three unanswered probes
    late.drain();
    // The reply comes back while the fourth probe is still going out, and a poll runs
    // between its bytes.
    const int pauses = duringPauses(
        [&] { searchTicks(1); },
        [&](int pause) {
            if (pause == 1) {
                late.send("gEFG\n");
                waitFor([&] { return form->session().link().waitingBytes().value_or(0) == 5; });
                form->ButtonRs232ReadClick();
                form->ButtonRs232ReadClick();
            }
        });
    ASSERT_GE(pauses, 1);
    EXPECT_EQ(logLines().mid(4),
              (QStringList{"gEFG", "", "COM3Check .... ", "Search Device : COM3"}));
    EXPECT_TRUE(form->session().link().ComOpened());
    EXPECT_EQ(form->session().link().ComPortPath(), "//./COM3");
    EXPECT_EQ(edit("EditCOMport")->text(), QStringLiteral("COM3"));
}

TEST_F(SearchTest, ClickWithThePortOpenOnlySwitchesItOff) {
    PtyDevice device;
    aliases->mapPort(6, device.path());
    form->show();
    form->BitBtnRS232Click();
    form->ButtonSearchDeviceClick();
    EXPECT_FALSE(form->session().link().ComOpened());
    EXPECT_FALSE(searchTimer()->isActive());
    EXPECT_EQ(logLines(), (QStringList{"COM6 RS232 ON", "COM6 RS232 OFF"}));
    form->ButtonSearchDeviceClick();
    EXPECT_TRUE(searchTimer()->isActive());
}

TEST_F(SearchTest, ClickDuringAScanRestartsItFromCom1) {
    PtyDevice silent;
    aliases->mapPort(2, silent.path());
    startSearchByHand();
    searchTicks(3);
    EXPECT_EQ(form->session().deviceSearch().SearchPort(), 4);
    form->ButtonSearchDeviceClick();  // closes COM2; the timer keeps running
    EXPECT_EQ(form->session().deviceSearch().SearchPort(), 1);
    EXPECT_FALSE(form->session().link().ComOpened());
    searchTicks(1);
    EXPECT_EQ(edit("EditCOMport")->text(), QStringLiteral("COM1"));
}

TEST_F(SearchTest, PortSwitchedOnDuringAScanIsProbedWithTheCountLeftOver) {
    PtyDevice silent;
    PtyDevice other;
    aliases->mapPort(1, silent.path());
    startSearchByHand();
    searchTicks(5);  // COM1 opened and given up: the count stands at 5
    EXPECT_EQ(form->session().deviceSearch().ProbeCount(), 5);
    edit("EditCOMport")->setText(QString::fromStdString(other.path()));
    form->BitBtnRS232Click();
    searchTicks(1);
    EXPECT_FALSE(form->session().link().ComOpened());
    EXPECT_EQ(other.receive(5).size(), 5u);
}

TEST_F(SearchTest, RealTimeScanFindsTheDeviceOnCom3) {
    PtyDevice device;
    ProbeResponder responder(device);
    aliases->mapPort(3, device.path());
    form->show();
    QElapsedTimer clock;
    clock.start();
    form->ButtonSearchDeviceClick();
    ASSERT_TRUE(waitFor([&] { return !logLines().isEmpty(); }, std::chrono::milliseconds(10000)));
    const qint64 opened = clock.elapsed();
    EXPECT_EQ(logLines(), QStringList{"COM3 RS232 ON"});
    EXPECT_GE(opened, 800);  // the third 300 ms tick
    ASSERT_TRUE(waitFor([&] { return logLines().size() >= 2; }, std::chrono::milliseconds(10000)));
    EXPECT_GE(clock.elapsed() - opened, 1900);
    ASSERT_TRUE(waitFor([&] { return logLines().contains("Search Device : COM3"); },
                        std::chrono::milliseconds(10000)));
    EXPECT_EQ(logLines(), (QStringList{"COM3 RS232 ON", "COM3Check .... ", "gEFG", "",
                                       "Search Device : COM3"}));
    EXPECT_EQ(responder.probes(), 1);
    EXPECT_TRUE(form->session().link().ComOpened());
    EXPECT_FALSE(searchTimer()->isActive());
}
