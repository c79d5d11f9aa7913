#include "platform/foundation/ClassRegistry.h"

namespace platform {

ClassRegistry& ClassRegistry::shared() {
    static ClassRegistry registry;
    return registry;
}

bool ClassRegistry::registerClass(ClassInfo info) {
    std::lock_guard lock(mutex_);
    if (classes_.count(info.name) != 0)
        return false;
    std::string name = info.name;
    classes_.emplace(std::move(name), std::make_unique<ClassInfo>(std::move(info)));
    return true;
}

const ClassInfo* ClassRegistry::lookup(std::string_view name) const {
    std::lock_guard lock(mutex_);
    const auto it = classes_.find(name);
    return it == classes_.end() ? nullptr : it->second.get();
}

ObjectPtr ClassRegistry::instantiate(std::string_view name) const {
    const ClassInfo* info = lookup(name);
    return info && info->init ? info->init() : nullptr;
}

const ClassInfo::Message* ClassRegistry::findMessage(std::string_view className,
                                                     std::string_view selector) const {
    for (const ClassInfo* info = lookup(className); info; info = lookup(info->superclassName)) {
        if (const auto it = info->messages.find(selector); it != info->messages.end())
            return &it->second;
        if (info->superclassName.empty())
            break;
    }
    return nullptr;
}

bool ClassRegistry::sendMessage(Object& receiver, std::string_view selector,
                                const ObjectPtr& argument) const {
    const ClassInfo::Message* message = findMessage(receiver.className(), selector);
    if (!message)
        return false;
    (*message)(receiver, argument);
    return true;
}

bool ClassRegistry::respondsToSelector(const Object& receiver, std::string_view selector) const {
    return findMessage(receiver.className(), selector) != nullptr;
}

}  // namespace platform
