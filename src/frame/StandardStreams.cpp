#include "frame/StandardStreams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace frame {

ClosedStreams holdClosedStandardStreams() {
    ClosedStreams closed;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int held = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (held >= 0 && held != fd) {
            ::dup2(held, fd);
            ::close(held);
        }
        if (fd == STDIN_FILENO)
            closed.input = true;
        if (fd == STDOUT_FILENO)
            closed.output = true;
    }
    return closed;
}

ClosedStreams guardStandardStreams() {
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    return holdClosedStandardStreams();
}

}  // namespace frame
