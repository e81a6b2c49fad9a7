// kolvane-serve: holds a port without a window and serves it to kolvane-send and others.

#include <QCoreApplication>
#include <QTimer>
#include <exception>
#include <iostream>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "cli/std_streams.h"
#include "control/api_service.h"
#include "control/local_server.h"
#include "serve/port_keeper.h"
#include "serve/serve_options.h"
#include "serve/stop_request.h"
#include "session/session.h"
#include "version.h"

namespace {

constexpr int kStopped = 0;
constexpr int kFailed = 1;  // the port went away, with --no-retry, or worse
constexpr int kUsageError = 2;
constexpr int kPortDidNotOpen = 3;

void say(const std::string& line) {
    std::cerr << "kolvane-serve: " << line << '\n';
}

int servePort(const serve::Options& options, const control::ServerSettings& servers, int& argc,
              char** argv) {
    QCoreApplication application(argc, argv);
    session::Session line;
    line.setBaudRate(options.baud);
    line.setPortText(options.port);
    line.setErrorHandler([](std::exception_ptr error) {
        try {
            std::rethrow_exception(error);
        } catch (const std::exception& e) {
            say(e.what());
        } catch (...) {
            say("unexpected error");
        }
    });
    control::LocalServer server(line, "kolvane-serve " KOLVANE_VERSION);
    std::unique_ptr<control::ApiService> api;
    if (options.servers.any()) {
        try {
            api = std::make_unique<control::ApiService>(line, "kolvane-serve " KOLVANE_VERSION,
                                                        servers);
        } catch (const std::runtime_error& e) {
            say(e.what());
            return kFailed;
        }
        for (const std::string& address : api->addresses()) {
            say(address);
        }
    }
    serve::PortKeeper keeper(line, say);
    if (!options.retry) {
        keeper.giveUpWith([](serve::PortKeeper::Loss loss) {
            QCoreApplication::exit(loss == serve::PortKeeper::Loss::NotOpened ? kPortDidNotOpen
                                                                              : kFailed);
        });
    }
    const serve::StopRequest stopRequest([&keeper] {
        keeper.stop();
        QCoreApplication::exit(kStopped);
    });
    // From the event loop, so that giving up at once can end it.
    QTimer::singleShot(0, &keeper, &serve::PortKeeper::start);
    return QCoreApplication::exec();
}

}  // namespace

int main(int argc, char** argv) {
    cli::holdClosedStandardStreams();
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    try {
        serve::ParsedCommandLine parsed = serve::parseCommandLine(args);
        std::optional<control::ServerSettings> servers;
        if (parsed.options.action == serve::Options::Action::Serve) {
            servers = control::serverSettings(parsed.options.servers, parsed.errors);
        }
        for (const std::string& error : parsed.errors) {
            std::cerr << "kolvane-serve: " << error << '\n';
        }
        if (!parsed.errors.empty()) {
            return kUsageError;
        }
        switch (parsed.options.action) {
            case serve::Options::Action::Help:
                std::cout << serve::usageText();
                break;
            case serve::Options::Action::Version:
                std::cout << "kolvane-serve " KOLVANE_VERSION "\n";
                break;
            case serve::Options::Action::Serve:
                return servePort(parsed.options, *servers, argc, argv);
        }
        return std::cout.flush() ? 0 : 1;
    } catch (const std::exception& e) {
        say(e.what());
        return kFailed;
    }
}
