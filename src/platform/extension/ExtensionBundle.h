// ExtensionBundle: an extension as the platform finds it, a bundle folder holding
//   Info.json          the property list (JSON), below
//   <interface>.json   the main interface file (see InterfaceFile.h)
//   <executable>       the shared library whose classes register themselves when loaded
//
// The property list:
//   {"CFBundleIdentifier": "...", "CFBundleExecutable": "libX.so", "CFBundleShortVersionString":
//   "1.0",
//    "NSExtension": {"NSExtensionPointIdentifier": "...", "NSExtensionPrincipalClass":
//    "Module.Class",
//                    "NSExtensionMainInterface": "MainInterface"},
//    "ApplicationGroups": ["group...."]}
// ApplicationGroups are the groups whose containers the extension may reach.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ui/ViewController.h"

namespace platform {

class ExtensionBundleError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

struct ExtensionPropertyList {
    std::string bundleIdentifier;
    std::string executable;
    std::string version;
    std::string extensionPointIdentifier;
    std::string principalClass;
    std::string mainInterface;
    std::vector<std::string> applicationGroups;

    // Reads a property list; every problem is an ExtensionBundleError naming `sourceName`.
    static ExtensionPropertyList parse(const std::string& document, const std::string& sourceName);
};

class ExtensionBundle {
  public:
    // Reads the property list of the bundle at `path` and loads its library (once per process).
    static ExtensionBundle load(const std::string& path);

    [[nodiscard]] const ExtensionPropertyList& info() const { return info_; }
    [[nodiscard]] const std::string& path() const { return path_; }

    // NSExtensionMain: the principal view controller, made from the main interface file, its
    // view and outlets set (viewDidLoad not yet sent). Throws InterfaceFileError or
    // ExtensionBundleError.
    [[nodiscard]] std::shared_ptr<ViewController> makePrincipalViewController() const;

  private:
    std::string path_;
    ExtensionPropertyList info_;
};

}  // namespace platform
