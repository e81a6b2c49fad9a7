// The window holds the port and serves it: kolvane-send and other local clients drive the
// device through it, and none of them can hold it up.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>
#include <QTemporaryDir>
#include <future>
#include <string>

#include "control/api_service.h"
#include "control/local_server.h"
#include "control/owner_address.h"
#include "form_fixture.h"
#include "support/wait_for.h"

using testing_support::waitFor;
using namespace std::chrono_literals;

namespace {

// One HTTP request on a connection of its own, blocking: the response as it came, or empty.
std::string httpPost(std::uint16_t port, const std::string& target) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string response;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const std::string request = "POST " + target +
                                    " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
                                    "Content-Length: 0\r\n\r\n";
        ::send(fd, request.data(), request.size(), 0);
        char buffer[1024];
        for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) {
            response.append(buffer, static_cast<std::size_t>(n));
        }
    }
    ::close(fd);
    return response;
}

struct SendRun {
    int status = -1;
    QString out;
    QString err;
};

class OwnerTest : public FormTest {
protected:
    void SetUp() override {
        FormTest::SetUp();
        ASSERT_TRUE(runtime.isValid());
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        server = std::make_unique<control::LocalServer>(form->session(), "kolvane test");
        form->show();
    }
    void TearDown() override {
        server.reset();
        if (sim) {
            sim->kill();
            sim->waitForFinished();
        }
        FormTest::TearDown();
    }

    // The virtual device as COM6, once it has said where it is.
    void startSimulator() {
        sim = std::make_unique<QProcess>();
        sim->start(QStringLiteral(KOLVANE_SIM_PATH),
                   {QStringLiteral("--as"), QStringLiteral("COM6")});
        ASSERT_TRUE(waitFor(
            [&] {
                simSaid += sim->readAll();
                return simSaid.contains("kolvane-sim: device on");
            },
            5000ms));
    }
    // The frames the device received so far, one per line.
    QStringList framesSeen() {
        simSaid += sim->readAll();
        QStringList frames;
        for (const QByteArray& line : simSaid.split('\n')) {
            if (line.startsWith("rx ")) {
                frames << QString::fromLatin1(line.mid(3, line.indexOf(' ', 4) - 3));
            }
        }
        return frames;
    }

    // kolvane-send, run while the window's event loop goes on.
    static SendRun send(const QStringList& args, std::chrono::milliseconds within = 10000ms) {
        QProcess process;
        process.start(QStringLiteral(KOLVANE_SEND_PATH), args);
        SendRun run;
        if (waitFor([&] { return process.state() == QProcess::NotRunning; }, within)) {
            run.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        } else {
            process.kill();
            process.waitForFinished();
        }
        run.out = QString::fromLocal8Bit(process.readAllStandardOutput());
        run.err = QString::fromLocal8Bit(process.readAllStandardError());
        return run;
    }

    void switchOnToCom6() {
        edit("EditCOMport")->setText(QStringLiteral("COM6"));
        form->BitBtnRS232Click();
        ASSERT_TRUE(form->session().link().ComOpened());
        ASSERT_FALSE(server->address().isEmpty());
    }

    QTemporaryDir runtime;
    std::unique_ptr<control::LocalServer> server;
    std::unique_ptr<QProcess> sim;
    QByteArray simSaid;
};

// A click in the window and a script's keys at the same time: every frame reaches the device
// once and whole, each answer goes to whoever asked, and the window logs them all.
TEST_F(OwnerTest, WindowAndScriptShareTheLine) {
    startSimulator();
    switchOnToCom6();
    QProcess script;
    // Waits long enough for an answer that a busy machine delays past the usual 300 ms.
    script.start(QStringLiteral(KOLVANE_SEND_PATH),
                 {QStringLiteral("--port"), QStringLiteral("COM6"), QStringLiteral("--wait"),
                  QStringLiteral("2000"), QStringLiteral("power"), QStringLiteral("4CH_Show")});
    ASSERT_TRUE(waitFor([&] { return framesSeen().size() == 1; }, 5000ms));
    form->Image13Click();
    ASSERT_TRUE(waitFor([&] { return script.state() == QProcess::NotRunning; }, 5000ms));
    EXPECT_EQ(script.exitCode(), 0) << script.readAllStandardError().toStdString();
    EXPECT_EQ(script.readAllStandardOutput(), "KEY_POWER_ON/OFF\n_IR_KEY_4CH_Show\n");
    ASSERT_TRUE(waitFor([&] { return logLines().size() == 4; }, 2000ms));
    QStringList answers = logLines().mid(1);
    answers.sort();
    EXPECT_EQ(answers, (QStringList{"KEY_POWER_ON/OFF", "_IR_KEY_1CH_Show", "_IR_KEY_4CH_Show"}));
    QStringList frames = framesSeen();
    frames.sort();
    EXPECT_EQ(frames, (QStringList{"\"G08g\\n\"", "\"G0Cg\\n\"", "\"G45g\\n\""}));

    const SendRun status =
        send({QStringLiteral("--status"), QStringLiteral("--port"), QStringLiteral("COM6")});
    EXPECT_EQ(status.status, 0);
    EXPECT_TRUE(status.out.startsWith(QStringLiteral("COM6 is held by kolvane test (process ")))
        << status.out.toStdString();
    const SendRun search = send({QStringLiteral("--search")});
    EXPECT_EQ(search.status, 0) << search.err.toStdString();
    EXPECT_EQ(search.out, QStringLiteral("COM6\n"));
}

