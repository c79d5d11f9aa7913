#include "reader/DeliveryFolder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "reader/internal/Files.h"

namespace reader {
namespace {

using internal::failure;
using internal::Fd;

// The absolute form of `path` (made from the working folder when relative), without resolving
// links.
std::string absolutePath(const std::string& path) {
    if (path.starts_with('/'))
        return path;
    std::string cwd(4096, '\0');
    while (::getcwd(cwd.data(), cwd.size()) == nullptr) {
        if (errno != ERANGE)
            return path;
        cwd.resize(cwd.size() * 2);
    }
    cwd.resize(std::strlen(cwd.c_str()));
    return (cwd == "/" ? "" : cwd) + "/" + path;
}

// Makes `path` and its missing parents (the new ones owner-only), like mkdir -p.
int makeFolders(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST)
        return 0;
    if (errno != ENOENT)
        return -1;
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0 || makeFolders(path.substr(0, slash)) != 0)
        return -1;
    return (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) ? 0 : -1;
}

}  // namespace

std::optional<DeliveryFolder> DeliveryFolder::open(const std::string& path, std::string* problem) {
    if (path.empty()) {
        *problem = "the folder to deliver into is empty";
        return std::nullopt;
    }
    const std::string absolute = absolutePath(path);
    if (makeFolders(absolute) != 0) {
        *problem = failure("making " + path, errno);
        return std::nullopt;
    }
    Fd fd(::open(absolute.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd) {
        *problem = failure("opening " + path, errno);
        return std::nullopt;
    }
    struct ::stat status {};
    if (::fstat(fd.get(), &status) != 0) {
        *problem = failure("checking " + path, errno);
        return std::nullopt;
    }
    return DeliveryFolder(absolute, fd.release(), status.st_dev, status.st_ino);
}

DeliveryFolder::DeliveryFolder(DeliveryFolder&& other) noexcept
    : path_(std::move(other.path_)),
      fd_(std::exchange(other.fd_, -1)),
      device_(other.device_),
      inode_(other.inode_) {}

DeliveryFolder& DeliveryFolder::operator=(DeliveryFolder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0)
            ::close(fd_);
        path_ = std::move(other.path_);
        fd_ = std::exchange(other.fd_, -1);
        device_ = other.device_;
        inode_ = other.inode_;
    }
    return *this;
}

DeliveryFolder::~DeliveryFolder() {
    if (fd_ >= 0)
        ::close(fd_);
}

}  // namespace reader
