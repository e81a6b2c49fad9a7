// The port switch against pseudo-terminals: captions, colours and log lines.
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QAbstractItemView>
#include <QComboBox>
#include <QCompleter>
#include <QMessageBox>
#include <QStringListModel>
#include <QTimer>
#include <QtTest/QTest>
#include <filesystem>
#include <fstream>

#include "app/error_display.h"
#include "app/switch_colours.h"
#include "form_fixture.h"

using testing_support::PtyDevice;

namespace {
QColor captionColour(QPushButton* b) {
    return b->palette().color(QPalette::ButtonText);
}
}  // namespace

TEST_F(FormTest, SwitchOpensAndClosesThePortWithCaptionsColoursAndLines) {
    PtyDevice device;
    aliases->mapPort(6, device.path());
    form->show();
    auto* sw = button("BitBtnRS232");
    EXPECT_EQ(captionColour(sw), form->palette().color(QPalette::WindowText));

    QTest::mouseClick(sw, Qt::LeftButton);
    EXPECT_TRUE(form->session().link().ComOpened());
    EXPECT_EQ(sw->text(), QStringLiteral("RS232 ON"));
    EXPECT_EQ(captionColour(sw), QColor(0, 128, 0));
    EXPECT_EQ(form->session().link().ComPortPath(), "//./COM6");

    QTest::mouseClick(sw, Qt::LeftButton);
    EXPECT_FALSE(form->session().link().ComOpened());
    EXPECT_EQ(sw->text(), QStringLiteral("RS232 OFF"));
    EXPECT_EQ(captionColour(sw), QColor(0, 0, 0));
    EXPECT_EQ(logLines(), (QStringList{"COM6 RS232 ON", "COM6 RS232 OFF"}));
    EXPECT_TRUE(errors.isEmpty());
}

TEST_F(FormTest, OpenPortIsConfiguredAsABinaryLine) {
    PtyDevice device;
    form->show();
    switchOnTo(device);
    const termios t = device.lineSettings();
    EXPECT_EQ(::cfgetospeed(&t), speed_t(B9600));
    EXPECT_EQ(t.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);

    edit("EditSend")->setText(QStringLiteral("G0Dg"));
    form->ButtonConvertClick();
    EXPECT_EQ(device.receive(5), (std::vector<std::uint8_t>{0x47, 0x30, 0x44, 0x67, 0x0A}));
    EXPECT_TRUE(nothingReachedYet(device));
}

TEST_F(FormTest, BaudRateChangeAppliesAtTheNextOpen) {
    PtyDevice device;
    form->show();
    switchOnTo(device);
    child<QComboBox>("ComboBoxBaudrate")->setCurrentIndex(6);
    EXPECT_EQ(form->session().link().BaudRate(), 115200);
    form->BitBtnRS232Click();
    form->BitBtnRS232Click();
    const termios t = device.lineSettings();
    EXPECT_EQ(::cfgetospeed(&t), speed_t(B115200));
}

TEST_F(FormTest, SwitchingOffLogsWhatThePortBoxHoldsNow) {
    PtyDevice device;
    form->show();
    switchOnTo(device);
    edit("EditCOMport")->setText(QStringLiteral("COM9"));
    form->BitBtnRS232Click();
    EXPECT_EQ(logLines().last(), QStringLiteral("COM9 RS232 OFF"));
    // The open port was closed, so the device can be taken again.
    EXPECT_EQ(form->session().link().hComm().state(), serial::CommHandle::State::Closed);
}

// Typing into a box hands the text to the session without the box being set again, which
// would throw the cursor to the end.
TEST_F(FormTest, TypingInTheMiddleOfABoxKeepsTheCursorWhereItIs) {
    form->show();
    for (const char* name : {"EditCOMport", "EditSend"}) {
        QLineEdit* box = edit(name);
        box->setText(QStringLiteral("ab"));
        box->setFocus();
        box->setCursorPosition(1);
        QTest::keyClicks(box, QStringLiteral("xy"));
        EXPECT_EQ(box->text(), QStringLiteral("axyb")) << name;
        EXPECT_EQ(box->cursorPosition(), 3) << name;
    }
    EXPECT_EQ(form->session().portText(), "axyb");
    EXPECT_EQ(form->session().commandText(), "axyb");
}

