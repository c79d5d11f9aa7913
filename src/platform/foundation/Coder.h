// Coder: reads one archived object of an interface file (NSCoder).
//
// An archived object is a JSON object of keyed values. References to other objects of the same
// file are their identifiers, resolved by the loader that made the coder. An archive may be
// marked as failing to decode ("decodeFails": true), which makes every base initialiser that
// reads it fail, as a damaged archive does on the device.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/foundation/Geometry.h"
#include "platform/foundation/Object.h"
#include "platform/foundation/RgbaColor.h"

namespace platform {

class Coder {
  public:
    using Resolver = std::function<ObjectPtr(const std::string& identifier)>;

    explicit Coder(nlohmann::json archive, Resolver resolver = {})
        : archive_(std::move(archive)), resolver_(std::move(resolver)) {}

    // True when the archive cannot be decoded; base initialisers then yield nothing.
    [[nodiscard]] bool decodingFails() const;

    [[nodiscard]] bool containsValueForKey(const std::string& key) const;
    [[nodiscard]] std::optional<std::string> decodeString(const std::string& key) const;
    [[nodiscard]] std::optional<double> decodeDouble(const std::string& key) const;
    // A number that an int holds (a fraction is cut off); a larger one reads as absent, as it
    // names no value of any enumeration.
    [[nodiscard]] std::optional<int> decodeInteger(const std::string& key) const;
    [[nodiscard]] std::optional<bool> decodeBool(const std::string& key) const;
    // [x, y, width, height]
    [[nodiscard]] std::optional<Rect> decodeRect(const std::string& key) const;
    // [red, green, blue, alpha] or "#rrggbb"
    [[nodiscard]] std::optional<RgbaColor> decodeColor(const std::string& key) const;
    // The object an identifier names, or null.
    [[nodiscard]] ObjectPtr decodeObject(const std::string& key) const;

    [[nodiscard]] const nlohmann::json& archive() const { return archive_; }

  private:
    nlohmann::json archive_;
    Resolver resolver_;
};

}  // namespace platform
