// ShareViewController: the extension's principal view controller.
//
// The platform makes it from the interface file, which connects the outlets textView,
// activityIndicator and sendButton. When its view has loaded it installs the close item and
// "Send to Teleprompter", shows the idle look and starts loading the shared text; the text is
// shown as a bold title line over the text at the body size, coloured for the appearance.
//
// Sections: creation and outlets · presentation · intake · send and cancel.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "handover/ShareContract.h"
#include "platform/extension/ExtensionItem.h"
#include "platform/foundation/Coder.h"
#include "platform/foundation/RgbaColor.h"
#include "platform/foundation/String.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/TextView.h"
#include "platform/ui/ViewController.h"
#include "share/ShareError.h"
#include "storage/ImportFolder.h"

namespace quorvane {

class ShareViewController : public platform::ViewController {
  public:
    static constexpr const char* kClassName = handover::kShareViewControllerClass;
    static constexpr const char* kSendTitle = "Send to Teleprompter";
    static constexpr const char* kSendingTitle = "Sending...";
    static constexpr platform::EdgeInsets kTextContainerInset{0, 20, 0, 20};

    [[nodiscard]] std::string_view className() const override { return kClassName; }

    // ---- creation and outlets ----

    // initWithNibName:bundle: and initWithCoder: the stored properties start at their initial
    // values (no outlets, empty captured text, bar items not yet made); the result is the base
    // initialiser's.
    bool initWithNibName(const std::optional<std::string>& nibName,
                         const platform::ObjectPtr& bundle);
    bool initWithCoder(const platform::Coder& coder);

    // Weak outlets, set by the interface file. The controller never uses sendButton.
    [[nodiscard]] std::shared_ptr<platform::BarButtonItem> sendButton() const {
        return sendButton_.lock();
    }
    void setSendButton(const std::shared_ptr<platform::BarButtonItem>& item) { sendButton_ = item; }
    [[nodiscard]] std::shared_ptr<platform::TextView> textView() const { return textView_.lock(); }
    void setTextView(const std::shared_ptr<platform::TextView>& view) { textView_ = view; }
    [[nodiscard]] std::shared_ptr<platform::ActivityIndicatorView> activityIndicator() const {
        return activityIndicator_.lock();
    }
    void setActivityIndicator(const std::shared_ptr<platform::ActivityIndicatorView>& view) {
        activityIndicator_ = view;
    }

    // The shared text, exactly as delivered; empty until it arrives. Main thread.
    [[nodiscard]] const platform::String& capturedText() const { return capturedText_; }

    // The left item (close from platform 13.0 on, cancel before), made on first read and kept.
    const std::shared_ptr<platform::BarButtonItem>& closeBarButtonItem();
    // The right item, "Send to Teleprompter", made on first read and kept.
    const std::shared_ptr<platform::BarButtonItem>& doneBarButtonItem();

    // ---- presentation ----

    void viewDidLoad() override;
    // Recolours the whole text for the current appearance (platform 12.0 on), on every change.
    void traitCollectionDidChange(const platform::TraitCollection* previous) override;
    void configureView();
    void showBusyState();
    void showIdleState();
    // Shows the title line and the body and stores `text` as capturedText. Main queue.
    void showSharedText(const std::shared_ptr<platform::ExtensionItem>& item,
                        const platform::String& text);

    // ---- intake ----

    // Starts the one load of the first input item's plain text, or does nothing.
    void loadSharedText();

    // ---- send and cancel ----

    using ShareError = quorvane::ShareError;

    // Action of "Send to Teleprompter": runs the send.
    void sendButtonTouched(const platform::ObjectPtr& sender);
    // Action of the close item: cancels the request with ShareError::cancelled at once.
    void cancelButtonTouched(const platform::ObjectPtr& sender);
    // Shows the busy look and writes the captured text on a background queue; back on the
    // main queue it shows the idle look and completes the request or, when the text could not
    // be put safely in place, cancels it with ShareError::writeFailed. The text written is the
    // one captured when the send started. A request is ended at most once: a send that
    // finishes after the close item cancelled the request ends nothing.
    void sendCapturedText();

  private:
    // Ends the request for a finished write, unless it has already ended.
    void finishSend(const WriteResult& result);

    // Black on the light appearance, white otherwise.
    [[nodiscard]] platform::RgbaColor appearanceColor() const;

    std::weak_ptr<platform::BarButtonItem> sendButton_;
    std::weak_ptr<platform::TextView> textView_;
    std::weak_ptr<platform::ActivityIndicatorView> activityIndicator_;
    platform::String capturedText_;
    std::shared_ptr<platform::BarButtonItem> closeBarButtonItem_;
    std::shared_ptr<platform::BarButtonItem> doneBarButtonItem_;
    bool requestEnded_ = false;  // this controller has completed or cancelled its request
};

}  // namespace quorvane
