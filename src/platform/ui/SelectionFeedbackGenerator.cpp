#include "platform/ui/SelectionFeedbackGenerator.h"

#include "platform/extension/ClassRegistry.h"
#include "platform/foundation/Dispatch.h"

namespace platform {
namespace {
std::uint64_t gTicksGiven = 0;  // main thread only, as the generators are
}  // namespace

void SelectionFeedbackGenerator::selectionChanged() {
    Dispatch::requireMainThread("UISelectionFeedbackGenerator selectionChanged");
    ++selectionCount_;
    ++gTicksGiven;
}

std::uint64_t SelectionFeedbackGenerator::ticksGiven() {
    Dispatch::requireMainThread("UISelectionFeedbackGenerator ticksGiven");
    return gTicksGiven;
}

namespace {
[[maybe_unused]] const bool registered = ClassRegistry::shared().registerClass({
    .name = "UISelectionFeedbackGenerator",
    .superclassName = "",
    .init = []() -> ObjectPtr { return std::make_shared<SelectionFeedbackGenerator>(); },
});
}  // namespace

}  // namespace platform
