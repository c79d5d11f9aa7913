// ShareSession: one share, played as the share sheet plays it.
//
// Loads the extension's principal view controller, hands it a request whose first input item
// offers the text as "public.plain-text", shows it in the chosen environment, lets the intake
// finish, then acts (send or close) and runs until the request has ended.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/HostOptions.h"
#include "platform/extension/ExtensionBundle.h"
#include "platform/extension/ExtensionContext.h"
#include "platform/foundation/AttributedText.h"
#include "platform/foundation/String.h"
#include "platform/foundation/URL.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/TextView.h"
#include "platform/ui/ViewController.h"

namespace host {

// What the host reports about a share.
struct ShareOutcome {
    enum class Kind { completed, cancelled, failed, open };
    Kind kind = Kind::open;
    std::optional<platform::PlatformError> error;
    std::vector<platform::URL> newFiles;  // entries of the import folder the share added
    std::string navigationTitle;          // when the request ended
    platform::AttributedText textViewContent;
};

class ShareSession {
  public:
    ShareSession(const platform::ExtensionBundle& bundle, const HostOptions& options);

    // Presents the extension with `text` and waits until the delivery has been shown (or has
    // failed). Throws what loading the interface throws.
    void present(platform::String text);
    // Taps the item of `action` and runs until the request has ended.
    void act(Action action);
    // Taps the item of `action` as a person would, and returns at once: true when the tap was
    // delivered (a disabled item cannot be tapped). The run loop carries on from there.
    bool tap(Action action);
    // True once the extension has ended the request.
    [[nodiscard]] bool hasEnded() const;
    // Runs until nothing is queued or running anywhere, as after an ending, so that the block
    // that ended the request (and any write still in flight) has finished.
    void settle();

    // The views the sheet shows, found in the controller's view tree; null when absent.
    [[nodiscard]] std::shared_ptr<platform::TextView> textView() const;
    [[nodiscard]] std::shared_ptr<platform::ActivityIndicatorView> activityIndicator() const;

    // The controller, the request and the outcome so far.
    [[nodiscard]] const std::shared_ptr<platform::ViewController>& controller() const {
        return controller_;
    }
    [[nodiscard]] const std::shared_ptr<platform::ExtensionContext>& context() const {
        return context_;
    }
    [[nodiscard]] ShareOutcome outcome() const;

    // Platform side: a new environment for the controller (delivers a trait change).
    void changeTraits(const platform::TraitCollection& traits);

  private:
    const platform::ExtensionBundle& bundle_;
    HostOptions options_;
    std::shared_ptr<platform::ViewController> controller_;
    std::shared_ptr<platform::ExtensionContext> context_;
    std::vector<platform::URL> filesBefore_;
};

// The import folder's entries (the reader's view, as the main application lists them).
[[nodiscard]] std::vector<platform::URL> importFolderEntries();

// Where the application group containers live: QUORVANE_CONTAINER_ROOT, else
// $XDG_DATA_HOME/quorvane/app-groups, else $HOME/.local/share/quorvane/app-groups. None
// (with a message) when none of these can be found.
[[nodiscard]] std::optional<std::string> containerRoot(std::string* problem);

}  // namespace host
