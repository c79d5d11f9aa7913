// The remote on loopback, as a controller, a phone and an attacker reach it: every command over
// the WebSocket and over POST, refused messages that change nothing, the token, Host and Origin
// checks, the bounds (sizes, a flood, the seventeenth client, a slow request), the state sent
// to every client, a script added from a phone. The prompt runs on a clock of the test's own.
//
// And the operator's window, which drives the prompt through the same seam, on Qt's offscreen
// platform given two screens side by side: where it goes, that its controls move the prompt and
// its shading follows, and that an edit saved there reaches the prompt (and the remote) without
// moving what the presenter sees.
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QWebSocket>
#include <nlohmann/json.hpp>

#include <QScreen>
#include <QTextBlock>

#include "PrompterDoubles.h"
#include "prompter/PromptView.h"
#include "prompter/PrompterWindow.h"
#include "prompter/ScriptIntake.h"
#include "prompter/ScriptLibrary.h"
#include "prompter/operator/OperatorMode.h"
#include "prompter/operator/OperatorWindow.h"
#include "prompter/remote/PromptRemote.h"
#include "prompter/remote/RemoteFollower.h"
#include "prompter/remote/RemoteServer.h"
#include "prompter/remote/RemoteSession.h"
#include "prompter/remote/RemoteSettings.h"
#include "prompter/remote/RemoteSwitch.h"

using nlohmann::json;

// A JSON value equal to what was expected, or the failure shows it.
#define JSON_COMPARE(actual, expected)                                         \
    do {                                                                       \
        const json actualValue_ = (actual);                                    \
        QVERIFY2(actualValue_ == json(expected), actualValue_.dump().c_str()); \
    } while (false)
using prompter::remote::RemoteServer;

namespace {

constexpr char kToken[] = "test-token-0123456789abcdef";
constexpr int kWaitMs = 10'000;

using prompter::testing::FakeClock;
using prompter::testing::HandIntake;

struct HttpReply {
    int status = 0;
    QByteArray head;
    QByteArray body;
};

// One raw request, so the test writes Host, Origin and the rest as an attacker would. The
// server closes every connection after one response.
HttpReply rawRequest(quint16 port, const QByteArray& request, const QString& from = {}) {
    QTcpSocket socket;
    if (!from.isEmpty() && !socket.bind(QHostAddress(from)))
        return {};
    socket.connectToHost(QHostAddress::LocalHost, port);
    QByteArray received;
    QObject::connect(&socket, &QTcpSocket::readyRead, [&] { received += socket.readAll(); });
    QObject::connect(&socket, &QTcpSocket::connected, [&] { socket.write(request); });
    if (!QTest::qWaitFor([&] { return socket.state() == QAbstractSocket::UnconnectedState; },
                         kWaitMs))
        socket.abort();
    received += socket.readAll();
    HttpReply reply;
    const qsizetype end = received.indexOf("\r\n\r\n");
    reply.head = received.left(end);
    reply.body = end < 0 ? QByteArray() : received.mid(end + 4);
    const QList<QByteArray> line = received.left(received.indexOf("\r\n")).split(' ');
    if (line.size() >= 2)
        reply.status = line[1].toInt();
    return reply;
}

QByteArray get(quint16 port, const QByteArray& target, const QByteArray& extra = {}) {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n" +
           extra + "\r\n";
}

QByteArray post(quint16 port, const QByteArray& name, const QByteArray& body,
                const QByteArray& extra = "Authorization: Bearer " + QByteArray(kToken) + "\r\n") {
    return "POST /api/" + name + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
           "\r\nContent-Type: application/json\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n" + extra + "\r\n" + body;
}

QByteArray handshake(quint16 port, const QByteArray& target, const QByteArray& extra = {}) {
    return "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
           "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
           "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n" +
           extra + "\r\n";
}

// A WebSocket opened by hand from the local address `from`, so one test can be many peers.
struct RawSocket {
    QTcpSocket socket;
    QByteArray received;
    int status = 0;

    // `receiveBuffer`: the kernel's buffer for it, kept small (0: as the system chooses).
    bool open(quint16 port, const QString& from, int receiveBuffer = 0) {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
            if (socket.readBufferSize() == 0)
                received += socket.readAll();
        });
        if (!socket.bind(QHostAddress(from)))
            return false;
        if (receiveBuffer > 0)
            socket.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, receiveBuffer);
        socket.connectToHost(QHostAddress::LocalHost, port);
        if (!socket.waitForConnected(kWaitMs))
            return false;
        socket.write(handshake(port, "/ws?token=" + QByteArray(kToken)));
        (void)QTest::qWaitFor(
            [this] {
                return received.contains("\r\n\r\n") ||
                       socket.state() == QAbstractSocket::UnconnectedState;
            },
            kWaitMs);
        const QList<QByteArray> line = received.left(received.indexOf("\r\n")).split(' ');
        status = line.size() >= 2 ? line[1].toInt() : 0;
        return status == 101;
    }
    // Reads nothing more until `resume`, as a peer that stopped reading: what is sent waits
    // in the kernel's buffers and then in the sender's.
    void stopReading() { socket.setReadBufferSize(1); }
    void resume() {
        socket.setReadBufferSize(0);
        received += socket.readAll();
    }
    // A text message, masked as a client must (with a key of zeros).
    void send(const QByteArray& text) {
        socket.write(QByteArray("\x81") + char(0x80 | text.size()) + QByteArray(4, '\0') + text);
    }
};

// A target whose states and script are as large as a test needs; each state carries its
// number, so a client tells the newest from those before.
class BulkyTarget : public prompter::remote::RemoteTarget {
  public:
    std::optional<std::string> apply(const prompter::remote::Command&) override {
        return std::nullopt;
    }
    std::string state() override {
        return "{\"state\":{\"n\":" + std::to_string(changes) + ",\"pad\":\"" +
               std::string(64 * 1024, 'p') + "\"}}";
    }
    std::optional<std::string> scriptText() override { return std::string(16 << 20, 's'); }
    int changes = 0;
};

// A remote on the WebSocket: states and replies kept apart.
class Client {
  public:
    explicit Client(const QString& origin = {}) : socket_(origin) {
        QObject::connect(&socket_, &QWebSocket::textMessageReceived, [this](const QString& text) {
            json message = json::parse(text.toStdString());
            (message.contains("state") ? states : replies).push_back(std::move(message));
        });
        QObject::connect(&socket_, &QWebSocket::disconnected, [this] {
            closed = true;
            closeCode = socket_.closeCode();
        });
    }
    bool open(quint16 port, const QByteArray& token = kToken) {
        socket_.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/ws?token=%2")
                              .arg(port)
                              .arg(QString::fromLatin1(token))));
        return QTest::qWaitFor([this] { return !states.empty() || closed; }, kWaitMs) && !closed;
    }
    json ask(const std::string& message) {
        const std::size_t before = replies.size();
        socket_.sendTextMessage(QString::fromStdString(message));
        if (!QTest::qWaitFor([&] { return replies.size() > before || closed; }, kWaitMs) ||
            replies.size() == before)
            return json{{"no reply", true}};
        return replies.back();
    }
    QWebSocket& socket() { return socket_; }

    std::vector<json> states;
    std::vector<json> replies;
    bool closed = false;
    QWebSocketProtocol::CloseCode closeCode = QWebSocketProtocol::CloseCodeNormal;

  private:
    QWebSocket socket_;
};

}  // namespace