TEST_F(FormTest, PortsThatCannotOpenGiveTheOpenErrorAndChangeNothing) {
    namespace fs = std::filesystem;
    const std::string dir = aliases->root();
    const std::string file = dir + "/notes.txt";
    std::ofstream(file) << "keep me";
    fs::create_directory_symlink(dir, dir + "/dirlink");
    fs::create_symlink(file, dir + "/filelink");
    ::mkfifo((dir + "/fifo").c_str(), 0600);
    std::ofstream(dir + "/with space ü") << "x";
    struct stat before {};
    ::stat(file.c_str(), &before);

    const QString names[] = {
        QString(),
        QString::fromStdString(file),
        QString::fromStdString(dir),
        QString::fromStdString(dir + "/filelink"),
        QString::fromStdString(dir + "/fifo"),
        QString::fromStdString(dir + "/with space ü"),
        QString::fromStdString(dir + "/../" + fs::path(dir).filename().string() + "/notes.txt"),
        QStringLiteral("/dev/null"),
        QStringLiteral("null"),
        QStringLiteral("../tmp"),
        QStringLiteral("COM6"),  // alias to nowhere
        QStringLiteral("/dev/does-not-exist"),
        QStringLiteral("created-by-mistake"),
    };
    form->show();
    for (const QString& name : names) {
        edit("EditCOMport")->setText(name);
        form->BitBtnRS232Click();
        EXPECT_FALSE(form->session().link().ComOpened()) << name.toStdString();
        EXPECT_TRUE(form->session().link().hComm().isInvalid()) << name.toStdString();
        EXPECT_EQ(logLines().last(), QStringLiteral("RS232 Open Error. ")) << name.toStdString();
        EXPECT_EQ(button("BitBtnRS232")->text(), QStringLiteral("RS232 OFF"));
    }
    struct stat after {};
    ::stat(file.c_str(), &after);
    EXPECT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    std::ifstream in(file);
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "keep me");
    EXPECT_FALSE(fs::exists("created-by-mistake"));
    EXPECT_FALSE(fs::exists("/dev/created-by-mistake"));
}

TEST_F(FormTest, FailedOpenSaysWhyOnStandardErrorAndOnTheSwitchUntilAnOpenSucceeds) {
    PtyDevice device;
    form->show();
    auto* sw = button("BitBtnRS232");
    EXPECT_TRUE(sw->toolTip().isEmpty());
    const std::string reason =
        "cannot open COM6 (" + aliases->root() + "/absent/com6): No such file or directory";
    testing::internal::CaptureStderr();
    form->BitBtnRS232Click();
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_NE(said.find("kolvane: " + reason + "\n"), std::string::npos) << said;
    EXPECT_EQ(sw->toolTip(), QString::fromStdString(reason));
    EXPECT_EQ(logLines(), QStringList{"RS232 Open Error. "});

    // A search tries ports that do not open without a word; the reason shown stays.
    testing::internal::CaptureStderr();
    startSearchByHand();
    searchTicks(20);
    const std::string searchSaid = testing::internal::GetCapturedStderr();
    EXPECT_EQ(searchSaid.find("kolvane:"), std::string::npos) << searchSaid;
    EXPECT_EQ(sw->toolTip(), QString::fromStdString(reason));

    switchOnTo(device);
    EXPECT_TRUE(sw->toolTip().isEmpty());
}

TEST_F(FormTest, PortBoxOffersThePortsThereAreEachTimeItGetsFocus) {
    PtyDevice first;
    PtyDevice second;
    aliases->mapPort(1, first.path());
    form->show();
    QApplication::setActiveWindow(form.get());
    auto* box = edit("EditCOMport");
    const auto offered = [box] {
        return qobject_cast<QStringListModel*>(box->completer()->model())->stringList();
    };

    box->setFocus();
    EXPECT_TRUE(offered().contains("COM1"));
    EXPECT_FALSE(offered().contains("COM17"));
    EXPECT_FALSE(offered().contains("COM6"));  // its alias leads nowhere

    aliases->mapPort(17, second.path());
    button("BitBtnRS232")->setFocus();
    box->setFocus();
    EXPECT_TRUE(offered().contains("COM17"));

    // Any part of a name, in any case, finds it; once the box names a port the list goes, so
    // that the next click reaches the switch.
    QAbstractItemView* list = box->completer()->popup();
    box->clear();
    QTest::keyClicks(box, QStringLiteral("m17"));
    QCoreApplication::processEvents();
    EXPECT_TRUE(list->isVisible());
    EXPECT_EQ(box->completer()->currentCompletion(), QStringLiteral("COM17"));
    box->clear();
    QTest::keyClicks(box, QStringLiteral("com1"));
    QCoreApplication::processEvents();
    EXPECT_FALSE(list->isVisible());
}

