// ExtensionControls: the two controls the extension ships, made as a gallery shows them.
#pragma once

#include <memory>

#include "platform/ui/Label.h"
#include "platform/ui/Slider.h"
#include "platform/ui/Switch.h"
#include "platform/ui/View.h"

namespace host {

// The controls are the extension's classes, made by their registered names from the loaded
// bundle and read only as the toolkit's views they are: a switch (the coloured toggle), and a
// view holding a slider and the label riding over its thumb (the sticky slider).
struct ExtensionControls {
    std::shared_ptr<platform::Switch> toggle;
    std::shared_ptr<platform::View> sticky;
    std::shared_ptr<platform::Slider> slider;     // inside `sticky`
    std::shared_ptr<platform::Label> valueLabel;  // inside `sticky`
};

// Makes them; throws std::runtime_error when the loaded extension does not provide them.
[[nodiscard]] ExtensionControls makeExtensionControls();

}  // namespace host
