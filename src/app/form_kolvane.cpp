#include "app/form_kolvane.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QCompleter>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScopedValueRollback>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QStringListModel>
#include <QStyle>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "app/clock_text.h"
#include "app/error_display.h"
#include "app/fonts.h"
#include "app/key_hotspot.h"
#include "app/switch_colours.h"
#include "remote/key_table.h"
#include "serial/open_error.h"
#include "serial/port_list.h"
#include "session/int_text.h"

namespace {

constexpr QSize kClientSize(514, 554);

QColor qColour(app::Rgb colour) {
    return QColor(colour.red, colour.green, colour.blue);
}

app::Rgb rgbOf(const QColor& colour) {
    return {colour.red(), colour.green(), colour.blue()};
}

QString fromLocal8Bit(std::string_view bytes) {
    return QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

bool isUserInput(QEvent::Type type) {
    switch (type) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
            return true;
        default:
            return false;
    }
}

}  // namespace

TFormKolvane::TFormKolvane(QWidget* parent)
    : QMainWindow(parent),
      session_(new session::Session(this)),
      errorDisplay_([this](const QString& message) { app::showErrorBox(this, message); }) {
    app::registerFontSubstitutions();
    setObjectName(QStringLiteral("FormKolvane"));
    setWindowTitle(QStringLiteral("Kolvane  Demo"));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);

    buildControls();
    buildTimers();
    connectHandlers();
    session_->setPortText(EditCOMport->text().toLocal8Bit().toStdString());
    session_->setCommandText(EditSend->text().toLocal8Bit().toStdString());
    session_->addWatcher(this);
    session_->setErrorHandler(
        [this](std::exception_ptr error) { errorDisplay_(app::messageOf(error)); });

    placeOnScreen();
}

// Centred on the screen. A screen too small for that, as at a large scale factor, would leave
// the title bar out of reach above it: then the frame's corner is kept on the screen instead.
void TFormKolvane::placeOnScreen() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen != nullptr ? screen->availableGeometry() : QRect();
    const QRect centred =
        QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, kClientSize, available);
    // The desktop's frame is known only once the window is shown; Qt's own title bar height
    // stands in for it.
    const int titleBar = style()->pixelMetric(QStyle::PM_TitleBarHeight);
    if (centred.top() - titleBar >= available.top() && centred.left() >= available.left()) {
        setGeometry(centred);
        return;
    }
    resize(kClientSize);
    // Before the window is shown, a move places the corner of its frame.
    move(std::max(centred.left(), available.left()),
         std::max(centred.top() - titleBar, available.top()));
}

TFormKolvane::~TFormKolvane() = default;

template <typename Signal, typename Sender>
void TFormKolvane::connectGuarded(Sender* sender, Signal signal, void (TFormKolvane::*handler)()) {
    connect(sender, signal, this, [this, handler] { runGuarded(handler); });
}

void TFormKolvane::runGuarded(void (TFormKolvane::*handler)()) {
    try {
        (this->*handler)();
    } catch (...) {
        errorDisplay_(app::messageOf(std::current_exception()));
    }
}

