// PlatformVersion: the version of the running platform, and the availability test.
//
// The stand-in runs whatever version it is told (tests and the host set it); by default it
// is a current version.
#pragma once

#include <compare>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

struct PlatformVersion {
    int major = 0;
    int minor = 0;

    static constexpr PlatformVersion current() { return {17, 0}; }
    // The running platform's version.
    static PlatformVersion running();
    static void setRunning(PlatformVersion version);
    // The availability test: true when the running platform is at least major.minor.
    static bool isAtLeast(int major, int minor);

    // "X" or "X.Y" with non-negative numbers; none for anything else.
    static std::optional<PlatformVersion> parse(std::string_view text);
    [[nodiscard]] std::string toString() const;

    friend constexpr auto operator<=>(const PlatformVersion&, const PlatformVersion&) = default;
};

}  // namespace platform
