#include "prompter/voice/VoiceFollower.h"

#include <algorithm>
#include <span>

namespace prompter::voice {

VoiceFollower::VoiceFollower(ScriptWords words, QString modelFolder)
    : words_(std::move(words)), modelFolder_(std::move(modelFolder)) {}

VoiceFollower::~VoiceFollower() = default;

void VoiceFollower::start() {
    std::vector<std::string> vocabulary;
    vocabulary.reserve(words_.spoken.size());
    for (const SpokenWord& word : words_.spoken)
        vocabulary.push_back(word.text);
    auto made = makeSphinxRecogniser(modelFolder_, vocabulary);
    if (auto* problem = std::get_if<QString>(&made)) {
        emit ready(*problem);
        return;
    }
    recogniser_ = std::move(std::get<std::unique_ptr<Recogniser>>(made));
    std::vector<std::string> sequence;
    for (std::size_t i = 0; i < words_.spoken.size(); ++i) {
        if (recogniser_->knows(words_.spoken[i].text)) {
            heard_.push_back(i);
            sequence.push_back(words_.spoken[i].text);
        }
    }
    if (words_.spoken.empty()) {
        recogniser_.reset();
        emit ready(QStringLiteral("This script has no words to follow."));
        return;
    }
    // Words the dictionary lacks are skipped; a script with more than a quarter of its words
    // missing (an English script's names and figures are far fewer) is in another language,
    // and following it would only wander.
    if (heard_.size() * 4 < words_.spoken.size() * 3) {
        recogniser_.reset();
        emit ready(
            QStringLiteral("Many of this script's words are not in the voice model's "
                           "dictionary: is it in another language? Following it needs a "
                           "model for that language (--voice-model FOLDER)."));
        return;
    }
    const std::ptrdiff_t place = committed_.place();
    committed_ = Aligner(std::move(sequence));
    committed_.setPlace(place);
    listenAround(committed_.place());
    emit ready(QString());
}

void VoiceFollower::setPlace(qint64 spoken) {
    // The last word it can hear at or before `spoken`.
    const auto after = std::upper_bound(heard_.begin(), heard_.end(),
                                        static_cast<std::size_t>(std::max<qint64>(spoken, 0)));
    std::ptrdiff_t place = (after - heard_.begin()) - 1;
    if (spoken < 0)
        place = -1;
    committed_.setPlace(place);
    reported_ = committed_.place();
    if (recogniser_)
        listenAround(reported_);
}

void VoiceFollower::hear(const QByteArray& samples, qint64 audioMs) {
    if (!recogniser_)
        return;
    const std::span<const std::int16_t> audio(
        reinterpret_cast<const std::int16_t*>(samples.constData()),
        static_cast<std::size_t>(samples.size()) / 2);
    take(recogniser_->feed(audio), audioMs);
}

void VoiceFollower::finish() {
    if (recogniser_)
        take(recogniser_->finish(), -1);
    emit finished();
}

void VoiceFollower::take(const std::vector<Hypothesis>& heard, qint64 audioMs) {
    for (const Hypothesis& hypothesis : heard) {
        // A hypothesis is the utterance so far, and may revise its earlier words: aligned again
        // from where the utterance started.
        Aligner aligner = committed_;
        bool resync = false;  // whether the last move was one
        for (const std::string& word : hypothesis.words)
            if (const Aligner::Step step = aligner.hear(word); step.moved)
                resync = step.resync;
        const std::ptrdiff_t place = aligner.place();
        const std::ptrdiff_t step = place - reported_;
        // A revision that takes back a word or two is not the presenter going back: the place
        // goes back only when that was confirmed, and it is a re-sync only when it is far.
        const bool far = step < 0 || step > Aligner::kLocalWords;
        if (place >= 0 && step != 0 && (step > 0 || resync)) {
            reported_ = place;
            emit moved(static_cast<qint64>(heard_[static_cast<std::size_t>(place)]), resync && far,
                       audioMs);
        }
        if (hypothesis.final) {
            committed_ = aligner;
            if (std::abs(committed_.place() - windowCentre_) > kRebuildAfter)
                listenAround(committed_.place());
        }
    }
}

void VoiceFollower::listenAround(std::ptrdiff_t place) {
    const auto size = static_cast<std::ptrdiff_t>(committed_.size());
    const std::ptrdiff_t from = std::clamp<std::ptrdiff_t>(place - kWordsBehind, 0, size);
    const std::ptrdiff_t to = std::clamp<std::ptrdiff_t>(place + kWordsAhead, from, size);
    std::vector<std::string> window;
    for (std::ptrdiff_t i = from; i < to; ++i)
        window.push_back(committed_.word(static_cast<std::size_t>(i)));
    recogniser_->listenFor(window);
    windowCentre_ = place;
}

}  // namespace prompter::voice
