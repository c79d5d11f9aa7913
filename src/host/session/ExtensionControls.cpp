#include "host/session/ExtensionControls.h"

#include <stdexcept>

#include "handover/ShareContract.h"
#include "host/session/ViewTree.h"
#include "platform/foundation/ClassRegistry.h"

namespace host {

ExtensionControls makeExtensionControls() {
    const auto& registry = platform::ClassRegistry::shared();
    ExtensionControls controls;
    controls.toggle = std::dynamic_pointer_cast<platform::Switch>(
        registry.instantiate(handover::kColoredToggleClass));
    controls.sticky = std::dynamic_pointer_cast<platform::View>(
        registry.instantiate(handover::kStickySliderClass));
    if (!controls.toggle || !controls.sticky)
        throw std::runtime_error("the extension does not provide its two controls");
    controls.slider = findView<platform::Slider>(controls.sticky);
    controls.valueLabel = findView<platform::Label>(controls.sticky);
    if (!controls.slider || !controls.valueLabel)
        throw std::runtime_error("the sticky slider has no slider or no label");
    return controls;
}

}  // namespace host
