#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "serve/serve_options.h"

namespace {

using Action = serve::Options::Action;

TEST(ServeCommandLine, OptionsAndMistakes) {
    const struct {
        std::vector<std::string_view> args;
        Action action;
        std::string port;
        std::int32_t baud;
        bool retry;
        std::vector<std::string> errors;
    } cases[] = {
        {{}, Action::Serve, "COM6", 9600, true, {}},
        {{"--port", "/dev/ttyUSB0", "--baud", "19200", "--no-retry"},
         Action::Serve,
         "/dev/ttyUSB0",
         19200,
         false,
         {}},
        {{"--port=COM12", "--baud=$4B0"}, Action::Serve, "COM12", 1200, true, {}},
        // Asking for help outweighs any mistake around it.
        {{"--bogus", "--help"}, Action::Help, "COM6", 9600, true, {}},
        {{"-h"}, Action::Help, "COM6", 9600, true, {}},
        {{"--version", "--port"}, Action::Version, "COM6", 9600, true, {}},
        {{"--bogus"}, Action::Serve, "COM6", 9600, true, {"unknown option --bogus"}},
        {{"COM6"},
         Action::Serve,
         "COM6",
         9600,
         true,
         {"unexpected argument \"COM6\" (the port goes after --port)"}},
        {{"--port"}, Action::Serve, "COM6", 9600, true, {"--port needs a value"}},
        {{"--port="}, Action::Serve, "", 9600, true, {"--port: the name is empty"}},
        {{"--no-retry=yes"}, Action::Serve, "COM6", 9600, true, {"--no-retry takes no value"}},
        {{"--baud", "0", "--baud", "fast"},
         Action::Serve,
         "COM6",
         9600,
         true,
         {"--baud: must be more than 0: \"0\"", "--baud: 'fast' is not a valid integer value"}},
    };
    for (const auto& c : cases) {
        std::string line;
        for (std::string_view arg : c.args) {
            line += std::string(arg) + " ";
        }
        SCOPED_TRACE(line);
        const serve::ParsedCommandLine parsed = serve::parseCommandLine(c.args);
        EXPECT_EQ(parsed.errors, c.errors);
        EXPECT_EQ(parsed.options.action, c.action);
        EXPECT_EQ(parsed.options.port, c.port);
        EXPECT_EQ(parsed.options.baud, c.baud);
        EXPECT_EQ(parsed.options.retry, c.retry);
    }
}

}  // namespace
