#include "prompter/remote/RemoteServer.h"

#include <QFile>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponse>
#include <QNetworkInterface>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>
#include <QWebSocketServer>
#include <algorithm>

namespace prompter::remote {
namespace {

constexpr int kHandshakeMs = 10'000;

// A request's line and headers, as the gate reads them.
struct Head {
    QByteArray method;
    QByteArray path;
    QByteArray query;
    QHash<QByteArray, QByteArray> fields;  // names in lower case
    bool repeated = false;                 // a field that must be given once came twice
};

std::optional<Head> readHead(const QByteArray& text) {
    const QList<QByteArray> lines = text.split('\n');
    if (lines.isEmpty())
        return std::nullopt;
    const QList<QByteArray> request = lines.front().trimmed().split(' ');
    if (request.size() != 3 || !request[2].startsWith("HTTP/1.") || !request[1].startsWith('/'))
        return std::nullopt;
    Head head;
    head.method = request[0];
    const qsizetype question = request[1].indexOf('?');
    head.path = question < 0 ? request[1] : request[1].left(question);
    head.query = question < 0 ? QByteArray() : request[1].mid(question + 1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        if (line.isEmpty())
            continue;
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0)
            return std::nullopt;
        const QByteArray name = line.left(colon).trimmed().toLower();
        if (head.fields.contains(name))
            head.repeated = true;
        head.fields.insert(name, line.mid(colon + 1).trimmed());
    }
    return head;
}

QByteArray statusText(int status) {
    switch (status) {
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 408:
            return "Request Timeout";
        case 411:
            return "Length Required";
        case 413:
            return "Content Too Large";
        case 431:
            return "Request Header Fields Too Large";
        case 503:
            return "Service Unavailable";
        default:
            return "Error";
    }
}

// Who a connection comes from, for the per-peer bounds: its IPv4 address (also when it arrives
// mapped into IPv6), or its IPv6 /64 network.
QString peerOf(const QHostAddress& address) {
    bool isIpv4 = false;
    const quint32 ipv4 = address.toIPv4Address(&isIpv4);
    if (isIpv4)
        return QHostAddress(ipv4).toString();
    Q_IPV6ADDR ipv6 = address.toIPv6Address();
    for (int i = 8; i < 16; ++i)
        ipv6[i] = 0;
    return QHostAddress(ipv6).toString() + QStringLiteral("/64");
}

QByteArray resource(const QString& name) {
    QFile file(QStringLiteral(":/remote/") + name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray headerOf(const QHttpServerRequest& request, const QByteArray& name) {
    for (const auto& [key, value] : request.headers())
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    return {};
}

QHttpServerResponse json(const std::string& text, QHttpServerResponse::StatusCode status =
                                                      QHttpServerResponse::StatusCode::Ok) {
    return QHttpServerResponse(QByteArrayLiteral("application/json"),
                               QByteArray::fromStdString(text), status);
}

}  // namespace

// The listening socket. Each connection is examined by the server before the HTTP server is
// handed it (as a pending connection) or the WebSocket server is.
class RemoteServer::Gate : public QTcpServer {
  public:
    explicit Gate(RemoteServer& server) : QTcpServer(&server), server_(server) {}
    using QTcpServer::addPendingConnection;

  protected:
    void incomingConnection(qintptr descriptor) override {
        auto* socket = new QTcpSocket(&server_);
        if (!socket->setSocketDescriptor(descriptor)) {
            delete socket;
            return;
        }
        server_.takeConnection(socket);
    }

  private:
    RemoteServer& server_;
};

RemoteServer::RemoteServer(RemoteTarget& target, QByteArray token, Limits limits, QObject* parent)
    : QObject(parent),
      target_(target),
      access_(std::move(token), 0),
      limits_(limits),
      gate_(new Gate(*this)),
      http_(new QHttpServer(this)),
      sockets_(new QWebSocketServer(QStringLiteral("quorvane-prompter"),
                                    QWebSocketServer::NonSecureMode, this)) {
    sockets_->setHandshakeTimeout(kHandshakeMs);
    connect(sockets_, &QWebSocketServer::newConnection, this, &RemoteServer::acceptWebSocket);
    addRoutes();
    idleTimer_.setInterval(limits_.pingMs);
    connect(&idleTimer_, &QTimer::timeout, this, &RemoteServer::checkIdle);
    stateTimer_.setSingleShot(true);
    connect(&stateTimer_, &QTimer::timeout, this, &RemoteServer::sendStateNow);
}

RemoteServer::~RemoteServer() {
    gate_->close();
    const auto clients = clients_.keys();
    clients_.clear();
    for (QWebSocket* socket : clients) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
}

std::optional<QString> RemoteServer::listen(const QHostAddress& address, quint16 port) {
    if (!gate_->listen(address, port))
        return QStringLiteral("cannot listen on %1 port %2: %3")
            .arg(address.toString())
            .arg(port)
            .arg(gate_->errorString());
    address_ = address;
    access_.setPort(gate_->serverPort());
    http_->bind(gate_);
    idleTimer_.start();
    return std::nullopt;
}

quint16 RemoteServer::port() const {
    return gate_->serverPort();
}

QStringList RemoteServer::pageAddresses() const {
    const QString tail =
        QStringLiteral(":%1/?token=%2").arg(port()).arg(QString::fromLatin1(access_.token()));
    const auto urlOf = [&tail](const QHostAddress& address) {
        return address.protocol() == QAbstractSocket::IPv6Protocol
                   ? QStringLiteral("http://[%1]").arg(address.toString()) + tail
                   : QStringLiteral("http://%1").arg(address.toString()) + tail;
    };
    QStringList addresses;
    const bool everywhere = address_ == QHostAddress::Any || address_ == QHostAddress::AnyIPv4 ||
                            address_ == QHostAddress::AnyIPv6;
    if (!everywhere)
        return {urlOf(address_)};
    for (const QNetworkInterface& interface : QNetworkInterface::allInterfaces()) {
        const auto flags = interface.flags();
        if (!flags.testFlag(QNetworkInterface::IsUp) ||
            !flags.testFlag(QNetworkInterface::IsRunning) ||
            flags.testFlag(QNetworkInterface::IsLoopBack))
            continue;
        for (const QNetworkAddressEntry& entry : interface.addressEntries())
            if (entry.ip().protocol() == QAbstractSocket::IPv4Protocol &&
                address_ != QHostAddress::AnyIPv6)
                addresses << urlOf(entry.ip());
    }
    addresses << urlOf(address_ == QHostAddress::AnyIPv6 ? QHostAddress(QHostAddress::LocalHostIPv6)
                                                         : QHostAddress(QHostAddress::LocalHost));
    return addresses;
}

// ---- the gate ----

int RemoteServer::clientsFrom(const QString& peer) const {
    int count = 0;
    for (auto it = clients_.begin(); it != clients_.end(); ++it)
        count += peerOf(it.key()->peerAddress()) == peer ? 1 : 0;
    for (QTcpSocket* socket : upgrading_)
        count += peerOf(socket->peerAddress()) == peer ? 1 : 0;
    return count;
}

int RemoteServer::connectionsFrom(const QString& peer) const {
    int count = 0;
    for (QTcpSocket* socket : connections_)
        count += peerOf(socket->peerAddress()) == peer ? 1 : 0;
    return count;
}

void RemoteServer::takeConnection(QTcpSocket* socket) {
    if (connections_.size() >= limits_.connections ||
        connectionsFrom(peerOf(socket->peerAddress())) >= limits_.connectionsPerAddress) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    connections_.insert(socket);
    connect(socket, &QObject::destroyed, this, [this, socket] { connections_.remove(socket); });
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QTcpSocket::readyRead, this, [this, socket] { examine(socket); });
    QTimer::singleShot(limits_.headMs, socket, [this, socket] {
        if (socket->property("quorvaneGated").toBool())
            return;
        refuse(socket, 408, "The request took too long to arrive.\n");
    });
}

void RemoteServer::refuse(QTcpSocket* socket, int status, const QByteArray& reason) {
    socket->setProperty("quorvaneGated", true);
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    const QByteArray body = status == 403 ? QByteArrayLiteral("Forbidden\n") : reason;
    socket->write("HTTP/1.1 " + QByteArray::number(status) + ' ' + statusText(status) +
                  "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                  QByteArray::number(body.size()) +
                  "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n" + body);
    socket->disconnectFromHost();
}

void RemoteServer::examine(QTcpSocket* socket) {
    if (socket->property("quorvaneGated").toBool())
        return;
    const qint64 most = limits_.headBytes + limits_.messageBytes + 1;
    const QByteArray data = socket->peek(std::min(socket->bytesAvailable(), most));
    const qsizetype headEnd = data.indexOf("\r\n\r\n");
    if (headEnd < 0) {
        if (data.size() > limits_.headBytes)
            refuse(socket, 431, "The request's headers are too long.\n");
        return;
    }
    if (headEnd > limits_.headBytes) {
        refuse(socket, 431, "The request's headers are too long.\n");
        return;
    }
    const std::optional<Head> head = readHead(data.left(headEnd));
    if (!head || head->repeated) {
        refuse(socket, 400, "This is not a request this server understands.\n");
        return;
    }
    const auto field = [&head](const char* name) { return head->fields.value(name); };
    if (!access_.admits(head->query, field("authorization"), field("host"), field("origin"))) {
        refuse(socket, 403, {});
        return;
    }
    if (field("upgrade").toLower() == "websocket") {
        if (head->method != "GET" || head->path != "/ws")
            refuse(socket, 404, "The WebSocket is at /ws.\n");
        else if (clients_.size() + upgrading_.size() >= limits_.clients)
            refuse(socket, 503,
                   "Too many remotes are connected (" + QByteArray::number(limits_.clients) +
                       "); close one and try again.\n");
        else if (clientsFrom(peerOf(socket->peerAddress())) >= limits_.clientsPerAddress)
            refuse(socket, 503,
                   "Too many remotes are connected from this address (" +
                       QByteArray::number(limits_.clientsPerAddress) +
                       "); close one and try again.\n");
        else if (data.size() > headEnd + 4)
            refuse(socket, 400, "Nothing may follow the handshake before its answer.\n");
        else
            handToWebSocket(socket);
        return;
    }
    if (head->method != "GET" && head->method != "POST") {
        refuse(socket, 405, "Only GET and POST are served.\n");
        return;
    }
    if (head->fields.contains("transfer-encoding")) {
        refuse(socket, 411, "Give the body's Content-Length.\n");
        return;
    }
    bool numeric = true;
    const qint64 length =
        head->fields.contains("content-length") ? field("content-length").toLongLong(&numeric) : 0;
    if (!numeric || length < 0) {
        refuse(socket, 400, "The Content-Length is not a number.\n");
        return;
    }
    if (length > limits_.messageBytes) {
        refuse(socket, 413,
               "A body may hold at most " + QByteArray::number(limits_.messageBytes) + " bytes.\n");
        return;
    }
    const qint64 whole = headEnd + 4 + length;
    if (data.size() < whole)
        return;  // the body is on its way
    if (data.size() > whole) {
        refuse(socket, 400, "One request per connection.\n");
        return;
    }
    handToHttp(socket);
}

void RemoteServer::handToHttp(QTcpSocket* socket) {
    socket->setProperty("quorvaneGated", true);
    disconnect(socket, &QTcpSocket::readyRead, this, nullptr);
    // One request, one response: the connection closes once the response is out.
    // A response the peer stops taking (a follower gone quiet halfway through a long script)
    // would hold its place and its bytes for as long as the peer stays: a connection whose
    // response makes no progress for idleMs is let go.
    auto* stalled = new QTimer(socket);
    stalled->setSingleShot(true);
    connect(stalled, &QTimer::timeout, socket, &QTcpSocket::abort);
    stalled->start(limits_.idleMs);
    connect(socket, &QTcpSocket::bytesWritten, socket, [socket, stalled] {
        stalled->start();
        if (socket->bytesToWrite() == 0)
            socket->disconnectFromHost();
    });
    gate_->addPendingConnection(socket);
    emit socket->readyRead();  // what the gate read waits in the socket still
}

void RemoteServer::handToWebSocket(QTcpSocket* socket) {
    socket->setProperty("quorvaneGated", true);
    disconnect(socket, nullptr, this, nullptr);
    disconnect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    connections_.remove(socket);
    // Until the WebSocket server hands it over as a client, or drops it, it counts as one.
    upgrading_.insert(socket);
    connect(socket, &QObject::destroyed, this, [this, socket] { upgrading_.remove(socket); });
    connect(socket, &QTcpSocket::disconnected, this, [this, socket] { upgrading_.remove(socket); });
    sockets_->handleConnection(socket);
    emit socket->readyRead();
}

// ---- WebSocket clients ----

void RemoteServer::acceptWebSocket() {
    while (sockets_->hasPendingConnections()) {
        QWebSocket* socket = sockets_->nextPendingConnection();
        // Its TCP socket is the WebSocket's now: it no longer counts as upgrading.
        for (auto it = upgrading_.begin(); it != upgrading_.end(); ++it) {
            if ((*it)->peerPort() == socket->peerPort() &&
                (*it)->peerAddress() == socket->peerAddress()) {
                disconnect(*it, nullptr, this, nullptr);
                upgrading_.erase(it);
                break;
            }
        }
        socket->setParent(this);
        socket->setMaxAllowedIncomingFrameSize(static_cast<quint64>(limits_.messageBytes));
        socket->setMaxAllowedIncomingMessageSize(static_cast<quint64>(limits_.messageBytes));
        Client client;
        client.allowance = limits_.burst;
        client.refilled.start();
        client.heard.start();
        clients_.insert(socket, client);
        connect(socket, &QWebSocket::textMessageReceived, this,
                [this, socket](const QString& message) { receive(socket, message); });
        connect(socket, &QWebSocket::binaryMessageReceived, this,
                [this, socket] { receive(socket, std::nullopt); });
        connect(socket, &QWebSocket::bytesWritten, this, [this, socket] {
            auto it = clients_.find(socket);
            if (it == clients_.end() || !it->owed || socket->bytesToWrite() > 0)
                return;
            it->owed = false;
            socket->sendTextMessage(QString::fromStdString(lastState_));
        });
        connect(socket, &QWebSocket::pong, this, [this, socket] {
            if (auto it = clients_.find(socket); it != clients_.end())
                it->heard.restart();
        });
        connect(socket, &QWebSocket::disconnected, this, [this, socket] {
            if (clients_.remove(socket) > 0)
                emit clientsChanged(clientCount());
            socket->deleteLater();
        });
        const std::string state = target_.state();
        socket->sendTextMessage(QString::fromStdString(state));
        // The others were last sent lastState_ (if any were): should the prompt come back to
        // it, this one must still hear of that.
        if (state != lastState_)
            statesDiffer_ = true;
        emit clientsChanged(clientCount());
    }
}

bool RemoteServer::allow(Client& client) {
    const double seconds = static_cast<double>(client.refilled.restart()) / 1000.0;
    client.allowance =
        std::min(limits_.burst, client.allowance + seconds * limits_.commandsPerSecond);
    if (client.allowance < 1) {
        ++client.refusals;
        return false;
    }
    client.allowance -= 1;
    // Refusals are counted against what was served, not reset by it: a server slowed down (a
    // busy machine) serves a flooding client a command now and then, and that must not keep it
    // from being let go.
    client.refusals = std::max(0, client.refusals - 1);
    return true;
}

std::string RemoteServer::carryOut(const CommandReading& reading, bool* accepted) {
    if (const auto* error = std::get_if<CommandError>(&reading)) {
        *accepted = false;
        return errorReply(error->message, error->id);
    }
    const Command& command = std::get<Command>(reading);
    if (auto failure = target_.apply(command)) {
        *accepted = false;
        return errorReply(std::string(commandName(command.kind)) + ": " + *failure, command.id);
    }
    *accepted = true;
    stateMayHaveChanged();
    return okReply(command);
}

void RemoteServer::receive(QWebSocket* socket, const std::optional<QString>& message) {
    const auto it = clients_.find(socket);
    if (it == clients_.end())
        return;
    it->heard.restart();
    if (!allow(*it)) {
        if (it->refusals > limits_.refusalsBeforeClose) {
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated,
                          QStringLiteral("too many commands"));
            return;
        }
        reply(socket, errorReply("too many commands: at most " +
                                 std::to_string(static_cast<int>(limits_.commandsPerSecond)) +
                                 " a second; this one was not carried out"));
        return;
    }
    bool accepted = false;
    const std::string answer = message ? carryOut(readMessage(message->toStdString()), &accepted)
                                       : errorReply("commands are text messages holding JSON");
    if (clients_.contains(socket))
        reply(socket, answer);
}

