// ReaderIntake: texts sent from the share sheet taken into the scripts folder through the
// receiver's library (reader::Inbox), exactly once each, as `quorvane-receive --to` takes them
// (same names, same protocol, so the two can run side by side).
//
// Those waiting are taken by takeWaiting(); after startWatching(), each new one as it lands
// (inotify, through the event loop: no polling, no thread). A text that cannot be taken stays
// waiting and the failure is announced; it is tried again on the next wake.
#pragma once

#include <QSocketNotifier>
#include <memory>
#include <string>

#include "prompter/ScriptIntake.h"
#include "reader/Inbox.h"

namespace prompter {

class ReaderIntake : public ScriptIntake {
  public:
    // `containerRoot` as contract::containerRoot finds it; `scripts` the folder to deliver into.
    ReaderIntake(std::string containerRoot, QString scripts, QObject* parent = nullptr);
    ~ReaderIntake() override;

    void takeWaiting() override;
    void startWatching() override;

  private:
    void rearm();

    reader::Inbox inbox_;
    QString scripts_;
    std::unique_ptr<reader::FolderWatch> watch_;
    std::unique_ptr<QSocketNotifier> notifier_;
    QString lastFailure_;
};

}  // namespace prompter
