// The teleprompter with a big script, on Qt's headless platform at 1920x1080: how long from
// reading the file's start to the first frame drawn (the rest read behind it, as the program
// reads it), and what each frame costs while the script
// scrolls (at the start, in the middle, near the end, and while jumping a screen at a time),
// and the middle again with every frame drawn whole rather than moved from the frame before.
// Peak memory is measured around it (/usr/bin/time -v), see scripts/figures.sh.
//
// The intake and the library, as the program sets them up: the first picture of the library
// with WAITING sent texts to take in beside SCRIPTS scripts; and the processor time a burst of
// ARRIVALS texts sent while the library shows costs, all of them taken in and listed.
//
//   prompter_bench [MEGABYTES]                 (100 by default)
//   prompter_bench intake WAITING SCRIPTS
//   prompter_bench burst ARRIVALS SCRIPTS
//   prompter_bench library SCRIPTS             (first picture, cache cold and warm, beside cat)
//   prompter_bench live MEGABYTES              (a saved edit reaching a running prompt)
//   prompter_bench index FILE                  (the whole index of FILE made, as a prompt makes
//                                               it on its own thread while the start shows;
//                                               alone, and after reading the file's rest)
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <future>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "FrameCosts.h"
#include "ReportText.h"
#include "handover/ContainerLocation.h"
#include "prompter/PromptView.h"
#include "prompter/PrompterWindow.h"
#include "prompter/ReaderIntake.h"
#include "prompter/ScriptFile.h"
#include "prompter/ScriptIndex.h"
#include "prompter/ScriptIntake.h"
#include "prompter/ScriptLibrary.h"
#include "qttext/PlainTextSource.h"

namespace {

using bench::Clock;
using bench::Costs;
using bench::cpuMilliseconds;
using bench::FrameClock;
using bench::FrameCosts;
using bench::millisecondsSince;

void writeScript(const QString& path, std::size_t bytes) {
    const std::string text = reportText(bytes);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) !=
            static_cast<qint64>(text.size()))
        std::abort();
}

// Frames drawn at 60 a second for `frames` frames from where the view stands, as the frame
// timer has them drawn (the picture moved where only the text's place changed, then painted).
Costs scroll(prompter::PromptView& view, FrameClock& clock, int frames) {
    FrameCosts costs;
    for (int i = 0; i < frames; ++i) {
        clock.now += 1000.0 / 60;
        costs.measure([&view] {
            view.showNextFrame();
            QCoreApplication::sendPostedEvents();
        });
    }
    return costs.costs();
}

// The whole process's processor time (user and system), in milliseconds.
double processCpuMilliseconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

void writeBytes(const QString& path, const std::string& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(bytes.data(), static_cast<qint64>(bytes.size())) !=
            static_cast<qint64>(bytes.size()))
        std::abort();
}

// A text of about a kilobyte with its own title line.
std::string shortText(const char* kind, int number) {
    return std::string(kind) + " " + std::to_string(number) + "\n" + reportText(1000);
}

// Sent as the share sheet sends: written aside, then renamed in under a new UUID.
void send(const QString& root, const QString& imported, int number) {
    const QString staged = root + QStringLiteral("/staged-%1").arg(number);
    writeBytes(staged, shortText("Sent text", number));
    const QString id = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    if (::rename(QFile::encodeName(staged).constData(),
                 QFile::encodeName(imported + "/" + id).constData()) != 0)
        std::abort();
}

struct Library {
    QTemporaryDir root;
    QString imported;
    QString scripts;
};

void fill(Library& library, int waiting, int scripts) {
    library.imported =
        QString::fromStdString(handover::importFolderPath(library.root.path().toStdString()));
    library.scripts = library.root.path() + "/scripts";
    if (!QDir().mkpath(library.imported) || !QDir().mkpath(library.scripts) ||
        ::chmod(QFile::encodeName(library.scripts).constData(), 0700) != 0)
        std::abort();
    for (int i = 0; i < scripts; ++i)
        writeBytes(library.scripts + QStringLiteral("/Script %1.txt").arg(i),
                   shortText("Script", i));
    for (int i = 0; i < waiting; ++i)
        send(library.root.path(), library.imported, i);
    // The library's cache of counts lives beside the files, empty at first: never the person's.
    ::setenv("XDG_CACHE_HOME", QFile::encodeName(library.root.path() + "/cache").constData(), 1);
    ::sync();
}

