// The remote, measured on loopback with a real prompter on Qt's headless platform.
//
//   remote_bench latency [COMMANDS]      from a command sent to the frame that shows it
//   remote_bench broadcast [CLIENTS] [SECONDS]
//                                        the processor time of sending the state to CLIENTS
//                                        sockets (in another process) while the prompt runs,
//                                        against the same run with none
//   remote_bench clients PORT TOKEN CLIENTS SECONDS   (the other process)
//
// Latency: a client on a thread of its own sends jumps (to paragraph 10, then 20, and so on:
// each one changes what the frame shows) at irregular intervals of 13 to 23 ms while the
// prompt scrolls; the time from
// each send to the applying of the command, and to the first frame drawn after it, is kept. The
// server's rate limit is raised for this run: it measures the path, not the limit.
#include <sys/resource.h>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>
#include <QWebSocket>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "prompter/PromptView.h"
#include "prompter/PrompterWindow.h"
#include "prompter/ScriptIntake.h"
#include "prompter/ScriptLibrary.h"
#include "prompter/remote/PromptRemote.h"
#include "prompter/remote/RemoteServer.h"

namespace {

using Clock = std::chrono::steady_clock;
const Clock::time_point kStart = Clock::now();
constexpr char kToken[] = "bench-token-0123456789abcdef";

double now() {
    return std::chrono::duration<double, std::milli>(Clock::now() - kStart).count();
}

double processCpuMs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec * 1e3 + usage.ru_utime.tv_usec / 1e3 +
           usage.ru_stime.tv_sec * 1e3 + usage.ru_stime.tv_usec / 1e3;
}

double percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(share * static_cast<double>(values.size() - 1))];
}

class NoIntake : public prompter::ScriptIntake {
  public:
    void takeWaiting() override {}
    void startWatching() override {}
};

// A prompter scrolling a long script in a 1280x720 window, serving the remote on loopback.
struct Prompter {
    QTemporaryDir folder;
    std::unique_ptr<prompter::ScriptLibrary> library;
    NoIntake intake;
    std::shared_ptr<prompter::SteadyPromptClock> clock =
        std::make_shared<prompter::SteadyPromptClock>();
    std::unique_ptr<prompter::PrompterWindow> window;
    std::unique_ptr<prompter::remote::PromptRemote> remote;

    Prompter() {
        library = std::make_unique<prompter::ScriptLibrary>(folder.path() + "/scripts");
        (void)library->ensureFolder();
        const QString path = folder.path() + "/script.txt";
        QFile file(path);
        file.open(QIODevice::WriteOnly);
        for (int i = 0; i < 2000; ++i)
            file.write(
                "A paragraph of the script, with words enough to fill a line or two on "
                "the screen as it scrolls past the reading line.\n");
        file.close();
        prompter::PrompterSettings settings;
        settings.countdown = 0;
        settings.speed = 150;
        window = std::make_unique<prompter::PrompterWindow>(*library, intake, settings, settings,
                                                            prompter::Presentation::window, clock);
        window->resize(1280, 720);
        window->show();
        window->prompt(path);
        remote = std::make_unique<prompter::remote::PromptRemote>(*window, *library, clock);
        remote->noteScript(path);
    }
};

// Applies commands through the prompt, noting when each arrived.
class Measuring : public prompter::remote::RemoteTarget {
  public:
    Measuring(prompter::remote::RemoteTarget& inner, std::vector<double>& applied)
        : inner_(inner), applied_(applied) {}
    std::optional<std::string> apply(const prompter::remote::Command& command) override {
        const std::size_t index = std::stoul(command.id);
        applied_[index] = now();
        waiting.push_back(index);
        return inner_.apply(command);
    }
    std::string state() override { return inner_.state(); }
    std::optional<std::string> scriptText() override { return inner_.scriptText(); }
    std::vector<std::size_t> waiting;  // applied, not yet drawn

  private:
    prompter::remote::RemoteTarget& inner_;
    std::vector<double>& applied_;
};

