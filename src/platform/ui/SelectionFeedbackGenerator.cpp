#include "platform/ui/SelectionFeedbackGenerator.h"

#include "platform/extension/ClassRegistry.h"
#include "platform/foundation/Dispatch.h"

namespace platform {

void SelectionFeedbackGenerator::selectionChanged() {
    Dispatch::requireMainThread("UISelectionFeedbackGenerator selectionChanged");
    ++selectionCount_;
}

namespace {
[[maybe_unused]] const bool registered = ClassRegistry::shared().registerClass({
    .name = "UISelectionFeedbackGenerator",
    .superclassName = "",
    .init = []() -> ObjectPtr { return std::make_shared<SelectionFeedbackGenerator>(); },
});
}  // namespace

}  // namespace platform