// The library as main() starts it: its folder made, the waiting texts taken in, the folder
// watched, and the window's first picture drawn.
struct LibraryShown {
    explicit LibraryShown(const Library& files)
        : library(files.scripts),
          intake(files.root.path().toStdString(), library.folder()),
          window(library, intake, {}, {}, prompter::Presentation::window,
                 std::make_shared<prompter::SteadyPromptClock>()) {
        if (library.ensureFolder())
            std::abort();
        intake.takeWaiting();
        intake.startWatching();
        library.refresh();
        window.show();
        QApplication::processEvents();
        window.repaint();
    }
    prompter::ScriptLibrary library;
    prompter::ReaderIntake intake;
    prompter::PrompterWindow window;
};

// From the program's start of the library to its first picture, as main() does it.
int measureIntake(int waiting, int scripts) {
    Library files;
    fill(files, waiting, scripts);
    const auto start = Clock::now();
    const double cpuStart = processCpuMilliseconds();
    const LibraryShown shown(files);
    const double wall = millisecondsSince(start);
    const double cpu = processCpuMilliseconds() - cpuStart;
    if (shown.library.rowCount() != waiting + scripts || !QDir(files.imported).isEmpty())
        std::abort();
    std::printf("first picture             %d waiting, %d scripts: %.1f ms (processor %.1f ms)\n",
                waiting, scripts, wall, cpu);
    return 0;
}

// The processor time of the children waited for, in milliseconds.
double childrenCpuMilliseconds() {
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e3 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e3;
}

struct Took {
    double wall = 0;
    double cpu = 0;
};

// `cat` of every script to /dev/null, as one process: the yardstick of reading them all.
Took catAll(const QString& folder) {
    std::vector<std::string> paths;
    QDirIterator files(folder, QDir::Files);
    while (files.hasNext())
        paths.push_back(QFile::encodeName(files.next()).toStdString());
    std::vector<char*> arguments{const_cast<char*>("cat")};
    for (std::string& path : paths)
        arguments.push_back(path.data());
    arguments.push_back(nullptr);
    const auto start = Clock::now();
    const double cpuStart = childrenCpuMilliseconds();
    const pid_t child = ::fork();
    if (child == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::execv("/bin/cat", arguments.data());
        ::_exit(127);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0)
        std::abort();
    return {millisecondsSince(start), childrenCpuMilliseconds() - cpuStart};
}

// The library's first picture beside SCRIPTS scripts of about a kilobyte: on a first run (no
// cache: the list shows, the counts follow) and on the next (every count from the cache),
// beside `cat` of the same files, all in one run. The files are two seconds old when the first
// run counts them, as a cache keeps only counts of files that settled.
int measureLibrary(int scripts) {
    Library files;
    fill(files, 0, scripts);
    std::this_thread::sleep_for(std::chrono::milliseconds(2100));
    const Took catBefore = catAll(files.scripts);
    Took cold;
    double counted = 0;
    {
        const auto start = Clock::now();
        const double cpuStart = processCpuMilliseconds();
        LibraryShown shown(files);
        cold = {millisecondsSince(start), processCpuMilliseconds() - cpuStart};
        if (shown.library.rowCount() != scripts)
            std::abort();
        while (shown.library.counting())
            QApplication::processEvents(QEventLoop::AllEvents, 50);
        counted = millisecondsSince(start);
    }  // the cache written as the library goes
    const auto start = Clock::now();
    const double cpuStart = processCpuMilliseconds();
    const LibraryShown warmShown(files);
    const Took warm{millisecondsSince(start), processCpuMilliseconds() - cpuStart};
    if (warmShown.library.counting() || warmShown.library.rowCount() != scripts)
        std::abort();
    const Took catAfter = catAll(files.scripts);
    const Took cat{(catBefore.wall + catAfter.wall) / 2, (catBefore.cpu + catAfter.cpu) / 2};
    std::printf(
        "library                   %d scripts: cat %.1f ms (processor %.1f ms); "
        "first run %.1f ms (processor %.1f ms; every count shown %.1f ms); "
        "next run %.1f ms (processor %.1f ms)\n",
        scripts, cat.wall, cat.cpu, cold.wall, cold.cpu, counted, warm.wall, warm.cpu);
    return 0;
}

