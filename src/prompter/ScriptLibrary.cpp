#include "prompter/ScriptLibrary.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QLocale>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <random>
#include <thread>
#include <variant>

#include "handover/TextCharacters.h"
#include "handover/TextTitle.h"
#include "prompter/Beside.h"
#include "prompter/ScriptIndex.h"
#include "reader/TextTitle.h"

namespace prompter {
namespace {

constexpr qsizetype kTitleLength = 120;       // characters of the title line shown
constexpr qint64 kSettledNs = 2'000'000'000;  // a count is kept once its file is this old
constexpr std::size_t kTwoThreadsFrom = 512;  // scripts a listing looks at on two threads

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// A script's title as the list shows it: its title line by the hand-over's one rule (the one the
// receiver named its file by: Unicode line breaks and white space), cut to kTitleLength
// characters.
QString titleOf(std::string_view head) {
    if (head.substr(0, 3) == "\xEF\xBB\xBF")
        head.remove_prefix(3);
    const std::string title = handover::titleOf(head.substr(0, reader::kTitleReadLimit));
    return QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())).left(kTitleLength);
}

// The title line and the words of the script open as `fd` (counted as the prompting view
// counts them: cues left out), read in one pass in chunks. Takes the descriptor (closes it);
// whether the whole file was read.
bool countScript(int fd, QString* title, qint64* words) {
    std::string head;
    ScriptIndex::WordCount count;
    char buffer[65536];
    bool whole = true;
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            whole = got == 0;
            break;
        }
        const std::string_view piece(buffer, static_cast<std::size_t>(got));
        count.feed(piece);
        if (head.size() < reader::kTitleReadLimit + 3)
            head.append(piece.substr(0, reader::kTitleReadLimit + 3 - head.size()));
    }
    ::close(fd);
    *words = static_cast<qint64>(count.total());
    *title = titleOf(head);
    return whole;
}

qint64 nanoseconds(const struct statx_timestamp& time) {
    return time.tv_sec * 1'000'000'000LL + time.tv_nsec;
}