void RemoteServer::reply(QWebSocket* socket, const std::string& message) {
    if (socket->bytesToWrite() > limits_.backlogBytes) {
        socket->abort();
        return;
    }
    socket->sendTextMessage(QString::fromStdString(message));
}

void RemoteServer::checkIdle() {
    for (auto it = clients_.begin(); it != clients_.end(); ++it) {
        if (it->heard.elapsed() > limits_.idleMs)
            it.key()->close(QWebSocketProtocol::CloseCodeGoingAway,
                            QStringLiteral("no answer for too long"));
        else
            it.key()->ping();
    }
    // Addresses that have not called the API for a while are forgotten.
    for (auto it = apiCallers_.begin(); it != apiCallers_.end();)
        it = it->refilled.elapsed() > limits_.idleMs ? apiCallers_.erase(it) : std::next(it);
}

void RemoteServer::stateMayHaveChanged() {
    if (clients_.isEmpty() || stateTimer_.isActive())
        return;
    const qint64 since = stateSent_.isValid() ? stateSent_.elapsed() : limits_.stateIntervalMs;
    if (since >= limits_.stateIntervalMs)
        sendStateNow();
    else
        stateTimer_.start(static_cast<int>(limits_.stateIntervalMs - since));
}

void RemoteServer::sendStateNow() {
    std::string state = target_.state();
    if (state == lastState_ && !statesDiffer_)
        return;
    statesDiffer_ = false;
    lastState_ = std::move(state);
    stateSent_.restart();
    const QString message = QString::fromStdString(lastState_);
    for (auto it = clients_.begin(); it != clients_.end(); ++it) {
        // Still holding what was sent before (the network does not take it): this state would
        // only pile up behind it, so it waits and the newest goes once that is taken.
        if (it.key()->bytesToWrite() > 0)
            it->owed = true;
        else
            it.key()->sendTextMessage(message);
    }
}

