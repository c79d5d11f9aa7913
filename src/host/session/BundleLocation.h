// BundleLocation: which extension bundle a host loads.
#pragma once

#include <optional>
#include <string>

namespace host {

// The bundle's folder name, as the build and the installation lay it out.
inline constexpr const char* kBundleName = "QuorvaneShareExt.appex";

// The bundle named by the person (`given`), else QUORVANE_EXTENSION_BUNDLE, else the one
// installed with this program: beside its folder in a build tree (<build>/bin/.. holds
// QuorvaneShareExt.appex), or under lib/quorvane/ of an installed tree (<prefix>/bin/..). The
// installed places are found relative to the program itself, so a tree works wherever it is
// unpacked.
[[nodiscard]] std::string bundlePath(const std::optional<std::string>& given);

}  // namespace host
