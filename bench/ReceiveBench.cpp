// The receiver's latency: a text sent while `quorvane-receive --watch --to DIR` runs, from the
// end of its send (written, synced, linked into the import folder, folder synced, as the share
// sheet sends) until it appears in DIR. One send per repetition; the median of the repetitions
// is the figure (target: within 10 ms).
//
// Also the library's own costs without a process around them: listing 10,000 waiting texts
// (title lines read) and delivering 1,000 into a folder on the same file system.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "handover/ContainerLocation.h"
#include "reader/Inbox.h"

namespace {

namespace fs = std::filesystem;

std::string temporaryFolder() {
    std::string pattern = (fs::current_path() / "receive-bench-XXXXXX").string();
    return ::mkdtemp(pattern.data());
}

std::string uuidFor(unsigned long n) {
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%08lX-0000-4000-8000-%012lX", n & 0xFFFFFFFF,
                  n & 0xFFFFFFFFFFFF);
    return buffer;
}

// Sends `bytes` as the share sheet does; returns when the send has ended.
void send(const std::string& folder, int folderFd, const std::string& name,
          const std::string& bytes) {
    const int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0 || ::write(fd, bytes.data(), bytes.size()) != ssize_t(bytes.size()) ||
        ::fsync(fd) != 0)
        std::abort();
    const std::string procPath = "/proc/self/fd/" + std::to_string(fd);
    if (::linkat(AT_FDCWD, procPath.c_str(), folderFd, name.c_str(), AT_SYMLINK_FOLLOW) != 0)
        std::abort();
    ::close(fd);
    ::fsync(folderFd);
}

void SentToDelivered(benchmark::State& state) {
    const std::string base = temporaryFolder();
    const std::string root = base + "/containers";
    const std::string imported = handover::importFolderPath(root);
    const std::string out = base + "/out";
    fs::create_directories(imported);
    fs::create_directories(out);
    const int folderFd = ::open(imported.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ::inotify_add_watch(watch, out.c_str(), IN_CREATE | IN_MOVED_TO);
    const pid_t receiver = ::fork();
    if (receiver == 0) {
        ::setenv("QUORVANE_CONTAINER_ROOT", root.c_str(), 1);
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::execl(QUORVANE_RECEIVE, "quorvane-receive", "--watch", "--to", out.c_str(), nullptr);
        ::_exit(127);
    }
    ::usleep(200000);  // the receiver has armed its watch
    unsigned long n = 0;
    for (auto _ : state) {
        const std::string title = "Take " + std::to_string(++n);
        send(imported, folderFd, uuidFor(n), title + "\n" + std::string(1024, 'x'));
        const auto sent = std::chrono::steady_clock::now();
        alignas(struct inotify_event) char buffer[4096];
        bool seen = false;
        while (!seen) {
            const ssize_t got = ::read(watch, buffer, sizeof buffer);
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const struct inotify_event*>(buffer + at);
                seen = seen || (event->len && std::string(event->name) == title + ".txt");
                at += ssize_t(sizeof(struct inotify_event) + event->len);
            }
        }
        state.SetIterationTime(
            std::chrono::duration<double>(std::chrono::steady_clock::now() - sent).count());
    }
    ::kill(receiver, SIGTERM);
    ::waitpid(receiver, nullptr, 0);
    ::close(watch);
    ::close(folderFd);
    fs::remove_all(base);
}
BENCHMARK(SentToDelivered)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(101)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

// Fills an import folder with `count` texts of about a kilobyte.
std::string filledContainer(const std::string& base, long count) {
    const std::string root = base + "/containers";
    const std::string imported = handover::importFolderPath(root);
    fs::create_directories(imported);
    const std::string body(1000, 'b');
    for (long i = 0; i < count; ++i) {
        const int fd = ::open((imported + "/" + uuidFor(static_cast<unsigned long>(i))).c_str(),
                              O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        const std::string text = "Title " + std::to_string(i) + "\n" + body;
        if (fd < 0 || ::write(fd, text.data(), text.size()) != ssize_t(text.size()))
            std::abort();
        ::close(fd);
    }
    return root;
}

void ListWaiting(benchmark::State& state) {
    const std::string base = temporaryFolder();
    const std::string root = filledContainer(base, state.range(0));
    reader::Inbox inbox(root);
    for (auto _ : state) {
        std::string problem;
        auto listing = inbox.list(&problem);
        if (!listing || listing->texts.size() != std::size_t(state.range(0)))
            state.SkipWithError("listing failed");
        benchmark::DoNotOptimize(listing);
    }
    fs::remove_all(base);
}
BENCHMARK(ListWaiting)->Arg(10000)->Unit(benchmark::kMillisecond);

void DeliverSameFileSystem(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        const std::string base = temporaryFolder();
        const std::string root = filledContainer(base, state.range(0));
        reader::Inbox inbox(root);
        std::string problem;
        const auto texts = inbox.list(&problem)->texts;
        const auto folder = reader::DeliveryFolder::open(base + "/out", &problem);
        state.ResumeTiming();
        const auto results = inbox.deliver(texts, *folder);
        state.PauseTiming();
        for (const auto& result : results)
            if (result.outcome != reader::Outcome::handedOver)
                state.SkipWithError("a delivery failed");
        fs::remove_all(base);
        state.ResumeTiming();
    }
}
BENCHMARK(DeliverSameFileSystem)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