// ---- HTTP ----

bool RemoteServer::admitted(const QHttpServerRequest& request) const {
    // The gate checked this request already; checked again so that no route is ever reached
    // without it, whatever the connection carried.
    return access_.admits(request.url().query(QUrl::FullyEncoded).toLatin1(),
                          headerOf(request, "authorization"), headerOf(request, "host"),
                          headerOf(request, "origin"));
}

void RemoteServer::addRoutes() {
    using Method = QHttpServerRequest::Method;
    using Status = QHttpServerResponse::StatusCode;
    const auto forbidden = [] {
        return QHttpServerResponse(QByteArrayLiteral("text/plain"),
                                   QByteArrayLiteral("Forbidden\n"), Status::Forbidden);
    };
    const auto asset = [this, forbidden](const QString& name, const QByteArray& type) {
        return [this, forbidden, name, type](const QHttpServerRequest& request) {
            if (!admitted(request))
                return forbidden();
            QByteArray bytes = resource(name);
            if (name == QLatin1String("index.html"))
                bytes.replace("{{TOKEN}}", access_.token());  // the token is URL-safe
            return QHttpServerResponse(type, bytes);
        };
    };
    http_->route("/", Method::Get, asset(QStringLiteral("index.html"), "text/html; charset=utf-8"));
    http_->route("/remote.css", Method::Get,
                 asset(QStringLiteral("remote.css"), "text/css; charset=utf-8"));
    http_->route("/remote.js", Method::Get,
                 asset(QStringLiteral("remote.js"), "text/javascript; charset=utf-8"));
    http_->route("/script", Method::Get, [this, forbidden](const QHttpServerRequest& request) {
        if (!admitted(request))
            return forbidden();
        const auto text = target_.scriptText();
        if (!text)
            return QHttpServerResponse(QByteArrayLiteral("text/plain; charset=utf-8"),
                                       QByteArrayLiteral("Nothing is being prompted.\n"),
                                       Status::NotFound);
        return QHttpServerResponse(QByteArrayLiteral("text/plain; charset=utf-8"),
                                   QByteArray::fromStdString(*text));
    });
    http_->route("/api/state", Method::Get, [this, forbidden](const QHttpServerRequest& request) {
        if (!admitted(request))
            return forbidden();
        return json(target_.state());
    });
    http_->route(
        "/api/<arg>", Method::Post,
        [this, forbidden](const QString& name, const QHttpServerRequest& request) {
            if (!admitted(request))
                return forbidden();
            Client& caller = apiCallers_[peerOf(request.remoteAddress())];
            if (!caller.refilled.isValid()) {
                caller.allowance = limits_.burst;
                caller.refilled.start();
            }
            if (!allow(caller))
                return json(errorReply("too many commands: at most " +
                                       std::to_string(static_cast<int>(limits_.commandsPerSecond)) +
                                       " a second; this one was not carried out"),
                            Status::TooManyRequests);
            bool accepted = false;
            const QByteArray body = request.body();
            const std::string reply = carryOut(
                readApiCall(
                    name.toStdString(),
                    std::string_view(body.constData(), static_cast<std::size_t>(body.size()))),
                &accepted);
            return json(reply, accepted ? Status::Ok : Status::BadRequest);
        });
    http_->afterRequest([](QHttpServerResponse&& response) {
        response.setHeader("Cache-Control", "no-store");
        response.setHeader("X-Content-Type-Options", "nosniff");
        response.setHeader("X-Frame-Options", "DENY");
        response.setHeader("Referrer-Policy", "no-referrer");
        response.setHeader("Content-Security-Policy",
                           "default-src 'self'; connect-src 'self'; img-src 'self' data:; "
                           "frame-ancestors 'none'; base-uri 'none'; form-action 'none'");
        response.setHeader("Connection", "close");
        return std::move(response);
    });
}

}  // namespace prompter::remote