class RemoteTest : public QObject {
    Q_OBJECT

  private:
    QTemporaryDir home_;
    QString scriptPath_;
    std::shared_ptr<FakeClock> clock_;
    std::unique_ptr<prompter::ScriptLibrary> library_;
    std::unique_ptr<HandIntake> intake_;
    std::unique_ptr<prompter::PrompterWindow> window_;
    std::unique_ptr<prompter::remote::PromptRemote> remote_;
    std::unique_ptr<RemoteServer> server_;
    std::unique_ptr<prompter::operate::OperatorMode> mode_;

    prompter::PromptView& view() { return *window_->promptView(); }
    quint16 port() { return server_->port(); }
    std::string state() { return remote_->state(); }

    // Two sections: paragraphs 1 to 5 and 6 to 10.
    static QByteArray scriptText() {
        QByteArray text;
        for (int i = 1; i <= 10; ++i)
            text += QByteArray(i == 1 || i == 6 ? "# " : "") + "Paragraph " +
                    QByteArray::number(i) +
                    " has a few words to read aloud, and then some more words.\n";
        return text;
    }

    // A prompter whose presenter's screen is `screen` (-1: none chosen), shown on the first
    // screen, then prompting a script of its library (still), with its operator mode.
    void operate(int screen) {
        cleanup();
        clock_ = std::make_shared<FakeClock>();
        library_ = std::make_unique<prompter::ScriptLibrary>(home_.path() + "/operated");
        QCOMPARE(library_->ensureFolder(), std::nullopt);
        QString fileName;
        QCOMPARE(library_->add(scriptText(), &fileName), std::nullopt);
        library_->refresh();
        intake_ = std::make_unique<HandIntake>();
        prompter::PrompterSettings settings;
        settings.screen = screen;
        window_ = std::make_unique<prompter::PrompterWindow>(
            *library_, *intake_, settings, settings, prompter::Presentation::window, clock_);
        window_->resize(800, 600);
        window_->show();
        remote_ = std::make_unique<prompter::remote::PromptRemote>(*window_, *library_, clock_);
        mode_ = std::make_unique<prompter::operate::OperatorMode>(*window_, *remote_, *library_);
        QVERIFY(window_->prompt(library_->pathOf(fileName), 0, prompter::Motion::still));
        remote_->noteScript(library_->pathOf(fileName));
        QTest::qWait(0);
    }
    prompter::operate::OperatorWindow& operatorWindow() { return *mode_->window(); }
    void click(const QString& button) {
        QPushButton* found = operatorWindow().button(button);
        QVERIFY2(found && found->isEnabled(), qPrintable(button));
        QTest::mouseClick(found, Qt::LeftButton);
    }

    void serve(RemoteServer::Limits limits = {}) {
        server_ = std::make_unique<RemoteServer>(*remote_, kToken, limits);
        QCOMPARE(server_->listen(QHostAddress::LocalHost, 0), std::nullopt);
        connect(remote_.get(), &prompter::remote::PromptRemote::changed, server_.get(),
                &RemoteServer::stateMayHaveChanged);
    }

  private slots:
    void initTestCase() {
        QVERIFY(home_.isValid());
        qputenv("XDG_CONFIG_HOME", (home_.path() + "/config").toUtf8());
        qputenv("XDG_DATA_HOME", (home_.path() + "/data").toUtf8());
        qunsetenv("QUORVANE_REMOTE_TOKEN");
    }

    // A fresh prompter holding a script of ten paragraphs, still at its start, and its server.
    void init() {
        clock_ = std::make_shared<FakeClock>();
        library_ = std::make_unique<prompter::ScriptLibrary>(home_.path() + "/data/scripts");
        QCOMPARE(library_->ensureFolder(), std::nullopt);
        scriptPath_ = home_.path() + "/script.txt";
        QFile file(scriptPath_);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(scriptText());
        file.close();
        intake_ = std::make_unique<HandIntake>();
        window_ = std::make_unique<prompter::PrompterWindow>(
            *library_, *intake_, prompter::PrompterSettings{}, prompter::PrompterSettings{},
            prompter::Presentation::window, clock_);
        window_->resize(800, 600);
        QVERIFY(window_->prompt(scriptPath_, 0, prompter::Motion::still));
        remote_ = std::make_unique<prompter::remote::PromptRemote>(*window_, *library_, clock_);
        remote_->noteScript(scriptPath_);
        serve();
    }
    void cleanup() {
        mode_.reset();
        server_.reset();
        remote_.reset();
        window_.reset();
        intake_.reset();
        library_.reset();
    }

