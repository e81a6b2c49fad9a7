// What callers of the HTTP and TCP API may ask, and the options that start the servers: every
// request either becomes one thing to do or a refusal with a status, whatever bytes it holds.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "control/api_request.h"
#include "control/server_options.h"
#include "support/temp_dir.h"

using control::ApiRequest;
using Kind = control::ApiRequest::Kind;
using namespace std::chrono_literals;

TEST(ApiRequest, HttpRoutesBecomeRequestsOrRefusals) {
    const struct {
        const char* method;
        const char* target;
        const char* body;
        unsigned status;  // 0: accepted
        Kind kind;
    } cases[] = {
        {"GET", "/api/v1/state", "", 0, Kind::State},
        {"GET", "/api/v1/keys", "", 0, Kind::Keys},
        {"POST", "/api/v1/keys/power", "", 0, Kind::Key},
        {"POST", "/api/v1/keys/OUTSIZE%20720P%2F1080P?wait=5000", "", 0, Kind::Key},
        {"POST", "/api/v1/text", R"({"text":"G45g"})", 0, Kind::Text},
        {"POST", "/api/v1/text", R"( {"x":[1,{"y":null}],"text":"G\u0034\u0035g"} )", 0,
         Kind::Text},
        {"POST", "/api/v1/port", R"({"open":false})", 0, Kind::Port},
        {"POST", "/api/v1/search", "ignored", 0, Kind::Search},
        {"POST", "/api/v1/keys/powr", "", 404, {}},
        {"POST", "/api/v1/keys/", "", 404, {}},
        {"POST", "/api/v1/keys/%2", "", 400, {}},
        {"POST", "/api/v1/keys/%23%36", "", 400, {}},  // #6, the reserved key
        {"POST", "/api/v1/keys/power?wait=5001", "", 400, {}},
        {"POST", "/api/v1/keys/power?wait=-1", "", 400, {}},
        {"POST", "/api/v1/keys/power?port=COM1", "", 400, {}},
        {"GET", "/api/v1/keys/power", "", 405, {}},
        {"POST", "/api/v1/state", "", 405, {}},
        {"GET", "/api/v2/state", "", 404, {}},
        {"GET", "/", "", 404, {}},
        {"POST", "/api/v1/text", R"({"text":"G45g"} x)", 400, {}},
        {"POST", "/api/v1/text", R"({"text":"G45g","text":"G46g"})", 400, {}},
        {"POST", "/api/v1/text", R"({"text":""})", 400, {}},
        {"POST", "/api/v1/text", R"({"text":"G\u0000g"})", 400, {}},
        {"POST", "/api/v1/text", R"({"text":"\ud800"})", 400, {}},
        {"POST", "/api/v1/text", R"({"text":1})", 400, {}},
        {"POST", "/api/v1/port", R"({"open":"true"})", 400, {}},
        {"POST", "/api/v1/port", R"([true])", 400, {}},
        {"POST", "/api/v1/port", "", 400, {}},
    };
    for (const auto& c : cases) {
        const auto parsed = control::parseHttpRequest(c.method, c.target, c.body);
        EXPECT_EQ(parsed.status, c.status) << c.method << ' ' << c.target << ' ' << c.body;
        EXPECT_EQ(parsed.request.has_value(), c.status == 0) << c.target;
        if (parsed.request) {
            EXPECT_EQ(parsed.request->kind, c.kind) << c.target;
        } else {
            EXPECT_FALSE(parsed.refusal.empty()) << c.target;
        }
    }

    const auto key = control::parseHttpRequest("POST", "/api/v1/keys/POWER_ON%2FOFF?wait=20", "");
    ASSERT_TRUE(key.request);
    EXPECT_EQ(key.request->hotspot, 1);
    EXPECT_EQ(key.request->wait, 20ms);
    const auto text =
        control::parseHttpRequest("POST", "/api/v1/text", R"({"text":"G\u0034\u0035g"})");
    ASSERT_TRUE(text.request);
    EXPECT_EQ(text.request->text, "G45g");
    EXPECT_EQ(control::parseHttpRequest("POST", "/api/v1/keys/powr", "").names,
              std::vector<std::string_view>{"POWER_ON/OFF"});
    const std::string deep = std::string(40, '[') + std::string(40, ']');
    EXPECT_EQ(control::parseHttpRequest("POST", "/api/v1/text", R"({"a":)" + deep + "}").status,
              400u);
}

