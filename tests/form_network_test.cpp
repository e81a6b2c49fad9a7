// The window on a port that a server on the loopback address offers.
#include <QComboBox>
#include <QGuiApplication>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest/QTest>

#include "form_fixture.h"
#include "oracle/keys.h"
#include "support/serial_server.h"
#include "support/wait_for.h"

using testing_support::PtyDevice;
using testing_support::SerialServer;
using testing_support::waitFor;

namespace {

QString portName(const char* scheme, const QTcpServer& server) {
    return QStringLiteral("%1://127.0.0.1:%2").arg(QLatin1String(scheme)).arg(server.serverPort());
}

}  // namespace

TEST_F(FormTest, NetworkPortSwitchesCarriesKeysAndGoesOffOnceWhenTheServerLeaves) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const QString name = portName("socket", server);
    form->show();
    edit("EditCOMport")->setText(name);
    auto* sw = button("BitBtnRS232");

    for (int round = 0; round < 2; ++round) {
        QTest::mouseClick(sw, Qt::LeftButton);
        ASSERT_EQ(sw->text(), QStringLiteral("RS232 ON"));
        ASSERT_TRUE(waitFor([&] { return server.hasPendingConnections(); }));
        QTcpSocket* peer = server.nextPendingConnection();

        form->Image1Click();
        ASSERT_TRUE(waitFor([&] { return peer->bytesAvailable() >= 5; }));
        EXPECT_EQ(peer->readAll(), QByteArray("G45g\n"));
        peer->write("E");
        ASSERT_TRUE(waitFor([&] { return logLines().contains("KEY_POWER_ON/OFF"); }));

        peer->close();
        ASSERT_TRUE(waitFor([&] { return sw->text() == QStringLiteral("RS232 OFF"); }));
        runFor(std::chrono::milliseconds(300));
        EXPECT_EQ(logLines().count(name + " RS232 OFF"), round + 1);
        delete peer;
    }
    EXPECT_EQ(logLines().count(name + " RS232 ON"), 2) << "one click reconnects";
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(FormTest, SilentServerLeavesTheWindowAliveButDeafUntilTheOpenGivesUp) {
    QTcpServer server;  // the system accepts for it; nobody ever answers
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    form->show();
    edit("EditCOMport")->setText(portName("rfc2217", server));

    int ticks = 0;
    int busyTicks = 0;
    QTimer clock;
    QObject::connect(&clock, &QTimer::timeout, [&] {
        ++ticks;
        const QCursor* cursor = QGuiApplication::overrideCursor();
        busyTicks += cursor != nullptr && cursor->shape() == Qt::BusyCursor;
        if (ticks == 5) {
            QTest::mouseClick(button("ButtonSearchDevice"), Qt::LeftButton);
            QTest::keyClicks(edit("EditCOMport"), QStringLiteral("typed"));
        }
    });
    clock.start(50);
    testing::internal::CaptureStderr();
    form->BitBtnRS232Click();
    const std::string said = testing::internal::GetCapturedStderr();
    clock.stop();

    EXPECT_GT(ticks, 20) << "the window's timers run while the server is silent";
    EXPECT_EQ(busyTicks, ticks);
    EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);
    EXPECT_FALSE(searchTimer()->isActive()) << "a click during the wait is not heard";
    EXPECT_EQ(edit("EditCOMport")->text(), portName("rfc2217", server));
    EXPECT_EQ(logLines(), QStringList{"RS232 Open Error. "});
    EXPECT_NE(said.find("the server did not take RFC 2217 port control in time"), std::string::npos)
        << said;
    EXPECT_EQ(button("BitBtnRS232")->text(), QStringLiteral("RS232 OFF"));
}

TEST_F(FormTest, ThroughSer2netEveryKeyAnswersAndTheServerStoppingTurnsThePortOffOnce) {
    form->show();
    child<QComboBox>("ComboBoxBaudrate")->setEditText(QStringLiteral("19200"));
    struct Case {
        const char* scheme;
        speed_t deviceSpeed;  // only port control reaches the far port's settings
    };
    for (const Case& c : {Case{"socket", B9600}, Case{"rfc2217", B19200}}) {
        SCOPED_TRACE(c.scheme);
        PtyDevice device;
        SerialServer server(device.path());
        if (!server.usable()) {
            GTEST_SKIP() << "ser2net is not installed";
        }
        const QString name = QString::fromStdString(server.portName(c.scheme));
        edit("EditCOMport")->setText(name);
        QTest::mouseClick(button("BitBtnRS232"), Qt::LeftButton);
        ASSERT_TRUE(form->session().link().ComOpened()) << errors.join('\n').toStdString();
        EXPECT_TRUE(waitFor([&] {
            const termios line = device.lineSettings();
            return cfgetospeed(&line) == c.deviceSpeed;
        }));

        for (const oracle::Key& key : oracle::keys()) {
            if (!key.code) {
                continue;
            }
            QTest::mouseClick(form->findChild<QWidget*>(QStringLiteral("Image%1").arg(key.hotspot)),
                              Qt::LeftButton);
            std::vector<std::uint8_t> frame(key.command.begin(), key.command.end());
            frame.push_back('\n');
            ASSERT_EQ(device.receive(5, std::chrono::seconds(2)), frame) << key.hint;
            device.send(std::vector<std::uint8_t>{*key.code});
            ASSERT_TRUE(waitFor([&] {
                return logLines().last() == QString::fromStdString(key.receivedName);
            })) << key.hint;
        }

        server.stop();
        ASSERT_TRUE(waitFor([&] { return button("BitBtnRS232")->text() == "RS232 OFF"; }));
        runFor(std::chrono::milliseconds(300));
        EXPECT_EQ(logLines().count(name + " RS232 OFF"), 1);
    }
    EXPECT_TRUE(errors.isEmpty());
}