void TFormKolvane::connectHandlers() {
    connectGuarded(Timer1, &QTimer::timeout, &TFormKolvane::Timer1Timer);
    connectGuarded(ButtonClear, &QPushButton::clicked, &TFormKolvane::ButtonClearClick);
    connectGuarded(BitBtnRS232, &QPushButton::clicked, &TFormKolvane::BitBtnRS232Click);
    connectGuarded(ComboBoxBaudrate, &QComboBox::currentTextChanged,
                   &TFormKolvane::ComboBoxBaudrateChange);
    connectGuarded(ButtonRs232Read, &QPushButton::clicked, &TFormKolvane::ButtonRs232ReadClick);
    connectGuarded(ButtonConvert, &QPushButton::clicked, &TFormKolvane::ButtonConvertClick);
    connectGuarded(Button1, &QPushButton::clicked, &TFormKolvane::Button1Click);
    connectGuarded(Button2, &QPushButton::clicked, &TFormKolvane::Button2Click);
    connectGuarded(ButtonSearchDevice, &QPushButton::clicked,
                   &TFormKolvane::ButtonSearchDeviceClick);
    // The line edit says the text changed before it opens the list for it.
    connect(EditCOMport, &QLineEdit::textEdited, this, &TFormKolvane::offerPortsFor);
    // The session works from what the boxes hold, however it got there.
    connect(EditCOMport, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!syncingBoxes_) {
            const QScopedValueRollback<bool> syncing(syncingBoxes_, true);
            session_->setPortText(text.toLocal8Bit().toStdString());
        }
    });
    connect(EditSend, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (!syncingBoxes_) {
            const QScopedValueRollback<bool> syncing(syncingBoxes_, true);
            session_->setCommandText(text.toLocal8Bit().toStdString());
        }
    });
    static constexpr std::array<void (TFormKolvane::*)(), remote::kHotspotCount> kImageClick = {
        &TFormKolvane::Image1Click,  &TFormKolvane::Image2Click,  &TFormKolvane::Image3Click,
        &TFormKolvane::Image4Click,  &TFormKolvane::Image5Click,  &TFormKolvane::Image6Click,
        &TFormKolvane::Image7Click,  &TFormKolvane::Image8Click,  &TFormKolvane::Image9Click,
        &TFormKolvane::Image10Click, &TFormKolvane::Image11Click, &TFormKolvane::Image12Click,
        &TFormKolvane::Image13Click, &TFormKolvane::Image14Click, &TFormKolvane::Image15Click,
        &TFormKolvane::Image16Click, &TFormKolvane::Image17Click, &TFormKolvane::Image18Click,
        &TFormKolvane::Image19Click, &TFormKolvane::Image20Click, &TFormKolvane::Image21Click,
    };
    for (std::size_t i = 0; i < Image.size(); ++i) {
        connectGuarded(Image[i], &app::KeyHotspot::clicked, kImageClick[i]);
    }
}

void TFormKolvane::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!event->spontaneous()) {
        runGuarded(&TFormKolvane::FormShow);
    }
}

bool TFormKolvane::eventFilter(QObject* watched, QEvent* event) {
    // A dialog raised meanwhile is answered as usual; only the window's own controls wait.
    if (waitingOnOpen_ && isUserInput(event->type()) && !QApplication::activeModalWidget()) {
        return true;
    }
    // Focus coming back from the list of names is not the box being entered again.
    if (watched == EditCOMport && event->type() == QEvent::FocusIn &&
        static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason) {
        refreshPortCompletions();
    }
    return QMainWindow::eventFilter(watched, event);
}

void TFormKolvane::FormShow() {
    Timer1Timer();
    ComboBoxBaudrateChange();
}

void TFormKolvane::Timer1Timer() {
    StatusPanel0->setText(fromLocal8Bit(app::clockText(std::time(nullptr))));
}

void TFormKolvane::ButtonClearClick() {
    Memo1->clear();
}

void TFormKolvane::appendLog(const QString& line) {
    Memo1->appendPlainText(line);
}

void TFormKolvane::logLine(std::string_view line) {
    appendLog(fromLocal8Bit(line));
}

// A box shows the session's text, unless the change came from the box itself or the box holds
// it already: setting it again would move the cursor of someone typing there.
void TFormKolvane::showInBox(QLineEdit* box, const std::string& text) {
    const QString shown = fromLocal8Bit(text);
    if (!syncingBoxes_ && box->text() != shown) {
        const QScopedValueRollback<bool> syncing(syncingBoxes_, true);
        box->setText(shown);
    }
}

void TFormKolvane::portTextChanged(const std::string& text) {
    showInBox(EditCOMport, text);
}

void TFormKolvane::commandTextChanged(const std::string& text) {
    showInBox(EditSend, text);
}

// The port switch.

void TFormKolvane::setSwitchColour(const QColor& colour) {
    QPalette p = BitBtnRS232->palette();
    p.setColor(QPalette::ButtonText, colour);
    BitBtnRS232->setPalette(p);
}

