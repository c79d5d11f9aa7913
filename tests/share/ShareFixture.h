// A share controller loaded from the shipped interface file, as the platform makes it.
#pragma once

#include <gtest/gtest.h>

#include <memory>

#include "TestSupport.h"
#include "platform/extension/InterfaceFile.h"
#include "platform/foundation/Application.h"
#include "share/ShareViewController.h"

namespace testing_support {

inline std::shared_ptr<quorvane::ShareViewController> loadController() {
    auto loaded =
        platform::InterfaceFile::loadFromFile(QUORVANE_RESOURCES_DIR "/MainInterface.json");
    return std::dynamic_pointer_cast<quorvane::ShareViewController>(loaded.initialViewController);
}

// Loads the controller, gives it `context` and the traits, runs viewDidLoad and lets the
// intake finish.
inline std::shared_ptr<quorvane::ShareViewController> presentController(
    const std::shared_ptr<platform::ExtensionContext>& context,
    platform::UserInterfaceStyle style = platform::UserInterfaceStyle::light) {
    auto controller = loadController();
    EXPECT_TRUE(controller);
    if (!controller)
        return nullptr;
    controller->setExtensionContext(context);
    platform::TraitCollection traits;
    traits.userInterfaceStyle = style;
    traits.preferredContentSizeCategory = platform::Application::preferredContentSizeCategory();
    controller->setTraitCollection(traits);
    controller->loadViewIfNeeded();
    drain();
    return controller;
}

}  // namespace testing_support