// The same with the API: the key pressed over HTTP goes out as a click's would, shows its
// command in the command box and its answer in the log, while the window's own click gets
// its answer too.
TEST_F(OwnerTest, WindowAndApiShareTheLine) {
    startSimulator();
    control::ServerSettings settings;
    settings.http = control::ListenAddress{"127.0.0.1", 0};
    control::ApiService api(form->session(), "kolvane test", settings);
    switchOnToCom6();
    auto pressed = std::async(std::launch::async, [port = api.httpPort()] {
        return httpPost(port, "/api/v1/keys/POWER_ON%2FOFF?wait=2000");
    });
    ASSERT_TRUE(waitFor([&] { return framesSeen().size() == 1; }, 5000ms));
    form->Image13Click();
    ASSERT_TRUE(waitFor([&] { return pressed.wait_for(0s) == std::future_status::ready; }, 5000ms));
    const std::string response = pressed.get();
    EXPECT_EQ(response.substr(0, 15), "HTTP/1.1 200 OK");
    EXPECT_NE(response.find(R"("answer":"KEY_POWER_ON/OFF")"), std::string::npos) << response;
    ASSERT_TRUE(waitFor([&] { return logLines().size() == 3; }, 2000ms));
    QStringList answers = logLines().mid(1);
    answers.sort();
    EXPECT_EQ(answers, (QStringList{"KEY_POWER_ON/OFF", "_IR_KEY_1CH_Show"}));
    QStringList frames = framesSeen();
    frames.sort();
    EXPECT_EQ(frames, (QStringList{"\"G0Cg\\n\"", "\"G45g\\n\""}));

    pressed = std::async(std::launch::async, [port = api.httpPort()] {
        return httpPost(port, "/api/v1/keys/4ch_show");
    });
    ASSERT_TRUE(waitFor([&] { return pressed.wait_for(0s) == std::future_status::ready; }, 5000ms));
    EXPECT_EQ(edit("EditSend")->text(), QStringLiteral("G08g"));
}

// Clients that say nothing, say nonsense or come in too great a number are dropped or
// refused, and a script still gets through meanwhile.
TEST_F(OwnerTest, ClientsThatMisbehaveHoldNobodyUp) {
    startSimulator();
    switchOnToCom6();
    const QString address = server->address();
    const auto connected = [&](QLocalSocket& socket) {
        socket.connectToServer(address);
        return socket.waitForConnected(1000) &&
               waitFor([&] { return socket.canReadLine(); }, 1000ms);
    };
    const struct {
        QByteArray says;
        QByteArray answer;
    } nonsense[] = {
        {"KEY 6 300\n", "ERR no key with a command is numbered 6\n"},
        {"KEY 1 0\n", "ERR a request ends in its wait, 1 to 86400000 ms\n"},
        {"\x01\xff junk 1\n", "ERR unknown request\n"},
        {QByteArray(600, 'K'), "ERR line too long\n"},
    };
    for (const auto& n : nonsense) {
        QLocalSocket socket;
        ASSERT_TRUE(connected(socket));
        socket.readLine();
        socket.write(n.says);
        ASSERT_TRUE(waitFor([&] { return socket.state() == QLocalSocket::UnconnectedState; }));
        EXPECT_EQ(socket.readAll(), n.answer) << n.says.left(20).toStdString();
    }

    {
        // Gone before its answer: the key still goes out, and the answer only to the log.
        QLocalSocket leaving;
        ASSERT_TRUE(connected(leaving));
        leaving.write("KEY 1 300\n");
        leaving.flush();
        leaving.abort();
    }
    ASSERT_TRUE(waitFor([&] { return logLines().contains(QStringLiteral("KEY_POWER_ON/OFF")); }));

    std::vector<std::unique_ptr<QLocalSocket>> silent;
    for (std::size_t i = 0; i < control::LocalServer::kMaxClients - 1; ++i) {
        silent.push_back(std::make_unique<QLocalSocket>());
        ASSERT_TRUE(connected(*silent.back()));
    }
    const SendRun run =
        send({QStringLiteral("--port"), QStringLiteral("COM6"), QStringLiteral("1ch")});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QStringLiteral("_IR_KEY_1CH_Show\n"));
    QLocalSocket last;
    ASSERT_TRUE(connected(last));
    QLocalSocket tooMany;
    ASSERT_TRUE(connected(tooMany));
    EXPECT_EQ(tooMany.readAll(), "ERR too many clients\n");
    ASSERT_TRUE(waitFor([&] { return last.state() == QLocalSocket::UnconnectedState; },
                        control::LocalServer::kIdleTimeout + 2s));
    EXPECT_TRUE(last.readAll().endsWith("ERR idle for too long\n"));
}