// A burst sent by another thread while the library shows; the processor time is the whole
// process's less the sender's own.
int measureBurst(int arrivals, int scripts) {
    Library files;
    fill(files, 0, scripts);
    LibraryShown shown(files);
    prompter::ScriptLibrary& library = shown.library;

    const auto start = Clock::now();
    const double cpuStart = processCpuMilliseconds();
    double senderCpu = 0;
    std::thread sender([&] {
        const double own = cpuMilliseconds();
        for (int i = 0; i < arrivals; ++i)
            send(files.root.path(), files.imported, i);
        senderCpu = cpuMilliseconds() - own;
    });
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (library.rowCount() == scripts + arrivals || millisecondsSince(start) > 300000)
            QApplication::quit();
    });
    check.start(5);
    QApplication::exec();
    sender.join();
    const double wall = millisecondsSince(start);
    const double cpu = processCpuMilliseconds() - cpuStart - senderCpu;
    if (library.rowCount() != scripts + arrivals || !QDir(files.imported).isEmpty())
        std::abort();
    std::printf("burst                     %d arrivals, %d scripts: %.1f ms (processor %.1f ms)\n",
                arrivals, scripts, wall, cpu);
    return 0;
}

// From the rename that saves an edit (a line added at the top, as an editor saves: written
// aside, renamed over) to the running prompt showing the new version, the reading line on the
// same words; the median and the worst of 21 saves.
int measureLiveEdit(std::size_t megabytes) {
    Library files;
    fill(files, 0, 0);
    std::string text = reportText(megabytes << 20);
    const QString path = files.scripts + "/Talk.txt";
    writeBytes(path, text);
    prompter::ScriptLibrary library(files.scripts);
    prompter::NoScriptIntake intake;
    prompter::PrompterWindow window(library, intake, {}, {}, prompter::Presentation::window,
                                    std::make_shared<prompter::SteadyPromptClock>());
    if (library.ensureFolder())
        std::abort();
    library.refresh();
    window.resize(1920, 1080);
    window.show();
    if (!window.prompt(path, 0, prompter::Motion::still))
        std::abort();
    prompter::PromptView* view = window.promptView();
    view->jumpTo(view->motion().length() / 2);
    QApplication::processEvents();
    std::vector<double> delays;
    for (int i = 0; i < 21; ++i) {
        // A script over a megabyte shows from the index of its start while the rest is indexed:
        // each save starts from the last one wholly indexed, and ends when the new version is
        // shown and wholly indexed (an upper bound of the moment it shows).
        while (view->isIndexing())
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        text.insert(0, "An edit at the top, number " + std::to_string(i) + ".\n");
        const std::size_t before = view->paragraphCount();
        const double words = view->position();
        writeBytes(files.root.path() + "/aside", text);
        const auto start = Clock::now();
        if (::rename(QFile::encodeName(files.root.path() + "/aside").constData(),
                     QFile::encodeName(path).constData()) != 0)
            std::abort();
        while ((view->paragraphCount() == before || view->isIndexing()) &&
               millisecondsSince(start) < 10000)
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        view->repaint();
        delays.push_back(millisecondsSince(start));
        if (view->paragraphCount() != before + 1 || view->position() <= words)
            std::abort();
    }
    std::sort(delays.begin(), delays.end());
    std::printf("live edit                 %zu MB: %.1f ms median, %.1f ms worst\n", megabytes,
                delays[delays.size() / 2], delays.back());
    return 0;
}

}  // namespace