    // Each command does what it says, over the socket and as POST /api/COMMAND.
    void everyCommandMovesThePrompt() {
        for (const bool overSocket : {true, false}) {
            init();
            Client client;
            if (overSocket)
                QVERIFY(client.open(port()));
            const auto send = [&](const json& command) {
                if (overSocket)
                    return client.ask(command.dump());
                json body = command;
                body.erase("command");
                const HttpReply reply = rawRequest(
                    port(),
                    post(port(), QByteArray::fromStdString(command["command"]),
                         body.empty() ? QByteArray() : QByteArray::fromStdString(body.dump())));
                return json::parse(reply.body.toStdString(), nullptr, false);
            };
            const auto& motion = view().motion();
            JSON_COMPARE(send({{"command", "start"}, {"id", 7}}),
                         (json{{"ok", "start"}, {"id", 7}}));
            QVERIFY(motion.isCountingDown(clock_->now));
            JSON_COMPARE(send({{"command", "resume"}})["ok"], "resume");  // skips the countdown
            QVERIFY(motion.isRunning() && !motion.isCountingDown(clock_->now));
            clock_->now += 6000;
            QVERIFY(view().position() > 0);
            JSON_COMPARE(send({{"command", "pause"}})["ok"], "pause");
            QVERIFY(!motion.isRunning());
            const double held = view().position();
            clock_->now += 6000;
            QCOMPARE(view().position(), held);
            JSON_COMPARE(send({{"command", "toggle"}})["ok"], "toggle");
            QVERIFY(motion.isRunning());
            JSON_COMPARE(send({{"command", "toggle"}})["ok"], "toggle");
            QVERIFY(!motion.isRunning());
            JSON_COMPARE(send({{"command", "speed"}, {"value", 160}})["ok"], "speed");
            QCOMPARE(motion.speed(), 160.0);
            JSON_COMPARE(send({{"command", "faster"}})["ok"], "faster");
            QCOMPARE(motion.speed(), 170.0);
            JSON_COMPARE(send({{"command", "slower"}})["ok"], "slower");
            JSON_COMPARE(send({{"command", "slower"}})["ok"], "slower");
            QCOMPARE(motion.speed(), 150.0);
            JSON_COMPARE(send({{"command", "jump"}, {"paragraph", 4}})["ok"], "jump");
            QCOMPARE(view().currentParagraph(), std::size_t{3});
            JSON_COMPARE(send({{"command", "jump"}, {"by", 2}})["ok"], "jump");
            QCOMPARE(view().currentParagraph(), std::size_t{5});
            JSON_COMPARE(send({{"command", "jump"}, {"by", -2}})["ok"], "jump");
            QCOMPARE(view().currentParagraph(), std::size_t{3});
            const double atFour = view().position();
            JSON_COMPARE(send({{"command", "screens"}, {"value", 1}})["ok"], "screens");
            QVERIFY(view().position() > atFour);
            JSON_COMPARE(send({{"command", "screens"}, {"value", -1}})["ok"], "screens");
            QVERIFY(std::abs(view().position() - atFour) < 1);
            JSON_COMPARE(send({{"command", "state"}})["ok"], "state");
            const json reported = json::parse(state())["state"];
            JSON_COMPARE(reported["paragraph"], 4);
            JSON_COMPARE(reported["paragraphs"], view().paragraphCount());
            JSON_COMPARE(reported["speed"], 150.0);
            JSON_COMPARE(reported["running"], false);
            JSON_COMPARE(reported["lines"][0].get<std::string>().rfind("Paragraph 4 ", 0), 0u);
            JSON_COMPARE(reported["section"], 1);
            JSON_COMPARE(reported["sections"].size(), 2u);
            JSON_COMPARE(send({{"command", "jump"}, {"section", 2}})["ok"], "jump");
            QCOMPARE(view().currentParagraph(), std::size_t{5});
            JSON_COMPARE(json::parse(state())["state"]["section"], 2);
            JSON_COMPARE(json::parse(state())["state"]["sections"][1].get<std::string>().rfind(
                             "Paragraph 6 ", 0),
                         0u);
            const json beyond = send({{"command", "jump"}, {"section", 3}});
            QVERIFY(beyond["error"].get<std::string>().find("only 2 sections") !=
                    std::string::npos);
            QCOMPARE(view().currentParagraph(), std::size_t{5});
            cleanup();
        }
        init();
        // A big script: while its index is made the state says so (its length and paragraphs
        // are those of its start), and jumps past the paragraphs indexed so far are taken once
        // it is made, never refused.
        QByteArray big = scriptText();
        while (big.size() <= static_cast<qsizetype>(prompter::PromptView::kIndexedAtOnce))
            big += "More words to read aloud in a long script.\n";
        big += "# Paragraph 11, the last section\nThe end.\n";
        QFile file(scriptPath_);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(big);
        file.close();
        QVERIFY(window_->prompt(scriptPath_, 0, prompter::Motion::still));
        QSignalSpy indexed(&view(), &prompter::PromptView::indexed);
        QVERIFY(view().isIndexing());
        JSON_COMPARE(json::parse(state())["state"]["counting"], true);
        prompter::remote::Command jump;
        jump.kind = prompter::remote::CommandKind::jump;
        jump.section = 3;
        QCOMPARE(remote_->apply(jump), std::nullopt);
        jump.section.reset();
        const auto total = static_cast<std::size_t>(big.count('\n')) + 1;
        jump.paragraph = static_cast<std::int64_t>(total) - 1;  // "The end.", then
        QVERIFY(view().paragraphCount() < total - 1);
        QCOMPARE(remote_->apply(jump), std::nullopt);
        QVERIFY(indexed.wait(20000));
        const json whole = json::parse(state())["state"];
        JSON_COMPARE(whole["counting"], false);
        JSON_COMPARE(whole["paragraphs"], view().paragraphCount());
        JSON_COMPARE(whole["sections"].size(), 3u);
        QCOMPARE(view().currentParagraph(), total - 2);
        JSON_COMPARE(whole["lines"][0], "The end.");
        jump.paragraph = static_cast<std::int64_t>(view().paragraphCount()) + 1;
        QVERIFY(remote_->apply(jump).value_or("").find("only") != std::string::npos);
    }