// Black and green on a dark theme's button face could hardly be read; that one button then
// gets a light face of its own.
void TFormKolvane::colourSwitchForTheme() {
    QPalette p = BitBtnRS232->palette();
    const app::Rgb themeFace = rgbOf(p.color(QPalette::Button));
    const app::SwitchColours colours =
        app::switchColours(themeFace, rgbOf(palette().color(QPalette::WindowText)));
    if (colours.face != themeFace) {
        p.setColor(QPalette::Button, qColour(colours.face));
        BitBtnRS232->setPalette(p);
    }
    setSwitchColour(qColour(colours.firstCaption));
}

void TFormKolvane::refreshPortCompletions() {
    portNames_.clear();
    for (const std::string& name : serial::availablePorts()) {
        portNames_ << QString::fromLocal8Bit(name.c_str());
    }
    portCompletions_->setStringList(portNames_);
    // The box is narrow; the list of names beneath it need not be.
    QAbstractItemView* popup = EditCOMport->completer()->popup();
    int widest = 0;
    for (const QString& name : portNames_) {
        widest = std::max(widest, popup->fontMetrics().horizontalAdvance(name));
    }
    constexpr int kMargins = 32;
    popup->setMinimumWidth(widest + kMargins);
}

// Once the box names a port exactly the list stays shut: open, it would take the next click,
// on the switch say, only to close itself. Typing on brings it back.
void TFormKolvane::offerPortsFor(const QString& text) {
    portCompletions_->setStringList(portNames_.contains(text, Qt::CaseInsensitive) ? QStringList()
                                                                                   : portNames_);
}

void TFormKolvane::portSwitched(bool on) {
    if (on) {
        BitBtnRS232->setToolTip(QString());
    }
    BitBtnRS232->setText(on ? QStringLiteral("RS232 ON") : QStringLiteral("RS232 OFF"));
    setSwitchColour(qColour(on ? app::kSwitchOn : app::kSwitchOff));
}

void TFormKolvane::BitBtnRS232Click() {
    session_->switchPort();
}

// The log keeps its one line; why the open failed goes to standard error and stays on the
// switch until an open succeeds.
void TFormKolvane::openFailed() {
    if (const auto& error = session_->link().lastOpenError()) {
        const std::string reason = serial::describe(*error);
        std::fprintf(stderr, "kolvane: %s\n", reason.c_str());
        // A server's own words are in the reason; a tooltip would take tags in them as markup.
        const QString text = QString::fromLocal8Bit(reason.c_str());
        BitBtnRS232->setToolTip(Qt::mightBeRichText(text) ? Qt::convertFromPlainText(text) : text);
    }
}

// While a network port opens the event loop runs, so the window repaints and its timers
// tick; a click or key meanwhile would run a handler inside the switch's, so they go unheard.
void TFormKolvane::waiting(bool begins) {
    waitingOnOpen_ = begins;
    if (begins) {
        qApp->installEventFilter(this);
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
    } else {
        qApp->removeEventFilter(this);
        QGuiApplication::restoreOverrideCursor();
    }
}

void TFormKolvane::ComboBoxBaudrateChange() {
    session_->setBaudRate(session::textToInt(ComboBoxBaudrate->currentText().toStdString()));
}

void TFormKolvane::TimerRs232Timer() {
    session_->pollTick();
}

void TFormKolvane::ButtonRs232ReadClick() {
    session_->poll();
}

// Sending.

void TFormKolvane::ButtonConvertClick() {
    session_->sendCommandText();
}

void TFormKolvane::keyClick(int hotspot) {
    session_->pressKey(hotspot);
}

void TFormKolvane::Image6Click() {
    session_->pressKey(6);
}

void TFormKolvane::Button1Click() {
    const QByteArray text = EditChar->text().toLocal8Bit();
    session_->sendByte(static_cast<std::uint8_t>(text.isEmpty() ? 0 : text.front()));
}

void TFormKolvane::Button2Click() {
    session_->sendByte(0x0A);
}

// Device search.

void TFormKolvane::ButtonSearchDeviceClick() {
    session_->startSearch();
}

void TFormKolvane::TimerSearcgDeviceTimer() {
    session_->searchTick();
}
