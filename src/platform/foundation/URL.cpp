#include "platform/foundation/URL.h"

namespace platform {

URL URL::appendingPathComponent(const std::string& component) const {
    std::string path = path_;
    std::size_t start = 0;
    while (start < component.size() && component[start] == '/')
        ++start;
    if (path.empty() || path.back() != '/')
        path.push_back('/');
    path.append(component, start);
    return URL(std::move(path));
}

std::string URL::lastPathComponent() const {
    std::string trimmed = path_;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    const std::size_t slash = trimmed.rfind('/');
    return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

}  // namespace platform
