// PromptRemote: the prompter as a remote sees it. Carries the remote's commands out on the
// prompting view through its public controls, and reports the prompt's state.
//
// The commands act on the script being prompted; with the library showing, only "state" and
// "add" do anything, and the others say that nothing is being prompted. "add" saves the text as
// a new script in the library, as Paste as Script does, and prompts it when asked to.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "prompter/PromptClock.h"
#include "prompter/PrompterWindow.h"
#include "prompter/ScriptLibrary.h"
#include "prompter/remote/RemoteServer.h"
#include "qttext/TextBlocks.h"
#include "qttext/TextSource.h"

namespace prompter::remote {

class PromptRemote : public QObject, public RemoteTarget {
    Q_OBJECT

  public:
    static constexpr std::size_t kLinesShown = 3;   // the current paragraph and two more
    static constexpr std::size_t kLineBytes = 400;  // of each, at most

    PromptRemote(PrompterWindow& window, ScriptLibrary& library,
                 std::shared_ptr<const PromptClock> clock, QObject* parent = nullptr);

    // The script now being prompted was read from `path` (the library's choices are seen
    // here; a script prompted from the command line is told). Its text is the prompting view's,
    // whatever was read from the file: an edit that reaches the view reaches the remote too.
    void noteScript(const QString& path);
    // Where the script being prompted was read from (empty: not known).
    [[nodiscard]] const QString& path() const { return path_; }
    // Whether the voice sets the place now (voice-following); reported as "following".
    void setFollowingVoice(std::function<bool()> following) {
        followingVoice_ = std::move(following);
    }
    // This prompter follows another (--follow): `connected` tells whether its link is up. Its
    // place is the other's, so commands that would move it are refused.
    void setFollowing(std::function<bool()> connected) { leaderConnected_ = std::move(connected); }
    // What the state's "scriptId" says of `text`.
    [[nodiscard]] static std::string scriptIdOf(const std::string& text);
    [[nodiscard]] static std::string scriptIdOf(const qttext::TextSource& text);

    std::optional<std::string> apply(const Command& command) override;
    [[nodiscard]] std::string state() override { return writeState(snapshot()); }
    [[nodiscard]] std::optional<std::string> scriptText() override;
    [[nodiscard]] RemoteState snapshot() const;
    [[nodiscard]] bool isPrompting() const;
    // The prompt clock's time now, in milliseconds.
    [[nodiscard]] double now() const { return clock_->milliseconds(); }

  signals:
    // Something a remote shows may have changed (a frame was drawn, a control moved).
    void changed();

  private:
    // The prompting view was given a script, or an edit of it.
    void takeScript();

    PrompterWindow& window_;
    ScriptLibrary& library_;
    std::shared_ptr<const PromptClock> clock_;
    QString path_;
    std::string title_;
    std::shared_ptr<const qttext::TextSource> text_;  // the view's
    std::function<bool()> followingVoice_;
    std::function<bool()> leaderConnected_;
    // The text's id for the state, made when a remote or the operator's window first asks for
    // it: hashing a 100 MB script costs a prompt's start a noticeable pause otherwise.
    mutable std::optional<std::string> scriptId_;
};

}  // namespace prompter::remote
