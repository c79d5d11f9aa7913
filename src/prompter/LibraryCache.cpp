#include "prompter/LibraryCache.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>

namespace prompter {
namespace {

// The file: this header, then entries, each its payload's length (4 bytes), the payload and
// its checksum (8 bytes); numbers little-endian. A payload: device, inode, size, change time,
// words (8 bytes each), then the name's and the title's lengths (2 bytes each) and bytes.
constexpr std::string_view kHeader = "quorvane library cache 1\n";
constexpr std::size_t kFixed = 5 * 8;
constexpr std::size_t kLargestPayload = kFixed + 2 + 4096 + 2 + 4096;
constexpr qint64 kLargestFile = qint64{64} << 20;

std::uint64_t checksum(std::string_view bytes) {  // FNV-1a, 64 bits
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ULL;
    }
    return hash;
}

void append(std::string& out, std::uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::uint64_t take(std::string_view in, std::size_t at, int bytes) {
    std::uint64_t value = 0;
    for (int i = 0; i < bytes; ++i)
        value |= std::uint64_t{static_cast<unsigned char>(in[at + static_cast<std::size_t>(i)])}
                 << (8 * i);
    return value;
}

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

bool writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

}  // namespace

LibraryCache::LibraryCache(QString path) : path_(std::move(path)) {}

QString LibraryCache::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) +
           QLatin1String("/quorvane/library-cache");
}

int LibraryCache::openFolder(bool create) {
    const QString folder = QFileInfo(path_).absolutePath();
    const QByteArray encoded = QFile::encodeName(folder);
    int fd = ::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && create) {
        QDir().mkpath(QFileInfo(folder).absolutePath());
        if (::mkdir(encoded.constData(), 0700) != 0 && errno != EEXIST)
            return -1;
        fd = ::open(encoded.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0) {
        if (errno == ELOOP || errno == ENOTDIR)
            refusal_ = QStringLiteral(
                           "The library's cache folder %1 is a link or not a folder: "
                           "the cache is not used.")
                           .arg(folder);
        return -1;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || status.st_uid != ::geteuid()) {
        ::close(fd);
        refusal_ = QStringLiteral(
                       "The library's cache folder %1 is not yours: the cache is not "
                       "used.")
                       .arg(folder);
        return -1;
    }
    return fd;
}

void LibraryCache::load() {
    if (loadedOnce_)
        return;
    loadedOnce_ = true;
    const int folder = openFolder(false);
    if (folder < 0)
        return;
    const QByteArray name = QFile::encodeName(QFileInfo(path_).fileName());
    const int fd =
        ::openat(folder, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const int error = errno;
    ::close(folder);
    if (fd < 0) {
        if (error == ELOOP)
            refusal_ =
                QStringLiteral("The library's cache %1 is a link: it is not used.").arg(path_);
        return;
    }
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || status.st_uid != ::geteuid()) {
        ::close(fd);
        refusal_ = QStringLiteral("The library's cache %1 is not a file of yours: it is not used.")
                       .arg(path_);
        return;
    }
    // Read into memory that is not cleared first: every byte used is one read.
    const std::size_t size =
        status.st_size <= kLargestFile ? static_cast<std::size_t>(status.st_size) : 0;
    const std::unique_ptr<char[]> bytes(new char[size + 1]);
    std::size_t got = 0;
    while (got < size) {
        const ssize_t more = ::read(fd, bytes.get() + got, size - got);
        if (more < 0 && errno == EINTR)
            continue;
        if (more <= 0)
            break;
        got += static_cast<std::size_t>(more);
    }
    ::close(fd);
    const std::string_view in(bytes.get(), got);
    if (in.substr(0, kHeader.size()) != kHeader) {
        dropped_ = in.empty() ? 0 : 1;  // a foreign or garbled file: rewritten at the next save
        dirty_ = dropped_ > 0;
        return;
    }
    entries_.reserve(in.size() / 64);  // about an entry's size
    std::size_t at = kHeader.size();
    while (at < in.size()) {
        if (in.size() - at < 4) {
            ++dropped_;
            break;
        }
        const auto length = static_cast<std::size_t>(take(in, at, 4));
        if (length < kFixed + 4 || length > kLargestPayload || in.size() - at - 4 < length + 8) {
            ++dropped_;  // a length that cannot be: the rest cannot be told apart
            break;
        }
        const std::string_view payload = in.substr(at + 4, length);
        const std::uint64_t sum = take(in, at + 4 + length, 8);
        at += 4 + length + 8;
        const auto nameLength = static_cast<std::size_t>(take(payload, kFixed, 2));
        const std::size_t titleAt = kFixed + 2 + nameLength;
        if (checksum(payload) != sum || nameLength == 0 || titleAt + 2 > length ||
            titleAt + 2 + take(payload, titleAt, 2) != length) {
            ++dropped_;
            continue;
        }
        Entry entry;
        entry.key.device = take(payload, 0, 8);
        entry.key.inode = take(payload, 8, 8);
        entry.key.bytes = static_cast<std::int64_t>(take(payload, 16, 8));
        entry.key.changedNs = static_cast<std::int64_t>(take(payload, 24, 8));
        entry.words = static_cast<std::int64_t>(take(payload, 32, 8));
        const std::string_view fileName = payload.substr(kFixed + 2, nameLength);
        const std::string_view title = payload.substr(titleAt + 2);
        entry.title = QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size()));
        entries_.insert_or_assign(std::string(fileName), Slot{std::move(entry)});
        ++loaded_;
    }
    dirty_ = dropped_ > 0;
}

