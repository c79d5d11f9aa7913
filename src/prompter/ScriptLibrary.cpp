#include "prompter/ScriptLibrary.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "reader/TextTitle.h"

namespace prompter {
namespace {

constexpr qsizetype kTitleLength = 120;  // characters of the title line shown

QString systemError(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

// The title line and the words of a script, read in one pass in chunks.
void countScript(const QString& path, QString* title, qint64* words) {
    *title = QString();
    *words = 0;
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return;
    QByteArray head;
    bool titleDone = false;
    bool inWord = false;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        for (ssize_t i = 0; i < got; ++i) {
            const auto c = static_cast<unsigned char>(buffer[i]);
            if (c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f') {
                inWord = false;
            } else if (c >= 0xE3 && c <= 0xE9) {
                ++*words;
                inWord = false;
            } else if ((c & 0xC0) != 0x80 && !inWord) {
                inWord = true;
                ++*words;
            }
            if (!titleDone) {
                if (c == '\n' || c == '\r') {
                    if (!head.trimmed().isEmpty())
                        titleDone = true;
                    else
                        head.clear();
                } else if (head.size() < kTitleLength * 4) {
                    head.append(static_cast<char>(c));
                }
            }
        }
    }
    ::close(fd);
    if (head.startsWith("\xEF\xBB\xBF"))
        head.remove(0, 3);
    *title = QString::fromUtf8(head).trimmed().left(kTitleLength);
}

bool isAcceptableName(const QString& name) {
    return !name.isEmpty() && !name.startsWith(QLatin1Char('.')) &&
           !name.contains(QLatin1Char('/')) && !name.contains(QChar(0)) &&
           QFile::encodeName(name).size() < 250;
}

}  // namespace

ScriptLibrary::ScriptLibrary(QString folder, QObject* parent)
    : QObject(parent), folder_(std::move(folder)) {
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] { refresh(); });
}

QString ScriptLibrary::defaultFolder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QLatin1String("/quorvane/scripts");
}

QString ScriptLibrary::pathOf(const QString& fileName) const {
    return folder_ + QLatin1Char('/') + fileName;
}

std::optional<QString> ScriptLibrary::ensureFolder() {
    const QFileInfo info(folder_);
    if (info.isSymLink() || (info.exists() && !info.isDir()))
        return QStringLiteral("The scripts folder %1 is not a folder.").arg(folder_);
    if (!info.exists()) {
        const QFileInfo parent(info.absolutePath());
        if (!QDir().mkpath(parent.absoluteFilePath()) ||
            ::mkdir(QFile::encodeName(folder_).constData(), 0700) != 0) {
            if (errno != EEXIST)
                return QStringLiteral("Cannot make the scripts folder %1: %2")
                    .arg(folder_, systemError(errno));
        }
    }
    if (!watcher_.directories().contains(folder_))
        watcher_.addPath(folder_);
    if (::access(QFile::encodeName(folder_).constData(), W_OK) != 0)
        return QStringLiteral("The scripts folder %1 cannot be written: %2")
            .arg(folder_, systemError(errno));
    return std::nullopt;
}

void ScriptLibrary::refresh() {
    if (!watcher_.directories().contains(folder_) && QFileInfo(folder_).isDir())
        watcher_.addPath(folder_);
    std::vector<ScriptEntry> entries;
    const QDir dir(folder_);
    for (const QFileInfo& info :
         dir.entryInfoList(QDir::Files | QDir::System | QDir::NoDotAndDotDot)) {
        if (info.isSymLink() || !info.isFile() || info.fileName().startsWith(QLatin1Char('.')))
            continue;
        ScriptEntry entry;
        entry.fileName = info.fileName();
        entry.bytes = info.size();
        const QDateTime birth = info.birthTime();
        entry.arrived = birth.isValid() ? birth : info.lastModified();
        auto cached = counted_.find(entry.fileName);
        if (cached == counted_.end() || cached->bytes != entry.bytes ||
            cached->modified != info.lastModified()) {
            Counted counted{entry.bytes, info.lastModified(), {}, 0};
            countScript(info.absoluteFilePath(), &counted.title, &counted.words);
            cached = counted_.insert(entry.fileName, counted);
        }
        entry.title = cached->title.isEmpty() ? entry.fileName : cached->title;
        entry.words = cached->words;
        if (listed_ && !known_.contains(entry.fileName))
            new_.insert(entry.fileName);
        known_.insert(entry.fileName);
        entry.isNew = new_.contains(entry.fileName);
        entries.push_back(std::move(entry));
    }
    listed_ = true;
    std::sort(entries.begin(), entries.end(), [](const ScriptEntry& a, const ScriptEntry& b) {
        if (a.arrived != b.arrived)
            return a.arrived > b.arrived;
        return a.fileName < b.fileName;
    });
    entries_ = std::move(entries);
    emit changed();
}

void ScriptLibrary::markNew(const QString& fileName) {
    new_.insert(fileName);
    known_.insert(fileName);
    refresh();
}

std::optional<QString> ScriptLibrary::rename(const QString& fileName, const QString& newName) {
    if (!isAcceptableName(newName))
        return QStringLiteral("\u201c%1\u201d cannot be a script's name.").arg(newName);
    if (newName == fileName)
        return std::nullopt;
    const QByteArray from = QFile::encodeName(pathOf(fileName));
    const QByteArray to = QFile::encodeName(pathOf(newName));
    // Never over another script: the kernel refuses when the new name is taken.
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) != 0) {
        const int error = errno;
        return error == EEXIST
                   ? QStringLiteral("A script named \u201c%1\u201d already exists.").arg(newName)
                   : QStringLiteral("Cannot rename \u201c%1\u201d: %2")
                         .arg(fileName, systemError(error));
    }
    if (new_.remove(fileName))
        new_.insert(newName);
    known_.insert(newName);
    counted_.remove(fileName);
    refresh();
    return std::nullopt;
}

std::optional<QString> ScriptLibrary::moveToTrash(const QString& fileName) {
    QFile file(pathOf(fileName));
    if (!file.moveToTrash())
        return QStringLiteral("Cannot move \u201c%1\u201d to the trash: %2")
            .arg(fileName, file.errorString());
    counted_.remove(fileName);
    refresh();
    return std::nullopt;
}

std::optional<QString> ScriptLibrary::add(const QByteArray& text, QString* fileName) {
    if (const auto failure = ensureFolder())
        return failure;
    // Named as the receiver names what it takes in, so both kinds of script look alike.
    const std::string title = reader::titleOf(std::string_view(
        text.constData(), static_cast<std::size_t>(std::min<qsizetype>(text.size(), 4096))));
    for (unsigned attempt = 1; attempt < 1000; ++attempt) {
        const QString name = QString::fromStdString(reader::fileNameFor(title, attempt));
        const QByteArray path = QFile::encodeName(pathOf(name));
        // Written beside its name and linked in complete, so no reader sees half a script.
        const QByteArray staging = QFile::encodeName(folder_ + QLatin1String("/.paste-XXXXXX"));
        QByteArray temporary = staging;
        const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
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
        const int error = errno;
        ::close(fd);
        if (!ok) {
            ::unlink(temporary.constData());
            return QStringLiteral("Cannot write in the scripts folder: %1").arg(systemError(error));
        }
        const int linked = ::link(temporary.constData(), path.constData());
        const int linkError = errno;
        ::unlink(temporary.constData());
        if (linked == 0) {
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

}  // namespace prompter
