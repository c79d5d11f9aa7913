// DeliveryFolder: a folder the texts of the import folder are delivered into, held open by a
// descriptor so that every step of a delivery works on the folder that was opened.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <utility>

namespace reader {

// A folder texts are delivered into (`--to DIR`). The path is the person's own and is followed
// as given (it may be or pass through a link); inside it nothing is followed or replaced.
class DeliveryFolder {
  public:
    // Opens `path`, making it (and missing parents, owner-only) when it does not exist. None,
    // with the reason in `problem`, when it cannot be made or is not a folder.
    static std::optional<DeliveryFolder> open(const std::string& path, std::string* problem);

    DeliveryFolder(DeliveryFolder&& other) noexcept;
    DeliveryFolder& operator=(DeliveryFolder&& other) noexcept;
    DeliveryFolder(const DeliveryFolder&) = delete;
    DeliveryFolder& operator=(const DeliveryFolder&) = delete;
    ~DeliveryFolder();

    [[nodiscard]] const std::string& path() const { return path_; }  // absolute
    [[nodiscard]] int descriptor() const { return fd_; }
    [[nodiscard]] dev_t device() const { return device_; }
    [[nodiscard]] ino_t inode() const { return inode_; }

  private:
    DeliveryFolder(std::string path, int fd, dev_t device, ino_t inode)
        : path_(std::move(path)), fd_(fd), device_(device), inode_(inode) {}
    std::string path_;
    int fd_ = -1;
    dev_t device_ = 0;
    ino_t inode_ = 0;
};

}  // namespace reader
