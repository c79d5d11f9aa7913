#include "platform/extension/InterfaceFile.h"

#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "platform/foundation/ClassRegistry.h"
#include "platform/foundation/Coder.h"
#include "platform/ui/View.h"

namespace platform {
namespace {

using nlohmann::json;

std::string outletSetter(const std::string& outlet) {
    std::string selector = "set" + outlet + ":";
    if (outlet.empty())
        return selector;
    selector[3] = static_cast<char>(std::toupper(static_cast<unsigned char>(selector[3])));
    return selector;
}

class Loader {
  public:
    Loader(const json& document, std::string sourceName)
        : document_(document), source_(std::move(sourceName)) {}

    LoadedInterface load() {
        if (!document_.is_object())
            fail("the document is not a JSON object");
        const auto format = document_.find("interfaceFormat");
        if (format == document_.end() || *format != "quorvane-interface") {
            fail("\"interfaceFormat\" must be \"quorvane-interface\"");
        }
        if (!document_.contains("formatVersion") || document_["formatVersion"] != 1) {
            fail("unsupported \"formatVersion\" (this platform reads version 1)");
        }
        if (!document_.contains("objects") || !document_["objects"].is_object()) {
            fail("\"objects\" must be an object of archived objects by identifier");
        }
        const json& objects = document_["objects"];
        for (const auto& [identifier, archive] : objects.items())
            resolve(identifier);
        for (const auto& [identifier, archive] : objects.items())
            connect(identifier, archive);

        LoadedInterface result;
        result.objects = made_;
        const auto initial = document_.find("initialViewController");
        if (initial == document_.end() || !initial->is_string()) {
            fail("\"initialViewController\" must name an object");
        }
        result.initialViewController =
            std::dynamic_pointer_cast<ViewController>(resolve(initial->get<std::string>()));
        if (!result.initialViewController)
            fail("the initial view controller is not a view controller");
        for (const auto& [identifier, archive] : objects.items())
            checkRequiredOutlets(identifier, archive);
        return result;
    }

  private:
    [[noreturn]] void fail(const std::string& message) const {
        throw InterfaceFileError("interface file " + source_ + ": " + message);
    }

    ObjectPtr resolve(const std::string& identifier) {
        if (const auto it = made_.find(identifier); it != made_.end())
            return it->second;
        const json& objects = document_["objects"];
        if (!objects.contains(identifier))
            fail("no object with identifier \"" + identifier + "\"");
        if (!making_.insert(identifier).second)
            fail("object \"" + identifier + "\" refers to itself");
        const json& archive = objects[identifier];
        if (!archive.is_object() || !archive.contains("class") || !archive["class"].is_string()) {
            fail("object \"" + identifier + "\" has no \"class\"");
        }
        const std::string className = archive["class"].get<std::string>();
        const ClassInfo* info = ClassRegistry::shared().lookup(className);
        if (!info || !info->initWithCoder)
            fail("object \"" + identifier + "\": unknown class \"" + className + "\"");
        Coder coder(archive, [this](const std::string& other) { return resolve(other); });
        ObjectPtr object = info->initWithCoder(coder);
        if (!object)
            fail("object \"" + identifier + "\" of class \"" + className +
                 "\" could not be decoded");
        making_.erase(identifier);
        made_[identifier] = object;
        return object;
    }

    std::shared_ptr<View> viewNamed(const json& reference, const std::string& context) {
        if (!reference.is_string())
            fail(context + ": expected an object identifier");
        auto view = std::dynamic_pointer_cast<View>(resolve(reference.get<std::string>()));
        if (!view)
            fail(context + ": \"" + reference.get<std::string>() + "\" is not a view");
        return view;
    }

