#include "prompter/remote/RemoteAccess.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkInterface>
#include <QRandomGenerator>
#include <QUrl>
#include <QUrlQuery>
#include <array>

namespace prompter::remote {
namespace {

constexpr qint64 kNamesRefreshMs = 5000;  // interfaces come and go (Wi-Fi, DHCP)

QByteArray digest(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
}

bool urlSafe(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == '.' || c == '~';
}

// "name:port", "[v6]:port" or a name alone, split; false when it is not one of these.
bool splitHost(const QByteArray& host, QString* name, std::optional<quint16>* port) {
    QByteArray rest = host.trimmed();
    if (rest.isEmpty())
        return false;
    QByteArray portText;
    if (rest.startsWith('[')) {
        const qsizetype close = rest.indexOf(']');
        if (close < 0)
            return false;
        *name = QString::fromLatin1(rest.mid(1, close - 1));
        rest = rest.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(':'))
                return false;
            portText = rest.mid(1);
        }
    } else {
        const qsizetype colon = rest.indexOf(':');
        if (colon >= 0) {
            if (rest.indexOf(':', colon + 1) >= 0)
                return false;
            portText = rest.mid(colon + 1);
            rest = rest.left(colon);
        }
        *name = QString::fromLatin1(rest);
    }
    if (!portText.isNull()) {
        bool ok = false;
        const uint value = portText.toUInt(&ok);
        if (!ok || value == 0 || value > 65535)
            return false;
        *port = static_cast<quint16>(value);
    }
    return !name->isEmpty();
}

}  // namespace

bool sameSecret(const QByteArray& a, const QByteArray& b) {
    const QByteArray left = digest(a);
    const QByteArray right = digest(b);
    unsigned char difference = 0;
    for (qsizetype i = 0; i < left.size(); ++i)
        difference |= static_cast<unsigned char>(left[i] ^ right[i]);
    return difference == 0;
}

std::optional<QString> RemoteAccess::tokenProblem(const QByteArray& token) {
    if (token.size() < kMinTokenLength || token.size() > kMaxTokenLength)
        return QStringLiteral("%1 must hold %2 to %3 characters")
            .arg(QLatin1String(kTokenVariable))
            .arg(kMinTokenLength)
            .arg(kMaxTokenLength);
    for (const char c : token)
        if (!urlSafe(c))
            return QStringLiteral("%1 may hold only letters, digits and - _ . ~")
                .arg(QLatin1String(kTokenVariable));
    return std::nullopt;
}

std::optional<QByteArray> RemoteAccess::tokenForThisRun(QString* problem) {
    if (qEnvironmentVariableIsSet(kTokenVariable)) {
        const QByteArray token = qgetenv(kTokenVariable);
        if (auto wrong = tokenProblem(token)) {
            if (problem)
                *problem = *wrong;
            return std::nullopt;
        }
        return token;
    }
    // One token a run: a remote switched off and on again in the settings window is found at
    // the address the phones were given.
    static const QByteArray random = [] {
        std::array<quint32, 4> bits{};
        QRandomGenerator::system()->fillRange(bits.data(), bits.size());
        return QByteArray(reinterpret_cast<const char*>(bits.data()), sizeof bits).toHex();
    }();
    return random;
}

RemoteAccess::RemoteAccess(QByteArray token, quint16 port)
    : token_(std::move(token)), tokenDigest_(digest(token_)), port_(port) {}

bool RemoteAccess::tokenMatches(const QByteArray& query, const QByteArray& authorization) const {
    static const QByteArray bearer("Bearer ");
    if (authorization.startsWith(bearer))
        return sameSecret(authorization.mid(bearer.size()).trimmed(), token_);
    if (!authorization.isEmpty())
        return false;
    const QUrlQuery items(QString::fromLatin1(query));
    const QList<QString> given =
        items.allQueryItemValues(QStringLiteral("token"), QUrl::FullyDecoded);
    return given.size() == 1 && sameSecret(given.front().toUtf8(), token_);
}

bool RemoteAccess::nameIsThisMachine(const QString& name) const {
    if (!namesAge_.isValid() || namesAge_.elapsed() > kNamesRefreshMs || names_.isEmpty()) {
        names_.clear();
        names_ << QStringLiteral("localhost");
        const QString hostName = QHostInfo::localHostName().toLower();
        if (!hostName.isEmpty()) {
            names_ << hostName << hostName + QStringLiteral(".local");
            const QString domain = QHostInfo::localDomainName().toLower();
            if (!domain.isEmpty())
                names_ << hostName + QLatin1Char('.') + domain;
        }
        for (const QHostAddress& address : QNetworkInterface::allAddresses()) {
            QHostAddress plain = address;
            plain.setScopeId({});
            names_ << plain.toString().toLower();
            bool isV4 = false;
            const quint32 v4 = address.toIPv4Address(&isV4);
            if (isV4)
                names_ << QHostAddress(v4).toString();
        }
        namesAge_.start();
    }
    QString wanted = name.toLower();
    if (wanted.endsWith(QLatin1Char('.')))
        wanted.chop(1);
    const QHostAddress literal(wanted);
    if (!literal.isNull())
        wanted = literal.toString().toLower();
    return names_.contains(wanted);
}

bool RemoteAccess::hostIsThisServer(const QByteArray& host) const {
    QString name;
    std::optional<quint16> port;
    if (!splitHost(host, &name, &port))
        return false;
    return port.value_or(80) == port_ && nameIsThisMachine(name);
}

bool RemoteAccess::originIsThisServer(const QByteArray& origin) const {
    if (origin.isEmpty())
        return true;
    static const QByteArray scheme("http://");
    if (!origin.startsWith(scheme))
        return false;
    return hostIsThisServer(origin.mid(scheme.size()));
}

bool RemoteAccess::admits(const QByteArray& query, const QByteArray& authorization,
                          const QByteArray& host, const QByteArray& origin) const {
    // Every check runs, so the time taken does not tell which one failed.
    const bool token = tokenMatches(query, authorization);
    const bool fromHere = hostIsThisServer(host);
    const bool sameSite = originIsThisServer(origin);
    return token && fromHere && sameSite;
}

}  // namespace prompter::remote
