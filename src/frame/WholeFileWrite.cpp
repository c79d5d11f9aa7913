#include "frame/WholeFileWrite.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

namespace frame {

std::string fileKindProblem(mode_t mode) {
    if (S_ISLNK(mode))
        return "it is a symbolic link, which is never followed";
    if (S_ISFIFO(mode))
        return "it is a FIFO";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "it is a device";
    if (S_ISDIR(mode))
        return "it is a folder";
    if (!S_ISREG(mode))
        return "it is not a regular file";
    return "";
}

std::string pathProblem(const std::string& path) {
    struct stat entry {};
    if (::lstat(path.c_str(), &entry) != 0)
        return errno == ENOENT ? "" : std::strerror(errno);
    return fileKindProblem(entry.st_mode);
}

std::string writeFileWhole(const std::string& path, std::string_view bytes, unsigned mode) {
    const std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        return "it names no file";
    const int directory = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (directory < 0)
        return std::strerror(errno);
    std::string temporary;
    int fd = -1;
    std::random_device random;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        char suffix[24];
        std::snprintf(suffix, sizeof suffix, ".%08x.partial", random());
        temporary = "." + name + suffix;
        fd = ::openat(directory, temporary.c_str(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    const auto failed = [&](int error) {
        if (fd >= 0)
            ::close(fd);
        if (!temporary.empty())
            (void)::unlinkat(directory, temporary.c_str(), 0);
        ::close(directory);
        return std::string(std::strerror(error));
    };
    if (fd < 0) {
        const int error = errno;
        temporary.clear();
        return failed(error);
    }
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return failed(written < 0 ? errno : EIO);
        done += static_cast<std::size_t>(written);
    }
    if (::fsync(fd) != 0)
        return failed(errno);
    const int closed = ::close(fd);
    fd = -1;
    if (closed != 0)
        return failed(errno);
    // A folder planted at the name makes the rename fail; a link there is replaced, its target
    // left as it was.
    if (::renameat(directory, temporary.c_str(), directory, name.c_str()) != 0)
        return failed(errno);
    (void)::fsync(directory);
    ::close(directory);
    return "";
}

}  // namespace frame
