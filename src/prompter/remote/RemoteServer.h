// RemoteServer: the prompter's control API and phone page, on one port of the local network.
//
// Serves, to those RemoteAccess admits, and nothing else:
//   GET /              the phone page (its assets are compiled into the program)
//   GET /remote.css, /remote.js
//   GET /script        the text of the script being prompted
//   GET /api/state     the state, as the socket sends it
//   POST /api/COMMAND  one command (RemoteCommand.h), its fields as a JSON body
//   GET /ws            a WebSocket carrying commands one way and the state the other: the state
//                      at once, then on every change, at most ten times a second
//
// One peer is one address, or for IPv6 one /64 network (what a single host is usually given):
// it may hold only a part of the clients and of the connections, so one phone or one attacker
// cannot take every place and keep the others out.
//
// A client that stops reading (a phone gone to sleep, or one that means harm) holds at most the
// state it has not taken yet: newer states wait for it to take that one and then only the
// newest is sent, since each state is whole. What piles up past that (replies it asked for) is
// bounded too, so no client can make the prompter hold memory without end.
//
// Every connection passes a gate before the HTTP server or the WebSocket server sees it: the
// request head is read (bounded in size and time), checked (token, Host, Origin), and refused
// there with 403 and nothing else when a check fails. An HTTP connection carries one request
// and is closed after its response, so no request can follow one that was checked. Bounds:
// Limits below. Everything runs on the thread that made the server (the GUI thread), so a
// command reaches the prompt between two frames.
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QHostAddress>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <memory>
#include <optional>
#include <string>

#include "prompter/remote/RemoteAccess.h"
#include "prompter/remote/RemoteCommand.h"

class QHttpServer;
class QHttpServerRequest;
class QTcpServer;
class QTcpSocket;
class QWebSocket;
class QWebSocketServer;

namespace prompter::remote {

// What the server drives: the prompt (PromptRemote), or a test's stand-in.
class RemoteTarget {
  public:
    virtual ~RemoteTarget() = default;
    // Carries `command` out; the reason in words when it cannot be (and then nothing changed).
    virtual std::optional<std::string> apply(const Command& command) = 0;
    // writeState of the prompt as it is now.
    [[nodiscard]] virtual std::string state() = 0;
    // The text being prompted; nothing while nothing is.
    [[nodiscard]] virtual std::optional<std::string> scriptText() = 0;
};

class RemoteServer : public QObject {
    Q_OBJECT

  public:
    struct Limits {
        int clients = 16;                   // WebSockets at once; the next is refused (503)
        int clientsPerAddress = 4;          // of them from one peer (so no one takes them all)
        int connections = 32;               // HTTP connections and handshakes at once
        int connectionsPerAddress = 8;      // of them from one peer; the next is dropped
        qint64 headBytes = 8 * 1024;        // a request's line and headers
        qint64 messageBytes = 1024 * 1024;  // a socket message or a request body (a script)
        double commandsPerSecond = 20;      // per client, on average
        double burst = 40;                  // per client, at once
        int refusalsBeforeClose = 200;      // refused this many more times than served: let go
        int headMs = 10'000;                // for the request head and body to arrive
        int pingMs = 30'000;                // a silent socket is asked whether it is there
        int idleMs = 90'000;                // and closed when it has not answered for this;
                                            // a response not taken for this long is dropped
        int stateIntervalMs = 100;          // at most ten states a second
        qint64 backlogBytes = 1024 * 1024;  // replies a client has not taken; past it, let go
    };

    RemoteServer(RemoteTarget& target, QByteArray token, Limits limits, QObject* parent = nullptr);
    RemoteServer(RemoteTarget& target, QByteArray token, QObject* parent = nullptr)
        : RemoteServer(target, std::move(token), Limits{}, parent) {}
    ~RemoteServer() override;

    // Starts listening; the failure in words.
    [[nodiscard]] std::optional<QString> listen(const QHostAddress& address, quint16 port);
    [[nodiscard]] quint16 port() const;
    // The address it listens on, as asked (Any: every address of the machine).
    [[nodiscard]] const QHostAddress& address() const { return address_; }
    [[nodiscard]] const QByteArray& token() const { return access_.token(); }
    // The page's address, token included, for each address a phone can reach it at (the
    // machine's network addresses when listening on all of them, loopback last).
    [[nodiscard]] QStringList pageAddresses() const;
    [[nodiscard]] int clientCount() const { return static_cast<int>(clients_.size()); }
    [[nodiscard]] const Limits& limits() const { return limits_; }

    // Sends the state to every client if it changed, now or as soon as the interval allows.
    void stateMayHaveChanged();

  signals:
    void clientsChanged(int count);

  private:
    struct Client {
        double allowance = 0;
        QElapsedTimer refilled;
        QElapsedTimer heard;
        int refusals = 0;
        // A state was held back because the client had not taken the last one yet; it is
        // sent the newest once it has.
        bool owed = false;
    };
    class Gate;

    void takeConnection(QTcpSocket* socket);
    void examine(QTcpSocket* socket);
    void refuse(QTcpSocket* socket, int status, const QByteArray& reason);
    void handToHttp(QTcpSocket* socket);
    void handToWebSocket(QTcpSocket* socket);
    void acceptWebSocket();
    // A message from a client (none: a binary one, which is not a command), counted against
    // its rate whatever it holds.
    void receive(QWebSocket* socket, const std::optional<QString>& message);
    // A reply to `socket`; a client that has left more than backlogBytes unread is let go.
    void reply(QWebSocket* socket, const std::string& message);
    void sendStateNow();
    void checkIdle();
    [[nodiscard]] bool allow(Client& client);
    // How many WebSockets (and handshakes under way), and how many other connections, come
    // from `peer` (see peerOf).
    [[nodiscard]] int clientsFrom(const QString& peer) const;
    [[nodiscard]] int connectionsFrom(const QString& peer) const;
    [[nodiscard]] bool admitted(const QHttpServerRequest& request) const;
    [[nodiscard]] std::string carryOut(const CommandReading& reading, bool* accepted);
    void addRoutes();

    RemoteTarget& target_;
    RemoteAccess access_;
    Limits limits_;
    QHostAddress address_;
    Gate* gate_;
    QHttpServer* http_;
    QWebSocketServer* sockets_;
    QHash<QWebSocket*, Client> clients_;
    QSet<QTcpSocket*> connections_;      // in the gate, upgrading, or carrying one HTTP request
    QSet<QTcpSocket*> upgrading_;        // handed to the WebSocket server, not yet its clients
    QHash<QString, Client> apiCallers_;  // POST /api rates, by peer
    QTimer idleTimer_;
    QTimer stateTimer_;
    QElapsedTimer stateSent_;
    std::string lastState_;      // the last sent to every client
    bool statesDiffer_ = false;  // a client was given another since
};

}  // namespace prompter::remote
