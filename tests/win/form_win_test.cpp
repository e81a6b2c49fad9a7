// The window built for Windows, under Wine, against COM3 on a pseudo-terminal: the switch,
// keys and their answers, open errors, and a search that finds the device.
#include <gtest/gtest.h>

#include <QHostAddress>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <chrono>
#include <cstdio>

#include "app/form_kolvane.h"
#include "com_device.h"
#include "support/wait_for.h"

using testing_support::ComDevice;
using testing_support::waitFor;

namespace {

class FormWin : public ::testing::Test {
protected:
    void SetUp() override {
        form.setErrorDisplay([this](const QString& message) { errors << message; });
        form.show();
    }

    QLineEdit* edit(const char* name) { return form.findChild<QLineEdit*>(QLatin1String(name)); }
    QStringList log() {
        const QString text = form.findChild<QPlainTextEdit*>("Memo1")->toPlainText();
        return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    }
    bool logEndsWith(const QStringList& lines) {
        const QStringList all = log();
        return all.size() >= lines.size() && all.mid(all.size() - lines.size()) == lines;
    }

    ComDevice device;
    TFormKolvane form;
    QStringList errors;
};

TEST_F(FormWin, SwitchKeysAndAnswers) {
    edit("EditCOMport")->setText(ComDevice::kProgramPort);
    form.BitBtnRS232Click();
    ASSERT_TRUE(form.session().link().ComOpened());
    EXPECT_EQ(log(), QStringList{"COM3 RS232 ON"});

    const auto clicked = std::chrono::steady_clock::now();
    form.Image12Click();
    EXPECT_EQ(device.receive(5), "G0Dg\n");
    const auto took = std::chrono::steady_clock::now() - clicked;
    // For the record only: the raised timer resolution should keep a frame near 5 ms.
    std::printf("click to fifth byte: %.1f ms\n",
                std::chrono::duration<double, std::milli>(took).count());

    device.send("\x45");
    EXPECT_TRUE(waitFor([&] { return logEndsWith({"KEY_POWER_ON/OFF"}); }));
    device.send("hello");
    EXPECT_TRUE(waitFor([&] { return logEndsWith({"hello"}); }));

    form.Image6Click();
    EXPECT_TRUE(logEndsWith({"Reserved"}));
    form.BitBtnRS232Click();
    EXPECT_FALSE(form.session().link().ComOpened());
    EXPECT_TRUE(logEndsWith({"COM3 RS232 OFF"}));
    form.Image1Click();
    EXPECT_EQ(device.receive(1, std::chrono::milliseconds(200)), "");
    EXPECT_TRUE(errors.isEmpty()) << errors.join(' ').toStdString();
}

TEST_F(FormWin, NamesThatAreNoPortGiveTheOpenError) {
    for (const char* name : {"COM6", "", "NUL", "CON", "C:", "COM4", "\\\\server\\share"}) {
        edit("EditCOMport")->setText(QString::fromLatin1(name));
        form.BitBtnRS232Click();
        EXPECT_FALSE(form.session().link().ComOpened()) << name;
        EXPECT_TRUE(logEndsWith({"RS232 Open Error. "})) << name;
    }
    EXPECT_EQ(log().size(), 7);
}

TEST_F(FormWin, SearchFindsTheDeviceOnCom3) {
    form.ButtonSearchDeviceClick();
    ASSERT_TRUE(
        waitFor([&] { return form.session().link().ComOpened(); }, std::chrono::seconds(5)));
    EXPECT_EQ(device.receive(5, std::chrono::seconds(4)), "GFEg\n");
    device.send("gEFG\n");
    ASSERT_TRUE(
        waitFor([&] { return log().contains("Search Device : COM3"); }, std::chrono::seconds(5)));
    EXPECT_EQ(log(), (QStringList{"COM3 RS232 ON", "COM3Check .... ", "gEFG", "",
                                  "Search Device : COM3"}));
    EXPECT_TRUE(form.session().link().ComOpened());
}

// Winsock under the window: the socket wakes the receiver, a server that leaves switches
// the port off once, and a silent one fails the open with a reason.
TEST_F(FormWin, NetworkPortsAsOnLinux) {
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const QString port = QString::number(server.serverPort());
    edit("EditCOMport")->setText("socket://127.0.0.1:" + port);
    form.BitBtnRS232Click();
    ASSERT_TRUE(form.session().link().ComOpened());
    ASSERT_TRUE(waitFor([&] { return server.hasPendingConnections(); }));
    QTcpSocket* peer = server.nextPendingConnection();
    form.Image1Click();
    ASSERT_TRUE(waitFor([&] { return peer->bytesAvailable() >= 5; }));
    EXPECT_EQ(peer->readAll(), QByteArray("G45g\n"));
    peer->write("E");
    EXPECT_TRUE(waitFor([&] { return logEndsWith({"KEY_POWER_ON/OFF"}); }));
    peer->close();
    ASSERT_TRUE(waitFor([&] { return !form.session().link().ComOpened(); }));
    EXPECT_EQ(log().count("socket://127.0.0.1:" + port + " RS232 OFF"), 1);

    edit("EditCOMport")->setText("rfc2217://127.0.0.1:" + port);
    form.BitBtnRS232Click();
    EXPECT_FALSE(form.session().link().ComOpened());
    EXPECT_TRUE(logEndsWith({"RS232 Open Error. "}));
    EXPECT_TRUE(errors.isEmpty()) << errors.join(' ').toStdString();
}

}  // namespace
