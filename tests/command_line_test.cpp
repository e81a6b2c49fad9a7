// The built program's command line: --help and --version where no display is to be had (with
// the xcb platform and no DISPLAY, making the application object would abort the program), the
// same lack said in one line otherwise, and --port and --on against the virtual device.
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "pty_device.h"
#include "version.h"

namespace {

using namespace std::chrono_literals;

// The environment of a session without any display, with the platform as given.
QProcessEnvironment withoutDisplay(const QString& platform) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    if (!platform.isEmpty()) {
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    }
    return environment;
}

struct Case {
    QStringList args;
    const char* stdoutFile;  // where standard output goes; a pipe when null
    int exitCode;
    QByteArray output;  // what standard output starts with
};

TEST(CommandLine, HelpAndVersionPrintWithoutADisplay) {
    const QByteArray version = "kolvane " KOLVANE_VERSION "\n";
    const Case cases[] = {
        {{"--help"}, nullptr, 0, "Usage: kolvane [--port NAME [--on]] [--http [ADDRESS:]PORT]"},
        {{"-h"}, nullptr, 0, "Usage: kolvane [--port NAME [--on]] [--http [ADDRESS:]PORT]"},
        {{"--version"}, nullptr, 0, version},
        {{"-platform", "offscreen", "--version"}, nullptr, 0, version},
        // Output that cannot be written is a failure, not a help text shown.
        {{"--help"}, "/dev/full", 1, ""},
    };
    const QProcessEnvironment environment = withoutDisplay(QStringLiteral("xcb"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QProcess process;
        process.setProcessEnvironment(environment);
        if (c.stdoutFile != nullptr) {
            process.setStandardOutputFile(QString::fromLatin1(c.stdoutFile));
        }
        process.start(QStringLiteral(KOLVANE_PATH), c.args);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), c.exitCode) << process.readAllStandardError().constData();
        EXPECT_TRUE(process.readAllStandardOutput().startsWith(c.output));
    }
}

// Neither a display missing nor a wrong use of the options gets as far as a window.
TEST(CommandLine, NoDisplayOrAWrongOptionEndsAtOnceWithOneLine) {
    const struct {
        QStringList args;
        const char* platform;
        int exitCode;
        QByteArray error;
    } cases[] = {
        {{},
         "",
         1,
         "kolvane: no display to show the window on: neither DISPLAY nor WAYLAND_DISPLAY"},
        {{"--port", "COM6", "--on"}, "xcb", 1, "kolvane: no X display to show the window on"},
        {{"-platform", "xcb"}, "offscreen", 1, "kolvane: no X display to show the window on"},
        {{"--port"}, "offscreen", 2, "kolvane: --port needs a port name\n"},
        {{"--port", "--on"}, "offscreen", 2, "kolvane: --port needs a port name\n"},
        {{"--on=yes"}, "offscreen", 2, "kolvane: --on takes no value\n"},
        {{"--http", "0.0.0.0:8470"},
         "offscreen",
         2,
         "kolvane: --http 0.0.0.0:8470: listening beyond this computer needs --token-file\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString() + " on " + c.platform);
        QProcess process;
        process.setProcessEnvironment(withoutDisplay(QString::fromLatin1(c.platform)));
        process.start(QStringLiteral(KOLVANE_PATH), c.args);
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), c.exitCode);
        const QByteArray error = process.readAllStandardError();
        EXPECT_TRUE(error.startsWith(c.error)) << error.constData();
        EXPECT_EQ(error.count('\n'), 1) << error.constData();
    }
}

// A shortcut's --port NAME --on: the window holds the port as after a click, and serves it;
// --port alone only fills the box. Qt's own -platform still reaches Qt.
TEST(CommandLine, PortAndOnSwitchTheNamedPortOn) {
    testing_support::PortAliases aliases;
    QTemporaryDir runtime;
    ASSERT_TRUE(runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
    QProcess sim;
    sim.start(QStringLiteral(KOLVANE_SIM_PATH), {QStringLiteral("--as"), QStringLiteral("COM6")});
    QByteArray simSaid;
    while (!simSaid.contains(" as COM6") && sim.waitForReadyRead(5000)) {
        simSaid += sim.readAll();
    }
    ASSERT_TRUE(simSaid.contains(" as COM6")) << simSaid.constData();

    const auto send = [](const QStringList& args) {
        QProcess process;
        process.start(QStringLiteral(KOLVANE_SEND_PATH), args);
        process.waitForFinished(10000);
        return QString::fromLocal8Bit(process.readAll()).trimmed();
    };
    const auto held = [&] {
        return send({"--status", "--port", "COM6"})
            .startsWith("COM6 is held by kolvane " KOLVANE_VERSION " ");
    };
    const struct {
        QStringList args;
        bool held;         // whether the window holds COM6 soon after its start
        QByteArray error;  // what the window says
    } cases[] = {
        {{"--port", "COM6", "--on"}, true, ""},
        {{"--port=COM6"}, false, ""},
        {{"--port", "COM7", "--on"},
         false,
         "kolvane: cannot open COM7 (" + QByteArray::fromStdString(aliases.root()) +
             "/absent/com7): No such file or directory\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QProcess window;
        window.setProcessEnvironment(withoutDisplay(""));
        window.start(QStringLiteral(KOLVANE_PATH), QStringList{"-platform", "offscreen"} + c.args);
        ASSERT_TRUE(window.waitForStarted());
        // Long enough for the window to come up and switch on, had it been asked to.
        for (int i = 0; i < 40 && !held(); ++i) {
            std::this_thread::sleep_for(50ms);
        }
        ASSERT_EQ(held(), c.held);
        if (c.held) {
            EXPECT_EQ(send({"--port", "COM6", "power"}), "KEY_POWER_ON/OFF");
        }
        EXPECT_EQ(window.state(), QProcess::Running);
        window.terminate();
        ASSERT_TRUE(window.waitForFinished(5000));
        QByteArray error = window.readAllStandardError();
        error.replace("This plugin does not support propagateSizeHints()\n", "");
        EXPECT_EQ(error, c.error);
    }
    sim.terminate();
    sim.waitForFinished(5000);
}

}  // namespace
