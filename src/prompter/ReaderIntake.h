// ReaderIntake: texts sent from the share sheet taken into the scripts folder through the
// receiver's library (reader::Inbox), exactly once each, as `quorvane-receive --to` takes them
// (same names, same protocol, so the two can run side by side).
//
// Those waiting are taken by takeWaiting(); after startWatching(), each new one as it lands
// (inotify, through the event loop: no thread). A text that cannot be taken stays waiting and
// the failure is announced; it is tried again on the next wake, and after a while (a second,
// doubling up to five minutes) even when nothing else lands. A text another reader holds is
// looked at again soon (a quarter of a second, doubling up to two): when that reader stops, dies
// or gives it up, nothing in the folder changes, so no wake would come.
#pragma once

#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <string>

#include "prompter/ScriptIntake.h"
#include "reader/Inbox.h"

namespace prompter {

class ReaderIntake : public ScriptIntake {
  public:
    // `containerRoot` as handover::containerRoot finds it; `scripts` the folder to deliver into.
    ReaderIntake(std::string containerRoot, QString scripts, QObject* parent = nullptr);
    ~ReaderIntake() override;

    void takeWaiting() override;
    void startWatching() override;

  private:
    void rearm();
    // Looks again after a while at what was held elsewhere or failed (nothing when neither).
    void scheduleRetry(bool anyHeldElsewhere, bool anyFailed);

    reader::Inbox inbox_;
    QString scripts_;
    std::unique_ptr<reader::FolderWatch> watch_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QString lastFailure_;
    QTimer retry_;
    int heldDelayMs_ = 0;    // 0 while nothing is held elsewhere
    int failedDelayMs_ = 0;  // 0 while nothing fails
};

}  // namespace prompter
