// Work done on a second thread where one can be had. Where none can (a limit on the user's
// processes reached), the work is done on the calling thread instead: the program is then only
// slower, never ended by an uncaught exception.

#pragma once

#include <system_error>
#include <thread>

namespace prompter {

// Starts `work` on a thread of its own, or does it here, at once, when no thread can be started.
// Join what it returns when it is joinable.
template <typename Work>
[[nodiscard]] std::thread beside(const Work& work) {
    try {
        return std::thread(work);
    } catch (const std::system_error&) {
        work();
        return {};
    }
}

// `one` here and `other` beside it; both are done on return.
template <typename One, typename Other>
void inTwo(const One& one, const Other& other) {
    std::thread helper = beside(other);
    one();
    if (helper.joinable())
        helper.join();
}

}  // namespace prompter
