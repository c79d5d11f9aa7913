#include "platform/extension/ExtensionBundle.h"

#include <dlfcn.h>

#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/extension/InterfaceFile.h"
#include "platform/foundation/ClassRegistry.h"

namespace platform {
namespace {

using nlohmann::json;

std::string requiredString(const json& object, const char* key, const std::string& where) {
    const auto it = object.find(key);
    if (it == object.end() || !it->is_string() || it->get<std::string>().empty()) {
        throw ExtensionBundleError(where + ": \"" + key + "\" must be a non-empty string");
    }
    return it->get<std::string>();
}

// A file name inside the bundle: no folders, nothing that leaves the bundle.
void checkPlainName(const std::string& name, const char* key, const std::string& where) {
    if (name.find('/') != std::string::npos || name == "." || name == ".." ||
        name.find('\0') != std::string::npos) {
        throw ExtensionBundleError(where + ": \"" + key + "\" must name a file inside the bundle");
    }
}

std::string readFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw ExtensionBundleError("extension bundle: cannot read " + path);
    std::ostringstream contents;
    contents << file.rdbuf();
    return contents.str();
}

}  // namespace

ExtensionPropertyList ExtensionPropertyList::parse(const std::string& document,
                                                   const std::string& sourceName) {
    const std::string where = "property list " + sourceName;
    json root;
    try {
        root = json::parse(document);
    } catch (const json::exception& error) {
        // Not only syntax: a number too large for a double is refused while parsing as well.
        throw ExtensionBundleError(where + ": not valid JSON: " + error.what());
    }
    if (!root.is_object())
        throw ExtensionBundleError(where + ": not a JSON object");
    ExtensionPropertyList info;
    info.bundleIdentifier = requiredString(root, "CFBundleIdentifier", where);
    info.executable = requiredString(root, "CFBundleExecutable", where);
    checkPlainName(info.executable, "CFBundleExecutable", where);
    if (const auto version = root.find("CFBundleShortVersionString"); version != root.end()) {
        if (!version->is_string()) {
            throw ExtensionBundleError(where + ": \"CFBundleShortVersionString\" must be a string");
        }
        info.version = version->get<std::string>();
    }
    const auto extension = root.find("NSExtension");
    if (extension == root.end() || !extension->is_object()) {
        throw ExtensionBundleError(where + ": \"NSExtension\" must be an object");
    }
    info.extensionPointIdentifier = requiredString(*extension, "NSExtensionPointIdentifier", where);
    info.principalClass = requiredString(*extension, "NSExtensionPrincipalClass", where);
    info.mainInterface = requiredString(*extension, "NSExtensionMainInterface", where);
    checkPlainName(info.mainInterface, "NSExtensionMainInterface", where);
    if (const auto groups = root.find("ApplicationGroups"); groups != root.end()) {
        if (!groups->is_array())
            throw ExtensionBundleError(where + ": \"ApplicationGroups\" must be an array");
        for (const json& group : *groups) {
            if (!group.is_string())
                throw ExtensionBundleError(where + ": application groups must be strings");
            info.applicationGroups.push_back(group.get<std::string>());
        }
    }
    return info;
}

ExtensionBundle ExtensionBundle::load(const std::string& path) {
    ExtensionBundle bundle;
    bundle.path_ = path;
    const std::string plistPath = path + "/Info.json";
    bundle.info_ = ExtensionPropertyList::parse(readFile(plistPath), plistPath);
    const std::string library = path + "/" + bundle.info_.executable;
    // The library stays loaded for the life of the process: its classes are registered.
    if (!::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        const char* reason = ::dlerror();
        throw ExtensionBundleError("extension bundle " + path + ": cannot load " + library + ": " +
                                   (reason ? reason : "unknown reason"));
    }
    if (!ClassRegistry::shared().lookup(bundle.info_.principalClass)) {
        throw ExtensionBundleError("extension bundle " + path +
                                   ": the library defines no class \"" +
                                   bundle.info_.principalClass + "\"");
    }
    return bundle;
}

std::shared_ptr<ViewController> ExtensionBundle::makePrincipalViewController() const {
    LoadedInterface loaded =
        InterfaceFile::loadFromFile(path_ + "/" + info_.mainInterface + ".json");
    if (loaded.initialViewController->className() != info_.principalClass) {
        throw ExtensionBundleError("extension bundle " + path_ +
                                   ": the interface's initial view controller is a " +
                                   std::string(loaded.initialViewController->className()) +
                                   ", not the principal class " + info_.principalClass);
    }
    return loaded.initialViewController;
}

}  // namespace platform
