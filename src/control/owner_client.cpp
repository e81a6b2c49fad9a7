#include "control/owner_client.h"

#include <QDeadlineTimer>
#include <QLocalServer>

#include "control/owner_address.h"

namespace control {

namespace {

constexpr std::chrono::milliseconds kConnectWithin{1000};

}  // namespace

OwnerClient::Lookup OwnerClient::find(const std::string& portPath) {
    const OwnerAddress address = ownerAddressFor(portPath);
    if (address.name.isEmpty()) {
        return {};
    }
    std::unique_ptr<OwnerClient> client(new OwnerClient);
    QLocalSocket& socket = client->socket_;
    socket.connectToServer(address.name);
    if (!socket.waitForConnected(int(kConnectWithin.count()))) {
        if (socket.error() == QLocalSocket::ConnectionRefusedError) {
            QLocalServer::removeServer(address.name);
        }
        return {};
    }
    // Whoever answers there must be ourselves: it will see and send what goes to the device.
    if (!peerIsSameUser(socket)) {
        socket.abort();
        return {};
    }
    const std::optional<std::string> line = client->readLine(kConnectWithin);
    if (!line) {
        return {};
    }
    if (line->rfind("ERR ", 0) == 0) {
        return {nullptr, "its owner would not serve us: " + line->substr(4)};
    }
    std::optional<Greeting> greeting = parseGreeting(*line);
    if (!greeting) {
        return {};
    }
    client->greeting_ = std::move(*greeting);
    return {std::move(client), {}};
}

std::optional<std::string> OwnerClient::readLine(std::chrono::milliseconds within) {
    const QDeadlineTimer deadline(within);
    while (!socket_.canReadLine()) {
        const qint64 left = deadline.remainingTime();
        if (socket_.bytesAvailable() > qint64(kMaxLineLength) || left <= 0 ||
            (!socket_.waitForReadyRead(int(left)) && !socket_.canReadLine())) {
            return std::nullopt;
        }
    }
    QByteArray line = socket_.readLine(qint64(kMaxLineLength) + 1);
    line.chop(1);
    return line.toStdString();
}

std::optional<session::Answer> OwnerClient::ask(const session::Request& request,
                                                std::chrono::milliseconds slack) {
    const std::string line = requestLine(request);
    socket_.write(line.c_str(), qint64(line.size()));
    socket_.flush();
    const std::optional<std::string> reply = readLine(request.wait + slack);
    if (!reply) {
        return std::nullopt;
    }
    return parseAnswer(*reply);
}

}  // namespace control
