// The keypad and the send routine, with a pty as the device.
#include <QtTest/QTest>

#include "form_fixture.h"
#include "oracle/keys.h"

using testing_support::PtyDevice;
using Bytes = std::vector<std::uint8_t>;

namespace {

// A key's frame: its four-character command and a line feed.
Bytes frameOf(std::string_view command) {
    Bytes frame(command.begin(), command.end());
    frame.push_back(0x0A);
    return frame;
}

QWidget* hotspot(TFormKolvane& form, int n) {
    return form.findChild<QWidget*>(QStringLiteral("Image%1").arg(n));
}

}  // namespace

TEST_F(FormTest, EveryWorkingKeySendsItsFrameFromAnywhereInItsArea) {
    PtyDevice device;
    form->show();
    switchOnTo(device);
    for (const oracle::Key& key : oracle::keys()) {
        if (!key.code) {
            continue;
        }
        QWidget* spot = hotspot(*form, key.hotspot);
        for (const QPoint at :
             {QPoint(34, 34), QPoint(0, 0), QPoint(67, 0), QPoint(0, 67), QPoint(67, 67)}) {
            QTest::mouseClick(spot, Qt::LeftButton, {}, at);
            EXPECT_EQ(device.receive(5), frameOf(key.command))
                << "Image" << key.hotspot << " at " << at.x() << "," << at.y();
            EXPECT_EQ(edit("EditSend")->text().toStdString(), key.command);
        }
    }
    EXPECT_TRUE(nothingReachedYet(device));
    EXPECT_EQ(logLines(), QStringList{QString::fromStdString(device.path()) + " RS232 ON"});
}

TEST_F(FormTest, ClicksOnThePictureBetweenKeysSendNothing) {
    PtyDevice device;
    form->show();
    switchOnTo(device);
    QWidget* client = form->centralWidget();
    for (const QPoint at : {QPoint(2, 2), QPoint(79, 50), QPoint(160, 120), QPoint(120, 10),
                            QPoint(235, 515), QPoint(40, 87)}) {
        QTest::mouseClick(client->childAt(at), Qt::LeftButton, {},
                          client->childAt(at)->mapFrom(client, at));
    }
    EXPECT_TRUE(nothingReachedYet(device));
    EXPECT_EQ(edit("EditSend")->text(), QStringLiteral("G46g"));
}

TEST_F(FormTest, ClosedPortKeyChangesTheCommandBoxAndSendsNothing) {
    PtyDevice device;
    form->show();
    switchOnTo(device);
    form->BitBtnRS232Click();
    form->Image12Click();
    EXPECT_EQ(edit("EditSend")->text(), QStringLiteral("G0Dg"));
    form->BitBtnRS232Click();
    EXPECT_TRUE(nothingReachedYet(device));
}

TEST_F(FormTest, ReservedKeyOnlyLogs) {
    form->show();
    form->Image6Click();
    PtyDevice device;
    switchOnTo(device);
    QTest::mouseClick(hotspot(*form, 6), Qt::LeftButton);
    EXPECT_EQ(logLines().first(), QStringLiteral("Reserved"));
    EXPECT_EQ(logLines().last(), QStringLiteral("Reserved"));
    EXPECT_EQ(edit("EditSend")->text(), QStringLiteral("G46g"));
    EXPECT_TRUE(nothingReachedYet(device));
}

TEST_F(FormTest, SendCmdSendsWhatTheBoxHoldsCutOrPadded) {
    PtyDevice device;
    form->show();
    switchOnTo(device);
    const struct {
        QString text;
        Bytes frame;
    } cases[] = {
        {QStringLiteral("G46gXYZ"), {'G', '4', '6', 'g', 0x0A}},
        {QStringLiteral("G4"), {'G', '4', 0, 0, 0x0A}},
        {QStringLiteral("A"), {'A', 0, 0, 0, 0x0A}},
        {QString(), {0, 0, 0, 0, 0x0A}},
        {QStringLiteral("é1"), {0xC3, 0xA9, '1', 0, 0x0A}},  // the 8-bit encoding, byte for byte
    };
    for (const auto& c : cases) {
        edit("EditSend")->setText(c.text);
        QTest::mouseClick(button("ButtonConvert"), Qt::LeftButton);
        EXPECT_EQ(device.receive(5), c.frame) << c.text.toStdString();
    }
    EXPECT_TRUE(logLines().size() == 1);  // only the switch's line: sending logs nothing
}

TEST_F(FormTest, SendCmdRepeatsTheLastKey) {
    PtyDevice device;
    form->show();
    switchOnTo(device);
    form->Image1Click();
    device.receive(5);
    form->ButtonConvertClick();
    EXPECT_EQ(device.receive(5), frameOf("G45g"));
}

TEST_F(FormTest, HiddenButtonsSendOneCharacterAndALoneLineFeed) {
    PtyDevice device;
    form->show();
    switchOnTo(device);
    form->Button1Click();
    EXPECT_EQ(device.receive(1), Bytes{'G'});
    edit("EditChar")->setText(QString());
    form->Button1Click();
    EXPECT_EQ(device.receive(1), Bytes{0});
    form->Button2Click();
    EXPECT_EQ(device.receive(1), Bytes{0x0A});
    EXPECT_TRUE(nothingReachedYet(device));
}

TEST_F(FormTest, SendInsideAnotherSendWaitsForTheFirstFrame) {
    PtyDevice device;
    form->show();
    switchOnTo(device);
    // Clicks that land while the first frame is between bytes.
    int nested = 0;
    duringPauses([&] { form->Image1Click(); },
                 [&](int) {
                     if (nested < 3) {
                         ++nested;
                         nested == 1 ? form->Image2Click() : form->Image3Click();
                     }
                 });
    ASSERT_EQ(nested, 3);
    Bytes expected = frameOf("G45g");
    for (const char* t : {"G46g", "G47g", "G47g"}) {
        const Bytes f = frameOf(t);
        expected.insert(expected.end(), f.begin(), f.end());
    }
    EXPECT_EQ(device.receive(expected.size()), expected);
}

TEST_F(FormTest, ClosingThePortBetweenBytesStopsTheFrame) {
    PtyDevice first;
    PtyDevice second;
    form->show();
    switchOnTo(first);
    duringPauses([&] { form->Image1Click(); },
                 [&](int pause) {
                     if (pause == 2) {
                         form->BitBtnRS232Click();  // off
                         edit("EditCOMport")->setText(QString::fromStdString(second.path()));
                         form->BitBtnRS232Click();  // on, another port
                     }
                 });
    EXPECT_TRUE(form->session().link().ComOpened());
    const Bytes onFirst = first.receive(5, std::chrono::milliseconds(100));
    EXPECT_GE(onFirst.size(), 1u);
    EXPECT_LT(onFirst.size(), 5u);
    const Bytes power = frameOf("G45g");
    EXPECT_EQ(onFirst, Bytes(power.begin(), power.begin() + onFirst.size()));
    // The new port works for the next send, and carried nothing before it.
    form->Image2Click();
    EXPECT_EQ(second.receive(5), frameOf("G46g"));
}
