// The whole send of a large text against writing and syncing the same bytes with plain system
// calls, measured in one run.
//
// WholeSend covers delivery to completion: the controller takes the text from the share
// request, shows it (title line, styled body), and on Send writes it durably (unnamed file,
// write, sync, link under a UUID, folder sync) before completing the request. PlainWriteAndSync
// is open, write, fsync, close of the same bytes in the same folder. Target: WholeSend within
// 1.3 times PlainWriteAndSync.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "platform/extension/ExtensionContext.h"
#include "platform/extension/ExtensionItem.h"
#include "platform/extension/InterfaceFile.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/FileManager.h"
#include "share/ShareViewController.h"
#include "storage/ImportFolder.h"

namespace {

// A text of `size` bytes in lines of 80, like a long script.
const platform::String& sampleText(std::size_t size) {
    static std::map<std::size_t, platform::String> cache;
    auto& slot = cache[size];
    if (slot.size() == size)
        return slot;
    std::string text(size, 'x');
    for (std::size_t i = 79; i < size; i += 80)
        text[i] = '\n';
    slot = platform::String(std::move(text));
    return slot;
}

// A folder on the build's file system (not a RAM disk), so syncing costs what it costs.
const std::filesystem::path& scratch() {
    static const std::filesystem::path folder = [] {
        std::string pattern = (std::filesystem::current_path() / "send-bench-XXXXXX").string();
        return std::filesystem::path(::mkdtemp(pattern.data()));
    }();
    return folder;
}

void PlainWriteAndSync(benchmark::State& state) {
    const platform::String& text = sampleText(static_cast<std::size_t>(state.range(0)));
    const auto path = scratch() / "plain";
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        std::string_view rest = text.view();
        while (!rest.empty()) {
            const ssize_t written = ::write(fd, rest.data(), rest.size());
            if (written <= 0)
                state.SkipWithError("write failed");
            if (written <= 0)
                break;
            rest.remove_prefix(static_cast<std::size_t>(written));
        }
        if (::fsync(fd) != 0)
            state.SkipWithError("fsync failed");
        ::close(fd);
        state.PauseTiming();
        std::filesystem::remove(path);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

void WholeSend(benchmark::State& state) {
    const platform::String& text = sampleText(static_cast<std::size_t>(state.range(0)));
    platform::FileManager::defaultManager().setContainerRoot((scratch() / "containers").string());
    platform::FileManager::defaultManager().setReachableGroups(
        {quorvane::kApplicationGroupIdentifier});
    for (auto _ : state) {
        state.PauseTiming();
        auto loaded =
            platform::InterfaceFile::loadFromFile(QUORVANE_RESOURCES_DIR "/MainInterface.json");
        auto controller =
            std::dynamic_pointer_cast<quorvane::ShareViewController>(loaded.initialViewController);
        loaded.objects.clear();
        auto provider = std::make_shared<platform::ItemProvider>();
        provider->registerItem("public.plain-text", text);
        auto item = std::make_shared<platform::ExtensionItem>();
        item->setAttachments(std::vector{provider});
        auto context =
            std::make_shared<platform::ExtensionContext>(std::vector<platform::ObjectPtr>{item});
        controller->setExtensionContext(context);
        state.ResumeTiming();

        controller->loadViewIfNeeded();  // starts the delivery
        platform::MainRunLoop::runUntilIdle(std::chrono::minutes(10));
        controller->navigationItem().rightBarButtonItem()->tap();
        platform::MainRunLoop::runUntil([&] { return context->outcome().has_value(); },
                                        std::chrono::minutes(10));
        if (!context->outcome() ||
            context->outcome()->kind != platform::ExtensionContext::EndingKind::completed) {
            state.SkipWithError("the send did not complete");
        }

        state.PauseTiming();
        platform::MainRunLoop::runUntilIdle(std::chrono::minutes(1));
        for (const auto& url : quorvane::sharedFileList(platform::FileManager::defaultManager())) {
            std::filesystem::remove(url.path());
        }
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}

// Alternating the two keeps the disk's state comparable between them.
BENCHMARK(PlainWriteAndSync)
    ->Arg(1 << 20)
    ->Arg(100 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(8);
BENCHMARK(WholeSend)
    ->Arg(1 << 20)
    ->Arg(100 << 20)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(8);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(scratch());
    return 0;
}
