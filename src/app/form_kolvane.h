#pragma once

#include <QMainWindow>
#include <QStringList>
#include <array>
#include <functional>
#include <string>
#include <string_view>

#include "remote/key_table.h"
#include "session/session.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QStatusBar;
class QStringListModel;
class QTimer;

namespace app {
class KeyHotspot;
}

// The one window: the remote picture with its keys, the port switch, the log and the
// search. Every piece of work is one of its handlers, run by the event loop; each hands its
// steps to the session that owns the line, and the window shows what the session reports.
class TFormKolvane : public QMainWindow, private session::Watcher {
    Q_OBJECT
public:
    explicit TFormKolvane(QWidget* parent = nullptr);
    ~TFormKolvane() override;

    // Where a failing handler's message goes; the stop-icon message box unless replaced.
    using ErrorDisplay = std::function<void(const QString& message)>;
    void setErrorDisplay(ErrorDisplay display) { errorDisplay_ = std::move(display); }

    session::Session& session() { return *session_; }
    const session::Session& session() const { return *session_; }

public slots:
    void FormShow();
    void Timer1Timer();
    void ButtonClearClick();

    void BitBtnRS232Click();
    void ComboBoxBaudrateChange();

    void TimerRs232Timer();
    void ButtonRs232ReadClick();

    void ButtonConvertClick();
    void Image1Click() { keyClick(1); }
    void Image2Click() { keyClick(2); }
    void Image3Click() { keyClick(3); }
    void Image4Click() { keyClick(4); }
    void Image5Click() { keyClick(5); }
    void Image6Click();
    void Image7Click() { keyClick(7); }
    void Image8Click() { keyClick(8); }
    void Image9Click() { keyClick(9); }
    void Image10Click() { keyClick(10); }
    void Image11Click() { keyClick(11); }
    void Image12Click() { keyClick(12); }
    void Image13Click() { keyClick(13); }
    void Image14Click() { keyClick(14); }
    void Image15Click() { keyClick(15); }
    void Image16Click() { keyClick(16); }
    void Image17Click() { keyClick(17); }
    void Image18Click() { keyClick(18); }
    void Image19Click() { keyClick(19); }
    void Image20Click() { keyClick(20); }
    void Image21Click() { keyClick(21); }
    void Button1Click();
    void Button2Click();

    void ButtonSearchDeviceClick();
    void TimerSearcgDeviceTimer();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildControls();
    void placeOnScreen();
    void buildTimers();
    void connectHandlers();

    // Runs a handler; whatever it throws goes to the error display and the program goes on.
    void runGuarded(void (TFormKolvane::*handler)());
    template <typename Signal, typename Sender>
    void connectGuarded(Sender* sender, Signal signal, void (TFormKolvane::*handler)());

    void keyClick(int hotspot);
    void appendLog(const QString& line);
    void setSwitchColour(const QColor& colour);
    void colourSwitchForTheme();
    void showInBox(QLineEdit* box, const std::string& text);
    void refreshPortCompletions();
    void offerPortsFor(const QString& text);

    // What the session reports.
    void logLine(std::string_view line) override;
    void portSwitched(bool on) override;
    void openFailed() override;
    void portTextChanged(const std::string& text) override;
    void commandTextChanged(const std::string& text) override;
    void waiting(bool begins) override;

    session::Session* session_;
    bool syncingBoxes_ = false;  // while a box and the session take each other's text
    bool waitingOnOpen_ = false;
    ErrorDisplay errorDisplay_;

    QLabel* ImagePanel = nullptr;
    std::array<app::KeyHotspot*, remote::kHotspotCount> Image{};
    QPushButton* ButtonSearchDevice = nullptr;
    QLineEdit* EditCOMport = nullptr;
    QStringListModel* portCompletions_ = nullptr;
    QStringList portNames_;
    QPushButton* BitBtnRS232 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* ButtonClear = nullptr;
    QLineEdit* EditSend = nullptr;
    QLabel* Label1 = nullptr;
    QPushButton* ButtonConvert = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanel0 = nullptr;
    QLabel* StatusPanel1 = nullptr;
    QLabel* Label7 = nullptr;
    QComboBox* ComboBoxBaudrate = nullptr;
    QPushButton* ButtonRs232Read = nullptr;
    QLineEdit* EditChar = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QTimer* Timer1 = nullptr;
};
