// ClassRegistry: the runtime's table of classes by module-qualified name.
//
// A class registers itself when its code is loaded (a static registrar in its source file), as
// classes of a loaded bundle do on the device. The property list and interface files name
// classes; the host creates the principal class by name; target-action and outlet connections
// send one-argument messages by selector name ("sendButtonTouched:", "setTextView:").
#pragma once

#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Coder.h"
#include "platform/foundation/Object.h"

namespace platform {

struct ClassInfo {
    using Message = std::function<void(Object& receiver, const ObjectPtr& argument)>;

    std::string name;            // "QuorvaneShareExt.ShareViewController"
    std::string superclassName;  // "UIViewController"; empty for a root class
    // initWithCoder: a new object from an archive, or null when decoding fails.
    std::function<ObjectPtr(const Coder&)> initWithCoder;
    // The plain initialiser (init, initWithFrame: of a zero frame, initWithNibName:bundle: nil).
    std::function<ObjectPtr()> init;
    // One-argument messages the class answers: action methods and outlet setters.
    std::map<std::string, Message, std::less<>> messages;
    // The methods the platform sees on the class, in the order of its method list.
    std::vector<std::string> methodList;
    // Outlets an interface file must connect for objects of this class to work.
    std::vector<std::string> requiredOutlets;
};

// The description of a class whose objects decode themselves with a member
// `bool initWithCoder(const Coder&)` (false when the archive cannot be decoded) and whose plain
// initialiser is `T::make()` when it has one. Callers add messages and method lists.
//   ClassRegistry::shared().registerClass(decodableClass<Label>("UILabel", "UIView"));
template <typename T>
ClassInfo decodableClass(std::string name, std::string superclassName) {
    ClassInfo info;
    info.name = std::move(name);
    info.superclassName = std::move(superclassName);
    info.initWithCoder = [](const Coder& coder) -> ObjectPtr {
        auto object = std::make_shared<T>();
        return object->initWithCoder(coder) ? object : nullptr;
    };
    info.init = []() -> ObjectPtr {
        if constexpr (requires { T::make(); }) {
            return T::make();
        } else {
            return std::make_shared<T>();
        }
    };
    return info;
}

class ClassRegistry {
  public:
    static ClassRegistry& shared();

    // Adds a class. Returns false (and changes nothing) when the name is taken.
    bool registerClass(ClassInfo info);
    // The class of that name, or null. The returned info stays valid for the process.
    [[nodiscard]] const ClassInfo* lookup(std::string_view name) const;
    // Creates an object of a class by name with its plain initialiser; null if unknown.
    [[nodiscard]] ObjectPtr instantiate(std::string_view name) const;

    // Sends a one-argument message to an object, looking in its class and then its
    // superclasses. False when the object does not respond to the selector.
    bool sendMessage(Object& receiver, std::string_view selector, const ObjectPtr& argument) const;
    [[nodiscard]] bool respondsToSelector(const Object& receiver, std::string_view selector) const;

  private:
    const ClassInfo::Message* findMessage(std::string_view className,
                                          std::string_view selector) const;

    mutable std::mutex mutex_;
    std::map<std::string, std::unique_ptr<ClassInfo>, std::less<>> classes_;
};

}  // namespace platform