// A line that is no request closes the connection, so an HTTP request or a form's body sent to
// the TCP port can never run a key.
TEST(ApiRequest, TcpLinesBecomeRequestsOrRefusals) {
    const struct {
        const char* line;
        bool accepted;
        Kind kind;
    } cases[] = {
        {"power", true, Kind::Key},
        {"#13", true, Kind::Key},
        {"OUTSIZE 720P/1080P", true, Kind::Key},
        {"text G45g", true, Kind::Text},
        {"on", true, Kind::Port},
        {"off", true, Kind::Port},
        {"state", true, Kind::State},
        {"search", true, Kind::Search},
        {"watch", true, Kind::Watch},
        {"POST / HTTP/1.1", false, {}},
        {"Host: 127.0.0.1", false, {}},
        {"power\x1b", false, {}},
        {"text ", false, {}},
        {"#6", false, {}},
        {"auth secret", false, {}},
    };
    for (const auto& c : cases) {
        const auto parsed = control::parseLine(c.line);
        EXPECT_EQ(parsed.request.has_value(), c.accepted) << c.line;
        if (parsed.request) {
            EXPECT_EQ(parsed.request->kind, c.kind) << c.line;
        }
    }
    EXPECT_TRUE(control::parseLine("#6").wellFormed);
    EXPECT_FALSE(control::parseLine("POST / HTTP/1.1").wellFormed);
    EXPECT_TRUE(control::parseLine("on").request->open);
    EXPECT_FALSE(control::parseLine("off").request->open);
}

TEST(ServerOptions, AddressesTokensAndWhereATokenIsNeeded) {
    const struct {
        const char* text;
        const char* host;  // nullptr: refused
        std::uint16_t port;
        bool loopback;
    } addresses[] = {
        {"8470", "127.0.0.1", 8470, true},
        {"localhost:1", "127.0.0.1", 1, true},
        {"[::1]:0", "::1", 0, true},
        {"0.0.0.0:8470", "0.0.0.0", 8470, false},
        {"127.1.2.3:80", "127.1.2.3", 80, true},
        {"[::ffff:127.0.0.1]:9", "::ffff:127.0.0.1", 9, true},
        {"::1:8470", nullptr, 0, false},
        {"example.com:80", nullptr, 0, false},
        {"8470x", nullptr, 0, false},
        {"65536", nullptr, 0, false},
        {"", nullptr, 0, false},
    };
    for (const auto& a : addresses) {
        std::string error;
        const auto address = control::parseListenAddress(a.text, error);
        ASSERT_EQ(address.has_value(), a.host != nullptr) << a.text;
        if (address) {
            EXPECT_EQ(address->host, a.host);
            EXPECT_EQ(address->port, a.port);
            EXPECT_EQ(control::isLoopback(*address), a.loopback) << a.text;
        } else {
            EXPECT_FALSE(error.empty());
        }
    }

    testing_support::TempDir dir;
    const auto tokenFile = [&](const char* name, const char* text, mode_t mode) {
        const std::string path = (dir.path() / name).string();
        std::ofstream(path) << text;
        ::chmod(path.c_str(), mode);
        return path;
    };
    const auto settingsFor = [](std::vector<std::pair<const char*, std::string>> options,
                                std::vector<std::string>& errors) {
        control::ServerOptions server;
        for (const auto& [name, value] : options) {
            control::takeServerOption(name, value, server, errors);
        }
        return control::serverSettings(server, errors);
    };
    std::vector<std::string> errors;
    const auto good = settingsFor(
        {{"--http", "0.0.0.0:0"}, {"--token-file", tokenFile("good", "s3cret\n", 0600)}}, errors);
    ASSERT_TRUE(good) << errors.front();
    EXPECT_EQ(good->token, "s3cret");

    const struct {
        std::vector<std::pair<const char*, std::string>> options;
        const char* error;
    } refused[] = {
        {{{"--http", "0.0.0.0:8470"}},
         "--http 0.0.0.0:8470: listening beyond this computer needs --token-file"},
        {{{"--tcp", "8471"}, {"--token-file", tokenFile("open", "s3cret\n", 0644)}},
         "readable by others; chmod 600 it"},
        {{{"--tcp", "8471"}, {"--token-file", tokenFile("empty", "\n", 0600)}}, "empty"},
        {{{"--tcp", "8471"}, {"--token-file", (dir.path() / "none").string()}}, "--token-file"},
        {{{"--http", "8470"}, {"--tcp", "8470"}}, "cannot share port 8470"},
        {{{"--http", "8470"}, {"--http", "8471"}}, "--http given twice"},
    };
    for (const auto& r : refused) {
        errors.clear();
        settingsFor(r.options, errors);
        ASSERT_FALSE(errors.empty()) << r.error;
        EXPECT_NE(errors.front().find(r.error), std::string::npos) << errors.front();
    }
}
