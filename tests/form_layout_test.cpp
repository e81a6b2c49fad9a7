// The window as laid out: every control where the layout puts it, with its text and look.
#include <QComboBox>
#include <QLabel>
#include <QStatusBar>
#include <QTimer>
#include <QToolTip>
#include <QtTest/QTest>

#include "form_fixture.h"
#include "oracle/keys.h"
#include "support/wait_for.h"

namespace {

struct ControlLayout {
    const char* name;
    QRect geometry;
    const char* text;
    bool hidden;
};

const ControlLayout kControls[] = {
    {"ButtonSearchDevice", {256, 8, 110, 25}, " Search Device >>", false},
    {"EditCOMport", {368, 10, 49, 21}, "COM6", false},
    {"BitBtnRS232", {416, 8, 86, 25}, "RS232 OFF", false},
    {"ButtonClear", {248, 496, 75, 25}, "清除", false},
    {"EditSend", {328, 496, 41, 21}, "G46g", false},
    {"Label1", {368, 498, 27, 13}, "0x0A", false},
    {"ButtonConvert", {408, 496, 75, 25}, "Send CMD", false},
    {"Label7", {560, 16, 56, 16}, "Baudrate", true},
    {"ComboBoxBaudrate", {620, 16, 68, 24}, "9600", true},
    {"ButtonRs232Read", {672, 128, 75, 25}, "Rs232Read", true},
    {"EditChar", {672, 160, 89, 21}, "G", true},
    {"Button1", {672, 192, 75, 25}, "Send CMD", true},
    {"Button2", {672, 224, 75, 25}, "Send CMD", true},
};

QString textOf(QWidget* w) {
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* c = qobject_cast<QComboBox*>(w))
        return c->currentText();
    return {};
}

}  // namespace

TEST_F(FormTest, WindowHasCaptionClientSizeAndFont) {
    form->show();
    EXPECT_EQ(form->windowTitle(), QStringLiteral("Kolvane  Demo"));
    EXPECT_EQ(form->size(), QSize(514, 554));
    EXPECT_EQ(form->font().family(), QStringLiteral("MS Sans Serif"));
    EXPECT_EQ(form->font().pixelSize(), 11);
    EXPECT_TRUE(form->windowFlags().testFlag(Qt::WindowMinMaxButtonsHint) ||
                form->windowFlags().testFlag(Qt::Window));
}

TEST_F(FormTest, ControlsHaveTheirPlacesTextsAndVisibility) {
    form->show();
    for (const ControlLayout& c : kControls) {
        QWidget* w = child<QWidget>(c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->geometry(), c.geometry) << c.name;
        EXPECT_EQ(textOf(w), QString::fromUtf8(c.text)) << c.name;
        EXPECT_EQ(w->isVisible(), !c.hidden) << c.name;
    }
    EXPECT_EQ(child<QWidget>("Memo1")->geometry(), QRect(248, 32, 257, 449));
    EXPECT_EQ(child<QWidget>("ImagePanel")->geometry(), QRect(0, 0, 240, 520));
    EXPECT_TRUE(child<QPlainTextEdit>("Memo1")->toPlainText().isEmpty());
    EXPECT_FALSE(child<QPlainTextEdit>("Memo1")->isReadOnly());
}

TEST_F(FormTest, OwnFontsAreTheNamedFamilies) {
    const struct {
        const char* name;
        const char* family;
        int pixels;
        bool bold;
    } fonts[] = {
        {"ButtonSearchDevice", "新細明體", 13, true}, {"EditCOMport", "新細明體", 13, false},
        {"BitBtnRS232", "Arial", 15, true},           {"Memo1", "新細明體", 13, false},
        {"ButtonClear", "新細明體", 16, false},       {"Label1", "新細明體", 13, false},
        {"ComboBoxBaudrate", "新細明體", 16, false},  {"EditSend", "MS Sans Serif", 11, false},
    };
    for (const auto& f : fonts) {
        const QFont font = child<QWidget>(f.name)->font();
        EXPECT_EQ(font.family(), QString::fromUtf8(f.family)) << f.name;
        EXPECT_EQ(font.pixelSize(), f.pixels) << f.name;
        EXPECT_EQ(font.bold(), f.bold) << f.name;
    }
}

