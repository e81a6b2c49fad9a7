#include <QTimer>
#include <clocale>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "app/command_line.h"
#include "app/error_display.h"
#include "app/form_kolvane.h"
#include "app/kolvane_application.h"
#include "control/api_service.h"
#include "control/local_server.h"
#include "version.h"

int main(int argc, char** argv) {
    if (const auto text = app::informationRequested(argc, argv)) {
        // A full disk or a closed pipe is a failure, not a help text shown.
        return std::fputs(text->c_str(), stdout) < 0 || std::fflush(stdout) != 0 ? 1 : 0;
    }
    app::StartRequest start = app::takeStartRequest(argc, argv);
    const auto servers = control::serverSettings(start.servers, start.errors);
    if (!start.errors.empty()) {
        for (const std::string& error : start.errors) {
            std::fprintf(stderr, "kolvane: %s\n", error.c_str());
        }
        return 2;
    }
    if (const auto why = app::missingDisplay(argc, argv)) {
        std::fprintf(stderr, "kolvane: %s\n", why->c_str());
        return 1;
    }
    // On X11 the clock repaints one small patch every second. Through shared memory each
    // repaint first waits a round trip for the server to have read the last one, which wakes
    // two threads; sent over the socket the patch needs no reply. Left to the user if set.
    if (!qEnvironmentVariableIsSet("QT_XCB_NO_MITSHM")) {
        qputenv("QT_XCB_NO_MITSHM", "1");
    }
    app::KolvaneApplication application(argc, argv);
    std::setlocale(LC_TIME, "");  // the clock follows the user's regional formats
    try {
        TFormKolvane FormKolvane;
        if (start.port) {
            FormKolvane.session().setPortText(*start.port);
        }
        // Scripts and panels drive the device through the window while it holds the port.
        control::LocalServer server(FormKolvane.session(), "kolvane " KOLVANE_VERSION);
        // No thread and no socket unless a server is asked for.
        std::unique_ptr<control::ApiService> api;
        if (start.servers.any()) {
            try {
                api = std::make_unique<control::ApiService>(FormKolvane.session(),
                                                            "kolvane " KOLVANE_VERSION, *servers);
            } catch (const std::runtime_error& e) {
                std::fprintf(stderr, "kolvane: %s\n", e.what());
                return 1;
            }
            for (const std::string& line : api->addresses()) {
                std::fprintf(stderr, "kolvane: %s\n", line.c_str());
            }
        }
        FormKolvane.show();
        if (start.switchOn) {
            // From the event loop, as a click comes: a port that does not open shows as then.
            QTimer::singleShot(0, &FormKolvane, &TFormKolvane::BitBtnRS232Click);
        }
        return application.exec();
    } catch (...) {
        app::showErrorBox(nullptr, app::messageOf(std::current_exception()));
        return 1;
    }
}