    // Anything that is not exactly a known command is refused with a reason that names what
    // was wrong, and nothing changes: not the place, the speed, the motion nor the library.
    void refusedMessagesChangeNothing() {
        struct Case {
            std::string message;
            std::string named;  // a part of the error
        };
        const std::vector<Case> cases = {
            {"{\"command\": ", "malformed JSON"},
            {"", "malformed JSON"},
            {"pause", "malformed JSON"},
            {"[\"pause\"]", "JSON object"},
            {"\"pause\"", "JSON object"},
            {"{}", "no \"command\""},
            {"{\"command\": 5}", "no \"command\""},
            {"{\"command\": \"dance\"}", "unknown command \"dance\""},
            {"{\"command\": \"PAUSE\"}", "unknown command \"PAUSE\""},
            {"{\"command\": \"pause\", \"value\": 1}", "takes no field \"value\""},
            {"{\"command\": \"speed\"}", "speed"},
            {"{\"command\": \"speed\", \"value\": \"fast\"}", "speed"},
            {"{\"command\": \"speed\", \"value\": 9000}", "20 to 600"},
            {"{\"command\": \"speed\", \"value\": 1e999}", "out of range"},
            {"{\"command\": \"jump\"}", "paragraph"},
            {"{\"command\": \"jump\", \"paragraph\": 0}", "paragraph"},
            {"{\"command\": \"jump\", \"paragraph\": 2.5}", "whole number"},
            {"{\"command\": \"jump\", \"paragraph\": 1, \"section\": 1}", "give one of"},
            {"{\"command\": \"jump\", \"by\": 0.5}", "whole number of paragraphs"},
            {"{\"command\": \"jump\", \"paragraph\": 99}", "there are only"},
            {"{\"command\": \"screens\", \"value\": 1e6}", "screens"},
            {"{\"command\": \"add\", \"text\": \" \\n \"}", "text"},
            {"{\"command\": \"add\", \"text\": \"a\", \"prompt\": \"yes\"}", "prompt"},
            {"{\"command\": \"pause\", \"id\": {\"a\": 1}}", "id"},
            {std::string(100'000, '[') + "\"pause\"", "nested too deeply"},
        };
        view().jumpToParagraph(2);
        view().resume();
        clock_->now += 1000;
        Client client;
        QVERIFY(client.open(port()));
        const std::string before = state();
        const std::size_t scripts = library_->entries().size();
        for (const Case& entry : cases) {
            const json reply = client.ask(entry.message);
            QVERIFY2(reply.contains("error") &&
                         reply["error"].get<std::string>().find(entry.named) != std::string::npos,
                     (entry.message.substr(0, 60) + " -> " + reply.dump()).c_str());
            // The same body posted to the API is refused the same way (an empty body, or {}, is
            // command without fields there).
            if (entry.message != "" && entry.message != "{}") {
                const QByteArray name = entry.named == "there are only" ? "jump" : "pause";
                const HttpReply posted = rawRequest(
                    port(), post(port(), name, QByteArray::fromStdString(entry.message)));
                QVERIFY2(
                    posted.status == 400 && posted.body.contains("\"error\""),
                    (entry.message.substr(0, 60) + " -> " + posted.body.toStdString()).c_str());
            }
            QVERIFY2(state() == before, (entry.message.substr(0, 60) + " -> " + state()).c_str());
        }
        QCOMPARE(rawRequest(port(), post(port(), "dance", {})).status, 400);
        QCOMPARE(library_->entries().size(), scripts);
        QVERIFY(view().motion().isRunning());
    }

    // A request or a socket without the token, or from another site, or naming another host,
    // gets 403 and nothing else; and moves nothing.
    void strangersAreRefused() {
        view().resume();
        const QByteArray port = QByteArray::number(this->port());
        const QByteArray token = "?token=" + QByteArray(kToken);
        const QByteArray ours = "127.0.0.1:" + port;
        const std::vector<std::tuple<const char*, QByteArray, QByteArray>> cases = {
            {"no token", "", ""},
            {"a wrong token", "?token=test-token-0123456789abcdeX", ""},
            {"a prefix of the token", "?token=test-token-0123456789abcde", ""},
            {"the token twice", token + "&token=" + kToken, ""},
            {"a wrong bearer", "", "Authorization: Bearer nope\r\n"},
            {"a wrong bearer beside the right query", token, "Authorization: Bearer nope\r\n"},
            {"another scheme", "", "Authorization: Basic " + QByteArray(kToken) + "\r\n"},
            {"another site's origin", token, "Origin: http://evil.example\r\n"},
            {"an origin at another port", token, "Origin: http://127.0.0.1:1\r\n"},
            {"a null origin", token, "Origin: null\r\n"},
            {"an https origin", token, "Origin: https://" + ours + "\r\n"},
        };
        for (const auto& [what, query, headers] : cases) {
            for (const QByteArray& target : {QByteArray("/"), QByteArray("/script"),
                                             QByteArray("/api/state"), QByteArray("/nothing")}) {
                const HttpReply reply =
                    rawRequest(this->port(), get(this->port(), target + query, headers));
                QVERIFY2(reply.status == 403 && reply.body == "Forbidden\n", what);
            }
            const QByteArray pause = "POST /api/pause" + query + " HTTP/1.1\r\nHost: " + ours +
                                     "\r\nContent-Length: 0\r\n" + headers + "\r\n";
            QVERIFY2(rawRequest(this->port(), pause).status == 403, what);
            QCOMPARE(
                rawRequest(this->port(), handshake(this->port(), "/ws" + query, headers)).status,
                403);
        }
        // Another name for this machine's address: a rebinding page's Host, or another port.
        for (const QByteArray& host :
             {QByteArray("evil.example:") + port, QByteArray("127.0.0.1:1"),
              QByteArray("127.0.0.1"), QByteArray("")}) {
            const QByteArray request =
                "GET /api/state" + token + " HTTP/1.1\r\nHost: " + host + "\r\n\r\n";
            QCOMPARE(rawRequest(this->port(), request).status, 403);
        }
        // A browser's QWebSocket from another site, with the right token, is refused too.
        Client stranger(QStringLiteral("http://evil.example"));
        QVERIFY(!stranger.open(this->port()));
        QVERIFY(view().motion().isRunning());
        // The right token, in either form, from this server's own page.
        QCOMPARE(rawRequest(this->port(), get(this->port(), "/api/state" + token)).status, 200);
        QCOMPARE(rawRequest(this->port(), get(this->port(), "/",
                                              "Origin: http://" + ours + "\r\n" +
                                                  "Authorization: Bearer " + kToken + "\r\n"))
                     .status,
                 200);
        QCOMPARE(rawRequest(this->port(), "GET /api/state" + token +
                                              " HTTP/1.1\r\nHost: localhost:" + port + "\r\n\r\n")
                     .status,
                 200);
        Client friendly(QStringLiteral("http://") + QString::fromLatin1(ours));
        QVERIFY(friendly.open(this->port()));
    }

    // Sizes, time and numbers are bounded; past a bound, the request or client is refused and
    // the server goes on serving the others.
    void boundsHold() {
        RemoteServer::Limits limits;
        limits.messageBytes = 64 * 1024;
        limits.headMs = 300;
        serve(limits);
        view().resume();
        const std::string before = state();
        const QByteArray bearer = "Authorization: Bearer " + QByteArray(kToken) + "\r\n";

        Client big;
        QVERIFY(big.open(port()));
        big.socket().sendTextMessage(QString::fromStdString("{\"command\": \"add\", \"text\": \"" +
                                                            std::string(200 * 1024, 'x') + "\"}"));
        QVERIFY(QTest::qWaitFor([&] { return big.closed; }, kWaitMs));
        QCOMPARE(big.closeCode, QWebSocketProtocol::CloseCodeTooMuchData);

        QCOMPARE(rawRequest(port(), post(port(), "add", QByteArray(200 * 1024, 'x'))).status, 413);
        QCOMPARE(
            rawRequest(port(), get(port(), "/", "X-Padding: " + QByteArray(9000, 'p') + "\r\n"))
                .status,
            431);
        QCOMPARE(
            rawRequest(port(),
                       "POST /api/pause HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port()) +
                           "\r\nTransfer-Encoding: chunked\r\n" + bearer + "\r\n0\r\n\r\n")
                .status,
            411);
        QCOMPARE(rawRequest(port(), post(port(), "pause", {}) + post(port(), "pause", {})).status,
                 400);
        QCOMPARE(rawRequest(port(), get(port(), "/../../etc/passwd", bearer)).status, 404);
        QCOMPARE(rawRequest(port(), "PUT /api/pause HTTP/1.1\r\nHost: 127.0.0.1:" +
                                        QByteArray::number(port()) + "\r\n" + bearer + "\r\n")
                     .status,
                 405);
        QCOMPARE(rawRequest(port(), "\x16\x03\x01 not http\r\n\r\n").status, 400);
        // A request that never finishes is let go.
        QCOMPARE(rawRequest(port(), "GET / HTTP/1.1\r\nHost: 127.0.0.1").status, 408);
        QCOMPARE(state(), before);

        Client after;
        QVERIFY(after.open(port()));
        JSON_COMPARE(after.ask("{\"command\": \"pause\"}")["ok"], "pause");
    }

    // A peer that stops reading costs the prompter little: states wait behind the one it has
    // not taken and only the newest follows once it reads again; a socket that goes on asking
    // without reading, and an HTTP response not taken, are let go and their places freed.
    void aPeerThatStopsReadingHoldsLittle() {
        BulkyTarget bulky;
        RemoteServer::Limits limits;
        limits.stateIntervalMs = 0;
        limits.backlogBytes = 1024;
        limits.idleMs = 500;
        limits.connectionsPerAddress = 1;
        RemoteServer server(bulky, kToken, limits);
        QCOMPARE(server.listen(QHostAddress::LocalHost, 0), std::nullopt);
        const QString from = QStringLiteral("127.0.0.9");
        RawSocket sleepy;
        QVERIFY(sleepy.open(server.port(), from, 64 * 1024));
        sleepy.stopReading();
        const qsizetype before = sleepy.received.size();
        // A thousand states of 64 KB: 64 MB, far past what the kernel's buffers hold.
        for (bulky.changes = 1; bulky.changes <= 1000; ++bulky.changes) {
            server.stateMayHaveChanged();
            QCoreApplication::processEvents();
        }
        const QByteArray newest = "{\"state\":{\"n\":1000,";
        sleepy.resume();
        QVERIFY(QTest::qWaitFor(
            [&] {
                sleepy.received += sleepy.socket.readAll();
                return sleepy.received.right(80 * 1024).contains(newest);
            },
            kWaitMs));
        const qsizetype taken = sleepy.received.size() - before;
        QVERIFY2(taken < 16 * 1024 * 1024, QByteArray::number(taken).constData());
        QCOMPARE(server.clientCount(), 1);

        // Stopped again, states fill the buffers; a command it sends now is not answered into
        // a pile: it is let go.
        sleepy.stopReading();
        for (bulky.changes = 1001; bulky.changes <= 1200; ++bulky.changes) {
            server.stateMayHaveChanged();
            QCoreApplication::processEvents();
        }
        sleepy.send(R"({"command": "state"})");
        QVERIFY(QTest::qWaitFor([&] { return server.clientCount() == 0; }, kWaitMs));

        // The script (16 MB) asked for and not taken holds the peer's one place, until it is
        // let go; then the peer is served again.
        QTcpSocket reader;
        QVERIFY(reader.bind(QHostAddress(from)));
        reader.setSocketOption(QAbstractSocket::ReceiveBufferSizeSocketOption, 64 * 1024);
        reader.setReadBufferSize(64 * 1024);
        reader.connectToHost(QHostAddress::LocalHost, server.port());
        QVERIFY(reader.waitForConnected(kWaitMs));
        reader.write(get(server.port(), "/script?token=" + QByteArray(kToken)));
        QVERIFY(QTest::qWaitFor([&] { return reader.bytesAvailable() > 0; }, kWaitMs));
        const QByteArray state = get(server.port(), "/api/state?token=" + QByteArray(kToken));
        QCOMPARE(rawRequest(server.port(), state, from).status, 0);
        QVERIFY(QTest::qWaitFor(
            [&] { return rawRequest(server.port(), state, from).status == 200; }, kWaitMs));
    }

    // Ten thousand commands at once: a few are carried out, the rest refused, the flooding
    // client is let go, and another is served as before. A flood of binary messages (never a
    // command) is let go the same way.
    void aFloodIsHeldBack() {
        for (const bool binary : {false, true}) {
            Client flood;
            QVERIFY(flood.open(port()));
            const QString toggle = QStringLiteral("{\"command\": \"toggle\"}");
            for (int i = 0; i < 10'000; ++i) {
                if (binary)
                    flood.socket().sendBinaryMessage(toggle.toUtf8());
                else
                    flood.socket().sendTextMessage(toggle);
            }
            QVERIFY(QTest::qWaitFor([&] { return flood.closed; }, 60'000));
            QCOMPARE(flood.closeCode, QWebSocketProtocol::CloseCodePolicyViolated);
            const auto carried =
                std::count_if(flood.replies.begin(), flood.replies.end(),
                              [](const json& reply) { return reply.contains("ok"); });
            QVERIFY(binary ? carried == 0 : carried >= 40);  // the burst
            QVERIFY(carried < 1'000);                        // not the flood
        }
        Client other;
        QVERIFY(other.open(port()));
        JSON_COMPARE(other.ask("{\"command\": \"faster\"}")["ok"], "faster");
    }

    // Sixteen remotes at once, at most four from one peer: the next is told why it is refused
    // and gets in once one of the others leaves; one peer holding its share of idle
    // connections keeps nobody else out. Each peer is a loopback address of its own (Linux
    // routes all of 127/8 here).
    void clientsAreBoundedInAllAndPerPeer() {
        const auto from = [](int peer) { return QStringLiteral("127.0.0.%1").arg(peer); };
        std::vector<std::unique_ptr<RawSocket>> clients;
        const auto openFrom = [&](int peer) {
            clients.push_back(std::make_unique<RawSocket>());
            return clients.back()->open(port(), from(peer));
        };
        for (int i = 0; i < 4; ++i)
            QVERIFY(openFrom(2));
        QVERIFY(!openFrom(2));
        QCOMPARE(clients.back()->status, 503);
        QVERIFY(clients.back()->received.contains("from this address (4)"));
        clients.pop_back();
        for (int peer = 3; peer <= 5; ++peer)
            for (int i = 0; i < 4; ++i)
                QVERIFY(openFrom(peer));
        QCOMPARE(server_->clientCount(), 16);
        QVERIFY(!openFrom(6));
        QCOMPARE(clients.back()->status, 503);
        QVERIFY(clients.back()->received.contains("connected (16)"));
        clients.pop_back();
        Client seventeenth;  // Qt's own client, from 127.0.0.1
        QVERIFY(!seventeenth.open(port()));
        clients.front()->socket.disconnectFromHost();
        QVERIFY(QTest::qWaitFor([&] { return server_->clientCount() == 15; }, kWaitMs));
        Client late;
        QVERIFY(late.open(port()));
        // Every client hears of a change.
        JSON_COMPARE(late.ask("{\"command\": \"speed\", \"value\": 222}")["ok"], "speed");
        for (std::size_t i = 1; i < clients.size(); ++i)
            QVERIFY(QTest::qWaitFor(
                [&] { return clients[i]->received.contains("\"speed\":222.0"); }, kWaitMs));
        clients.clear();
        late.socket().close();
        QVERIFY(QTest::qWaitFor([&] { return server_->clientCount() == 0; }, kWaitMs));

        // Connections that say nothing: one peer's share is held, its next is dropped at once,
        // and another peer is still served.
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i <= server_->limits().connectionsPerAddress; ++i) {
            idle.push_back(std::make_unique<QTcpSocket>());
            QVERIFY(idle.back()->bind(QHostAddress(from(7))));
            idle.back()->connectToHost(QHostAddress::LocalHost, port());
            QVERIFY(idle.back()->waitForConnected(kWaitMs));
        }
        QVERIFY(QTest::qWaitFor(
            [&] { return idle.back()->state() == QAbstractSocket::UnconnectedState; }, kWaitMs));
        idle.pop_back();
        RawSocket other;
        QVERIFY(other.open(port(), from(8)));
        for (const auto& socket : idle)
            QCOMPARE(socket->state(), QAbstractSocket::ConnectedState);
    }

    // The state comes at once, then on a change; a state equal to the last is not sent again.
    void theStateIsSentOnChange() {
        Client client;
        QVERIFY(client.open(port()));
        QCOMPARE(client.states.size(), std::size_t{1});
        JSON_COMPARE(client.states[0]["state"]["running"], false);
        QCOMPARE(rawRequest(port(), post(port(), "resume", {})).status, 200);
        QVERIFY(QTest::qWaitFor([&] { return client.states.back()["state"]["running"] == true; },
                                kWaitMs));
        clock_->now += 2000;
        server_->stateMayHaveChanged();
        QVERIFY(QTest::qWaitFor(
            [&] { return client.states.back()["state"]["position"].get<double>() > 0; }, kWaitMs));
        JSON_COMPARE(client.ask("{\"command\": \"pause\"}")["ok"], "pause");
        QVERIFY(QTest::qWaitFor([&] { return client.states.back()["state"]["running"] == false; },
                                kWaitMs));
        const std::size_t settled = client.states.size();
        for (int i = 0; i < 5; ++i) {
            server_->stateMayHaveChanged();
            QTest::qWait(120);
        }
        QCOMPARE(client.states.size(), settled);
        for (std::size_t i = 1; i < client.states.size(); ++i)
            QVERIFY(client.states[i] != client.states[i - 1]);

        // A phone that left and came back (as the page does after a drop) while the prompt
        // moved on hears of it moving back to where it was when the phone left.
        const auto paragraphOf = [](const Client& remote) {
            return remote.states.back()["state"]["paragraph"].get<int>();
        };
        view().jumpToParagraph(2);
        server_->stateMayHaveChanged();
        QVERIFY(QTest::qWaitFor([&] { return paragraphOf(client) == 3; }, kWaitMs));
        client.socket().close();
        QVERIFY(QTest::qWaitFor([&] { return server_->clientCount() == 0; }, kWaitMs));
        view().jumpToParagraph(4);
        server_->stateMayHaveChanged();
        Client back;
        QVERIFY(back.open(port()));
        QCOMPARE(paragraphOf(back), 5);
        view().jumpToParagraph(2);
        server_->stateMayHaveChanged();
        QVERIFY(QTest::qWaitFor([&] { return paragraphOf(back) == 3; }, kWaitMs));
    }

    // Text pasted on a phone becomes a script in the library and, when asked, is prompted at
    // once; its text, and only the open script's, is served.
    void aPhoneAddsAScript() {
        Client phone;
        QVERIFY(phone.open(port()));
        const std::string text = "Notes from the phone\nSecond line, \xC3\xA9t\xC3\xA9.\n";
        JSON_COMPARE(phone.ask(json{{"command", "add"}, {"text", text}}.dump())["ok"], "add");
        JSON_COMPARE(json::parse(state())["state"]["script"],
                     "Paragraph 1 has a few words to read "
                     "aloud, and then some more words.");
        JSON_COMPARE(
            phone.ask(json{{"command", "add"}, {"text", text}, {"prompt", true}}.dump())["ok"],
            "add");
        JSON_COMPARE(json::parse(state())["state"]["script"], "Notes from the phone");
        library_->refresh();
        QCOMPARE(library_->entries().size(), std::size_t{2});
        for (const auto& entry : library_->entries()) {
            QFile file(library_->pathOf(entry.fileName));
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll().toStdString(), text);
        }
        const QByteArray bearer = "Authorization: Bearer " + QByteArray(kToken) + "\r\n";
        QCOMPARE(rawRequest(port(), get(port(), "/script", bearer)).body.toStdString(), text);
        window_->showLibrary();
        QCOMPARE(rawRequest(port(), get(port(), "/script", bearer)).status, 404);
        const json refused = phone.ask("{\"command\": \"resume\"}");
        QVERIFY(refused["error"].get<std::string>().find("nothing is being prompted") !=
                std::string::npos);
    }

    // What --remote starts: the server on the asked address, its address and QR code printed
    // and shown in the library; a token from the environment that an address cannot carry is
    // refused, not used.
    void aSessionShowsWhereItListens() {
        qputenv("QUORVANE_REMOTE_TOKEN", "session-token-0123456789");
        QString failure;
        auto session = prompter::remote::RemoteSession::start(
            {QHostAddress(QHostAddress::LocalHost), 0}, *remote_, window_->library(), &failure);
        QVERIFY2(session, qPrintable(failure));
        const QString address =
            QStringLiteral("http://127.0.0.1:%1/?token=session-token-0123456789")
                .arg(session->server().port());
        const QString told = session->announcement();
        QVERIFY(told.contains(address));
        QVERIFY(told.contains(QChar(0x2588)));  // the code's blocks
        const auto* panel = window_->library()->findChild<QWidget*>(QStringLiteral("remotePanel"));
        QVERIFY(panel);
        const auto labels = panel->findChildren<QLabel*>();
        QVERIFY(std::any_of(labels.begin(), labels.end(), [](QLabel* label) {
            return !label->pixmap().isNull() && label->pixmap().width() > 100;
        }));
        QVERIFY(std::any_of(labels.begin(), labels.end(), [&](QLabel* label) {
            return label->text().contains(address.toHtmlEscaped());
        }));
        session.reset();
        for (const char* wrong : {"short", "has spaces in it here", "quotes\"and<tags>0123"}) {
            qputenv("QUORVANE_REMOTE_TOKEN", wrong);
            QVERIFY(
                !prompter::remote::RemoteSession::start({QHostAddress(QHostAddress::LocalHost), 0},
                                                        *remote_, window_->library(), &failure));
            QVERIFY(failure.contains("QUORVANE_REMOTE_TOKEN"));
        }
        qunsetenv("QUORVANE_REMOTE_TOKEN");
        // --follow: the address another prompter printed.
        QString problem;
        const auto socket = prompter::remote::RemoteFollower::socketAddress(
            "http://192.168.1.20:8080/?token=abcdefghijklmnop", &problem);
        QVERIFY2(socket, qPrintable(problem));
        QCOMPARE(socket->toString(), "ws://192.168.1.20:8080/ws?token=abcdefghijklmnop");
        for (const char* wrong :
             {"http://192.168.1.20:8080/", "192.168.1.20:8080",
              "https://host:1/?token=abcdefghijklmnop", "http://host/?token=abcdefghijklmnop",
              "http://host:1/?token=short"})
            QVERIFY2(!prompter::remote::RemoteFollower::socketAddress(wrong, &problem), wrong);
    }

    // The switch in the settings window: off by default; on, it serves at the address given
    // (saved, kept beside the prompter's own settings), shows it in the library and hands it
    // on (to the operator's window); a wrong address is said and nothing listens; off closes
    // the port. Damaged saved values read as off.
    void theSettingsWindowSwitchesTheRemote() {
        using prompter::remote::RemoteSettings;
        QVERIFY(!RemoteSettings::load().enabled);
        prompter::remote::RemoteSwitch remote(*remote_, window_->library());
        QStringList told;
        connect(&remote, &prompter::remote::RemoteSwitch::addressChanged,
                [&](const QString& address) { told << address; });
        connect(window_.get(), &prompter::PrompterWindow::settingsWindowMade, &remote,
                [&](prompter::SettingsWindow* settings) {
                    settings->addRow(QStringLiteral("Remote control"),
                                     remote.makeSettingsRow(settings));
                });
        auto* row = window_->showSettings()->findChild<QWidget*>(QStringLiteral("remoteSettings"));
        QVERIFY(row);
        auto* on = row->findChild<QCheckBox*>();
        auto* address = row->findChild<QLineEdit*>();
        auto* status = row->findChild<QLabel*>();
        QVERIFY(!on->isChecked());
        QVERIFY(status->text().contains("nothing listens"));
        address->setText(QStringLiteral("phone.example:80"));
        on->setChecked(true);
        QVERIFY(!remote.session());
        QVERIFY(status->text().contains("is not an IP address"));
        address->setText(QStringLiteral("127.0.0.1:0"));
        emit address->editingFinished();
        QVERIFY(remote.session());
        const quint16 served = remote.session()->server().port();
        const QByteArray bearer =
            "Authorization: Bearer " + remote.session()->server().token() + "\r\n";
        QCOMPARE(rawRequest(served, get(served, "/api/state", bearer)).status, 200);
        QVERIFY(told.back().startsWith(QStringLiteral("http://127.0.0.1:%1/?token=").arg(served)));
        QVERIFY(status->text().contains(QStringLiteral("port %1").arg(served)));
        QVERIFY(window_->library()->findChild<QWidget*>(QStringLiteral("remotePanel")));
        QCOMPARE(RemoteSettings::load(), (RemoteSettings{true, QStringLiteral("127.0.0.1:0")}));
        // The prompter's own settings, saved after, keep the remote's, and the other way round.
        prompter::PrompterSettings own;
        own.fontSize = 99;
        QVERIFY(own.save());
        QVERIFY(RemoteSettings::load().enabled);
        // A phone connected, and one halfway through its request, when it is switched off.
        Client phone;
        QVERIFY(phone.open(served, remote.session()->server().token()));
        QTcpSocket halfway;
        halfway.connectToHost(QHostAddress::LocalHost, served);
        QVERIFY(halfway.waitForConnected(kWaitMs));
        halfway.write("GET /api/state HTTP/1.1\r\n");
        QVERIFY(QTest::qWaitFor([&] { return halfway.bytesToWrite() == 0; }, kWaitMs));
        QTest::qWait(50);
        on->setChecked(false);
        QVERIFY(QTest::qWaitFor([&] { return phone.closed; }, kWaitMs));
        QVERIFY(!remote.session());
        QVERIFY(told.back().isEmpty());
        QCOMPARE(rawRequest(served, get(served, "/api/state", bearer)).status, 0);
        QVERIFY(!window_->library()->findChild<QWidget*>(QStringLiteral("remotePanel")));
        QVERIFY(!RemoteSettings::load().enabled);
        QCOMPARE(prompter::PrompterSettings::load().fontSize, 99);
        QFile file(prompter::PrompterSettings::filePath());
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write("[remote]\nenabled=maybe\naddress=nowhere:99999\n");
        file.close();
        QCOMPARE(RemoteSettings::load(), RemoteSettings{});
        QVERIFY(QFile::remove(prompter::PrompterSettings::filePath()));
    }

    // --remote [ADDRESS:]PORT.
    void theListeningAddressIsRead() {
        const auto read = [](const QString& text) {
            return prompter::remote::readListenAddress(text, nullptr);
        };
        QCOMPARE(read("8080")->address, QHostAddress(QHostAddress::Any));
        QCOMPARE(read("8080")->port, 8080);
        QCOMPARE(read("127.0.0.1:9")->address, QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(read("localhost:9")->address, QHostAddress(QHostAddress::LocalHost));
        QCOMPARE(read("[::1]:80")->address, QHostAddress(QHostAddress::LocalHostIPv6));
        QCOMPARE(read("0")->port, 0);
        for (const char* wrong : {"", "x", "70000", "::1:80", "phone.example:80", "1.2.3.4:", "-1",
                                  "127.0.0.1:8080:1"}) {
            QString problem;
            QVERIFY2(!prompter::remote::readListenAddress(QString::fromLatin1(wrong), &problem),
                     wrong);
            QVERIFY(problem.startsWith("--remote wants"));
        }
    }

    // ---- the operator's window ----

    // With a presenter's screen chosen, the operator's window takes the other screen and the
    // presenter's shows the prompt alone; with none chosen, or one screen, prompting is the
    // library's as before. Leaving brings the library back to the operator's screen.
    void theOperatorTakesTheOtherScreen() {
        const QList<QScreen*> screens = QGuiApplication::screens();
        QCOMPARE(screens.size(), 2);
        for (const int presenter : {1, 0}) {
            operate(presenter);
            QVERIFY(QTest::qWaitFor([&] { return mode_->window() && operatorWindow().isVisible(); },
                                    kWaitMs));
            QScreen* other = screens[1 - presenter];
            QCOMPARE(operatorWindow().screen(), other);
            QVERIFY(other->geometry().contains(operatorWindow().frameGeometry()));
            QCOMPARE(window_->screen(), screens[presenter]);
            QVERIFY(!screens[presenter]->geometry().intersects(operatorWindow().frameGeometry()));
            QCOMPARE(window_->currentWidget(), window_->promptView());
            // The remote's address and its code, when the remote is on.
            mode_->setRemoteAddress(
                QStringLiteral("http://192.168.1.20:8080/?token=abcdefghijklmnop"));
            const auto labels = operatorWindow().findChildren<QLabel*>();
            QVERIFY(std::any_of(labels.begin(), labels.end(), [](QLabel* label) {
                return label->isVisible() && !label->pixmap().isNull() &&
                       label->pixmap().width() > 100;
            }));
            click(QStringLiteral("Stop prompting"));
            QVERIFY(QTest::qWaitFor([&] { return !operatorWindow().isVisible(); }, kWaitMs));
            QCOMPARE(window_->currentWidget(), window_->library());
            QCOMPARE(window_->screen(), other);
        }
        operate(-1);
        QTest::qWait(50);
        QVERIFY(!mode_->window() || !operatorWindow().isVisible());
        operate(7);  // a screen that is not there
        QTest::qWait(50);
        QVERIFY(!mode_->window() || !operatorWindow().isVisible());
    }

    // Each control moves the prompt; the state, the times, the lines and the shading in the
    // editor follow it; keys the window does not use go to the prompt.
    void theOperatorsControlsMoveThePrompt() {
        operate(1);
        QVERIFY(QTest::qWaitFor([&] { return mode_->window() && operatorWindow().isVisible(); },
                                kWaitMs));
        auto& op = operatorWindow();
        const auto refreshed = [&] {
            op.refresh();
            return op.stateText();
        };
        QCOMPARE(refreshed(), "Ready");
        QCOMPARE(op.highlightedParagraph(), 0);
        QVERIFY(op.linesText().contains("Paragraph 1 has"));
        QVERIFY(op.linesText().contains("Paragraph 2 has"));
        click(QStringLiteral("Start"));
        QVERIFY(view().motion().isRunning());
        QCOMPARE(refreshed(), "Starting in 3");
        clock_->now += 3000 + 60'000;  // the countdown, then a minute at 140 words a minute
        QCOMPARE(refreshed(), "Running");
        QCOMPARE(op.highlightedParagraph(), static_cast<int>(view().currentParagraph()));
        QVERIFY(op.highlightedParagraph() > 0);
        QVERIFY(op.timesText().contains("Elapsed 1:00"));
        QVERIFY(op.editor()->text()->extraSelections().size() == 2);
        click(QStringLiteral("Pause"));
        QVERIFY(!view().motion().isRunning());
        QCOMPARE(refreshed(), "Paused");
        QVERIFY(op.button("Resume"));
        click(QStringLiteral("Faster"));
        QCOMPARE(view().motion().speed(), 150.0);
        op.speedBox()->setValue(220);
        QCOMPARE(view().motion().speed(), 220.0);
        // The sections: a click on the second lands on its heading, the shading with it.
        op.refresh();
        QCOMPARE(op.sectionList()->count(), 2);
        QListWidget* sections = op.sectionList();
        QTest::mouseClick(sections->viewport(), Qt::LeftButton, {},
                          sections->visualItemRect(sections->item(1)).center());
        QCOMPARE(view().currentParagraph(), std::size_t{5});
        op.refresh();
        QCOMPARE(op.highlightedParagraph(), 5);
        QCOMPARE(sections->currentRow(), 1);
        QVERIFY(op.editor()->text()->document()->findBlockByNumber(5).text().startsWith(
            "# Paragraph 6"));
        click(QStringLiteral("Back a paragraph"));
        QCOMPARE(view().currentParagraph(), std::size_t{4});
        click(QStringLiteral("On a paragraph"));
        QCOMPARE(view().currentParagraph(), std::size_t{5});
        op.paragraphBox()->setValue(3);
        click(QStringLiteral("Go to paragraph"));
        QCOMPARE(view().currentParagraph(), std::size_t{2});
        const double before = view().position();
        click(QStringLiteral("On a screen"));
        QVERIFY(view().position() > before);
        click(QStringLiteral("Back a screen"));
        QCOMPARE(view().position(), before);
        // A clicker's key, pressed with the operator's window in front, moves the prompt.
        QTest::keyClick(&op, Qt::Key_Right);
        QCOMPARE(view().currentParagraph(), std::size_t{3});
    }

    // An edit saved in the operator's editor below the reading line reaches the prompt with
    // nothing above it moved; the remote serves the edited text and its lines follow it.
    void anOperatorsEditReachesThePrompt() {
        operate(1);
        QVERIFY(QTest::qWaitFor([&] { return mode_->window() && operatorWindow().isVisible(); },
                                kWaitMs));
        auto& op = operatorWindow();
        view().jumpToParagraph(2);
        const double position = view().position();
        const QImage before = view().grab().toImage();
        const int unchangedTo =
            static_cast<int>(view().readingLineY() + view().paragraphHeight(2)) - 2;
        const int top = static_cast<int>(view().textArea().top()) + 1;
        QVERIFY(!op.editor()->isReadOnly());
        QTextCursor cursor(op.editor()->text()->document()->findBlockByNumber(3));
        cursor.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
        cursor.insertText("Paragraph 4 was rewritten by the operator while the take ran.");
        QCOMPARE(op.editor()->save(), std::nullopt);
        QVERIFY(QTest::qWaitFor(
            [&] {
                return remote_->scriptText()->find("rewritten by the operator") !=
                       std::string::npos;
            },
            kWaitMs));
        QCOMPARE(view().position(), position);
        QCOMPARE(view().currentParagraph(), std::size_t{2});
        const QImage after = view().grab().toImage();
        QCOMPARE(after.size(), before.size());
        for (int y = top; y < unchangedTo; ++y)
            QVERIFY2(std::memcmp(before.constScanLine(y), after.constScanLine(y),
                                 static_cast<std::size_t>(before.bytesPerLine())) == 0,
                     qPrintable(QStringLiteral("row %1 moved").arg(y)));
        bool shown = false;
        for (int y = unchangedTo + 4; y < before.height() && !shown; ++y)
            shown = std::memcmp(before.constScanLine(y), after.constScanLine(y),
                                static_cast<std::size_t>(before.bytesPerLine())) != 0;
        QVERIFY2(shown, "the edit does not show on the presenter's screen");
        const json state = json::parse(remote_->state())["state"];
        JSON_COMPARE(state["lines"][1],
                     "Paragraph 4 was rewritten by the operator while the take ran.");
        JSON_COMPARE(state["paragraph"], 3);
        // The shading is on the same paragraph in the editor.
        op.refresh();
        QCOMPARE(op.highlightedParagraph(), 2);
    }
};

// Qt's offscreen platform with two screens side by side: the presenter's and the operator's.
int main(int argc, char** argv) {
    QTemporaryDir folder;
    if (!folder.isValid())
        return 1;
    const QString config = folder.filePath(QStringLiteral("screens.json"));
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(R"({"screens": [
        {"name": "OPERATOR-1", "x": 0, "y": 0, "width": 1280, "height": 800, "logicalDpi": 96},
        {"name": "STAGE-2", "x": 1280, "y": 0, "width": 1280, "height": 720, "logicalDpi": 96}]})");
    file.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config));
    QApplication application(argc, argv);
    RemoteTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "RemoteTest.moc"
