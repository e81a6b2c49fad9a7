#pragma once

#include <QObject>
#include <QString>
#include <chrono>
#include <cstdint>
#include <map>
#include <string>

#include "session/session.h"

class QLocalServer;
class QLocalSocket;
class QTimer;

namespace control {

// While its session's port is open, serves it to other programs of the same user on a local
// socket, so that they drive the device through the one program that holds the line. Nobody
// can hold it up: connections, line lengths and silences are bounded.
class LocalServer : public QObject, private session::Watcher {
public:
    static constexpr std::size_t kMaxClients = 8;
    static constexpr std::chrono::seconds kIdleTimeout{10};

    // `program` is what clients are told serves them: "kolvane 1.0".
    LocalServer(session::Session& session, std::string program, QObject* parent = nullptr);
    ~LocalServer() override;

    // Where it listens now; empty when it does not.
    QString address() const;

private:
    struct Client {
        QLocalSocket* socket;
        QTimer* idle;
        QByteArray buffer;
        std::uint64_t request = 0;  // the one out for it, 0 when none
    };

    void portSwitched(bool on) override;
    void listen();
    void stop();
    void accept();
    void admit(QLocalSocket* socket);
    void readFrom(QLocalSocket* socket);
    void refuse(Client& client, const std::string& reason);
    void drop(QLocalSocket* socket);

    session::Session& session_;
    std::string program_;
    QLocalServer* server_ = nullptr;
    std::map<QLocalSocket*, Client> clients_;
};

}  // namespace control
