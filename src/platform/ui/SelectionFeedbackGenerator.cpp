#include "platform/ui/SelectionFeedbackGenerator.h"

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Dispatch.h"

namespace platform {

namespace {
std::uint64_t ticksFeltInProcess = 0;  // main thread only, like the generators
}  // namespace

void SelectionFeedbackGenerator::selectionChanged() {
    Dispatch::requireMainThread("UISelectionFeedbackGenerator selectionChanged");
    ++selectionCount_;
    ++ticksFeltInProcess;
}

std::uint64_t SelectionFeedbackGenerator::ticksFelt() {
    return ticksFeltInProcess;
}

namespace {
[[maybe_unused]] const bool registered = ClassRegistry::shared().registerClass({
    .name = "UISelectionFeedbackGenerator",
    .superclassName = "",
    .init = []() -> ObjectPtr { return std::make_shared<SelectionFeedbackGenerator>(); },
});
}  // namespace

}  // namespace platform
