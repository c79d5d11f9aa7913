#include "prompter/remote/RemoteFollower.h"

#include <QFile>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrlQuery>
#include <algorithm>
#include <cmath>

#include "prompter/PromptView.h"
#include "prompter/remote/PromptRemote.h"
#include "prompter/remote/RemoteAccess.h"

namespace prompter::remote {

std::optional<QUrl> RemoteFollower::socketAddress(const QString& leader, QString* problem) {
    const auto fail = [&](const QString& why) -> std::optional<QUrl> {
        if (problem)
            *problem = QStringLiteral(
                           "--follow wants the address the other prompter printed, "
                           "such as http://192.168.1.20:8080/?token=...; %1")
                           .arg(why);
        return std::nullopt;
    };
    const QUrl url(leader, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("http") || url.host().isEmpty())
        return fail(QStringLiteral("%1 is not an http:// address").arg(leader));
    if (url.port() <= 0)
        return fail(QStringLiteral("%1 names no port").arg(leader));
    QByteArray token =
        QUrlQuery(url).queryItemValue(QStringLiteral("token"), QUrl::FullyDecoded).toUtf8();
    if (token.isEmpty())
        token = qgetenv(RemoteAccess::kTokenVariable);
    if (token.isEmpty())
        return fail(QStringLiteral("it carries no token, and %1 is not set")
                        .arg(QLatin1String(RemoteAccess::kTokenVariable)));
    if (auto wrong = RemoteAccess::tokenProblem(token))
        return fail(QStringLiteral("its token is not one a prompter makes"));
    QUrl socket;
    socket.setScheme(QStringLiteral("ws"));
    socket.setHost(url.host());
    socket.setPort(url.port());
    socket.setPath(QStringLiteral("/ws"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("token"), QString::fromLatin1(token));
    socket.setQuery(query);
    return socket;
}

RemoteFollower::RemoteFollower(PrompterWindow& window, QUrl socket, QObject* parent)
    : QObject(parent),
      window_(window),
      socketUrl_(std::move(socket)),
      token_(QUrlQuery(socketUrl_).queryItemValue(QStringLiteral("token")).toUtf8()) {
    connect(&socket_, &QWebSocket::connected, this, [this] {
        connected_ = true;
        retryMs_ = kFirstRetryMs;
        showLink();
        emit changed();
    });
    connect(&socket_, &QWebSocket::disconnected, this, &RemoteFollower::onDisconnected);
    connect(&socket_, &QWebSocket::textMessageReceived, this, &RemoteFollower::onMessage);
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, [this] { socket_.open(socketUrl_); });
}

void RemoteFollower::start() {
    showLink();
    socket_.open(socketUrl_);
}

void RemoteFollower::onDisconnected() {
    const bool was = connected_;
    connected_ = false;
    // Hold: the presenter reads on from where the text stands, still.
    window_.promptView()->pause();
    showLink();
    retry_.start(retryMs_);
    retryMs_ = std::min(retryMs_ * 2, kLastRetryMs);
    if (was)
        emit changed();
}

void RemoteFollower::onMessage(const QString& message) {
    auto state = readState(message.toStdString());
    if (!state)
        return;  // a reply, not a state
    leader_ = std::move(state);
    if (!leader_->script || leader_->scriptId.empty()) {
        window_.promptView()->pause();  // the leader shows its library: hold
    } else if (leader_->scriptId == shownId_) {
        follow(*leader_);
    } else if (leader_->scriptId != fetchingId_) {
        fetchScript(leader_->scriptId);
    }
    emit changed();
}

void RemoteFollower::fetchScript(const std::string& id) {
    fetchingId_ = id;
    QUrl url = socketUrl_;
    url.setScheme(QStringLiteral("http"));
    url.setPath(QStringLiteral("/script"));
    url.setQuery(QString());
    QNetworkRequest request(url);
    request.setRawHeader("Authorization", "Bearer " + token_);
    QNetworkReply* reply = network_.get(request);
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        const std::string text = reply->readAll().toStdString();
        fetchingId_.clear();
        if (reply->error() != QNetworkReply::NoError || !leader_ || !leader_->script)
            return;
        const std::string id = PromptRemote::scriptIdOf(text);
        if (id != leader_->scriptId) {  // the leader moved on meanwhile: fetch what it shows
            fetchScript(leader_->scriptId);
            return;
        }
        const QString path = scripts_.filePath(QStringLiteral("leader-%1.txt").arg(++fetched_));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(text.data(), static_cast<qint64>(text.size())) !=
                static_cast<qint64>(text.size()))
            return;
        file.close();
        if (!window_.prompt(path, 0, Motion::still))
            return;
        if (!shownPath_.isEmpty())
            QFile::remove(shownPath_);  // the one before, not shown any more
        shownPath_ = path;
        shownId_ = id;
        emit prompting(path);
        follow(*leader_);
    });
}

void RemoteFollower::follow(const RemoteState& state) {
    PromptView* view = window_.promptView();
    if (window_.currentWidget() != view)
        return;  // the person here chose the library: this prompter does not pull them back
    if (view->motion().speed() != state.speed)
        view->setSpeed(state.speed);
    const bool moving = state.running && !state.countingDown;
    if (!moving && view->motion().isRunning())
        view->pause();
    const double tolerance = std::max(0.01, state.speed / 60000.0 * kDriftMs);
    if (std::abs(view->position() - state.position) > tolerance)
        view->jumpTo(state.position);
    if (moving && !view->motion().isRunning())
        view->resume();
}

void RemoteFollower::showLink() {
    if (!banner_) {
        banner_ = new QLabel(window_.promptView());
        banner_->setObjectName(QStringLiteral("followerBanner"));
        banner_->setStyleSheet(
            QStringLiteral("background: #b03a2e; color: white; font-size: 20px; padding: 8px;"));
        banner_->setAlignment(Qt::AlignCenter);
    }
    if (connected_) {
        banner_->hide();
        return;
    }
    banner_->setText(
        QStringLiteral("Not connected to the prompter this one follows (%1:%2): holding here, "
                       "trying again")
            .arg(socketUrl_.host())
            .arg(socketUrl_.port()));
    banner_->setGeometry(0, 0, window_.promptView()->width(), 48);
    banner_->show();
    banner_->raise();
}

}  // namespace prompter::remote
