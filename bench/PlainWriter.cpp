// plain_writer: the plainest program that saves a file durably, as a yardstick for the share
// host's time and memory. It reads FILE whole into memory (as the host does), writes it to a
// new file in FOLDER, syncs it, and syncs the folder.
//   plain_writer FILE FOLDER
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: plain_writer FILE FOLDER\n");
        return 2;
    }
    const int input = ::open(argv[1], O_RDONLY | O_CLOEXEC);
    struct ::stat status {};
    if (input < 0 || ::fstat(input, &status) != 0)
        return 1;
    std::string text(static_cast<std::size_t>(status.st_size), '\0');
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t got = ::read(input, text.data() + done, text.size() - done);
        if (got <= 0)
            return 1;
        done += static_cast<std::size_t>(got);
    }
    ::close(input);

    const std::string path = std::string(argv[2]) + "/plain-" + std::to_string(::getpid());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return 1;
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t written = ::write(fd, text.data() + done, text.size() - done);
        if (written <= 0)
            return 1;
        done += static_cast<std::size_t>(written);
    }
    const int folder = ::open(argv[2], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = ::fsync(fd) == 0 && ::close(fd) == 0 && ::fsync(folder) == 0;
    ::close(folder);
    return synced ? 0 : 1;
}