int latency(int count) {
    Prompter prompter;
    std::vector<double> sent(count, 0), applied(count, 0), shown(count, 0);
    Measuring measuring(*prompter.remote, applied);
    prompter::remote::RemoteServer::Limits limits;
    limits.commandsPerSecond = 100000;
    limits.burst = 100000;
    prompter::remote::RemoteServer server(measuring, kToken, limits);
    if (server.listen(QHostAddress::LocalHost, 0))
        return 1;
    long frames = 0;
    QObject::connect(prompter.window->promptView(), &prompter::PromptView::frameDrawn, [&] {
        ++frames;
        const double drawn = now();
        for (const std::size_t index : measuring.waiting)
            shown[index] = drawn;
        measuring.waiting.clear();
    });

    QThread thread;
    auto* socket = new QWebSocket;
    socket->moveToThread(&thread);
    int done = 0;
    QObject::connect(
        socket, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), socket, [socket] {
            std::fprintf(stderr, "remote_bench: %s\n", socket->errorString().toUtf8().constData());
        });
    QObject::connect(socket, &QWebSocket::textMessageReceived, socket, [&](const QString& text) {
        if (text.contains(QStringLiteral("\"ok\":")) && ++done == count)
            QMetaObject::invokeMethod(
                qApp, [] { QTimer::singleShot(100, qApp, &QCoreApplication::quit); });
    });
    QObject::connect(socket, &QWebSocket::connected, socket, [&] {
        auto* timer = new QTimer(socket);
        timer->setSingleShot(true);
        auto next = std::make_shared<int>(0);
        auto random = std::make_shared<std::mt19937>(7);
        QObject::connect(timer, &QTimer::timeout, socket, [&, timer, next, random] {
            const int i = (*next)++;
            sent[i] = now();
            socket->sendTextMessage(
                QStringLiteral("{\"command\": \"jump\", \"paragraph\": %1, \"id\": %2}")
                    .arg(i % 2 ? 20 : 10)
                    .arg(i));
            if (*next < count)
                timer->start(13 + static_cast<int>((*random)() % 11));
        });
        timer->start(200);
    });
    thread.start();
    QMetaObject::invokeMethod(socket, [socket, &server] {
        socket->open(
            QUrl(QStringLiteral("ws://127.0.0.1:%1/ws?token=%2").arg(server.port()).arg(kToken)));
    });
    QTimer::singleShot(120'000, qApp, &QCoreApplication::quit);
    QApplication::exec();
    QMetaObject::invokeMethod(
        socket, [socket] { delete socket; }, Qt::BlockingQueuedConnection);
    thread.quit();
    thread.wait();

    std::vector<double> toApplied, toShown;
    for (int i = 0; i < count; ++i)
        if (shown[i] > 0) {
            toApplied.push_back(applied[i] - sent[i]);
            toShown.push_back(shown[i] - sent[i]);
        }
    if (toShown.size() < static_cast<std::size_t>(count) * 9 / 10 || frames == 0) {
        std::fprintf(stderr,
                     "remote_bench: only %zu of %d commands were seen in a frame (%ld frames, "
                     "%s)\n",
                     toShown.size(), count, frames,
                     prompter.remote->state()
                         .substr(prompter.remote->state().find("\"paragraph\""))
                         .c_str());
        return 1;
    }
    std::printf("commands %zu, frames %ld\n", toShown.size(), frames);
    std::printf("sent to applied (median/p95) %.2f / %.2f ms\n", percentile(toApplied, 0.5),
                percentile(toApplied, 0.95));
    std::printf("sent to frame (median/p95) %.2f / %.2f ms\n", percentile(toShown, 0.5),
                percentile(toShown, 0.95));
    return 0;
}

int broadcast(int clients, int seconds) {
    // The window is not shown, so no frame is painted: what is measured is the remote's own
    // cost. A timer stands in for the frames (60 a second), each a possible change of state.
    Prompter prompter;
    prompter.window->hide();
    prompter::remote::RemoteServer server(*prompter.remote, kToken);
    if (server.listen(QHostAddress::LocalHost, 0))
        return 1;
    QTimer frames;
    QObject::connect(&frames, &QTimer::timeout, &server,
                     &prompter::remote::RemoteServer::stateMayHaveChanged);
    frames.start(16);
    const auto wait = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    const auto measure = [&](int wanted) {
        for (int waited = 0; server.clientCount() != wanted && waited < 20'000; waited += 50)
            wait(50);
        const double cpu = processCpuMs();
        QElapsedTimer window;
        window.start();
        wait(seconds * 1000);
        return (processCpuMs() - cpu) / static_cast<double>(window.elapsed());
    };
    double alone = 0, served = 0;
    QString report;
    for (int round = 0; round < 2; ++round) {
        alone += measure(0) / 2;
        QProcess others;
        others.start(QCoreApplication::applicationFilePath(),
                     {QStringLiteral("clients"), QString::number(server.port()), kToken,
                      QString::number(clients), QString::number(seconds + 2)});
        served += measure(clients) / 2;
        while (others.state() != QProcess::NotRunning)
            wait(50);
        report = QString::fromUtf8(others.readAllStandardOutput()).trimmed();
    }
    std::printf("no clients: %.2f %% of a core\n", alone * 100);
    std::printf("%d clients: %.2f %% of a core\n", clients, served * 100);
    std::printf("the state to %d clients costs %.2f %% of a core\n", clients,
                (served - alone) * 100);
    std::printf("%s\n", report.toUtf8().constData());
    return 0;
}

int listen(quint16 port, const QString& token, int clients, int seconds) {
    std::vector<std::unique_ptr<QWebSocket>> sockets;
    long messages = 0;
    double firstState = -1;
    for (int i = 0; i < clients; ++i) {
        sockets.push_back(std::make_unique<QWebSocket>());
        QObject::connect(sockets.back().get(), &QWebSocket::textMessageReceived, [&] {
            ++messages;
            if (firstState < 0)
                firstState = now();
        });
        sockets.back()->open(
            QUrl(QStringLiteral("ws://127.0.0.1:%1/ws?token=%2").arg(port).arg(token)));
    }
    QTimer::singleShot(seconds * 1000, qApp, &QCoreApplication::quit);
    QCoreApplication::exec();
    const double span = (now() - firstState) / 1000;
    std::printf("states received: %.1f a second per client\n",
                static_cast<double>(messages) / clients / std::max(span, 0.001));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "latency";
    if (mode == "clients" && argc == 6) {
        QCoreApplication application(argc, argv);
        return listen(static_cast<quint16>(std::stoi(argv[2])), QString::fromLatin1(argv[3]),
                      std::stoi(argv[4]), std::stoi(argv[5]));
    }
    QApplication application(argc, argv);
    if (mode == "latency")
        return latency(argc > 2 ? std::stoi(argv[2]) : 1000);
    if (mode == "broadcast")
        return broadcast(argc > 2 ? std::stoi(argv[2]) : 16, argc > 3 ? std::stoi(argv[3]) : 5);
    std::fprintf(stderr,
                 "usage: remote_bench latency [COMMANDS] | broadcast [CLIENTS] [SECONDS]\n");
    return 2;
}
