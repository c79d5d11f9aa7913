#include "prompter/remote/RemoteSession.h"

#include <QLabel>
#include <QLayout>
#include <QPixmap>
#include <QVBoxLayout>

#include "prompter/remote/PromptRemote.h"
#include "prompter/remote/RemoteFollower.h"
#include "prompter/remote/RemoteQr.h"
#include "prompter/remote/RemoteServer.h"

namespace prompter::remote {
namespace {

constexpr int kQrScale = 4;  // pixels a module in the window

// The QR code and the address, under the library's list.
QWidget* showInLibrary(LibraryView& library, const QString& address) {
    const auto qr = RemoteQr::encode(address);
    auto* panel = new QWidget(&library);
    panel->setObjectName(QStringLiteral("remotePanel"));
    auto* layout = new QHBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    if (qr) {
        auto* code = new QLabel(panel);
        code->setPixmap(QPixmap::fromImage(qr->image(kQrScale)));
        code->setAccessibleName(QStringLiteral("QR code of the remote's address"));
        layout->addWidget(code);
    }
    auto* text = new QLabel(
        QStringLiteral("<b>Remote control</b><br>Scan the code with a phone on this network, or "
                       "open<br><tt>%1</tt><br>Anyone with this address can drive the prompter.")
            .arg(address.toHtmlEscaped()),
        panel);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    text->setWordWrap(true);
    layout->addWidget(text, 1);
    if (library.layout())
        library.layout()->addWidget(panel);
    return panel;
}

}  // namespace

std::optional<ListenAddress> readListenAddress(const QString& text, QString* problem) {
    const auto fail = [&](const QString& why) -> std::optional<ListenAddress> {
        if (problem)
            *problem = QStringLiteral(
                           "--remote wants [ADDRESS:]PORT, such as 8080 or "
                           "127.0.0.1:8080; %1")
                           .arg(why);
        return std::nullopt;
    };
    QString host;
    QString portText = text;
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon >= 0) {
        host = text.left(colon);
        portText = text.mid(colon + 1);
        if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']')))
            host = host.mid(1, host.size() - 2);
        else if (host.contains(QLatin1Char(':')))
            return fail(QStringLiteral("write an IPv6 address in brackets, as [::1]:8080"));
    }
    bool ok = false;
    const uint port = portText.toUInt(&ok);
    if (!ok || port > 65535)
        return fail(QStringLiteral("%1 is not a port (0 to 65535)").arg(portText));
    ListenAddress where;
    where.port = static_cast<quint16>(port);
    if (host.isEmpty()) {
        where.address = QHostAddress::Any;
    } else if (host == QLatin1String("localhost")) {
        where.address = QHostAddress::LocalHost;
    } else if (!where.address.setAddress(host)) {
        return fail(QStringLiteral("%1 is not an IP address").arg(host));
    }
    return where;
}

std::unique_ptr<RemoteSession> RemoteSession::start(const ListenAddress& where,
                                                    PromptRemote& prompt, LibraryView* library,
                                                    QString* failure) {
    const auto token = RemoteAccess::tokenForThisRun(failure);
    if (!token)
        return nullptr;
    std::unique_ptr<RemoteSession> session(new RemoteSession);
    session->server_ = std::make_unique<RemoteServer>(prompt, *token);
    if (auto problem = session->server_->listen(where.address, where.port)) {
        if (failure)
            *failure = *problem;
        return nullptr;
    }
    connect(&prompt, &PromptRemote::changed, session->server_.get(),
            &RemoteServer::stateMayHaveChanged);
    if (library)
        session->panel_ = showInLibrary(*library, session->pageAddress());
    return session;
}

RemoteSession::~RemoteSession() {
    delete panel_.data();
}

QString RemoteSession::pageAddress() const {
    return server_->pageAddresses().front();
}

void RemoteSession::setFollower(RemoteFollower& follower) {
    connect(&follower, &RemoteFollower::changed, server_.get(), &RemoteServer::stateMayHaveChanged);
}

QString RemoteSession::announcement() const {
    const QStringList addresses = server_->pageAddresses();
    QString text = QStringLiteral("Remote control on port %1. Open on a phone on this network:\n")
                       .arg(server_->port());
    for (const QString& address : addresses)
        text += QStringLiteral("  %1\n").arg(address);
    text += QStringLiteral("Anyone with this address can drive the prompter.\n");
    if (const auto qr = RemoteQr::encode(addresses.front()))
        text += qr->terminalText();
    return text;
}

}  // namespace prompter::remote
