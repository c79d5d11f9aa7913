#include "host/session/ShareSession.h"

#include <chrono>

#include "handover/ShareContract.h"
#include "host/session/ViewTree.h"
#include "platform/extension/ExtensionItem.h"
#include "platform/extension/ItemProvider.h"
#include "platform/foundation/Application.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/FileManager.h"
#include "platform/ui/NavigationItem.h"

namespace host {
namespace {

// The share sheet waits for the extension as long as it takes: a large text may take a while
// to be written and synced. This bound only catches an extension that never ends a request.
constexpr auto kPatience = std::chrono::hours(24);

}  // namespace

platform::TraitCollection SessionSettings::traits() const {
    platform::TraitCollection traits;
    traits.userInterfaceStyle = appearance;
    traits.preferredContentSizeCategory = textSize;
    return traits;
}

ShareSession::ShareSession(const platform::ExtensionBundle& bundle, const SessionSettings& settings)
    : bundle_(bundle), settings_(settings) {
    platform::PlatformVersion::setRunning(settings.platformVersion);
    platform::Application::setPreferredContentSizeCategory(settings.textSize);
    platform::FileManager::defaultManager().setReachableGroups(bundle.info().applicationGroups);
    itemsCreatedBefore_ = platform::FileManager::defaultManager().createdItems().size();
}

void ShareSession::present(platform::String text) {
    controller_ = bundle_.makePrincipalViewController();

    auto provider = std::make_shared<platform::ItemProvider>();
    provider->registerItem("public.plain-text", std::move(text));
    auto item = std::make_shared<platform::ExtensionItem>();
    item->setAttachments(std::vector{provider});
    context_ = std::make_shared<platform::ExtensionContext>(std::vector<platform::ObjectPtr>{item});

    controller_->setExtensionContext(context_);
    controller_->setTraitCollection(settings_.traits());
    controller_->loadViewIfNeeded();
    // The provider delivers on a worker, then the extension hops to the main queue: once
    // nothing is queued anywhere, the delivery has been shown or has failed.
    platform::MainRunLoop::runUntilIdle(kPatience);
}

void ShareSession::act(ShareAction action) {
    if (!tap(action))
        return;
    platform::MainRunLoop::runUntil([&] { return hasEnded(); }, kPatience);
    settle();
}

bool ShareSession::tap(ShareAction action) {
    if (action == ShareAction::none || !controller_)
        return false;
    auto& navigation = controller_->navigationItem();
    const auto& item = action == ShareAction::send ? navigation.rightBarButtonItem()
                                                   : navigation.leftBarButtonItem();
    return item && item->tap();
}

bool ShareSession::hasEnded() const {
    return context_ && context_->outcome().has_value();
}

void ShareSession::settle() {
    // Let the block that ended the request finish (the idle look comes with it).
    platform::MainRunLoop::runUntilIdle(kPatience);
}

std::shared_ptr<platform::TextView> ShareSession::textView() const {
    return controller_ ? findView<platform::TextView>(controller_->view()) : nullptr;
}

std::shared_ptr<platform::ActivityIndicatorView> ShareSession::activityIndicator() const {
    return controller_ ? findView<platform::ActivityIndicatorView>(controller_->view()) : nullptr;
}

void ShareSession::changeTraits(const platform::TraitCollection& traits) {
    platform::Application::setPreferredContentSizeCategory(traits.preferredContentSizeCategory);
    if (controller_)
        controller_->setTraitCollection(traits);
}

ShareOutcome ShareSession::outcome() const {
    ShareOutcome result;
    if (context_ && context_->outcome()) {
        const auto& ending = *context_->outcome();
        if (ending.kind == platform::ExtensionContext::EndingKind::completed) {
            result.kind = ShareOutcome::Kind::completed;
        } else {
            result.error = ending.error;
            const bool byThePerson = ending.error &&
                                     ending.error->domain == handover::kShareErrorDomain &&
                                     ending.error->code == handover::kShareErrorCancelled;
            result.kind = byThePerson ? ShareOutcome::Kind::cancelled : ShareOutcome::Kind::failed;
        }
    }
    // The platform's record of what this process's writers placed, not a listing of the
    // folder: other processes may be adding files beside ours at any moment.
    const auto created = platform::FileManager::defaultManager().createdItems();
    if (created.size() > itemsCreatedBefore_)
        result.newFiles.assign(created.begin() + static_cast<std::ptrdiff_t>(itemsCreatedBefore_),
                               created.end());
    if (controller_) {
        result.navigationTitle = controller_->navigationItem().title();
        if (const auto view = textView())
            result.textViewContent = view->attributedText();
    }
    return result;
}

}  // namespace host
