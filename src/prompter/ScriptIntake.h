// ScriptIntake: the seam through which texts sent from the share sheet become scripts.
//
// An intake takes each waiting text into the scripts folder exactly once and announces the files
// it made, all those of one taking together (so a burst of arrivals updates the library once); a
// text it could not take stays where it waits, and the failure is announced in words. The library
// window knows intakes only through this class.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

namespace prompter {

class ScriptIntake : public QObject {
    Q_OBJECT

  public:
    using QObject::QObject;

    // Takes every text waiting now, before returning.
    virtual void takeWaiting() = 0;
    // From now on, takes each text as it lands.
    virtual void startWatching() = 0;

  signals:
    void taken(const QStringList& fileNames);  // new files of the scripts folder
    void failed(const QString& message);
};

// Takes nothing: the library shows the scripts folder alone.
class NoScriptIntake : public ScriptIntake {
  public:
    using ScriptIntake::ScriptIntake;
    void takeWaiting() override {}
    void startWatching() override {}
};

}  // namespace prompter
