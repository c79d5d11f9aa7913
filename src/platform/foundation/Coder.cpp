#include "platform/foundation/Coder.h"

#include <cstdlib>
#include <limits>

namespace platform {

bool Coder::decodingFails() const {
    const auto it = archive_.find("decodeFails");
    return it != archive_.end() && it->is_boolean() && it->get<bool>();
}

bool Coder::containsValueForKey(const std::string& key) const {
    return archive_.is_object() && archive_.contains(key);
}

std::optional<std::string> Coder::decodeString(const std::string& key) const {
    if (!containsValueForKey(key) || !archive_[key].is_string())
        return std::nullopt;
    return archive_[key].get<std::string>();
}

std::optional<double> Coder::decodeDouble(const std::string& key) const {
    if (!containsValueForKey(key) || !archive_[key].is_number())
        return std::nullopt;
    return archive_[key].get<double>();
}

std::optional<int> Coder::decodeInteger(const std::string& key) const {
    const auto value = decodeDouble(key);
    // Compared as doubles: both limits are exact there, and NaN fails both tests.
    if (!value || !(*value > double(std::numeric_limits<int>::min()) - 1) ||
        !(*value < double(std::numeric_limits<int>::max()) + 1))
        return std::nullopt;
    return static_cast<int>(*value);
}

std::optional<bool> Coder::decodeBool(const std::string& key) const {
    if (!containsValueForKey(key) || !archive_[key].is_boolean())
        return std::nullopt;
    return archive_[key].get<bool>();
}

std::optional<Rect> Coder::decodeRect(const std::string& key) const {
    if (!containsValueForKey(key))
        return std::nullopt;
    const nlohmann::json& value = archive_[key];
    if (!value.is_array() || value.size() != 4)
        return std::nullopt;
    for (const auto& number : value) {
        if (!number.is_number())
            return std::nullopt;
    }
    return makeRect(value[0].get<double>(), value[1].get<double>(), value[2].get<double>(),
                    value[3].get<double>());
}

std::optional<RgbaColor> Coder::decodeColor(const std::string& key) const {
    if (!containsValueForKey(key))
        return std::nullopt;
    const nlohmann::json& value = archive_[key];
    if (value.is_array() && value.size() == 4) {
        for (const auto& number : value) {
            if (!number.is_number())
                return std::nullopt;
        }
        return RgbaColor(value[0].get<double>(), value[1].get<double>(), value[2].get<double>(),
                         value[3].get<double>());
    }
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        if (text.size() != 7 || text[0] != '#')
            return std::nullopt;
        char* end = nullptr;
        const unsigned long rgb = std::strtoul(text.c_str() + 1, &end, 16);
        if (end != text.c_str() + 7)
            return std::nullopt;
        return RgbaColor(((rgb >> 16) & 0xff) / 255.0, ((rgb >> 8) & 0xff) / 255.0,
                         (rgb & 0xff) / 255.0, 1.0);
    }
    return std::nullopt;
}

ObjectPtr Coder::decodeObject(const std::string& key) const {
    const auto identifier = decodeString(key);
    if (!identifier || !resolver_)
        return nullptr;
    return resolver_(*identifier);
}

}  // namespace platform