QString readingTime(qint64 words, double speed) {
    const auto seconds = static_cast<qint64>(std::ceil(static_cast<double>(words) / speed * 60));
    if (seconds >= 3600)
        return QStringLiteral("%1 h %2 min").arg(seconds / 3600).arg(seconds % 3600 / 60);
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

// Newest first; names in order among those that arrived together.
bool listedBefore(const ScriptEntry& a, const ScriptEntry& b) {
    if (a.arrivedMs != b.arrivedMs)
        return a.arrivedMs > b.arrivedMs;
    return a.fileName < b.fileName;
}

bool isAscii(std::string_view bytes) {
    return std::all_of(bytes.begin(), bytes.end(),
                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// What a name may not hold, as the receiver's names do not: control characters, and the marks
// that could make a name read other than it is.
bool isUnsafeCharacter(char32_t c) {
    return handover::isControl(c) || handover::isDirectionControl(c);
}

}  // namespace

ScriptLibrary::ScriptLibrary(QString folder, QObject* parent, QString cachePath)
    : QAbstractTableModel(parent), folder_(std::move(folder)), cache_(std::move(cachePath)) {
    apply_.setSingleShot(true);
    apply_.setInterval(0);
    connect(&apply_, &QTimer::timeout, this, &ScriptLibrary::applyPending);
    countTimer_.setInterval(0);
    connect(&countTimer_, &QTimer::timeout, this, &ScriptLibrary::countWaiting);
    saveTimer_.setSingleShot(true);
    saveTimer_.setInterval(2000);
    connect(&saveTimer_, &QTimer::timeout, this, &ScriptLibrary::saveCache);
    cacheLoading_ = beside([this] { cache_.load(); });
}

LibraryCache& ScriptLibrary::loadedCache() const {
    if (cacheLoading_.joinable())
        cacheLoading_.join();
    return const_cast<LibraryCache&>(cache_);
}

const LibraryCache& ScriptLibrary::cache() const {
    return loadedCache();
}

ScriptLibrary::~ScriptLibrary() {
    saveCache();
    notifier_.reset();
    if (inotify_ >= 0)
        ::close(inotify_);
    if (folderFd_ >= 0)
        ::close(folderFd_);
}

QString ScriptLibrary::defaultFolder() {
    return QDir::homePath() + QLatin1String("/Teleprompter");
}

QString ScriptLibrary::oldFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QLatin1String("/quorvane/scripts");
}

QString ScriptLibrary::shownName(const QString& fileName) {
    return fileName.endsWith(QLatin1String(".txt"), Qt::CaseInsensitive) && fileName.size() > 4
               ? fileName.chopped(4)
               : fileName;
}

QString ScriptLibrary::fileNameFor(const QString& shown, const QString& fileName) {
    const QString name = shown.trimmed();
    const QString suffix = fileName.right(4);
    if (shownName(fileName) != fileName && !name.endsWith(suffix, Qt::CaseInsensitive))
        return name + suffix;
    return name;
}

namespace {

// "Name (2).txt" for "Name.txt" and 2.
QString numbered(const QString& fileName, int number) {
    const QString shown = ScriptLibrary::shownName(fileName);
    return QStringLiteral("%1 (%2)%3").arg(shown).arg(number).arg(fileName.mid(shown.size()));
}

bool sameBytes(int first, int second) {
    char a[65536];
    char b[65536];
    for (;;) {
        const ssize_t got = ::read(first, a, sizeof a);
        if (got < 0)
            return false;
        ssize_t other = 0;
        while (other < got) {
            const ssize_t more = ::read(second, b + other, static_cast<std::size_t>(got - other));
            if (more <= 0)
                return false;
            other += more;
        }
        if (got == 0)
            return ::read(second, b, 1) == 0;
        if (std::memcmp(a, b, static_cast<std::size_t>(got)) != 0)
            return false;
    }
}

// Copies the file open as `source` to a new hidden file of `folder`, synced; its name, or empty.
QByteArray copyAside(int source, int folder) {
    std::random_device random;
    const QByteArray temporary = ".move-" + QByteArray::number(random(), 16);
    const int fd = ::openat(folder, temporary.constData(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return {};
    char buffer[65536];
    bool ok = true;
    for (;;) {
        const ssize_t got = ::read(source, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < got;) {
            const ssize_t wrote = ::write(fd, buffer + done, static_cast<std::size_t>(got - done));
            if (wrote < 0 && errno == EINTR)
                continue;
            ok = wrote > 0;
            done += std::max<ssize_t>(wrote, 0);
        }
        if (!ok)
            break;
    }
    ok = ok && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        ::unlinkat(folder, temporary.constData(), 0);
        return {};
    }
    return temporary;
}

}  // namespace

int ScriptLibrary::moveIn(const QString& from, QStringList* problems) {
    if (folderFd_ < 0)
        return 0;
    const int source = ::open(QFile::encodeName(from).constData(),
                              O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (source < 0)
        return 0;  // no old folder (or a link, never followed): nothing to move
    struct stat folderStatus {};
    struct stat ownStatus {};
    ::fstat(source, &folderStatus);
    ::fstat(folderFd_, &ownStatus);
    if (folderStatus.st_uid != ::geteuid() ||
        (folderStatus.st_dev == ownStatus.st_dev && folderStatus.st_ino == ownStatus.st_ino)) {
        ::close(source);
        return 0;
    }
    const int listing = ::dup(source);
    DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
    if (!dir && listing >= 0)
        ::close(listing);
    int moved = 0;
    QStringList names;
    while (dir) {
        const dirent* item = ::readdir(dir);
        if (!item)
            break;
        if (item->d_name[0] != '.')
            names << QFile::decodeName(item->d_name);
    }
    if (dir)
        ::closedir(dir);
    for (const QString& name : names) {
        const QByteArray encoded = QFile::encodeName(name);
        struct stat status {};
        if (::fstatat(source, encoded.constData(), &status, AT_SYMLINK_NOFOLLOW) != 0 ||
            !S_ISREG(status.st_mode))
            continue;
        QString problem;
        bool done = false;
        for (int number = 1; number < 1000 && !done && problem.isEmpty(); ++number) {
            const QString target = number == 1 ? name : numbered(name, number);
            const QByteArray targetName = QFile::encodeName(target);
            if (::renameat2(source, encoded.constData(), folderFd_, targetName.constData(),
                            RENAME_NOREPLACE) == 0) {
                done = true;
                break;
            }
            if (errno == EEXIST) {
                continue;
            }
            if (errno != EXDEV) {
                problem = systemError(errno);
                break;
            }
            // Another file system: copied, synced and linked in under a free name, then the
            // original removed. A whole copy left by an interrupted run counts as moved.
            const int original =
                ::openat(source, encoded.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (original < 0) {
                problem = systemError(errno);
                break;
            }
            const int existing =
                ::openat(folderFd_, targetName.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
            if (existing >= 0) {
                const bool same = sameBytes(original, existing);
                ::close(existing);
                ::close(original);
                if (same) {
                    ::unlinkat(source, encoded.constData(), 0);
                    done = true;
                }
                continue;
            }
            const QByteArray temporary = copyAside(original, folderFd_);
            ::close(original);
            if (temporary.isEmpty()) {
                problem = QStringLiteral("cannot copy it");
                break;
            }
            const int linked =
                ::linkat(folderFd_, temporary.constData(), folderFd_, targetName.constData(), 0);
            const int error = errno;
            ::unlinkat(folderFd_, temporary.constData(), 0);
            if (linked == 0) {
                (void)::fsync(folderFd_);
                ::unlinkat(source, encoded.constData(), 0);
                done = true;
            } else if (error != EEXIST) {
                problem = systemError(error);
            }
        }
        if (done)
            ++moved;
        else if (problems)
            problems->append(
                QStringLiteral("Cannot move \u201c%1\u201d from %2 into the library: %3")
                    .arg(name, from, problem.isEmpty() ? QStringLiteral("no free name") : problem));
    }
    ::close(source);
    if (moved > 0) {
        (void)::fsync(folderFd_);
        refresh();
    }
    return moved;
}

QString ScriptLibrary::pathOf(const QString& fileName) const {
    return folder_ + QLatin1Char('/') + fileName;
}

std::optional<QString> ScriptLibrary::ensureFolder() {
    if (const auto failure = attach(true))
        return failure;
    if (::faccessat(folderFd_, ".", W_OK, 0) != 0)
        return QStringLiteral("The scripts folder %1 cannot be written: %2")
            .arg(folder_, systemError(errno));
    return std::nullopt;
}

// Opens the folder (making it first when `create`), checks it is the person's own, and watches
// it. A refusal empties the list and is kept in refusal_.
std::optional<QString> ScriptLibrary::attach(bool create) {
    if (folderFd_ >= 0)
        return refusal_;
    const QByteArray path = QFile::encodeName(folder_);
    int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT && create) {
        QDir().mkpath(QFileInfo(folder_).absolutePath());
        if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) {
            const QString failure = QStringLiteral("Cannot make the scripts folder %1: %2")
                                        .arg(folder_, systemError(errno));
            return failure;  // not a refusal: nothing of anyone's is there
        }
        fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (fd < 0) {
        const int error = errno;
        struct stat entry {};
        if (::lstat(path.constData(), &entry) == 0 && S_ISLNK(entry.st_mode)) {
            detach(QStringLiteral("The scripts folder %1 is a symbolic link: scripts are kept "
                                  "only in a real folder of yours, so nothing there is listed "
                                  "or taken in.")
                       .arg(folder_));
            return refusal_;
        }
        if (error == ENOTDIR) {
            detach(QStringLiteral("The scripts folder %1 is not a folder.").arg(folder_));
            return refusal_;
        }
        return QStringLiteral("Cannot open the scripts folder %1: %2")
            .arg(folder_, systemError(error));
    }
    struct stat status {};
    ::fstat(fd, &status);
    if (status.st_uid != ::geteuid()) {
        ::close(fd);
        detach(QStringLiteral("The scripts folder %1 belongs to another user: nothing there is "
                              "listed or taken in.")
                   .arg(folder_));
        return refusal_;
    }
    if ((status.st_mode & S_IWOTH) != 0) {
        ::close(fd);
        detach(QStringLiteral("Anyone may write in the scripts folder %1: nothing there is "
                              "listed or taken in (make it yours alone: chmod o-w).")
                   .arg(folder_));
        return refusal_;
    }
    folderFd_ = fd;
    refusal_.reset();
    watch();
    return std::nullopt;
}

void ScriptLibrary::detach(const QString& why) {
    refusal_ = why;
    notifier_.reset();
    if (inotify_ >= 0)
        ::close(inotify_);
    inotify_ = -1;
    if (folderFd_ >= 0)
        ::close(folderFd_);
    folderFd_ = -1;
    uncounted_.clear();
    countQueue_.clear();
    if (!entries_.empty()) {
        beginResetModel();
        entries_.clear();
        placed_.clear();
        placedStale_ = false;
        endResetModel();
    }
}

void ScriptLibrary::watch() {
    inotify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (inotify_ < 0)
        return;
    // The path is watched without following a link; the events name each file.
    if (::inotify_add_watch(inotify_, QFile::encodeName(folder_).constData(),
                            IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE |
                                IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR |
                                IN_DONT_FOLLOW | IN_EXCL_UNLINK) < 0) {
        ::close(inotify_);
        inotify_ = -1;
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(inotify_, QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &ScriptLibrary::readEvents);
}

void ScriptLibrary::readEvents() {
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        const ssize_t got = ::read(inotify_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        for (ssize_t at = 0; at < got;) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            if (event->mask & IN_Q_OVERFLOW)
                rescan_ = true;
            if (event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED | IN_UNMOUNT))
                reattach_ = true;
            if (event->len > 0) {
                const QString name = QFile::decodeName(event->name);
                // Written in place: the stamp may not tell (a change within the clock's tick
                // that keeps the size), so the bytes kept are dropped.
                if ((event->mask & IN_CLOSE_WRITE) && name == opened_.fileName)
                    opened_.bytes.reset();
                pending_.insert(name);
            }
        }
    }
    if (!apply_.isActive())
        apply_.start();
}

void ScriptLibrary::applyPending() {
    if (reattach_) {
        reattach_ = false;
        rescan_ = false;
        pending_.clear();
        detach({});
        refusal_.reset();
        refresh();
        return;
    }
    if (rescan_) {
        rescan_ = false;
        pending_.clear();
        refresh();
        return;
    }
    bool any = false;
    const QSet<QString> names = std::exchange(pending_, {});
    for (const QString& name : names)
        any = update(name) || any;
    if (any)
        emit changed();
    for (const QString& name : names)
        emit scriptChanged(name);
}

struct ScriptLibrary::Probe {
    bool regular = false;  // a regular file, reached without a link
    qint64 bytes = 0;
    qint64 arrivedMs = 0;
    LibraryCache::Key key;
    const LibraryCache::Entry* known = nullptr;
};

ScriptLibrary::Probe ScriptLibrary::probe(std::string_view encoded) const {
    Probe probe;
    if (folderFd_ < 0 || encoded.empty() || encoded.front() == '.')
        return probe;
    struct statx status {};
    if (::statx(folderFd_, encoded.data(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT,
                STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_CTIME | STATX_INO | STATX_BTIME,
                &status) != 0 ||
        !S_ISREG(status.stx_mode))
        return probe;
    probe.regular = true;
    probe.bytes = static_cast<qint64>(status.stx_size);
    const qint64 arrived = (status.stx_mask & STATX_BTIME) ? nanoseconds(status.stx_btime)
                                                           : nanoseconds(status.stx_mtime);
    probe.arrivedMs = arrived / 1'000'000;
    // The change time, not the modification time: no program can set it back, so an edit that
    // keeps the size and the modification time is still told apart.
    probe.key = {makedev(status.stx_dev_major, status.stx_dev_minor), status.stx_ino, probe.bytes,
                 nanoseconds(status.stx_ctime)};
    probe.known = cache_.find(encoded, probe.key);  // loaded before any probe
    return probe;
}

std::optional<ScriptEntry> ScriptLibrary::look(const QString& name, std::string_view encoded,
                                               bool later) {
    loadedCache();
    return row(name, encoded, probe(encoded), later);
}

std::optional<ScriptEntry> ScriptLibrary::row(const QString& name, std::string_view encoded,
                                              const Probe& probe, bool later) {
    if (!probe.regular)
        return std::nullopt;
    ScriptEntry entry;
    entry.fileName = name;
    entry.bytes = probe.bytes;
    entry.isNew = new_.contains(name);
    entry.arrivedMs = probe.arrivedMs;
    const LibraryCache::Key& key = probe.key;
    if (const LibraryCache::Entry* known = probe.known) {
        entry.title = known->title.isEmpty() ? name : known->title;
        entry.words = known->words;
        return entry;
    }
    if (later) {
        entry.title = name;
        entry.counted = false;
        return entry;
    }
    LibraryCache::Entry counted{key, {}, 0};
    bool read = false;
    if (opened_.bytes && name == opened_.fileName) {
        // The script open is counted from the bytes it is shown from, read once for both.
        const auto result = this->read(name);
        if (const auto* bytes = std::get_if<std::shared_ptr<const std::string>>(&result)) {
            ScriptIndex::WordCount count;
            count.feed(**bytes);
            counted.words = static_cast<qint64>(count.total());
            counted.title = titleOf(**bytes);
            read = true;
        }
    } else if (const int fd = ::openat(folderFd_, encoded.data(),
                                       O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
               fd >= 0) {
        QString title;
        qint64 words = 0;
        read = countScript(fd, &title, &words);
        counted.title = title;
        counted.words = words;
    }
    entry.title = counted.title.isEmpty() ? name : counted.title;
    entry.words = counted.words;
    // Kept under the stamp taken before the read: a change during it changes the change time,
    // so the next look counts again. A script that could not be read is not kept, nor one
    // changed in the last seconds: file systems stamp times by a clock that ticks coarsely, so
    // a second write within the same tick that keeps the size could not be told apart.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    const qint64 nowNs = now.tv_sec * 1'000'000'000LL + now.tv_nsec;
    if (read && nowNs - key.changedNs >= kSettledNs) {
        cache_.put(encoded, std::move(counted));
        if (!countTimer_.isActive() && cache_.dirty())
            saveTimer_.start();
    }
    return entry;
}

void ScriptLibrary::countWaiting() {
    QElapsedTimer spent;
    spent.start();
    // A few milliseconds at a time, so the window stays quick to answer while it counts.
    while (!countQueue_.empty() && spent.elapsed() < 8) {
        const QString name = std::move(countQueue_.front());
        countQueue_.pop_front();
        if (uncounted_.remove(name) && rowOf(name) >= 0)
            update(name);
    }
    if (countQueue_.empty()) {
        uncounted_.clear();
        countTimer_.stop();
        saveCache();
    }
}

void ScriptLibrary::saveCache() {
    saveTimer_.stop();
    loadedCache();
    if (cache_.dirty())
        (void)cache_.save();  // the cache only saves time: without it, scripts are counted anew
}

bool ScriptLibrary::update(const QString& name) {
    const int row = rowOf(name);
    if (row < 0 && listed_)
        new_.insert(name);  // landed while the window is open
    const QByteArray encoded = QFile::encodeName(name);
    std::optional<ScriptEntry> entry =
        look(name, std::string_view(encoded.constData(), static_cast<std::size_t>(encoded.size())));
    if (row >= 0) {
        ScriptEntry& old = entries_[static_cast<std::size_t>(row)];
        // A script saved by replacing its file (as editors and sync tools do) arrived when it
        // first did: it keeps its place in the list.
        if (entry)
            entry->arrivedMs = old.arrivedMs;
        if (entry) {
            if (entry->counted)
                uncounted_.remove(name);
            if (old.title == entry->title && old.bytes == entry->bytes &&
                old.words == entry->words && old.isNew == entry->isNew &&
                old.counted == entry->counted)
                return false;
            old = std::move(*entry);
            emit dataChanged(index(row, 0), index(row, kColumnCount - 1));
            return true;
        }
        beginRemoveRows({}, row, row);
        uncounted_.remove(name);
        loadedCache().remove(std::string_view(encoded.constData(), std::size_t(encoded.size())));
        placed_.remove(name);
        entries_.erase(entries_.begin() + row);
        endRemoveRows();
    }
    if (entry)
        insertSorted(std::move(*entry));
    return row >= 0 || entry.has_value();
}

void ScriptLibrary::insertSorted(ScriptEntry entry) {
    const auto at = std::lower_bound(entries_.begin(), entries_.end(), entry, listedBefore);
    const auto row = static_cast<int>(at - entries_.begin());
    beginInsertRows({}, row, row);
    if (!placedStale_)
        placed_.insert(entry.fileName, entry.arrivedMs);
    entries_.insert(at, std::move(entry));
    endInsertRows();
}

void ScriptLibrary::refresh() {
    if (folderFd_ < 0) {
        const QByteArray path = QFile::encodeName(folder_);
        struct stat entry {};
        if (::lstat(path.constData(), &entry) == 0)
            (void)attach(false);
    }
    std::vector<ScriptEntry> entries;
    QElapsedTimer spent;
    spent.start();
    if (folderFd_ >= 0) {
        const int listing = ::openat(folderFd_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        DIR* dir = listing >= 0 ? ::fdopendir(listing) : nullptr;
        if (!dir && listing >= 0)
            ::close(listing);
        // The names' bytes, each ending in a zero byte, one after the other.
        std::string bytes;
        struct Listed {
            std::size_t at;
            std::size_t size;
            QString name;
        };
        std::vector<Listed> listed;
        listed.reserve(entries_.size() + 64);
        bytes.reserve(listed.capacity() * 24);
        while (dir) {
            const dirent* item = ::readdir(dir);
            if (!item)
                break;
            if (item->d_name[0] == '.' || (item->d_type != DT_REG && item->d_type != DT_UNKNOWN))
                continue;
            const std::string_view encoded(item->d_name);
            listed.push_back({bytes.size(), encoded.size(), {}});
            bytes.append(encoded.data(), encoded.size() + 1);
        }
        if (dir)
            ::closedir(dir);
        // The cache's reading, begun with the library, is done by now or runs beside the listing.
        loadedCache().startListing();
        const auto encodedOf = [&bytes](const Listed& name) {
            return std::string_view(bytes.data() + name.at, name.size);
        };
        // Every name is decoded and its file looked at (one statx each) on two threads, each
        // its half; a file's probe touches only its own cache entry.
        std::vector<Probe> probes(listed.size());
        const auto probeFrom = [&](std::size_t from, std::size_t to) {
            for (std::size_t i = from; i < to; ++i) {
                const std::string_view encoded = encodedOf(listed[i]);
                const auto size = static_cast<qsizetype>(encoded.size());
                if (isAscii(encoded)) {  // the same characters in every encoding
                    listed[i].name = QString::fromLatin1(encoded.data(), size);
                    probes[i] = probe(encoded);
                    continue;
                }
                listed[i].name = QFile::decodeName(QByteArray::fromRawData(encoded.data(), size));
                // A name the system's encoding cannot give back is one no later step could
                // reach: left out.
                if (QFile::encodeName(listed[i].name) == encoded.data())
                    probes[i] = probe(encoded);
            }
        };
        const std::size_t half = listed.size() >= kTwoThreadsFrom ? listed.size() / 2 : 0;
        if (half > 0)
            inTwo([&] { probeFrom(0, half); }, [&] { probeFrom(half, listed.size()); });
        else
            probeFrom(0, listed.size());
        // Names seen at the first listing are not new; those that show up later are.
        if (listed_)
            for (std::size_t i = 0; i < listed.size(); ++i)
                if (probes[i].regular && rowOf(listed[i].name) < 0)
                    new_.insert(listed[i].name);
        listed_ = true;
        // The rows in their order (newest first), made in it: counted now for a short while,
        // the first rows first; after it, from the cache or later.
        std::vector<std::pair<qint64, std::size_t>> order;  // (arrival, index)
        order.reserve(listed.size());
        for (std::size_t i = 0; i < listed.size(); ++i)
            if (probes[i].regular)
                order.emplace_back(probes[i].arrivedMs, i);
        std::sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
            if (a.first != b.first)
                return a.first > b.first;
            return listed[a.second].name < listed[b.second].name;
        });
        entries.reserve(order.size());
        for (const auto& [arrived, i] : order) {
            // A listing of a folder that changes under it may give a name twice: one row.
            if (!entries.empty() && entries.back().fileName == listed[i].name)
                continue;
            if (auto made = row(listed[i].name, encodedOf(listed[i]), probes[i],
                                spent.elapsed() >= countingBudget_))
                entries.push_back(std::move(*made));
        }
    } else {
        loadedCache().startListing();  // a folder refused lists nothing: all is forgotten
    }
    loadedCache().forgetUnseen();  // what left the folder is forgotten
    // The rest are counted while idle, the rows shown first counted first.
    uncounted_.clear();
    countQueue_.clear();
    for (const ScriptEntry& entry : entries)
        if (!entry.counted) {
            uncounted_.insert(entry.fileName);
            countQueue_.push_back(entry.fileName);
        }
    if (!uncounted_.isEmpty())
        countTimer_.start();
    else if (cache_.dirty())
        saveTimer_.start();
    beginResetModel();
    entries_ = std::move(entries);
    // Where each name sorts is noted when a row is first looked for, not before the first
    // picture.
    placed_.clear();
    placedStale_ = true;
    endResetModel();
    emit changed();
}

// Found by where it sorts, so a burst of arrivals costs no walk over the whole list.
int ScriptLibrary::rowOf(const QString& fileName) const {
    if (placedStale_) {
        placedStale_ = false;
        placed_.reserve(static_cast<qsizetype>(entries_.size()));
        for (const ScriptEntry& entry : entries_)
            placed_.insert(entry.fileName, entry.arrivedMs);
    }
    const auto placed = placed_.constFind(fileName);
    if (placed == placed_.cend())
        return -1;
    ScriptEntry probe;
    probe.fileName = fileName;
    probe.arrivedMs = *placed;
    const auto at = std::lower_bound(entries_.begin(), entries_.end(), probe, listedBefore);
    return at != entries_.end() && at->fileName == fileName
               ? static_cast<int>(at - entries_.begin())
               : -1;
}

void ScriptLibrary::markNew(const QStringList& fileNames) {
    for (const QString& name : fileNames) {
        new_.insert(name);
        pending_.insert(name);
    }
    // Applied at once, so a caller that selects what was taken in finds it listed.
    applyPending();
}

void ScriptLibrary::setSpeed(double wordsPerMinute) {
    if (wordsPerMinute == speed_)
        return;
    speed_ = wordsPerMinute;
    if (!entries_.empty())
        emit dataChanged(index(0, kReadingTime), index(rowCount() - 1, kReadingTime));
}

ScriptFile::Result ScriptLibrary::read(const QString& fileName) {
    return ScriptFile::whole(start(fileName, ScriptFile::kMaxBytes, 0));  // always whole
}

ScriptFile::Started ScriptLibrary::start(const QString& fileName, std::uint64_t wholeUpTo,
                                         std::uint64_t headBytes) {
    if (folderFd_ < 0 && !refusal_)
        (void)attach(false);
    if (folderFd_ < 0)
        return ScriptReadError{
            refusal_.value_or(QStringLiteral("The scripts folder %1 is not open.").arg(folder_))};
    const QByteArray encoded = QFile::encodeName(fileName);
    constexpr unsigned kStampMask = STATX_TYPE | STATX_INO | STATX_SIZE | STATX_MTIME | STATX_CTIME;
    struct statx status {};
    if (opened_.bytes && opened_.fileName == fileName &&
        ::statx(folderFd_, encoded.constData(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, kStampMask,
                &status) == 0 &&
        S_ISREG(status.stx_mode) && FileStamp::of(status) == opened_.stamp)
        return ScriptFile::Start{opened_.bytes, {}};
    const int fd = ::openat(folderFd_, encoded.constData(),
                            O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0 || ::statx(fd, "", AT_EMPTY_PATH, kStampMask, &status) != 0) {
        if (fd >= 0)
            ::close(fd);
        return ScriptFile::started(
            ScriptFile::readAt(folderFd_, fileName, pathOf(fileName)));  // says why
    }
    if (status.stx_size > wholeUpTo)
        return ScriptFile::startOpen(fd, pathOf(fileName), wholeUpTo, headBytes);
    // Stamped before the read: a change while it reads makes the next read read again.
    auto result = ScriptFile::readOpen(fd, pathOf(fileName));
    if (const auto* bytes = std::get_if<std::shared_ptr<const std::string>>(&result))
        opened_ = {fileName, FileStamp::of(status), *bytes};
    return ScriptFile::started(std::move(result));
}

QString ScriptLibrary::nameProblem(const QString& name) {
    if (name.isEmpty())
        return QStringLiteral("a script's name cannot be empty");
    if (name.startsWith(QLatin1Char('.')))
        return QStringLiteral("a name starting with a dot would hide the script");
    if (name.contains(QLatin1Char('/')))
        return QStringLiteral("a name cannot hold \u201c/\u201d");
    for (const char32_t c : name.toUcs4())
        if (isUnsafeCharacter(c))
            return QStringLiteral("a name cannot hold control characters or direction marks");
    if (QFile::encodeName(name).size() >= 250)
        return QStringLiteral("the name is too long");
    return {};
}

std::optional<QString> ScriptLibrary::rename(const QString& fileName, const QString& newName) {
    if (folderFd_ < 0)
        return refusal_.value_or(QStringLiteral("The scripts folder %1 is not open.").arg(folder_));
    if (const QString problem = nameProblem(newName); !problem.isEmpty())
        return QStringLiteral("\u201c%1\u201d cannot be a script's name: %2.")
            .arg(newName.toHtmlEscaped(), problem);
    if (newName == fileName)
        return std::nullopt;
    const QByteArray from = QFile::encodeName(fileName);
    const QByteArray to = QFile::encodeName(newName);
    // Never over another script: the kernel refuses when the new name is taken.
    if (::renameat2(folderFd_, from.constData(), folderFd_, to.constData(), RENAME_NOREPLACE) !=
        0) {
        const int error = errno;
        return error == EEXIST
                   ? QStringLiteral("A script named \u201c%1\u201d already exists.").arg(newName)
                   : QStringLiteral("Cannot rename \u201c%1\u201d: %2")
                         .arg(fileName, systemError(error));
    }
    if (new_.remove(fileName))
        new_.insert(newName);
    pending_.insert(fileName);
    pending_.insert(newName);
    applyPending();
    return std::nullopt;
}

std::optional<QString> ScriptLibrary::moveToTrash(const QString& fileName, QString* trashed) {
    if (folderFd_ < 0)
        return refusal_.value_or(QStringLiteral("The scripts folder %1 is not open.").arg(folder_));
    struct stat status {};
    if (::fstatat(folderFd_, QFile::encodeName(fileName).constData(), &status,
                  AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(status.st_mode))
        return QStringLiteral("\u201c%1\u201d is not a script of the folder.").arg(fileName);
    QFile file(pathOf(fileName));
    if (!file.moveToTrash())
        return QStringLiteral("Cannot move \u201c%1\u201d to the trash: %2")
            .arg(fileName, file.errorString());
    if (trashed)
        *trashed = file.fileName();  // where it is in the trash now
    pending_.insert(fileName);
    applyPending();
    return std::nullopt;
}

std::optional<QString> ScriptLibrary::restoreFromTrash(const QString& trashed,
                                                       const QString& fileName) {
    if (folderFd_ < 0)
        return refusal_.value_or(QStringLiteral("The scripts folder %1 is not open.").arg(folder_));
    const QByteArray from = QFile::encodeName(trashed);
    if (::renameat2(AT_FDCWD, from.constData(), folderFd_, QFile::encodeName(fileName).constData(),
                    RENAME_NOREPLACE) != 0) {
        const int error = errno;
        return error == EEXIST
                   ? QStringLiteral(
                         "A script named \u201c%1\u201d exists again; the deleted one "
                         "stays in the trash.")
                         .arg(shownName(fileName))
                   : QStringLiteral("Cannot take \u201c%1\u201d back from the trash: %2")
                         .arg(shownName(fileName), systemError(error));
    }
    // The trash's note of where it came from goes too (Trash/files/X -> Trash/info/X.trashinfo).
    const QFileInfo inTrash(trashed);
    const QString info = QFileInfo(inTrash.absolutePath()).absolutePath() +
                         QStringLiteral("/info/") + inTrash.fileName() +
                         QStringLiteral(".trashinfo");
    ::unlink(QFile::encodeName(info).constData());
    pending_.insert(fileName);
    applyPending();
    return std::nullopt;
}

void ScriptLibrary::markSeen(const QString& fileName) {
    if (!new_.remove(fileName))
        return;
    pending_.insert(fileName);
    applyPending();
}

std::optional<QString> ScriptLibrary::add(const QByteArray& text, QString* fileName) {
    if (const auto failure = ensureFolder())
        return failure;
    // Named as the receiver names what it takes in, so both kinds of script look alike.
    const std::string title = reader::titleOf(std::string_view(
        text.constData(), static_cast<std::size_t>(std::min<qsizetype>(text.size(), 4096))));
    std::random_device random;
    for (unsigned attempt = 1; attempt < 1000; ++attempt) {
        const QString name = QString::fromStdString(reader::fileNameFor(title, attempt));
        // Written beside its name and linked in complete, so no reader sees half a script.
        const QByteArray temporary = ".paste-" + QByteArray::number(random(), 16);
        const int fd = ::openat(folderFd_, temporary.constData(),
                                O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0)
            return QStringLiteral("Cannot write in the scripts folder: %1").arg(systemError(errno));
        qsizetype done = 0;
        bool ok = true;
        while (done < text.size()) {
            const ssize_t wrote =
                ::write(fd, text.constData() + done, static_cast<std::size_t>(text.size() - done));
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote <= 0) {
                ok = false;
                break;
            }
            done += wrote;
        }
        ok = ok && ::fsync(fd) == 0;
        int error = errno;
        ok = ::close(fd) == 0 && ok;
        if (!ok) {
            error = error ? error : errno;
            ::unlinkat(folderFd_, temporary.constData(), 0);
            return QStringLiteral("Cannot write in the scripts folder: %1").arg(systemError(error));
        }
        const QByteArray encoded = QFile::encodeName(name);
        const int linked =
            ::linkat(folderFd_, temporary.constData(), folderFd_, encoded.constData(), 0);
        const int linkError = errno;
        ::unlinkat(folderFd_, temporary.constData(), 0);
        if (linked == 0) {
            (void)::fsync(folderFd_);
            *fileName = name;
            markNew(name);
            return std::nullopt;
        }
        if (linkError != EEXIST)
            return QStringLiteral("Cannot write in the scripts folder: %1")
                .arg(systemError(linkError));
    }
    return QStringLiteral("Cannot find a free name for the script.");
}

int ScriptLibrary::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(entries_.size());
}

int ScriptLibrary::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant ScriptLibrary::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const ScriptEntry& entry = entries_[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            switch (index.column()) {
                case kName:
                    return entry.isNew
                               ? QStringLiteral("\u25cf New \u2014 ") + shownName(entry.fileName)
                               : shownName(entry.fileName);
                case kArrived:
                    return QLocale().toString(
                        QDateTime::fromMSecsSinceEpoch(entry.arrivedMs, Qt::LocalTime),
                        QLocale::ShortFormat);
                case kLength:
                    if (!entry.counted)
                        return QStringLiteral("counting\u2026");
                    return QStringLiteral("%1 words").arg(QLocale().toString(entry.words));
                case kReadingTime:
                    if (!entry.counted)
                        return QStringLiteral("counting\u2026");
                    return readingTime(entry.words, speed_);
                default:
                    return {};
            }
        case Qt::ToolTipRole:
            return QStringLiteral("%1\n%2").arg(entry.title, pathOf(entry.fileName));
        case Qt::FontRole:
            if (entry.isNew && index.column() == kName) {
                QFont bold;
                bold.setBold(true);
                return bold;
            }
            return {};
        case kFileNameRole:
            return entry.fileName;
        default:
            return {};
    }
}

QVariant ScriptLibrary::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
        case kName:
            return QStringLiteral("Name");
        case kArrived:
            return QStringLiteral("Arrived");
        case kLength:
            return QStringLiteral("Length");
        case kReadingTime:
            return QStringLiteral("Reading time");
        default:
            return {};
    }
}

}  // namespace prompter
