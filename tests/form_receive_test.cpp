// Replies from the device, polled by the window's timer and its hidden read button.
#include <QTimer>

#include "form_fixture.h"
#include "support/wait_for.h"

using testing_support::PtyDevice;
using testing_support::waitFor;

// The receive timer rests with the port closed and while the open line is quiet; input
// wakes it, and it rests again once the message is logged.
TEST_F(FormTest, KeyCodeFromTheDeviceIsLoggedByNameAndTheTimerRestsBetween) {
    PtyDevice device;
    form->show();
    EXPECT_FALSE(pollTimer()->isActive());
    switchOnTo(device);
    EXPECT_FALSE(pollTimer()->isActive());
    device.send(std::vector<std::uint8_t>{0x45});
    ASSERT_TRUE(waitFor([&] { return logLines().size() == 2; }));
    EXPECT_EQ(logLines().last(), QStringLiteral("KEY_POWER_ON/OFF"));
    ASSERT_TRUE(waitFor([&] { return !pollTimer()->isActive(); }));
    device.send(std::vector<std::uint8_t>{0x43});
    device.send("gEFG\n");  // arrives in the same gap as 0x43: one text message
    ASSERT_TRUE(waitFor([&] {
        return form->session().deviceSearch().DeviceFound() == 0 && logLines().size() > 2;
    }));
    EXPECT_EQ(logLines().mid(2), (QStringList{"CgEFG", ""}));
    ASSERT_TRUE(waitFor([&] { return !pollTimer()->isActive(); }));
    form->BitBtnRS232Click();
    device.send(std::vector<std::uint8_t>{0x45});
    runFor(std::chrono::milliseconds(300));
    EXPECT_FALSE(pollTimer()->isActive());
    EXPECT_EQ(logLines().size(), 5);
}

TEST_F(FormTest, ProbeReplySetsTheFoundSignalAndIsLoggedAsText) {
    PtyDevice device;
    form->show();
    switchOnTo(device);
    device.send("gEFG\n");
    ASSERT_TRUE(waitFor([&] { return form->session().deviceSearch().DeviceFound() == 1; }));
    // The line feed is kept in the line; the log shows it as a line break.
    EXPECT_EQ(logLines().mid(1), (QStringList{"gEFG", ""}));
}

TEST_F(FormTest, ClosedPortStopsPollingAndKeepsTheGatheredBytes) {
    PtyDevice device;
    form->show();
    switchOnTo(device);
    pollOnlyByHand();
    device.send("AB");
    ASSERT_TRUE(waitFor([&] {
        form->ButtonRs232ReadClick();
        return form->session().receiveState().RxCount() == 2;
    }));
    form->BitBtnRS232Click();
    form->TimerRs232Timer();  // port closed: no poll
    EXPECT_EQ(form->session().receiveState().RxCount(), 2);
    form->BitBtnRS232Click();
    form->TimerRs232Timer();  // the first quiet poll after the next open ends the message
    EXPECT_EQ(logLines().last(), QStringLiteral("AB"));
    EXPECT_EQ(form->session().receiveState().RxCount(), 0);
}

TEST_F(FormTest, InvalidBytesShowAsReplacementCharactersInPlace) {
    PtyDevice device;
    form->show();
    switchOnTo(device);
    device.send(std::string("ok\xff\xfe-\x01\t end", 12));
    ASSERT_TRUE(waitFor([&] { return logLines().size() == 2; }));
    EXPECT_EQ(logLines().last(), QString::fromUtf8("ok\uFFFD\uFFFD-\x01\t end"));
}

TEST_F(FormTest, HiddenReadButtonPollsEvenWithThePortClosed) {
    form->show();
    form->ButtonRs232ReadClick();  // never opened: nothing to read, nothing happens
    edit("EditCOMport")->setText(QStringLiteral("/dev/does-not-exist"));
    form->BitBtnRS232Click();
    form->ButtonRs232ReadClick();  // invalid handle: stops at once
    EXPECT_EQ(logLines(), QStringList{"RS232 Open Error. "});
    EXPECT_EQ(form->session().receiveState().RxCount(), 0);
}

TEST_F(FormTest, VanishedDeviceIsShownSwitchedOffOnceAfterWhatItSent) {
    auto device = std::make_unique<PtyDevice>();
    const QString path = QString::fromStdString(device->path());
    form->show();
    switchOnTo(*device);
    device->send("partial");
    ASSERT_TRUE(waitFor([&] { return form->session().receiveState().RxCount() == 7; }));
    device->vanish();
    ASSERT_TRUE(waitFor([&] { return !form->session().link().ComOpened(); }));
    runFor(std::chrono::milliseconds(300));  // nothing more comes of the dead line
    EXPECT_EQ(logLines(), (QStringList{path + " RS232 ON", "partial", path + " RS232 OFF"}));
    auto* sw = button("BitBtnRS232");
    EXPECT_EQ(sw->text(), QStringLiteral("RS232 OFF"));
    EXPECT_EQ(sw->palette().color(QPalette::ButtonText), QColor(0, 0, 0));
    EXPECT_EQ(form->session().link().hComm().state(), serial::CommHandle::State::Closed);
}

// A port fresh from the kernel has a terminal's settings: cooked, echoing, and with output
// flow control on, which lets 0x13 from the device stop our output. Once the program has
// opened it, it must behave exactly as a raw one.
TEST_F(FormTest, LineWithTheKernelsSettingsBehavesAsARawOneOnceOpened) {
    using Line = PtyDevice::Line;
    using Bytes = std::vector<std::uint8_t>;
    form->show();
    for (const Line line : {Line::Raw, Line::KernelDefaults}) {
        SCOPED_TRACE(line == Line::Raw ? "raw" : "kernel defaults");
        form->ButtonClearClick();
        PtyDevice device(line);
        switchOnTo(device);

        // XOFF, then a key code: both arrive, and the next frame still goes out whole.
        device.send(Bytes{0x13});
        ASSERT_TRUE(waitFor([&] { return form->session().receiveState().RxCount() == 1; }));
        ASSERT_TRUE(waitFor([&] { return form->session().receiveState().RxCount() == 0; }));
        device.send(Bytes{0x45});
        ASSERT_TRUE(waitFor([&] { return logLines().last() == "KEY_POWER_ON/OFF"; }));
        form->Image1Click();
        EXPECT_EQ(device.receive(5), (Bytes{'G', '4', '5', 'g', 0x0A}));

        device.send(std::string("a\021b\023c\rd\ne"));
        ASSERT_TRUE(waitFor([&] { return logLines().size() == 5; }));
        EXPECT_EQ(logLines().mid(2), (QStringList{"a\021b\023c", "d", "e"}));

        form->Button2Click();
        EXPECT_EQ(device.receive(2, std::chrono::milliseconds(200)), Bytes{0x0A});
        form->BitBtnRS232Click();
    }
}
