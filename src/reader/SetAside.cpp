#include "reader/internal/SetAside.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/random.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "reader/TextTitle.h"
#include "reader/internal/Files.h"
#include "reader/internal/Holding.h"

namespace reader::internal {

std::string asideName(const std::string& id, const struct ::stat& held, const char* prefix) {
    return prefix + id + "-" + std::to_string(held.st_ino);
}

std::string freshTextName() {
    unsigned char bytes[16] = {};
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = ::getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            // No random source: time and process make a name that is still unique enough here.
            const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
            for (std::size_t i = 0; i < sizeof bytes; ++i)
                bytes[i] ^= static_cast<unsigned char>((now >> (8 * (i % 8))) ^ ::getpid() >> i);
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    bytes[6] = static_cast<unsigned char>((bytes[6] & 0x0F) | 0x40);
    bytes[8] = static_cast<unsigned char>((bytes[8] & 0x3F) | 0x80);
    char name[37];
    std::snprintf(name, sizeof name,
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", bytes[0],
                  bytes[1], bytes[2], bytes[3], bytes[4], bytes[5], bytes[6], bytes[7], bytes[8],
                  bytes[9], bytes[10], bytes[11], bytes[12], bytes[13], bytes[14], bytes[15]);
    return name;
}

bool putBack(int claims, const std::string& aside, int imported, const std::string& id) {
    if (::renameat2(claims, aside.c_str(), imported, id.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno == ENOENT)
        return false;
    struct ::stat status {};
    if (::fstatat(claims, aside.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
        return false;
    if (!S_ISREG(status.st_mode)) {
        (void)::unlinkat(claims, aside.c_str(), 0);
        return false;
    }
    for (int attempt = 0; attempt < 8; ++attempt)
        if (::renameat2(claims, aside.c_str(), imported, freshTextName().c_str(),
                        RENAME_NOREPLACE) == 0 ||
            errno != EEXIST)
            return false;
    return false;
}

bool removeHeld(int imported, int claims, const std::string& id, const struct ::stat& held) {
    const std::string aside = asideName(id, held);
    if (claims >= 0 &&
        ::renameat2(imported, id.c_str(), claims, aside.c_str(), RENAME_NOREPLACE) == 0) {
        struct ::stat moved {};
        if (::fstatat(claims, aside.c_str(), &moved, AT_SYMLINK_NOFOLLOW) == 0 &&
            !sameFile(moved, held)) {
            putBack(claims, aside, imported, id);
            return true;
        }
        return ::unlinkat(claims, aside.c_str(), 0) == 0 || errno == ENOENT;
    }
    if (claims >= 0 && errno == ENOENT)
        return true;
    if (claims >= 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS &&
        errno != EOPNOTSUPP && errno != EEXIST)
        return false;
    if (!stillNamed(imported, id, held))
        return true;
    return ::unlinkat(imported, id.c_str(), 0) == 0 || errno == ENOENT;
}

bool heldByALivingReader(int claims, const std::string& name) {
    Fd fd(
        ::openat(claims, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    return fd && ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

void sweepAside(int claims, int imported, Sweep sweep) {
    DIR* dir = readEntries(claims);
    if (!dir)
        return;
    std::vector<std::string> aside;
    while (const struct dirent* entry = ::readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name.starts_with(kAsidePrefix) || name.starts_with(kMovingPrefix))
            aside.emplace_back(name);
    }
    ::closedir(dir);
    for (const std::string& name : aside) {
        const bool moving = name.starts_with(kMovingPrefix);
        const std::size_t idStart = std::strlen(moving ? kMovingPrefix : kAsidePrefix);
        const std::size_t dash = name.rfind('-');
        if (dash == std::string::npos || dash <= idStart)
            continue;
        const std::string id = name.substr(idStart, dash - idStart);
        char* end = nullptr;
        const unsigned long long inode = std::strtoull(name.c_str() + dash + 1, &end, 10);
        struct ::stat status {};
        if (!isTextName(id) || *end != '\0' ||
            ::fstatat(claims, name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        const bool heldFile = S_ISREG(status.st_mode) && status.st_ino == static_cast<ino_t>(inode);
        if (moving && heldFile && heldByALivingReader(claims, name))
            continue;
        if (!moving && heldFile) {
            if (sweep == Sweep::all)
                (void)::unlinkat(claims, name.c_str(), 0);
        } else
            (void)putBack(claims, name, imported, id);
    }
}

}  // namespace reader::internal
