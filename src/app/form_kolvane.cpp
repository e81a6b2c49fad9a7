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
#include <QScreen>
#include <QShowEvent>
#include <QSocketNotifier>
#include <QStatusBar>
#include <QStringListModel>
#include <QStyle>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <ctime>

#include "app/clock_text.h"
#include "app/error_display.h"
#include "app/fonts.h"
#include "app/int_text.h"
#include "app/key_hotspot.h"
#include "remote/key_table.h"
#include "serial/open_error.h"
#include "serial/pause.h"
#include "serial/port_list.h"

namespace {

constexpr QSize kClientSize(514, 554);
const QColor kSwitchOn(0, 128, 0);
const QColor kSwitchOff(0, 0, 0);
using serial::kDataBits;
using serial::kNoParity;
using serial::kOneStopBit;

void pauseAndProcessEvents() {
    serial::pauseOneMillisecond();
    QCoreApplication::processEvents();
}

QString fromLocal8Bit(std::string_view bytes) {
    return QString::fromLocal8Bit(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

}  // namespace

TFormKolvane::TFormKolvane(QWidget* parent)
    : QMainWindow(parent),
      pacer_(remote::PollPacer::Clock::now(), kReceivePollPeriod),
      sender_(link_, pauseAndProcessEvents),
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

    const QScreen* screen = QGuiApplication::primaryScreen();
    const QRect available = screen != nullptr ? screen->availableGeometry() : QRect();
    setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, kClientSize, available));
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
    connectGuarded(TimerRs232, &QTimer::timeout, &TFormKolvane::TimerRs232Timer);
    connectGuarded(TimerSearcgDevice, &QTimer::timeout, &TFormKolvane::TimerSearcgDeviceTimer);
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

void TFormKolvane::appendLogBytes(std::string_view bytes) {
    appendLog(fromLocal8Bit(bytes));
}

// The port switch.

std::string TFormKolvane::portPath() const {
    return serial::portPathFor(EditCOMport->text().toLocal8Bit().toStdString());
}

