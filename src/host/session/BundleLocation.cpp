#include "host/session/BundleLocation.h"

#include <cstdlib>
#include <filesystem>

namespace host {

std::string bundlePath(const std::optional<std::string>& given) {
    if (given)
        return *given;
    if (const char* path = std::getenv("QUORVANE_EXTENSION_BUNDLE"); path && *path)
        return path;
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    const auto base = error ? std::filesystem::path(".") : program.parent_path().parent_path();
    for (const auto& candidate : {base / kBundleName, base / "lib" / "quorvane" / kBundleName}) {
        if (std::filesystem::exists(candidate / "Info.json", error))
            return candidate.string();
    }
    return (base / kBundleName).string();
}

}  // namespace host