const LibraryCache::Entry* LibraryCache::find(std::string_view name, const Key& key) const {
    const auto at = entries_.find(name);
    if (at == entries_.end())
        return nullptr;
    // Two threads may look for one name at once (a listing that met a name twice, as one can
    // while the folder changes): the note is made so that both may.
    std::atomic_ref<std::uint32_t>(at->second.seenIn).store(listing_, std::memory_order_relaxed);
    return at->second.entry.key == key ? &at->second.entry : nullptr;
}

void LibraryCache::put(std::string_view name, Entry entry) {
    auto at = entries_.find(name);
    if (at == entries_.end()) {
        entries_.emplace(std::string(name), Slot{std::move(entry), listing_});
    } else {
        at->second.seenIn = listing_;
        const Entry& old = at->second.entry;
        if (old.key == entry.key && old.words == entry.words && old.title == entry.title)
            return;
        at->second.entry = std::move(entry);
    }
    dirty_ = true;
}

void LibraryCache::remove(std::string_view name) {
    if (const auto at = entries_.find(name); at != entries_.end()) {
        entries_.erase(at);
        dirty_ = true;
    }
}

void LibraryCache::startListing() {
    ++listing_;  // every note of an earlier listing is now one of a listing past
}

void LibraryCache::forgetUnseen() {
    for (auto at = entries_.begin(); at != entries_.end();) {
        if (at->second.seenIn != listing_) {
            at = entries_.erase(at);
            dirty_ = true;
        } else {
            ++at;
        }
    }
}

std::optional<QString> LibraryCache::save() {
    if (refusal_)
        return refusal_;
    std::string out(kHeader);
    out.reserve(kHeader.size() + entries_.size() * 96);
    std::string payload;
    for (const auto& [name, slot] : entries_) {
        const Entry& entry = slot.entry;
        const QByteArray title = entry.title.toUtf8();
        if (name.empty() || name.size() > 4096 || title.size() > 4096)
            continue;
        payload.clear();
        append(payload, entry.key.device, 8);
        append(payload, entry.key.inode, 8);
        append(payload, static_cast<std::uint64_t>(entry.key.bytes), 8);
        append(payload, static_cast<std::uint64_t>(entry.key.changedNs), 8);
        append(payload, static_cast<std::uint64_t>(entry.words), 8);
        append(payload, static_cast<std::uint64_t>(name.size()), 2);
        payload += name;
        append(payload, static_cast<std::uint64_t>(title.size()), 2);
        payload.append(title.constData(), static_cast<std::size_t>(title.size()));
        append(out, payload.size(), 4);
        out += payload;
        append(out, checksum(payload), 8);
    }
    // Under a file size limit the cache would pass, writing it would end the program (SIGXFSZ):
    // it is left unwritten instead.
    rlimit limit{};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        out.size() > limit.rlim_cur)
        return QStringLiteral("The library's cache is larger than the file size limit.");
    const int folder = openFolder(true);
    if (folder < 0)
        return refusal_.value_or(
            QStringLiteral("Cannot make the library's cache folder: %1").arg(systemError(errno)));
    const QByteArray name = QFile::encodeName(QFileInfo(path_).fileName());
    struct stat status {};
    if (::fstatat(folder, name.constData(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
        (!S_ISREG(status.st_mode) || status.st_uid != ::geteuid())) {
        ::close(folder);
        refusal_ = QStringLiteral("The library's cache %1 is not a file of yours: it is not used.")
                       .arg(path_);
        return refusal_;
    }
    std::random_device random;
    const QByteArray temporary = '.' + name + '-' + QByteArray::number(random(), 16);
    const int fd = ::openat(folder, temporary.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        const int error = errno;
        ::close(folder);
        return QStringLiteral("Cannot write the library's cache: %1").arg(systemError(error));
    }
    bool ok = writeAll(fd, out) && ::fsync(fd) == 0;
    int error = errno;
    ok = ::close(fd) == 0 && ok;
    if (ok && ::renameat(folder, temporary.constData(), folder, name.constData()) == 0) {
        (void)::fsync(folder);
        ::close(folder);
        dirty_ = false;
        return std::nullopt;
    }
    error = error ? error : errno;
    ::unlinkat(folder, temporary.constData(), 0);
    ::close(folder);
    return QStringLiteral("Cannot write the library's cache: %1").arg(systemError(error));
}

}  // namespace prompter
