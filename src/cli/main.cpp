// kolvane-send: the remote's keys from a shell script.

#include <QCoreApplication>
#include <exception>
#include <iostream>
#include <string_view>
#include <vector>

#include "cli/exit_status.h"
#include "cli/key_session.h"
#include "cli/output.h"
#include "cli/port_search.h"
#include "cli/send_options.h"
#include "cli/std_streams.h"
#include "control/answer_text.h"
#include "version.h"

namespace {

// What needs the line: worked on QtCore's event loop, as in the window.
int talkToDevice(const cli::Options& options, int& argc, char** argv) {
    const QCoreApplication application(argc, argv);
    switch (options.action) {
        case cli::Options::Action::Search:
            if (const auto port = cli::searchForDevice(options.baud)) {
                std::cout << (options.json ? "{\"port\":" + control::jsonString(*port) + "}"
                                           : *port)
                          << '\n';
                return cli::kAllAnswered;
            }
            std::cerr << "kolvane-send: no device answered on COM1 to COM20\n";
            return cli::kNoAnswer;
        case cli::Options::Action::Status:
            return cli::showOwner(options, std::cout);
        default:
            return cli::sendKeys(options, std::cout, std::cerr);
    }
}

int run(const cli::Options& options, int& argc, char** argv) {
    switch (options.action) {
        case cli::Options::Action::Help:
            std::cout << cli::usageText();
            return cli::kAllAnswered;
        case cli::Options::Action::Version:
            std::cout << "kolvane-send " KOLVANE_VERSION "\n";
            return cli::kAllAnswered;
        case cli::Options::Action::ListKeys:
            cli::printKeyTable(std::cout, options.json);
            return cli::kAllAnswered;
        default:
            return talkToDevice(options, argc, argv);
    }
}

}  // namespace

int main(int argc, char** argv) {
    cli::holdClosedStandardStreams();
    const std::vector<std::string_view> args(argv + 1, argv + argc);
    try {
        const cli::ParsedCommandLine parsed = cli::parseCommandLine(args);
        for (const std::string& error : parsed.errors) {
            std::cerr << "kolvane-send: " << error << '\n';
        }
        if (!parsed.errors.empty()) {
            return cli::kUsageError;
        }
        const int status = run(parsed.options, argc, argv);
        // A script reading the answers must not take a lost output for success.
        if (!std::cout.flush() && status == cli::kAllAnswered) {
            std::cerr << "kolvane-send: cannot write the output\n";
            return cli::kNoAnswer;
        }
        return status;
    } catch (const std::exception& e) {
        std::cerr << "kolvane-send: " << e.what() << '\n';
        return cli::kNoAnswer;
    }
}
