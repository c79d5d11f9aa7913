// RemoteSession: what `--remote [ADDRESS:]PORT` starts: the server, the prompt it drives, and
// where a person finds it (the addresses and the QR code on the terminal and in the library).
//
// ADDRESS defaults to every address of the machine: the phone is on the local network, not on
// this machine, and the token keeps out those who were not shown it. `--remote 127.0.0.1:PORT`
// keeps the remote to this machine. PORT 0 takes any free port (printed).
#pragma once

#include <QHostAddress>
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>
#include <optional>

#include "prompter/LibraryView.h"

namespace prompter::remote {

class PromptRemote;
class RemoteFollower;
class RemoteServer;

struct ListenAddress {
    QHostAddress address;
    quint16 port = 0;
};

// "PORT", "ADDRESS:PORT" or "[IPV6]:PORT"; the problem in words when it is none of these.
[[nodiscard]] std::optional<ListenAddress> readListenAddress(const QString& text, QString* problem);

class RemoteSession : public QObject {
    Q_OBJECT

  public:
    // Starts serving `prompt`, and shows the address and its QR code under `library`'s list
    // (when given) for as long as the session lasts; nothing, and the failure in words, when it
    // cannot.
    [[nodiscard]] static std::unique_ptr<RemoteSession> start(const ListenAddress& where,
                                                              PromptRemote& prompt,
                                                              LibraryView* library,
                                                              QString* failure);
    ~RemoteSession() override;

    // What to print on the terminal: the addresses, what they give, and the QR code.
    [[nodiscard]] QString announcement() const;
    // The page's first address (token included): what the QR code holds.
    [[nodiscard]] QString pageAddress() const;
    // This prompter follows another: its state says whether the link is up.
    void setFollower(RemoteFollower& follower);
    [[nodiscard]] RemoteServer& server() { return *server_; }

  private:
    RemoteSession() = default;

    std::unique_ptr<RemoteServer> server_;
    QPointer<QWidget> panel_;  // in the library
};

}  // namespace prompter::remote