TEST_F(FormTest, FailedOpenKeepsCaptionAndColourAfterAnEarlierSession) {
    PtyDevice device;
    form->show();
    switchOnTo(device);
    form->BitBtnRS232Click();
    edit("EditCOMport")->setText(QStringLiteral("/dev/does-not-exist"));
    form->BitBtnRS232Click();
    EXPECT_EQ(button("BitBtnRS232")->text(), QStringLiteral("RS232 OFF"));
    EXPECT_EQ(captionColour(button("BitBtnRS232")), QColor(0, 0, 0));
}

TEST_F(FormTest, UnusableSpeedFailsTheOpen) {
    PtyDevice device;
    form->show();
    child<QComboBox>("ComboBoxBaudrate")->setEditText(QStringLiteral("12345"));
    edit("EditCOMport")->setText(QString::fromStdString(device.path()));
    form->BitBtnRS232Click();
    EXPECT_FALSE(form->session().link().ComOpened());
    EXPECT_EQ(logLines().last(), QStringLiteral("RS232 Open Error. "));
    // The device is free again for the next try.
    child<QComboBox>("ComboBoxBaudrate")->setEditText(QStringLiteral("9600"));
    form->BitBtnRS232Click();
    EXPECT_TRUE(form->session().link().ComOpened());
}

TEST_F(FormTest, EventsWaitingAtOpenAreProcessedBeforeTheSwitchReturns) {
    PtyDevice device;
    form->show();
    bool ran = false;
    QMetaObject::invokeMethod(
        form.get(), [&ran] { ran = true; }, Qt::QueuedConnection);
    switchOnTo(device);
    EXPECT_TRUE(ran);
}

TEST(ErrorDisplay, AddsAFullStopOnlyWhereMissing) {
    EXPECT_EQ(app::withFullStop(QStringLiteral("'x' is not a valid integer value")),
              QStringLiteral("'x' is not a valid integer value."));
    EXPECT_EQ(app::withFullStop(QStringLiteral("Done.")), QStringLiteral("Done."));
    EXPECT_EQ(app::withFullStop(QString()), QString());
}

TEST(ErrorDisplay, ShowsAStopBoxWithOkTitledWithTheApplicationAndGoesOn) {
    QApplication::setApplicationName(QStringLiteral("Kolvane Remote"));
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        icon = box->icon();
        title = box->windowTitle();
        text = box->text();
        buttons = box->standardButtons();
        box->accept();
    });
    app::showErrorBox(nullptr, QStringLiteral("'12a' is not a valid integer value"));
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(title, QStringLiteral("Kolvane Remote"));
    EXPECT_EQ(text, QStringLiteral("'12a' is not a valid integer value."));
    EXPECT_EQ(buttons, QMessageBox::Ok);
}

// On a dark theme the switch gets a light face of its own, where all three captions read at
// 4.5:1 (WCAG); on a light one it keeps the theme's face. The captions' colours are the same.
TEST_F(FormTest, SwitchCaptionsReadOnDarkAndLightThemes) {
    struct PaletteRestorer {
        QPalette original = QApplication::palette();
        ~PaletteRestorer() { QApplication::setPalette(original); }
    } restorer;
    const auto rgb = [](const QColor& c) { return app::Rgb{c.red(), c.green(), c.blue()}; };
    for (const bool dark : {false, true}) {
        const QColor face = dark ? QColor(50, 50, 50) : QColor(239, 239, 239);
        const QColor text = dark ? QColor(240, 240, 240) : QColor(0, 0, 0);
        QPalette palette = restorer.original;
        palette.setColor(QPalette::Window, face);
        palette.setColor(QPalette::Button, face);
        palette.setColor(QPalette::WindowText, text);
        QApplication::setPalette(palette);
        form = std::make_unique<TFormKolvane>();
        form->setErrorDisplay([this](const QString& message) { errors << message; });
        form->show();
        auto* sw = button("BitBtnRS232");
        const QColor shownFace = sw->palette().color(QPalette::Button);
        EXPECT_EQ(shownFace != face, dark);

        // Before the first change, switched on, switched off.
        PtyDevice device;
        const std::function<void()> changes[] = {[] {}, [&] { switchOnTo(device); },
                                                 [&] { form->BitBtnRS232Click(); }};
        const QColor captions[] = {dark ? QColor(0, 0, 0) : text, QColor(0, 128, 0),
                                   QColor(0, 0, 0)};
        for (int state = 0; state < 3; ++state) {
            changes[state]();
            EXPECT_EQ(captionColour(sw), captions[state]) << dark << state;
            if (dark) {
                EXPECT_GE(app::contrastRatio(rgb(shownFace), rgb(captions[state])), 4.5) << state;
            }
        }
    }
    EXPECT_TRUE(errors.isEmpty());
}
