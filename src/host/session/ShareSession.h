// ShareSession: one share, played as the share sheet plays it.
//
// Loads the extension's principal view controller, hands it a request whose first input item
// offers the text as "public.plain-text", shows it in the chosen environment, lets the intake
// finish, then acts (send or close) and runs until the request has ended. No terminal and no
// command line here: front-ends draw the controller's views and turn a person's input into taps
// and trait changes.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/extension/ExtensionBundle.h"
#include "platform/extension/ExtensionContext.h"
#include "platform/foundation/AttributedText.h"
#include "platform/foundation/PlatformVersion.h"
#include "platform/foundation/String.h"
#include "platform/foundation/URL.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/TextView.h"
#include "platform/ui/TraitCollection.h"
#include "platform/ui/ViewController.h"

namespace host {

// The taps a person (or a script) can make on the sheet's bar.
enum class ShareAction { none, send, close };

// The environment the extension sees: the device's traits and platform version.
struct SessionSettings {
    platform::UserInterfaceStyle appearance = platform::UserInterfaceStyle::light;
    platform::ContentSizeCategory textSize = platform::ContentSizeCategory::large;
    platform::PlatformVersion platformVersion = platform::PlatformVersion::current();

    [[nodiscard]] platform::TraitCollection traits() const;
};

// What the host reports about a share.
struct ShareOutcome {
    enum class Kind { completed, cancelled, failed, open };
    Kind kind = Kind::open;
    std::optional<platform::PlatformError> error;
    // The files this share placed in the import folder: exactly those, never another
    // process's. A cancellation can still list one: closing during a send cancels the request,
    // but the write under way goes on and may finish.
    std::vector<platform::URL> newFiles;
    platform::String navigationTitle;  // when the request ended (shares the title's characters)
    platform::AttributedText textViewContent;

    // Cancelled by the person, yet the text was saved all the same.
    [[nodiscard]] bool cancelledButSaved() const {
        return kind == Kind::cancelled && !newFiles.empty();
    }
};

class ShareSession {
  public:
    ShareSession(const platform::ExtensionBundle& bundle, const SessionSettings& settings);

    // Presents the extension with `text` and waits until the delivery has been shown (or has
    // failed). Throws what loading the interface throws.
    void present(platform::String text);
    // Taps the item of `action` and runs until the request has ended.
    void act(ShareAction action);
    // Taps the item of `action` as a person would, and returns at once: true when the tap was
    // delivered (a disabled item cannot be tapped). The run loop carries on from there.
    bool tap(ShareAction action);
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
    SessionSettings settings_;
    std::shared_ptr<platform::ViewController> controller_;
    std::shared_ptr<platform::ExtensionContext> context_;
    std::size_t itemsCreatedBefore_ = 0;  // the platform's record of created files, at start
};

}  // namespace host
