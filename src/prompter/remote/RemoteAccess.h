// RemoteAccess: who may drive the prompter over the network.
//
// Three checks, every request and every socket:
// - the token: 128 random bits made for this run (or QUORVANE_REMOTE_TOKEN, for rigs and
//   tests), given as the `token` query parameter (what the QR code's address carries) or as
//   `Authorization: Bearer TOKEN`; compared in constant time;
// - the Host header names this server: one of this machine's addresses, `localhost` or its host
//   name, at the port it listens on. A page of another site whose name was pointed at this
//   machine (DNS rebinding) sends its own name, and is refused;
// - the Origin header, when there is one (browsers always send it from scripts), names this
//   server the same way, so no other site's page can use a browser as a way in.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace prompter::remote {

class RemoteAccess {
  public:
    static constexpr const char* kTokenVariable = "QUORVANE_REMOTE_TOKEN";
    static constexpr int kMinTokenLength = 16;
    static constexpr int kMaxTokenLength = 256;

    // The token for this run: QUORVANE_REMOTE_TOKEN when set, else 128 random bits as 32
    // hexadecimal digits. Nothing, and the problem in words, when the variable holds a token
    // that is too short or has characters an address cannot carry as they are.
    [[nodiscard]] static std::optional<QByteArray> tokenForThisRun(QString* problem);
    [[nodiscard]] static std::optional<QString> tokenProblem(const QByteArray& token);

    RemoteAccess(QByteArray token, quint16 port);

    [[nodiscard]] const QByteArray& token() const { return token_; }
    [[nodiscard]] quint16 port() const { return port_; }
    void setPort(quint16 port) { port_ = port; }

    // The token given in `query` (the part of the target after '?') or `authorization`.
    [[nodiscard]] bool tokenMatches(const QByteArray& query, const QByteArray& authorization) const;
    [[nodiscard]] bool hostIsThisServer(const QByteArray& host) const;
    // An empty Origin (none sent) passes.
    [[nodiscard]] bool originIsThisServer(const QByteArray& origin) const;
    // All three.
    [[nodiscard]] bool admits(const QByteArray& query, const QByteArray& authorization,
                              const QByteArray& host, const QByteArray& origin) const;

  private:
    [[nodiscard]] bool nameIsThisMachine(const QString& name) const;

    QByteArray token_;
    QByteArray tokenDigest_;
    quint16 port_;
    mutable QStringList names_;  // this machine's addresses and names, refreshed now and then
    mutable QElapsedTimer namesAge_;
};

// Equal bytes, in a time that depends on neither's content (their digests are compared).
[[nodiscard]] bool sameSecret(const QByteArray& a, const QByteArray& b);

}  // namespace prompter::remote
