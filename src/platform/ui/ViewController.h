// ViewController: manages a view and its place in the navigation bar (UIViewController).
//
// The platform (here the interface-file loader and the host) sets the view, the extension
// context and the trait collection; loadViewIfNeeded sends viewDidLoad once; a changed trait
// collection is delivered through traitCollectionDidChange.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/foundation/Coder.h"
#include "platform/foundation/Object.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/TraitCollection.h"
#include "platform/ui/View.h"

namespace platform {

class ExtensionContext;

class ViewController : public Object {
  public:
    [[nodiscard]] std::string_view className() const override { return "UIViewController"; }

    // initWithNibName:bundle: always succeeds here.
    bool initWithNibName(const std::optional<std::string>& nibName, const ObjectPtr& bundle);
    // initWithCoder: reads "title"; false when the archive fails.
    bool initWithCoder(const Coder& coder);

    [[nodiscard]] const std::shared_ptr<View>& view() const { return view_; }
    void setView(std::shared_ptr<View> view);
    [[nodiscard]] bool isViewLoaded() const { return viewLoaded_; }
    // Sends viewDidLoad the first time (making an empty view when none was set).
    void loadViewIfNeeded();
    virtual void viewDidLoad() {}

    [[nodiscard]] NavigationItem& navigationItem() { return *navigationItem_; }
    [[nodiscard]] const NavigationItem& navigationItem() const { return *navigationItem_; }

    [[nodiscard]] const TraitCollection& traitCollection() const { return traitCollection_; }
    // Platform side: the controller now shows in `traits`. When they differ from the current
    // ones, sends traitCollectionDidChange with the previous collection. Main thread only.
    void setTraitCollection(const TraitCollection& traits);
    virtual void traitCollectionDidChange(const TraitCollection* previous) { (void)previous; }

    // The share request's context, or none.
    [[nodiscard]] std::shared_ptr<ExtensionContext> extensionContext() const {
        return extensionContext_;
    }
    void setExtensionContext(std::shared_ptr<ExtensionContext> context) {
        extensionContext_ = std::move(context);
    }

  private:
    std::shared_ptr<View> view_;
    bool viewLoaded_ = false;
    std::shared_ptr<NavigationItem> navigationItem_ = std::make_shared<NavigationItem>();
    TraitCollection traitCollection_;
    std::shared_ptr<ExtensionContext> extensionContext_;
};

}  // namespace platform
