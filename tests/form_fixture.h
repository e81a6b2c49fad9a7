#pragma once

#include <gtest/gtest.h>

#include <QEventLoop>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStringList>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

#include "app/form_kolvane.h"
#include "pty_device.h"

// The real window, its errors collected instead of shown, with every COM name mapped away
// from the machine's own ports.
class FormTest : public ::testing::Test {
protected:
    void SetUp() override {
        aliases = std::make_unique<testing_support::PortAliases>();
        form = std::make_unique<TFormKolvane>();
        form->setErrorDisplay([this](const QString& message) { errors << message; });
    }
    void TearDown() override {
        form.reset();
        aliases.reset();
    }

    template <typename T>
    T* child(const char* name) const {
        T* widget = form->findChild<T*>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QLineEdit* edit(const char* name) const { return child<QLineEdit>(name); }
    QPushButton* button(const char* name) const { return child<QPushButton>(name); }

    QTimer* pollTimer() const { return child<QTimer>("TimerRs232"); }
    QTimer* searchTimer() const { return child<QTimer>("TimerSearcgDevice"); }

    QStringList logLines() const {
        const QString text = child<QPlainTextEdit>("Memo1")->toPlainText();
        return text.isEmpty() ? QStringList() : text.split(QLatin1Char('\n'));
    }

    // Runs the event loop for `period`, time for the window's timers to act.
    static void runFor(std::chrono::milliseconds period) {
        QEventLoop loop;
        QTimer::singleShot(period, &loop, &QEventLoop::quit);
        loop.exec();
    }

    // The receive timer's polls stop reaching the window: the test polls by hand.
    void pollOnlyByHand() { pollTimer()->blockSignals(true); }

    // Starts a search the test drives by hand: the timers stay still and each tick is one
    // call of searchTicks().
    void startSearchByHand() {
        form->show();
        pollOnlyByHand();
        form->ButtonSearchDeviceClick();
        ASSERT_TRUE(searchTimer()->isActive());
        searchTimer()->stop();
    }
    void searchTicks(int n) {
        for (int i = 0; i < n; ++i) {
            form->TimerSearcgDeviceTimer();
        }
    }

    // Runs `send`, calling `atPause` with 1, 2, ... each time the event loop turns while a
    // frame is between bytes (1: after the first byte went out). Returns how many turns there
    // were.
    int duringPauses(const std::function<void()>& send,
                     const std::function<void(int pause)>& atPause) {
        QTimer turn;
        turn.setInterval(0);
        int pauses = 0;
        QObject::connect(&turn, &QTimer::timeout, [&] {
            if (form->session().commandSender().busy()) {
                atPause(++pauses);
            }
        });
        turn.start();
        send();
        turn.stop();
        return pauses;
    }

    // True when nothing has reached `device` so far: a marker byte the hidden button sends
    // now through the open port comes through alone.
    bool nothingReachedYet(testing_support::PtyDevice& device) {
        edit("EditChar")->setText(QStringLiteral("#"));
        form->Button1Click();
        return device.receive(1) == std::vector<std::uint8_t>{'#'};
    }

    // Opens the port on a fresh pty through the switch, as a user would.
    void switchOnTo(const testing_support::PtyDevice& device) {
        edit("EditCOMport")->setText(QString::fromStdString(device.path()));
        form->BitBtnRS232Click();
        ASSERT_TRUE(form->session().link().ComOpened());
    }

    std::unique_ptr<testing_support::PortAliases> aliases;
    std::unique_ptr<TFormKolvane> form;
    QStringList errors;
};