void TFormKolvane::setSwitchColour(const QColor& colour) {
    QPalette p = BitBtnRS232->palette();
    p.setColor(QPalette::ButtonText, colour);
    BitBtnRS232->setPalette(p);
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

void TFormKolvane::showPortOn(const std::string& path) {
    link_.setComPortPath(path);
    followLink();
    BitBtnRS232->setToolTip(QString());
    BitBtnRS232->setText(QStringLiteral("RS232 ON"));
    appendLog(EditCOMport->text() + QStringLiteral(" RS232 ON"));
    setSwitchColour(kSwitchOn);
}

void TFormKolvane::closePortShowingOff() {
    link_.Rs232Control(false, link_.ComPortPath(), link_.BaudRate(), kDataBits, kNoParity,
                       kOneStopBit);
    followLink();
    BitBtnRS232->setText(QStringLiteral("RS232 OFF"));
    appendLog(EditCOMport->text() + QStringLiteral(" RS232 OFF"));
    setSwitchColour(kSwitchOff);
}

void TFormKolvane::BitBtnRS232Click() {
    if (link_.ComOpened()) {
        closePortShowingOff();
        return;
    }
    const std::string path = portPath();
    link_.Rs232Control(true, path, link_.BaudRate(), kDataBits, kNoParity, kOneStopBit);
    if (link_.ComOpened()) {
        showPortOn(path);
        QCoreApplication::processEvents();
    } else {
        appendLog(QStringLiteral("RS232 Open Error. "));
        showOpenError();
    }
}

// The log keeps its one line; why the open failed goes to standard error and stays on the
// switch until an open succeeds.
void TFormKolvane::showOpenError() {
    if (const auto& error = link_.lastOpenError()) {
        const std::string reason = serial::describe(*error);
        std::fprintf(stderr, "kolvane: %s\n", reason.c_str());
        BitBtnRS232->setToolTip(QString::fromLocal8Bit(reason.c_str()));
    }
}

void TFormKolvane::ComboBoxBaudrateChange() {
    link_.setBaudRate(app::textToInt(ComboBoxBaudrate->currentText().toStdString()));
}

// Receiving. Polls fall on TimerRs232's 100 ms grid, but only while there is something to
// poll for: with the port closed, or the line quiet and no message gathered, the timer
// rests and the line's descriptor wakes the window when input comes.

void TFormKolvane::followLink() {
    dropLineWatch();
    if (!link_.ComOpened()) {
        TimerRs232->stop();
        return;
    }
    if (const auto fd = link_.inputDescriptor()) {
        lineWatch_ = new QSocketNotifier(*fd, QSocketNotifier::Read, this);
        connectGuarded(lineWatch_, &QSocketNotifier::activated, &TFormKolvane::lineReadable);
    }
    paceReceiving();
}

void TFormKolvane::dropLineWatch() {
    if (lineWatch_ != nullptr) {
        lineWatch_->setEnabled(false);
        lineWatch_->deleteLater();  // this may be its own signal's handler
        lineWatch_ = nullptr;
    }
}

// Input has come, or the line hung up: poll at the first tick that would have seen it. A
// hung-up line stays readable for ever, so it is polled on every tick from then on instead.
void TFormKolvane::lineReadable() {
    if (link_.lineHungUp()) {
        dropLineWatch();
    } else {
        lineWatch_->setEnabled(false);
    }
    schedulePoll(pacer_.inputArrived(remote::PollPacer::Clock::now()));
}

void TFormKolvane::paceReceiving() {
    const auto next =
        pacer_.polled(remote::PollPacer::Clock::now(), rx_.RxCount() != 0, lineWatch_ != nullptr);
    if (next) {
        if (lineWatch_) {
            lineWatch_->setEnabled(false);
        }
        schedulePoll(*next);
    } else {
        TimerRs232->stop();
        lineWatch_->setEnabled(true);
    }
}

void TFormKolvane::schedulePoll(remote::PollPacer::TimePoint at) {
    const auto wait =
        std::chrono::ceil<std::chrono::milliseconds>(at - remote::PollPacer::Clock::now());
    TimerRs232->start(std::max(0, int(wait.count())));
}

void TFormKolvane::TimerRs232Timer() {
    if (link_.ComOpened()) {
        ButtonRs232ReadClick();
        // An unplugged adapter is shown switched off, once; a merely quiet one stays on.
        if (link_.deviceGone()) {
            closePortShowingOff();
        }
    }
}

void TFormKolvane::ButtonRs232ReadClick() {
    remote::pollReceiver(link_, rx_, [this](const remote::Message& message) {
        if (message.kind == remote::Message::Kind::ProbeReply) {
            search_.probeReplyArrived();
        }
        appendLogBytes(message.text);
    });
    if (link_.ComOpened()) {
        paceReceiving();
    }
}

// Sending.

void TFormKolvane::ButtonConvertClick() {
    const QByteArray text = EditSend->text().toLocal8Bit();
    const auto frame = remote::CommandFrame::fromText(
        std::string_view(text.constData(), static_cast<std::size_t>(text.size())));
    if (link_.ComOpened()) {
        sender_.sendFrame(frame);
    }
}

void TFormKolvane::keyClick(int hotspot) {
    const std::string_view command = remote::keyByHotspot(hotspot).commandText;
    EditSend->setText(QString::fromLatin1(command.data(), static_cast<qsizetype>(command.size())));
    ButtonConvertClick();
}

void TFormKolvane::Image6Click() {
    appendLog(QStringLiteral("Reserved"));
}

void TFormKolvane::Button1Click() {
    const QByteArray text = EditChar->text().toLocal8Bit();
    const auto byte = static_cast<std::uint8_t>(text.isEmpty() ? 0 : text.front());
    if (link_.ComOpened()) {
        sender_.sendBytes({byte});
    }
}

void TFormKolvane::Button2Click() {
    if (link_.ComOpened()) {
        sender_.sendBytes({0x0A});
    }
}

// Device search.

void TFormKolvane::ButtonSearchDeviceClick() {
    search_.restart();
    if (link_.ComOpened()) {
        BitBtnRS232Click();
    } else {
        TimerSearcgDevice->start();
    }
}

void TFormKolvane::TimerSearcgDeviceTimer() {
    search_.tick(*this);
}

bool TFormKolvane::comOpened() const {
    return link_.ComOpened();
}
void TFormKolvane::sendProbe() {
    ButtonConvertClick();
}
std::string TFormKolvane::portText() const {
    return EditCOMport->text().toStdString();
}
void TFormKolvane::setPortText(const std::string& text) {
    EditCOMport->setText(QString::fromStdString(text));
}
void TFormKolvane::logLine(const std::string& line) {
    appendLog(QString::fromStdString(line));
}
bool TFormKolvane::openPortQuietly() {
    const std::string path = portPath();
    if (!link_.Rs232Control(true, path, link_.BaudRate(), kDataBits, kNoParity, kOneStopBit)) {
        return false;
    }
    showPortOn(path);
    return true;
}
void TFormKolvane::setProbeCommand() {
    EditSend->setText(QString::fromLatin1(remote::kProbeCommand.data(),
                                          static_cast<qsizetype>(remote::kProbeCommand.size())));
}
void TFormKolvane::setTimerInterval(int milliseconds) {
    TimerSearcgDevice->setInterval(milliseconds);
}
void TFormKolvane::stopTimer() {
    TimerSearcgDevice->stop();
}
