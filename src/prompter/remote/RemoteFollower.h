// RemoteFollower: `--follow URL`, a second prompter kept in step with a first one (a second
// camera, a backup rig).
//
// It connects to the leader's remote as any remote does (the token from the address, else from
// QUORVANE_REMOTE_TOKEN), fetches the script the leader prompts and prompts it with this
// prompter's own settings (mirror, size, screen), and from each state the leader sends sets its
// motion: the same speed, running or paused as the leader, and the place, corrected whenever it
// drifts from the leader's by more than half a frame's reading (between two states both move
// at the same speed, so the place needs little correction). When the link
// drops it holds where it is, says so on the prompt, and tries again, by itself, until the
// leader answers; then it takes up the leader's place again.
#pragma once

#include <QLabel>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrl>
#include <QWebSocket>
#include <optional>

#include "prompter/PrompterWindow.h"
#include "prompter/remote/RemoteCommand.h"

namespace prompter::remote {

class RemoteFollower : public QObject {
    Q_OBJECT

  public:
    // A place that differs from the leader's by more than the words read in this time is
    // corrected at once: half a frame, so that both show the same picture.
    static constexpr double kDriftMs = 8;
    static constexpr int kFirstRetryMs = 500;
    static constexpr int kLastRetryMs = 5000;

    // Reads the leader's address (http://HOST:PORT/?token=..., or without the token when
    // QUORVANE_REMOTE_TOKEN holds it): the page's address as the leader printed it. Nothing,
    // and the problem in words, when it is not such an address.
    [[nodiscard]] static std::optional<QUrl> socketAddress(const QString& leader, QString* problem);

    RemoteFollower(PrompterWindow& window, QUrl socket, QObject* parent = nullptr);

    void start();
    [[nodiscard]] bool isConnected() const { return connected_; }
    [[nodiscard]] const std::optional<RemoteState>& leaderState() const { return leader_; }

  signals:
    void changed();
    // The leader's script, saved at `path`, is prompted here now.
    void prompting(const QString& path);

  private:
    void onMessage(const QString& message);
    void onDisconnected();
    void fetchScript(const std::string& id);
    void follow(const RemoteState& state);
    void showLink();

    PrompterWindow& window_;
    QUrl socketUrl_;
    QByteArray token_;
    QWebSocket socket_;
    QNetworkAccessManager network_;
    QTimer retry_;
    int retryMs_ = kFirstRetryMs;
    bool connected_ = false;
    std::optional<RemoteState> leader_;
    std::string shownId_;     // the leader's script this prompter shows
    std::string fetchingId_;  // the one being fetched
    QTemporaryDir scripts_;   // the leader's scripts, kept out of this prompter's library
    int fetched_ = 0;
    QString shownPath_;
    QPointer<QLabel> banner_;
};

}  // namespace prompter::remote
