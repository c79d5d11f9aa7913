// URL: a file URL (NSURL), a path in the file system.
#pragma once

#include <string>

namespace platform {

class URL {
  public:
    static URL fileURLWithPath(std::string path) { return URL(std::move(path)); }

    // URLByAppendingPathComponent: the path below this URL. The component may itself hold
    // several levels ("regular/imported"); exactly one "/" separates it from this path.
    [[nodiscard]] URL appendingPathComponent(const std::string& component) const;
    [[nodiscard]] const std::string& path() const { return path_; }
    [[nodiscard]] std::string lastPathComponent() const;

    friend bool operator==(const URL&, const URL&) = default;

  private:
    explicit URL(std::string path) : path_(std::move(path)) {}
    std::string path_;
};

}  // namespace platform