TEST_F(FormTest, CjkCaptionRendersWithRealGlyphs) {
    const QFontMetrics metrics(child<QWidget>("ButtonClear")->font());
    EXPECT_TRUE(metrics.inFont(QChar(0x6E05)));  // 清
    EXPECT_TRUE(metrics.inFont(QChar(0x9664)));  // 除
}

TEST_F(FormTest, HotspotsLieOverThePictureWithHintsAndHandPointer) {
    QWidget* picture = child<QWidget>("ImagePanel");
    for (const oracle::Key& key : oracle::keys()) {
        QWidget* spot =
            child<QWidget>(QStringLiteral("Image%1").arg(key.hotspot).toLatin1().constData());
        ASSERT_NE(spot, nullptr);
        EXPECT_EQ(spot->geometry(),
                  QRect(key.left, key.top, oracle::kKeyAreaSide, oracle::kKeyAreaSide))
            << key.hotspot;
        EXPECT_EQ(spot->toolTip(), QString::fromStdString(key.hint));
        EXPECT_EQ(spot->accessibleName(), spot->toolTip());
        EXPECT_EQ(spot->cursor().shape(), Qt::PointingHandCursor);
        EXPECT_FALSE(spot->focusPolicy() & Qt::ClickFocus) << "a click would take the focus";
        EXPECT_FALSE(spot->autoFillBackground());
        // Stacked above the picture.
        const QWidgetList siblings =
            spot->parentWidget()->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        EXPECT_GT(siblings.indexOf(spot), siblings.indexOf(picture));
    }
}

TEST_F(FormTest, PictureIsTheDecodedRemote) {
    const QPixmap pixmap = child<QLabel>("ImagePanel")->pixmap();
    EXPECT_EQ(pixmap.size(), QSize(240, 520));
}

