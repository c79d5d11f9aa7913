#include "platform/foundation/PlatformVersion.h"

#include <atomic>
#include <charconv>

namespace platform {
namespace {
std::atomic<int> gMajor{PlatformVersion::current().major};
std::atomic<int> gMinor{PlatformVersion::current().minor};

std::optional<int> parseNumber(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || value < 0) {
        return std::nullopt;
    }
    return value;
}
}  // namespace

PlatformVersion PlatformVersion::running() {
    return {gMajor.load(), gMinor.load()};
}

void PlatformVersion::setRunning(PlatformVersion version) {
    gMajor.store(version.major);
    gMinor.store(version.minor);
}

bool PlatformVersion::isAtLeast(int major, int minor) {
    return running() >= PlatformVersion{major, minor};
}

std::optional<PlatformVersion> PlatformVersion::parse(std::string_view text) {
    const std::size_t dot = text.find('.');
    const auto major = parseNumber(text.substr(0, dot));
    if (!major)
        return std::nullopt;
    if (dot == std::string_view::npos)
        return PlatformVersion{*major, 0};
    const auto minor = parseNumber(text.substr(dot + 1));
    if (!minor)
        return std::nullopt;
    return PlatformVersion{*major, *minor};
}

std::string PlatformVersion::toString() const {
    return std::to_string(major) + "." + std::to_string(minor);
}

}  // namespace platform
