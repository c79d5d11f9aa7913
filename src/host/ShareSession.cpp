#include "host/ShareSession.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "platform/extension/ExtensionItem.h"
#include "platform/extension/ItemProvider.h"
#include "platform/foundation/Application.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/PlatformVersion.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/TextView.h"
#include "share/ShareError.h"
#include "storage/ImportFolder.h"

namespace host {
namespace {

// The share sheet waits for the extension as long as it takes: a large text may take a while
// to be written and synced. This bound only catches an extension that never ends a request.
constexpr auto kPatience = std::chrono::hours(24);

platform::TraitCollection traitsFor(const HostOptions& options) {
    platform::TraitCollection traits;
    traits.userInterfaceStyle = options.appearance;
    traits.preferredContentSizeCategory = options.textSize;
    return traits;
}

// The first view of type T in the tree under `view`, depth first.
template <typename T>
std::shared_ptr<T> findView(const std::shared_ptr<platform::View>& view) {
    if (!view)
        return nullptr;
    if (auto found = std::dynamic_pointer_cast<T>(view))
        return found;
    for (const auto& subview : view->subviews()) {
        if (auto found = findView<T>(subview))
            return found;
    }
    return nullptr;
}

}  // namespace

std::vector<platform::URL> importFolderEntries() {
    return quorvane::sharedFileList(platform::FileManager::defaultManager());
}

std::optional<std::string> containerRoot(std::string* problem) {
    if (const char* root = std::getenv("QUORVANE_CONTAINER_ROOT"); root && *root)
        return std::string(root);
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data == '/') {
        return std::string(data) + "/quorvane/app-groups";
    }
    if (const char* home = std::getenv("HOME"); home && *home == '/') {
        return std::string(home) + "/.local/share/quorvane/app-groups";
    }
    *problem = "cannot find a data folder: set QUORVANE_CONTAINER_ROOT, XDG_DATA_HOME or HOME";
    return std::nullopt;
}

ShareSession::ShareSession(const platform::ExtensionBundle& bundle, const HostOptions& options)
    : bundle_(bundle), options_(options) {
    platform::PlatformVersion::setRunning(options.platformVersion);
    platform::Application::setPreferredContentSizeCategory(options.textSize);
    platform::FileManager::defaultManager().setReachableGroups(bundle.info().applicationGroups);
}

void ShareSession::present(platform::String text) {
    controller_ = bundle_.makePrincipalViewController();

    auto provider = std::make_shared<platform::ItemProvider>();
    provider->registerItem("public.plain-text", std::move(text));
    auto item = std::make_shared<platform::ExtensionItem>();
    item->setAttachments(std::vector{provider});
    context_ = std::make_shared<platform::ExtensionContext>(std::vector<platform::ObjectPtr>{item});

    controller_->setExtensionContext(context_);
    controller_->setTraitCollection(traitsFor(options_));
    controller_->loadViewIfNeeded();
    // The provider delivers on a worker, then the extension hops to the main queue: once
    // nothing is queued anywhere, the delivery has been shown or has failed.
    platform::MainRunLoop::runUntilIdle(kPatience);
    filesBefore_ = importFolderEntries();
}

void ShareSession::act(Action action) {
    if (!tap(action))
        return;
    platform::MainRunLoop::runUntil([&] { return hasEnded(); }, kPatience);
    settle();
}

bool ShareSession::tap(Action action) {
    if (action == Action::none || !controller_)
        return false;
    auto& navigation = controller_->navigationItem();
    const auto& item =
        action == Action::send ? navigation.rightBarButtonItem() : navigation.leftBarButtonItem();
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
                                     ending.error->domain == quorvane::kShareErrorDomain &&
                                     ending.error->code == 0;
            result.kind = byThePerson ? ShareOutcome::Kind::cancelled : ShareOutcome::Kind::failed;
        }
    }
    for (const platform::URL& url : importFolderEntries()) {
        if (std::find(filesBefore_.begin(), filesBefore_.end(), url) == filesBefore_.end())
            result.newFiles.push_back(url);
    }
    if (controller_) {
        result.navigationTitle = controller_->navigationItem().title().str();
        if (const auto view = textView())
            result.textViewContent = view->attributedText();
    }
    return result;
}

}  // namespace host
