// The remote's keys from the keyboard: one tab stop with a focus ring, arrows across the grid,
// Space and Enter pressing as a click does.
#include <QtTest/QTest>

#include "form_fixture.h"
#include "oracle/keys.h"

using testing_support::PtyDevice;

namespace {

QString focusedName() {
    return QApplication::focusWidget() != nullptr ? QApplication::focusWidget()->objectName()
                                                  : QString();
}

void press(Qt::Key key) {
    QTest::keyClick(QApplication::focusWidget(), key,
                    key == Qt::Key_Backtab ? Qt::ShiftModifier : Qt::NoModifier);
}

}  // namespace

class KeyboardTest : public FormTest {
protected:
    void SetUp() override {
        FormTest::SetUp();
        form->show();
        QApplication::setActiveWindow(form.get());
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
};

// Also: a click takes no focus and draws no ring; the keyboard's focus draws one.
TEST_F(KeyboardTest, RemoteIsOneTabStopWhereArrowsMoveOnTheGrid) {
    EXPECT_EQ(focusedName(), QStringLiteral("ButtonConvert")) << "the window opens elsewhere";
    const auto powerKey = [&] { return form->centralWidget()->grab({6, 18, 68, 68}).toImage(); };
    const QImage plain = powerKey();
    QTest::mouseClick(child<QWidget>("Image1"), Qt::LeftButton);
    EXPECT_EQ(focusedName(), QStringLiteral("ButtonConvert"));
    EXPECT_EQ(powerKey(), plain);
    button("ButtonSearchDevice")->setFocus();
    press(Qt::Key_Tab);
    EXPECT_EQ(focusedName(), QStringLiteral("Image1"));
    EXPECT_NE(powerKey(), plain) << "no focus ring";
    const struct {
        Qt::Key key;
        int lands;
    } steps[] = {{Qt::Key_Left, 1},  {Qt::Key_Up, 1},   {Qt::Key_Right, 2},  {Qt::Key_Right, 3},
                 {Qt::Key_Right, 3}, {Qt::Key_Down, 6}, {Qt::Key_Left, 5},   {Qt::Key_End, 21},
                 {Qt::Key_Down, 21}, {Qt::Key_Up, 18},  {Qt::Key_Right, 18}, {Qt::Key_Home, 1},
                 {Qt::Key_Down, 4}};
    for (const auto& step : steps) {
        press(step.key);
        EXPECT_EQ(focusedName(), QStringLiteral("Image%1").arg(step.lands))
            << "after key " << step.key;
    }
    EXPECT_EQ(powerKey(), plain) << "the ring stayed behind";
    // Tab leaves the remote; coming back lands on the key it left.
    press(Qt::Key_Tab);
    press(Qt::Key_Backtab);
    EXPECT_EQ(focusedName(), QStringLiteral("Image4"));
    EXPECT_TRUE(logLines().isEmpty());
}

// Every key, reached by arrows alone, sends by Space and by Enter what a click sends.
TEST_F(KeyboardTest, SpaceAndEnterSendWhatAClickSends) {
    PtyDevice device;
    switchOnTo(device);
    button("ButtonSearchDevice")->setFocus();
    press(Qt::Key_Tab);
    for (const oracle::Key& k : oracle::keys()) {
        const int row = (k.hotspot - 1) / 3;
        const int column = (k.hotspot - 1) % 3;
        press(Qt::Key_Home);
        for (int step = 0; step < row + column; ++step) {
            press(step < row ? Qt::Key_Down : Qt::Key_Right);
        }
        ASSERT_EQ(focusedName(), QStringLiteral("Image%1").arg(k.hotspot));
        qsizetype lines = logLines().size();
        QTest::mouseClick(QApplication::focusWidget(), Qt::LeftButton);
        const auto clicked = k.code ? device.receive(5) : std::vector<std::uint8_t>{};
        const QStringList clickLogged = logLines().mid(lines);  // "Reserved" for that key
        for (const Qt::Key key : {Qt::Key_Space, Qt::Key_Return}) {
            lines = logLines().size();
            press(key);
            if (k.code) {
                EXPECT_EQ(device.receive(5), clicked) << k.hint;
            }
            EXPECT_EQ(logLines().mid(lines), clickLogged) << k.hint;
        }
    }
    EXPECT_TRUE(nothingReachedYet(device));
}
