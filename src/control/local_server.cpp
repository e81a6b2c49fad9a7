#include "control/local_server.h"

#include <QCoreApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <cstdio>

#include "control/owner_address.h"
#include "control/owner_protocol.h"

namespace control {

namespace {

// Whether a live owner answers at `name`: a socket left by one that was killed does not.
bool ownerAnswersAt(const QString& name) {
    QLocalSocket probe;
    probe.connectToServer(name);
    return probe.waitForConnected(500);
}

}  // namespace

LocalServer::LocalServer(session::Session& session, std::string program, QObject* parent)
    : QObject(parent), session_(session), program_(std::move(program)) {
    session_.addWatcher(this);
    if (session_.link().ComOpened()) {
        listen();
    }
}

LocalServer::~LocalServer() {
    session_.removeWatcher(this);
    for (auto& [socket, client] : clients_) {
        if (client.request != 0) {
            session_.cancel(client.request);
        }
    }
}

QString LocalServer::address() const {
    return server_ != nullptr ? server_->fullServerName() : QString();
}

void LocalServer::portSwitched(bool on) {
    if (on) {
        listen();
    } else {
        stop();
    }
}

void LocalServer::listen() {
    stop();
    const OwnerAddress address = ownerAddressFor(session_.link().ComPortPath());
    if (address.name.isEmpty()) {
        std::fprintf(stderr, "kolvane: the port is not served to other programs: %s\n",
                     address.refusal.c_str());
        return;
    }
    // Two owners of one port cannot be; on Windows a second server would even share the
    // name with the first.
    if (ownerAnswersAt(address.name)) {
        return;
    }
    auto* server = new QLocalServer(this);
    server->setSocketOptions(QLocalServer::UserAccessOption);
    server->setMaxPendingConnections(int(kMaxClients));
    bool listening = server->listen(address.name);
    if (!listening && server->serverError() == QAbstractSocket::AddressInUseError) {
        // Left by an owner that was killed: nobody answered there.
        QLocalServer::removeServer(address.name);
        listening = server->listen(address.name);
    }
    if (!listening) {
        std::fprintf(stderr, "kolvane: the port is not served to other programs: %s\n",
                     server->errorString().toLocal8Bit().constData());
        delete server;
        return;
    }
    server_ = server;
    connect(server_, &QLocalServer::newConnection, this, &LocalServer::accept);
}

void LocalServer::stop() {
    if (server_ != nullptr) {
        server_->close();
        server_->deleteLater();
        server_ = nullptr;
    }
}

void LocalServer::accept() {
    while (server_ != nullptr && server_->hasPendingConnections()) {
        admit(server_->nextPendingConnection());
    }
}

void LocalServer::admit(QLocalSocket* socket) {
    if (!peerIsSameUser(*socket)) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    if (clients_.size() >= kMaxClients) {
        socket->write("ERR too many clients\n");
        socket->disconnectFromServer();
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        return;
    }
    auto* idle = new QTimer(socket);
    idle->setSingleShot(true);
    idle->setInterval(kIdleTimeout);
    clients_[socket] = Client{socket, idle, {}, 0};
    connect(idle, &QTimer::timeout, this, [this, socket] {
        if (auto it = clients_.find(socket); it != clients_.end()) {
            refuse(it->second, "idle for too long");
        }
    });
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
    connect(socket, &QLocalSocket::disconnected, this, [this, socket] { drop(socket); });
    const Greeting greeting{QCoreApplication::applicationPid(), program_, session_.portText()};
    socket->write(greetingLine(greeting).c_str());
    idle->start();
}

void LocalServer::readFrom(QLocalSocket* socket) {
    const auto it = clients_.find(socket);
    if (it == clients_.end()) {
        return;
    }
    Client& client = it->second;
    // One request at a time: the next line waits in the socket until this one's answer.
    if (client.request != 0) {
        return;
    }
    client.buffer += socket->read(qint64(kMaxLineLength) + 1 - client.buffer.size());
    const qsizetype end = client.buffer.indexOf('\n');
    if (end < 0) {
        if (client.buffer.size() > qsizetype(kMaxLineLength)) {
            refuse(client, "line too long");
        }
        return;
    }
    std::string line = client.buffer.left(end).toStdString();
    client.buffer.remove(0, end + 1);
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    ParsedRequest parsed = parseRequest(line);
    if (!parsed.request) {
        refuse(client, parsed.refusal);
        return;
    }
    // The wait runs from when this owner sends the frame; its own polls may take two periods
    // more to finish the answer.
    parsed.request->wait += 2 * session_.pollPeriod();
    client.idle->stop();
    client.request = session_.request(*parsed.request, [this, socket](const session::Answer& a) {
        const auto found = clients_.find(socket);
        if (found == clients_.end()) {
            return;
        }
        found->second.request = 0;
        socket->write(answerLine(a).c_str());
        found->second.idle->start();
        QTimer::singleShot(0, socket, [this, socket] { readFrom(socket); });
    });
}

void LocalServer::refuse(Client& client, const std::string& reason) {
    client.socket->write(("ERR " + reason + "\n").c_str());
    client.socket->disconnectFromServer();
}

void LocalServer::drop(QLocalSocket* socket) {
    const auto it = clients_.find(socket);
    if (it == clients_.end()) {
        return;
    }
    if (it->second.request != 0) {
        session_.cancel(it->second.request);
    }
    clients_.erase(it);
    socket->deleteLater();
}

}  // namespace control
