// RemoteSwitch: the remote turned on and off while the prompter runs: by --remote (for this run),
// by the saved settings at start, and by its row in the settings window (saved as it changes).
// One session at a time; its address and QR code show in the library (the session's panel) and,
// through addressChanged, in the operator's window. The token stays the same for the whole run,
// so a phone given the address finds the remote again after it was switched off and on.
#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>
#include <optional>

#include "prompter/LibraryView.h"
#include "prompter/remote/RemoteSession.h"

namespace prompter::remote {

class PromptRemote;
class RemoteFollower;

class RemoteSwitch : public QObject {
    Q_OBJECT

  public:
    RemoteSwitch(PromptRemote& prompt, LibraryView* library, QObject* parent = nullptr);
    ~RemoteSwitch() override;

    // Serves at `where`, ending the session before (if any) first; the failure in words.
    std::optional<QString> start(const ListenAddress& where);
    void stop();
    [[nodiscard]] RemoteSession* session() const { return session_.get(); }
    // This prompter follows another: every session's state says whether the link is up.
    void setFollower(RemoteFollower& follower) { follower_ = &follower; }
    // The settings window's row: the switch and the address, saved and applied as they change,
    // and where the remote is served or why it is not.
    [[nodiscard]] QWidget* makeSettingsRow(QWidget* parent);

  signals:
    // The page's address, token included, after each start and stop (empty: off).
    void addressChanged(const QString& pageAddress);

  private:
    PromptRemote& prompt_;
    QPointer<LibraryView> library_;
    RemoteFollower* follower_ = nullptr;
    std::unique_ptr<RemoteSession> session_;
};

}  // namespace prompter::remote