    void connect(const std::string& identifier, const json& archive) {
        const ObjectPtr object = made_.at(identifier);
        const std::string where = "object \"" + identifier + "\"";
        if (const auto subviews = archive.find("subviews"); subviews != archive.end()) {
            auto view = std::dynamic_pointer_cast<View>(object);
            if (!view || !subviews->is_array())
                fail(where + ": \"subviews\" needs a view and an array");
            for (const json& reference : *subviews)
                view->addSubview(viewNamed(reference, where));
        }
        if (auto controller = std::dynamic_pointer_cast<ViewController>(object)) {
            if (const auto view = archive.find("view"); view != archive.end()) {
                controller->setView(viewNamed(*view, where));
            }
            if (const auto item = archive.find("navigationItem"); item != archive.end()) {
                connectNavigationItem(controller->navigationItem(), *item, where);
            }
        }
        if (const auto outlets = archive.find("outlets"); outlets != archive.end()) {
            if (!outlets->is_object())
                fail(where + ": \"outlets\" must be an object");
            for (const auto& [outlet, reference] : outlets->items()) {
                if (!reference.is_string())
                    fail(where + ": outlet \"" + outlet + "\" must name an object");
                const ObjectPtr destination = resolve(reference.get<std::string>());
                bool delivered = false;
                try {
                    delivered = ClassRegistry::shared().sendMessage(*object, outletSetter(outlet),
                                                                    destination);
                } catch (const std::exception& error) {
                    fail(where + ": " + error.what());
                }
                if (!delivered) {
                    fail(where + ": class \"" + std::string(object->className()) +
                         "\" has no outlet \"" + outlet + "\"");
                }
            }
        }
    }

    void connectNavigationItem(NavigationItem& item, const json& archive,
                               const std::string& where) {
        if (!archive.is_object())
            fail(where + ": \"navigationItem\" must be an object");
        if (const auto title = archive.find("title");
            title != archive.end() && title->is_string()) {
            item.setTitle(title->get<std::string>());
        }
        auto barItem = [&](const char* key) -> std::shared_ptr<BarButtonItem> {
            const auto reference = archive.find(key);
            if (reference == archive.end())
                return nullptr;
            if (!reference->is_string())
                fail(where + ": \"" + key + "\" must name a bar button item");
            auto result =
                std::dynamic_pointer_cast<BarButtonItem>(resolve(reference->get<std::string>()));
            if (!result)
                fail(where + ": \"" + key + "\" is not a bar button item");
            return result;
        };
        if (auto left = barItem("leftBarButtonItem"))
            item.setLeftBarButtonItem(left);
        if (auto right = barItem("rightBarButtonItem"))
            item.setRightBarButtonItem(right);
    }

    void checkRequiredOutlets(const std::string& identifier, const json& archive) {
        const ObjectPtr object = made_.at(identifier);
        const json outlets = archive.value("outlets", json::object());
        for (const ClassInfo* info = ClassRegistry::shared().lookup(object->className()); info;
             info = info->superclassName.empty()
                        ? nullptr
                        : ClassRegistry::shared().lookup(info->superclassName)) {
            for (const std::string& outlet : info->requiredOutlets) {
                if (!outlets.contains(outlet)) {
                    fail("object \"" + identifier + "\" of class \"" + info->name +
                         "\" needs its outlet \"" + outlet + "\" connected");
                }
                checkOutletIsOwned(object, identifier, outlet, outlets[outlet].get<std::string>());
            }
        }
    }

    // Outlets are weak: a required view outlet of a view controller must name a view of the
    // controller's own view tree, or nothing would keep it alive once the file is loaded.
    void checkOutletIsOwned(const ObjectPtr& object, const std::string& identifier,
                            const std::string& outlet, const std::string& destination) {
        const auto controller = std::dynamic_pointer_cast<ViewController>(object);
        auto view = std::dynamic_pointer_cast<View>(made_.at(destination));
        if (!controller || !view)
            return;
        for (auto ancestor = view; ancestor; ancestor = ancestor->superview()) {
            if (ancestor == controller->view())
                return;
        }
        fail("object \"" + identifier + "\": outlet \"" + outlet + "\" names \"" + destination +
             "\", which is not in the controller's view");
    }

    const json& document_;
    std::string source_;
    std::map<std::string, ObjectPtr> made_;
    std::set<std::string> making_;
};

}  // namespace

LoadedInterface InterfaceFile::loadFromString(const std::string& document,
                                              const std::string& sourceName) {
    json parsed;
    try {
        parsed = json::parse(document);
    } catch (const json::exception& error) {
        // Not only syntax: a number too large for a double is refused while parsing as well.
        throw InterfaceFileError("interface file " + sourceName +
                                 ": not valid JSON: " + error.what());
    }
    return Loader(parsed, sourceName).load();
}

LoadedInterface InterfaceFile::loadFromFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw InterfaceFileError("interface file " + path + ": cannot be opened");
    std::ostringstream contents;
    contents << file.rdbuf();
    return loadFromString(contents.str(), path);
}

}  // namespace platform