// A socket left by an owner that was killed is found dead and removed, and the port is then
// opened directly.
TEST_F(OwnerTest, SocketOfAKilledOwnerIsRemovedAndThePortOpenedDirectly) {
    startSimulator();
    const control::OwnerAddress address = control::ownerAddressFor("//./COM6");
    ASSERT_FALSE(address.name.isEmpty()) << address.refusal;
    const std::string path = address.name.toStdString();
    sockaddr_un where{};
    where.sun_family = AF_UNIX;
    path.copy(where.sun_path, sizeof(where.sun_path) - 1);
    const int left = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(left, reinterpret_cast<sockaddr*>(&where), sizeof(where)), 0);
    ::close(left);

    const SendRun status = send({QStringLiteral("--status")});
    EXPECT_EQ(status.status, 1);
    EXPECT_EQ(status.out, QStringLiteral("no program holds COM6\n"));
    const SendRun run = send({QStringLiteral("power")});
    EXPECT_EQ(run.status, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, QStringLiteral("KEY_POWER_ON/OFF\n"));
    EXPECT_FALSE(QFile::exists(address.name));
}

// Another user reaches neither the folder nor, when let through it, the owner.
TEST_F(OwnerTest, AnotherUserIsRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as nobody";
    }
    startSimulator();
    switchOnToCom6();
    const QString asNobody = QStringLiteral("setpriv --reuid=65534 --regid=65534 --clear-groups");
    const QString folder = QFileInfo(server->address()).path();
    QProcess nobodySend;
    nobodySend.start(QStringLiteral("sh"),
                     {QStringLiteral("-c"), asNobody + QStringLiteral(" \"$0\" --status"),
                      QStringLiteral(KOLVANE_SEND_PATH)});
    ASSERT_TRUE(waitFor([&] { return nobodySend.state() == QProcess::NotRunning; }, 5000ms));
    EXPECT_EQ(nobodySend.exitCode(), 1);
    EXPECT_EQ(nobodySend.readAllStandardOutput(), "no program holds COM6\n");

    // Through a folder and socket opened to all, the owner still hangs up at once.
    ::chmod(runtime.path().toLocal8Bit().constData(), 0711);
    ::chmod(folder.toLocal8Bit().constData(), 0711);
    ::chmod(server->address().toLocal8Bit().constData(), 0777);
    QProcess nobodyConnect;
    nobodyConnect.start(
        QStringLiteral("sh"),
        {QStringLiteral("-c"),
         asNobody + QStringLiteral(
                        " /usr/bin/python3 -c 'import socket,sys; s=socket.socket(socket.AF_UNIX);"
                        " s.connect(sys.argv[1]); s.settimeout(3);"
                        " print(repr(s.recv(100)))' \"$0\""),
         server->address()});
    ASSERT_TRUE(waitFor([&] { return nobodyConnect.state() == QProcess::NotRunning; }, 5000ms));
    EXPECT_EQ(nobodyConnect.exitCode(), 0) << nobodyConnect.readAllStandardError().toStdString();
    EXPECT_EQ(nobodyConnect.readAllStandardOutput(), "b''\n");
}

}  // namespace