namespace {

// The whole index of the script in `path` (its paragraphs, words, sections and cues), made as a
// prompt makes it on a thread of its own: from its start to the moment it is done, three times,
// the median, with the processor time the thread spent (the main thread only waits).
int measureIndex(const QString& path) {
    auto read = prompter::ScriptFile::read(path);
    const auto* text = std::get_if<std::shared_ptr<const std::string>>(&read);
    if (!text) {
        std::fprintf(stderr, "prompter_bench: %s\n",
                     std::get<prompter::ScriptReadError>(read).message.toLocal8Bit().constData());
        return 1;
    }
    const auto source = std::make_shared<qttext::PlainTextSource>(*text);
    // The index alone, of the text read; then the whole as a prompt has it ready: the start
    // read, the rest read and indexed on the thread (the file in the page cache).
    std::vector<std::pair<double, double>> runs;
    std::vector<std::pair<double, double>> readRuns;
    std::size_t paragraphs = 0;
    for (int i = 0; i < 3; ++i) {
        for (const bool reading : {false, true}) {
            std::promise<void> done;
            const auto started = Clock::now();
            const double cpuStarted = processCpuMilliseconds();
            const auto finished = [&done] { done.set_value(); };
            auto start = prompter::ScriptFile::start(path, prompter::PromptView::kIndexedAtOnce,
                                                     prompter::PromptView::kHeadBytes);
            auto* opened = std::get_if<prompter::ScriptFile::Start>(&start);
            auto indexing = reading && opened && opened->rest
                                ? std::make_unique<prompter::ScriptIndexing>(opened->rest, finished)
                                : std::make_unique<prompter::ScriptIndexing>(source, finished);
            done.get_future().wait();
            (reading ? readRuns : runs)
                .emplace_back(millisecondsSince(started), processCpuMilliseconds() - cpuStarted);
            paragraphs = indexing->take().blocks.size();
        }
    }
    std::sort(runs.begin(), runs.end());
    std::sort(readRuns.begin(), readRuns.end());
    std::printf("script                    %s, %zu bytes, %zu paragraphs\n",
                path.toLocal8Bit().constData(), static_cast<std::size_t>(source->length()),
                paragraphs);
    std::printf("whole index               %.1f ms (processor %.1f ms)\n", runs[1].first,
                runs[1].second);
    std::printf("read and whole index      %.1f ms (processor %.1f ms)\n", readRuns[1].first,
                readRuns[1].second);
    return 0;
}

constexpr const char* kUsage =
    "Usage: prompter_bench [MEGABYTES]        the first frame of a MEGABYTES script (100 by\n"
    "                                         default) and what each scrolling frame costs\n"
    "       prompter_bench intake WAITING SCRIPTS\n"
    "                                         the library's first picture with WAITING sent\n"
    "                                         texts beside SCRIPTS scripts\n"
    "       prompter_bench burst ARRIVALS SCRIPTS\n"
    "                                         the processor time of ARRIVALS texts sent while\n"
    "                                         the library shows\n"
    "       prompter_bench library SCRIPTS    the library's first picture beside SCRIPTS\n"
    "                                         scripts, its cache cold and warm, beside cat\n"
    "       prompter_bench live MEGABYTES     a saved edit reaching a running prompt\n"
    "       prompter_bench index FILE         the whole index of FILE, alone and after reading\n"
    "                                         the file, as a prompt does (median of 3)\n"
    "Runs on Qt's headless platform at 1920x1080; scripts/figures.sh runs each.\n";

// Whether `text` is a whole number of at least `least` (a mistyped size is refused, never read
// as 0).
bool isCount(const char* text, unsigned long least = 1) {
    char* end = nullptr;
    errno = 0;
    const unsigned long value = std::strtoul(text, &end, 10);
    return *text >= '0' && *text <= '9' && *end == '\0' && errno == 0 && value >= least;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && (std::strcmp(argv[1], "-h") == 0 || std::strcmp(argv[1], "--help") == 0)) {
        std::fputs(kUsage, stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    const bool known =
        argc == 1 || (argc == 2 && isCount(argv[1])) ||
        (argc == 4 && (std::strcmp(argv[1], "intake") == 0 || std::strcmp(argv[1], "burst") == 0) &&
         isCount(argv[2]) && isCount(argv[3], 0)) ||
        (argc == 3 && std::strcmp(argv[1], "live") == 0 && isCount(argv[2])) ||
        (argc == 3 && std::strcmp(argv[1], "index") == 0) ||
        (argc == 3 && std::strcmp(argv[1], "library") == 0 && isCount(argv[2]));
    if (!known) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "intake") == 0)
        return measureIntake(std::atoi(argv[2]), std::atoi(argv[3]));
    if (argc == 4 && std::strcmp(argv[1], "burst") == 0)
        return measureBurst(std::atoi(argv[2]), std::atoi(argv[3]));
    if (argc == 3 && std::strcmp(argv[1], "library") == 0)
        return measureLibrary(std::atoi(argv[2]));
    if (argc == 3 && std::strcmp(argv[1], "live") == 0)
        return measureLiveEdit(std::strtoul(argv[2], nullptr, 10));
    if (argc == 3 && std::strcmp(argv[1], "index") == 0)
        return measureIndex(QString::fromLocal8Bit(argv[2]));
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    QTemporaryDir folder;
    const QString path = folder.path() + "/script.txt";
    writeScript(path, megabytes << 20);