TEST_F(FormTest, PointersAndTabOrder) {
    EXPECT_EQ(button("BitBtnRS232")->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(button("ButtonClear")->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(button("ButtonConvert")->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(edit("EditCOMport")->cursor().shape(), Qt::IBeamCursor);

    // Tab and Shift+Tab walk the visible controls as laid out, and the remote after them,
    // round and back; the log passes the focus on rather than taking the tab as text.
    form->show();
    QApplication::setActiveWindow(form.get());
    button("ButtonConvert")->setFocus();
    const QStringList visibleOrder = {"ButtonConvert",      "BitBtnRS232", "Memo1",
                                      "ButtonClear",        "EditCOMport", "EditSend",
                                      "ButtonSearchDevice", "Image1"};
    for (int step = 1; step <= visibleOrder.size(); ++step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget()->objectName(),
                  visibleOrder[step % visibleOrder.size()]);
    }
    for (int step = visibleOrder.size() - 1; step >= 0; --step) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(QApplication::focusWidget()->objectName(), visibleOrder[step]);
    }
    EXPECT_TRUE(child<QPlainTextEdit>("Memo1")->toPlainText().isEmpty());
}

TEST_F(FormTest, BaudSelectorOffersTheStandardRates) {
    auto* combo = child<QComboBox>("ComboBoxBaudrate");
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    EXPECT_EQ(items, (QStringList{"2400", "4800", "9600", "19200", "38400", "57600", "115200"}));
    EXPECT_EQ(combo->currentIndex(), 2);
    EXPECT_TRUE(combo->isEditable());
}

TEST_F(FormTest, StatusBarStaysAlongTheBottomAndNothingElseMoves) {
    form->show();
    auto* bar = child<QStatusBar>("StatusBar1");
    EXPECT_EQ(bar->geometry(), QRect(0, 535, 514, 19));
    EXPECT_EQ(child<QLabel>("StatusPanel0")->width(), 140);
    EXPECT_EQ(child<QLabel>("StatusPanel1")->width(), 50);
    EXPECT_TRUE(child<QLabel>("StatusPanel1")->text().isEmpty());

    const QRect memo = child<QWidget>("Memo1")->geometry();
    const QRect barBefore = bar->geometry();
    form->resize(700, 700);
    ASSERT_TRUE(testing_support::waitFor([&] { return bar->geometry() != barBefore; }));
    EXPECT_EQ(bar->geometry(), QRect(0, 681, 700, 19));
    EXPECT_EQ(child<QWidget>("Memo1")->geometry(), memo);
    EXPECT_EQ(button("ButtonConvert")->geometry(), QRect(408, 496, 75, 25));
}

TEST_F(FormTest, TimersHaveTheirIntervalsAndStartStates) {
    const struct {
        const char* name;
        int interval;
        bool active;
    } timers[] = {
        {"Timer1", 1000, true}, {"TimerRs232", 100, false}, {"TimerSearcgDevice", 300, false}};
    for (const auto& t : timers) {
        auto* timer = form->findChild<QTimer*>(QLatin1String(t.name));
        ASSERT_NE(timer, nullptr) << t.name;
        EXPECT_EQ(timer->interval(), t.interval) << t.name;
        EXPECT_EQ(timer->isActive(), t.active) << t.name;
    }
}

TEST_F(FormTest, ShowFillsTheClockAndReadsTheBaudRate) {
    EXPECT_TRUE(child<QLabel>("StatusPanel0")->text().isEmpty());
    EXPECT_EQ(form->session().link().BaudRate(), 0);
    form->show();
    EXPECT_FALSE(child<QLabel>("StatusPanel0")->text().isEmpty());
    EXPECT_EQ(form->session().link().BaudRate(), 9600);
}

// Once a second the clock changes its text; nothing else of the window may be painted again.
TEST_F(FormTest, ClockTickRepaintsOnlyItsPanel) {
    form->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form.get()));
    auto* panel = child<QLabel>("StatusPanel0");
    const QString before = panel->text();
    runFor(std::chrono::milliseconds(100));

    struct PaintRecorder : QObject {
        QWidget* window = nullptr;
        QList<std::pair<QWidget*, QRect>> painted;  // with the painted area in the window
        bool eventFilter(QObject* watched, QEvent* event) override {
            auto* widget = qobject_cast<QWidget*>(watched);
            if (event->type() == QEvent::Paint && widget != nullptr && widget->window() == window) {
                const QRect area = static_cast<QPaintEvent*>(event)->region().boundingRect();
                painted.append({widget, area.translated(widget->mapTo(window, QPoint()))});
            }
            return false;
        }
    } recorder;
    recorder.window = form.get();
    qApp->installEventFilter(&recorder);
    ASSERT_TRUE(testing_support::waitFor([&] { return panel->text() != before; }));
    ASSERT_TRUE(testing_support::waitFor([&] { return !recorder.painted.isEmpty(); }));
    runFor(std::chrono::milliseconds(100));
    qApp->removeEventFilter(&recorder);

    const QRect panelArea(panel->mapTo(form.get(), QPoint()), panel->size());
    for (const auto& [widget, area] : recorder.painted) {
        EXPECT_TRUE(widget == panel || widget->isAncestorOf(panel))
            << widget->objectName().toStdString();
        EXPECT_TRUE(panelArea.contains(area)) << widget->objectName().toStdString();
    }
}

TEST_F(FormTest, ClearEmptiesTheLogAndLaterLinesAppendToIt) {
    form->Image6Click();
    form->Image6Click();
    QTest::mouseClick(button("ButtonClear"), Qt::LeftButton);
    EXPECT_TRUE(logLines().isEmpty());
    form->Image6Click();
    EXPECT_EQ(logLines(), QStringList{"Reserved"});
}

TEST_F(FormTest, BadBaudTextShowsTheConversionErrorAndKeepsTheRate) {
    form->show();
    auto* combo = child<QComboBox>("ComboBoxBaudrate");
    for (const char* bad : {"9600x", "", " 0x", "99999999999"}) {
        errors.clear();
        combo->setEditText(QString::fromLatin1(bad));
        ASSERT_EQ(errors.size(), 1) << bad;
        EXPECT_EQ(errors[0], QStringLiteral("'%1' is not a valid integer value").arg(bad));
        EXPECT_EQ(form->session().link().BaudRate(), 9600) << bad;
    }
    combo->setEditText(QStringLiteral("$4B0"));
    EXPECT_EQ(form->session().link().BaudRate(), 1200);
}
