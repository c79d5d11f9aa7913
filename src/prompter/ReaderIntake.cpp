#include "prompter/ReaderIntake.h"

#include <QFileInfo>
#include <algorithm>

namespace prompter {
namespace {

constexpr int kFirstHeldRetryMs = 250;
constexpr int kLongestHeldRetryMs = 2000;
constexpr int kFirstFailedRetryMs = 1000;
constexpr int kLongestFailedRetryMs = 300 * 1000;

// The next wait of a back-off: the first one, then twice the last, up to the longest.
int nextDelay(int last, int first, int longest) {
    return last == 0 ? first : std::min(2 * last, longest);
}

}  // namespace

ReaderIntake::ReaderIntake(std::string containerRoot, QString scripts, QObject* parent)
    : ScriptIntake(parent), inbox_(std::move(containerRoot)), scripts_(std::move(scripts)) {
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, [this] { takeWaiting(); });
}

ReaderIntake::~ReaderIntake() = default;

void ReaderIntake::takeWaiting() {
    std::string problem;
    // Delivery reads each title from the file it holds; the listing needs none.
    const auto listing = inbox_.list(&problem, reader::Titles::leftOut);
    QStringList failures;
    QStringList names;
    bool anyHeldElsewhere = false;
    if (!listing) {
        failures << QString::fromStdString(problem);
    } else if (!listing->texts.empty()) {
        auto folder = reader::DeliveryFolder::open(scripts_.toStdString(), &problem);
        if (!folder) {
            failures << QString::fromStdString(problem);
        } else {
            for (const reader::HandOver& handOver : inbox_.deliver(listing->texts, *folder)) {
                if (handOver.outcome == reader::Outcome::handedOver)
                    names << QFileInfo(QString::fromStdString(handOver.deliveredTo)).fileName();
                else if (handOver.outcome == reader::Outcome::failed)
                    failures << QString::fromStdString(handOver.problem);
                anyHeldElsewhere = anyHeldElsewhere || handOver.heldElsewhere;
            }
        }
    }
    scheduleRetry(anyHeldElsewhere, !failures.isEmpty());
    if (!names.isEmpty())
        emit taken(names);
    // A failure is said once, not again at every wake while it lasts.
    const QString failure =
        failures.isEmpty()
            ? QString()
            : QStringLiteral("A sent text could not be taken in (it stays waiting): %1")
                  .arg(failures.join(QStringLiteral("; ")));
    if (!failure.isEmpty() && failure != lastFailure_)
        emit failed(failure);
    lastFailure_ = failure;
}

void ReaderIntake::startWatching() {
    watch_ = std::make_unique<reader::FolderWatch>(inbox_.importFolder());
    rearm();
    if (watch_->descriptor() < 0)
        return;
    notifier_ = std::make_unique<QSocketNotifier>(watch_->descriptor(), QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        watch_->wait(0, -1);  // drains what woke it
        rearm();
        takeWaiting();
    });
    // What landed between the first taking and the watch is taken now.
    takeWaiting();
}

void ReaderIntake::scheduleRetry(bool anyHeldElsewhere, bool anyFailed) {
    heldDelayMs_ =
        anyHeldElsewhere ? nextDelay(heldDelayMs_, kFirstHeldRetryMs, kLongestHeldRetryMs) : 0;
    failedDelayMs_ =
        anyFailed ? nextDelay(failedDelayMs_, kFirstFailedRetryMs, kLongestFailedRetryMs) : 0;
    const int next = heldDelayMs_ == 0     ? failedDelayMs_
                     : failedDelayMs_ == 0 ? heldDelayMs_
                                           : std::min(heldDelayMs_, failedDelayMs_);
    if (next > 0)
        retry_.start(next);
    else
        retry_.stop();
}

void ReaderIntake::rearm() {
    std::string problem;
    if (!watch_->arm(&problem))
        emit failed(QStringLiteral("New texts will not show until a restart: %1")
                        .arg(QString::fromStdString(problem)));
}

}  // namespace prompter
