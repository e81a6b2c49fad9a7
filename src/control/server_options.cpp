#include "control/server_options.h"

#include <boost/asio/ip/address.hpp>

#include "control/api_request.h"

namespace control {

namespace {}  // namespace

bool isServerOption(std::string_view name) {
    return name == "--http" || name == "--tcp" || name == "--token-file";
}

void takeServerOption(std::string_view name, std::string_view value, ServerOptions& options,
                      std::vector<std::string>& errors) {
    const std::string option(name);
    if (name == "--token-file") {
        if (options.tokenFile) {
            errors.push_back(option + " given twice");
        }
        options.tokenFile = std::string(value);
        return;
    }
    std::optional<ListenAddress>& where = name == "--http" ? options.http : options.tcp;
    if (where) {
        errors.push_back(option + " given twice");
    }
    std::string error;
    where = parseListenAddress(value, error);
    if (!where) {
        errors.push_back(option + " " + std::string(value) + ": " + error);
    }
}

std::optional<ListenAddress> parseListenAddress(std::string_view text, std::string& error) {
    std::string_view host = "127.0.0.1";
    std::string_view port = text;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find("]:");
        if (close == std::string_view::npos) {
            error = "an IPv6 address goes in brackets before the port: [::1]:8470";
            return std::nullopt;
        }
        host = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else if (const std::size_t colon = text.find(':'); colon != std::string_view::npos) {
        host = text.substr(0, colon);
        port = text.substr(colon + 1);
        if (host.find(':') != std::string_view::npos || port.find(':') != std::string_view::npos) {
            error = "an IPv6 address goes in brackets before the port: [::1]:8470";
            return std::nullopt;
        }
    }
    const auto number = wholeNumber(port, 65535);
    if (!number) {
        error = "the port must be a number from 0 to 65535";
        return std::nullopt;
    }
    if (host == "localhost") {
        host = "127.0.0.1";
    }
    boost::system::error_code ec;
    const auto address = boost::asio::ip::make_address(std::string(host), ec);
    if (ec || host.find('%') != std::string_view::npos) {
        error = "the address must be an IP address (or localhost)";
        return std::nullopt;
    }
    return ListenAddress{address.to_string(), static_cast<std::uint16_t>(*number)};
}

std::optional<std::string> tokenFromText(std::string text, std::string& error) {
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
    }
    if (text.empty()) {
        error = "the token is empty";
        return std::nullopt;
    }
    if (text.size() > 256) {
        error = "the token is longer than 256 characters";
        return std::nullopt;
    }
    for (char c : text) {
        if (static_cast<unsigned char>(c) <= 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
            error = "the token must be printable ASCII without spaces, on one line";
            return std::nullopt;
        }
    }
    return text;
}

bool isLoopback(const ListenAddress& address) {
    boost::system::error_code ec;
    const auto ip = boost::asio::ip::make_address(address.host, ec);
    if (ec) {
        return false;
    }
    if (ip.is_v6() && ip.to_v6().is_v4_mapped()) {
        return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, ip.to_v6())
            .is_loopback();
    }
    return ip.is_loopback();
}

std::optional<ServerSettings> serverSettings(const ServerOptions& options,
                                             std::vector<std::string>& errors) {
    const std::size_t before = errors.size();
    ServerSettings settings;
    settings.http = options.http;
    settings.tcp = options.tcp;
    if (options.tokenFile) {
        std::string error;
        settings.token = readTokenFile(*options.tokenFile, error);
        if (!settings.token) {
            errors.push_back("--token-file " + *options.tokenFile + ": " + error);
        }
    }
    const struct {
        const char* option;
        const std::optional<ListenAddress>& where;
    } servers[] = {{"--http", options.http}, {"--tcp", options.tcp}};
    for (const auto& server : servers) {
        if (server.where && !isLoopback(*server.where) && !options.tokenFile) {
            errors.push_back(std::string(server.option) + " " +
                             addressText(*server.where, server.where->port) +
                             ": listening beyond this computer needs --token-file");
        }
    }
    if (options.http && options.tcp && options.http->port != 0 &&
        options.http->port == options.tcp->port) {
        errors.push_back("--http and --tcp cannot share port " +
                         std::to_string(options.http->port));
    }
    if (options.tokenFile && !options.any()) {
        errors.push_back("--token-file is for --http or --tcp");
    }
    if (errors.size() != before) {
        return std::nullopt;
    }
    return settings;
}

}  // namespace control
