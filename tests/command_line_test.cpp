// --help and --version from the built program, where no display is to be had: with the xcb
// platform and no DISPLAY, making the application object would abort the program.
#include <QProcess>
#include <QProcessEnvironment>

#include <gtest/gtest.h>

#include "version.h"

namespace {

struct Case {
    QStringList args;
    const char* stdoutFile;  // where standard output goes; a pipe when null
    int exitCode;
    QByteArray output;  // what standard output starts with
};

TEST(CommandLine, HelpAndVersionPrintWithoutADisplay) {
    const QByteArray version = "kolvane " KOLVANE_VERSION "\n";
    const Case cases[] = {
        {{"--help"}, nullptr, 0, "Usage: kolvane [QT-OPTION...]\n"},
        {{"-h"}, nullptr, 0, "Usage: kolvane [QT-OPTION...]\n"},
        {{"--version"}, nullptr, 0, version},
        {{"-platform", "offscreen", "--version"}, nullptr, 0, version},
        // Output that cannot be written is a failure, not a help text shown.
        {{"--help"}, "/dev/full", 1, ""},
    };
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
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

}  // namespace
