// Object: the root of the platform's reference types (NSObject).
//
// Objects live in std::shared_ptr and hand out `self` with sharedFrom(). Every object has a
// runtime class name; messages by selector name (target-action, outlet setters) are delivered
// through the class registry, so interface files and tests can name them as the device does.
#pragma once

#include <memory>
#include <string_view>

namespace platform {

class Object : public std::enable_shared_from_this<Object> {
  public:
    virtual ~Object() = default;
    Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    // The name the class is registered under ("UIView", "QuorvaneShareExt.ShareViewController").
    [[nodiscard]] virtual std::string_view className() const { return "NSObject"; }
};

using ObjectPtr = std::shared_ptr<Object>;
using WeakObjectPtr = std::weak_ptr<Object>;

// `self` as a shared pointer of the object's own type. The object must be owned by a shared_ptr.
template <typename T>
std::shared_ptr<T> sharedFrom(T* object) {
    return std::static_pointer_cast<T>(object->shared_from_this());
}

}  // namespace platform
