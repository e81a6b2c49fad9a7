// The window built for Windows, under Wine, against COM3 on a pseudo-terminal: the switch,
// keys and their answers, open errors, and a search that finds the device.
#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <QEventLoop>
#include <QHostAddress>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

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

// Context switches of this process's threads, each a wake-up of the processor on its behalf,
// as Linux counts them, by thread. Wine's /proc/self would be its server, so the process is
// found by its name.
std::map<std::string, long long> ownWakeUps() {
    static const std::filesystem::path tasks = [] {
        char path[MAX_PATH] = {};
        ::GetModuleFileNameA(nullptr, path, MAX_PATH);
        const std::string self = std::filesystem::path(path).filename().string();
        for (const auto& process : std::filesystem::directory_iterator("Z:/proc")) {
            std::ifstream cmdline(process.path() / "cmdline");
            std::string program;
            std::getline(cmdline, program, '\0');
            if (std::filesystem::path(program).filename() == self) {
                return process.path() / "task";
            }
        }
        return std::filesystem::path();
    }();
    std::map<std::string, long long> byThread;
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
        std::ifstream status(task.path() / "status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 ||
                line.rfind("nonvoluntary_ctxt_switches:", 0) == 0) {
                byThread[task.path().filename().string()] +=
                    std::stoll(line.substr(line.find(':') + 1));
            }
        }
    }
    return byThread;
}

// The event loop alone, as the program runs it.
void runFor(std::chrono::milliseconds span) {
    QEventLoop loop;
    QTimer::singleShot(span, &loop, &QEventLoop::quit);
    loop.exec();
}

// Made by the threads alive at the end, so that one that ends meanwhile takes nothing off.
long long wakeUpsOver(std::chrono::milliseconds span) {
    auto before = ownWakeUps();
    runFor(span);
    long long made = 0;
    for (const auto& [thread, count] : ownWakeUps()) {
        made += count - before[thread];
    }
    return made;
}

// With the port open and quiet the receive timer rests and the port's event wakes the
// window: it wakes hardly more than with the port closed. A message split across a tick
// still comes out whole, and one the device sends after a quiet tick comes out apart.
TEST_F(FormWin, AsleepWhileOpenWithMessagesCutAsOnLinux) {
    auto* pollTimer = form.findChild<QTimer*>("TimerRs232");
    ASSERT_FALSE(ownWakeUps().empty()) << "this process's threads are not found in /proc";
    const auto quiet = std::chrono::seconds(3);
    runFor(std::chrono::milliseconds(500));
    const long long closed = wakeUpsOver(quiet);
    // More than one poll takes: the first poll discards it all, and the window must still
    // wake for what comes next.
    device.send(std::string(1500, 'x'));
    runFor(std::chrono::milliseconds(300));
    edit("EditCOMport")->setText(ComDevice::kProgramPort);
    form.BitBtnRS232Click();
    ASSERT_TRUE(form.session().link().ComOpened());
    ASSERT_TRUE(waitFor([&] { return !pollTimer->isActive(); }));
    runFor(std::chrono::milliseconds(500));
    const long long open = wakeUpsOver(quiet);
    std::printf("wake-ups over %lld s: %lld closed, %lld open\n",
                static_cast<long long>(quiet.count()), closed, open);
    EXPECT_FALSE(pollTimer->isActive());
    // A poll on every tick would add 30 at least.
    EXPECT_LT(open - closed, 15);

    device.send("hel");
    ASSERT_TRUE(waitFor([&] { return form.session().receiveState().RxCount() == 3; }));
    device.send("lo");
    ASSERT_TRUE(waitFor([&] { return !pollTimer->isActive(); }));
    device.send("\x45");
    ASSERT_TRUE(
        waitFor([&] { return !pollTimer->isActive() && logEndsWith({"KEY_POWER_ON/OFF"}); }));
    EXPECT_EQ(log(), (QStringList{"COM3 RS232 ON", "hello", "KEY_POWER_ON/OFF"}));
}

// The adapter pulled while the window waits on the port: switched off once, and the next
// click finds no port.
TEST_F(FormWin, PortPulledDuringTheWaitSwitchesOffOnce) {
    edit("EditCOMport")->setText(ComDevice::kProgramPort);
    form.BitBtnRS232Click();
    ASSERT_TRUE(form.session().link().ComOpened());
    auto* pollTimer = form.findChild<QTimer*>("TimerRs232");
    ASSERT_TRUE(waitFor([&] { return !pollTimer->isActive(); }));
    const std::string unplug = std::string("Z:") + std::getenv("KOLVANE_WINE_UNPLUG");
    std::ofstream{unplug};
    ASSERT_TRUE(
        waitFor([&] { return !form.session().link().ComOpened(); }, std::chrono::seconds(5)));
    runFor(std::chrono::milliseconds(300));
    EXPECT_EQ(log(), (QStringList{"COM3 RS232 ON", "COM3 RS232 OFF"}));
    // The pair comes back for the tests after this one.
    ASSERT_TRUE(waitFor([&] { return !std::filesystem::exists(unplug); }, std::chrono::seconds(5)));
    EXPECT_TRUE(errors.isEmpty()) << errors.join(' ').toStdString();
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
