#include "prompter/ReaderIntake.h"

#include <QFileInfo>

namespace prompter {

ReaderIntake::ReaderIntake(std::string containerRoot, QString scripts, QObject* parent)
    : ScriptIntake(parent), inbox_(std::move(containerRoot)), scripts_(std::move(scripts)) {}

ReaderIntake::~ReaderIntake() = default;

void ReaderIntake::takeWaiting() {
    std::string problem;
    // Delivery reads each title from the file it holds; the listing needs none.
    const auto listing = inbox_.list(&problem, reader::Titles::leftOut);
    QStringList failures;
    QStringList names;
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
            }
        }
    }
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

void ReaderIntake::rearm() {
    std::string problem;
    if (!watch_->arm(&problem))
        emit failed(QStringLiteral("New texts will not show until a restart: %1")
                        .arg(QString::fromStdString(problem)));
}

}  // namespace prompter