    auto clock = std::make_shared<FrameClock>();
    prompter::PromptView view(clock);
    view.resize(1920, 1080);
    view.show();
    QApplication::processEvents();

    // From the file on disk to the first frame drawn, read as the prompter reads it: a big
    // script's start first.
    const auto opened = Clock::now();
    const double cpuOpened = cpuMilliseconds();
    auto read = prompter::ScriptFile::start(path, prompter::PromptView::kIndexedAtOnce,
                                            prompter::PromptView::kHeadBytes);
    const double reading = millisecondsSince(opened);
    view.setScript(std::get<prompter::ScriptFile::Start>(std::move(read)));
    const double indexed = millisecondsSince(opened);
    view.repaint();
    const double firstFrame = millisecondsSince(opened);
    const double firstFrameCpu = cpuMilliseconds() - cpuOpened;
    // The rest is read and indexed on a thread of its own meanwhile; the frames below are
    // measured on the whole of it.
    while (view.isIndexing())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double wholeIndex = millisecondsSince(opened);
    // The frame after the whole index is taken lays out again what shows.
    FrameCosts afterIndexCosts;
    afterIndexCosts.measure([&view] { view.repaint(); });
    const Costs afterIndex = afterIndexCosts.costs();

    prompter::PrompterSettings settings = view.settings();
    settings.countdown = 0;
    settings.speed = 600;  // the fastest: the most new text per frame
    view.setSettings(settings);
    view.start();
    const Costs atStart = scroll(view, *clock, 600);
    view.jumpTo(view.motion().length() / 2);
    const Costs inMiddle = scroll(view, *clock, 600);
    view.jumpTo(view.motion().length() - 2000);
    const Costs nearEnd = scroll(view, *clock, 600);
    FrameCosts jumpCosts;
    view.jumpTo(view.motion().length() / 3);
    for (int i = 0; i < 200; ++i) {
        view.jumpByScreens(1);
        jumpCosts.measure([&view] { view.repaint(); });
    }
    const Costs jumps = jumpCosts.costs();
    // The same scroll through the middle, every frame drawn whole (no picture kept): the
    // yardstick for what moving the kept picture saves, in the same run.
    view.jumpTo(view.motion().length() / 2);
    view.setKeepsPicture(false);
    const Costs inMiddleWhole = scroll(view, *clock, 600);
    view.setKeepsPicture(true);

    std::printf("script                    %zu MB, %zu paragraphs, %.0f words\n", megabytes,
                view.paragraphCount(), view.motion().length());
    std::printf("start read                %.1f ms\n", reading);
    std::printf("start read and indexed    %.1f ms\n", indexed);
    std::printf("first frame               %.1f ms (processor %.1f ms)\n", firstFrame,
                firstFrameCpu);
    std::printf("whole read, index taken   %.1f ms\n", wholeIndex);
    std::printf("frame after the index     %.2f ms (processor %.2f ms)\n", afterIndex.median,
                afterIndex.cpuMedian);
    const auto line = [](const char* label, const Costs& costs) {
        std::printf("%-25s %.2f / %.2f ms (processor %.2f / %.2f ms)\n", label, costs.median,
                    costs.worst, costs.cpuMedian, costs.cpuWorst);
    };
    line("frame, start (med/worst)", atStart);
    line("frame, middle", inMiddle);
    line("frame, near the end", nearEnd);
    line("frame after a screen jump", jumps);
    line("frame, middle, drawn whole", inMiddleWhole);
    std::printf("layouts made              %zu\n", view.layoutsMade());
    return 0;
}
