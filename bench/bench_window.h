#pragma once

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>
#include <cstdio>
#include <memory>
#include <string>

#include "app/form_kolvane.h"
#include "pty_device.h"

namespace bench {

// The real window, shown offscreen, its port switched on to a fresh pty whose master side the
// benchmark holds. COM names point nowhere, so no real port of the machine is touched.
struct WindowOnPty {
    testing_support::PortAliases aliases;
    testing_support::PtyDevice device;
    TFormKolvane form;

    // False, having said so, when the port did not open: the benchmark then has nothing to
    // measure. `port` names another way to the same pty, such as a serial server's.
    bool open(const std::string& port = {}) {
        const std::string name = port.empty() ? device.path() : port;
        form.setErrorDisplay([](const QString& message) {
            std::fprintf(stderr, "window error: %s\n", qPrintable(message));
        });
        form.show();
        if (!QTest::qWaitForWindowExposed(&form)) {
            std::fprintf(stderr, "the window was not shown\n");
            return false;
        }
        form.findChild<QLineEdit*>(QStringLiteral("EditCOMport"))
            ->setText(QString::fromStdString(name));
        form.BitBtnRS232Click();
        if (!form.session().link().ComOpened()) {
            std::fprintf(stderr, "the port did not open on %s\n", name.c_str());
            return false;
        }
        return true;
    }

    QPlainTextEdit* log() { return form.findChild<QPlainTextEdit*>(QStringLiteral("Memo1")); }
};

}  // namespace bench
