// ScriptLibrary: the person's scripts, the files of one folder, newest first.
//
// The folder is $XDG_DATA_HOME/quorvane/scripts (default ~/.local/share/quorvane/scripts). Only
// regular files reached without links are scripts; hidden files are not. The folder is watched
// (inotify), so a file that lands or leaves shows at once. Deleting moves a script to the
// desktop's trash, never removes it outright; renaming never replaces another script.
#pragma once

#include <QDateTime>
#include <QFileSystemWatcher>
#include <QObject>
#include <QSet>
#include <QString>
#include <optional>
#include <vector>

namespace prompter {

struct ScriptEntry {
    QString fileName;
    QString title;  // the first line that is not blank, shortened
    QDateTime arrived;
    qint64 bytes = 0;
    qint64 words = 0;
    bool isNew = false;  // taken in or landed while the window is open
};

class ScriptLibrary : public QObject {
    Q_OBJECT

  public:
    explicit ScriptLibrary(QString folder, QObject* parent = nullptr);

    [[nodiscard]] static QString defaultFolder();
    [[nodiscard]] const QString& folder() const { return folder_; }
    [[nodiscard]] QString pathOf(const QString& fileName) const;

    // Makes the folder (owner-only) if it is missing; the failure in words.
    [[nodiscard]] std::optional<QString> ensureFolder();
    void refresh();
    [[nodiscard]] const std::vector<ScriptEntry>& entries() const { return entries_; }
    void markNew(const QString& fileName);

    // Each returns the failure in words, or nothing when it worked.
    [[nodiscard]] std::optional<QString> rename(const QString& fileName, const QString& newName);
    [[nodiscard]] std::optional<QString> moveToTrash(const QString& fileName);
    // A new script holding `text`, named after `title` (made unique); its name or the failure.
    [[nodiscard]] std::optional<QString> add(const QByteArray& text, QString* fileName);

  signals:
    void changed();

  private:
    struct Counted {
        qint64 bytes;
        QDateTime modified;
        QString title;
        qint64 words;
    };

    QString folder_;
    QFileSystemWatcher watcher_;
    std::vector<ScriptEntry> entries_;
    QSet<QString> known_;  // names seen at the first listing or since
    QSet<QString> new_;
    bool listed_ = false;
    QHash<QString, Counted> counted_;
};

}  // namespace prompter
