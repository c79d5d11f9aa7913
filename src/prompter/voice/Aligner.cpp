#include "prompter/voice/Aligner.h"

#include <algorithm>
#include <cstdlib>

namespace prompter::voice {

Aligner::Aligner(std::vector<std::string> words) {
    auto script = std::make_shared<Script>();
    script->words = std::move(words);
    for (std::size_t i = 0; i < script->words.size(); ++i)
        script->where[script->words[i]].push_back(i);
    script_ = std::move(script);
}

void Aligner::setPlace(std::ptrdiff_t index) {
    place_ = std::clamp<std::ptrdiff_t>(index, -1, static_cast<std::ptrdiff_t>(size()) - 1);
    runs_.clear();
    wordsSinceMatch_ = 0;
    placed_ = true;
}

int Aligner::required(std::ptrdiff_t distance, bool continuing) const {
    if (distance == 1)
        return continuing ? 1 : 2;
    if (distance > 1 && distance <= kNearWords)
        return 2;
    if (distance > kNearWords && distance <= kLocalWords)
        return 3;
    return kConfirmWords;  // a paragraph or more on, or back (a repeat holds unless confirmed)
}

Aligner::Step Aligner::hear(std::string_view word) {
    const auto found = script_->where.find(std::string(word));
    if (found == script_->where.end()) {
        // Not in the script: one such word inside a run (a word misheard) keeps the run; more
        // (an ad-lib, a question to the crew) end it.
        if (++wordsSinceMatch_ > 1)
            runs_.clear();
        return {};
    }
    // The next word alone moves the place only while the presenter is reading on: the word
    // heard before matched the place, or it was just put there (or nothing was said yet). After
    // an ad-lib, a common word that happens to come next must be confirmed by one more.
    const bool continuing = placed_ || (place_ < 0 && runs_.empty()) ||
                            std::any_of(runs_.begin(), runs_.end(), [this](const Run& run) {
                                return static_cast<std::ptrdiff_t>(run.end) == place_;
                            });
    std::vector<Run> runs;
    runs.reserve(found->second.size());
    for (const std::size_t end : found->second) {
        // A word the script says often ("the", "and") tells less about the place than a rare
        // one: a skip wants a rare word among the words heard after it.
        const int rare = found->second.size() > kCommonAfter ? 0 : 1;
        int length = 1;
        int rareWords = rare;
        int unbroken = 1;
        for (const Run& run : runs_) {
            const auto gap =
                static_cast<std::ptrdiff_t>(end) - static_cast<std::ptrdiff_t>(run.end);
            if (gap >= 1 && gap <= kGapWords + wordsSinceMatch_ && run.length + 1 > length) {
                length = run.length + 1;
                rareWords = gap == 1 ? run.rare + rare : rare;  // counted again after a skip
            }
            if (gap == 1 && wordsSinceMatch_ == 0)
                unbroken = std::max(unbroken, run.unbroken + 1);
        }
        runs.push_back({end, length, rareWords, unbroken});
    }
    runs_ = std::move(runs);
    wordsSinceMatch_ = 0;
    placed_ = false;

    // The nearest confirmed candidate ahead; failing that, the best confirmed one elsewhere
    // (the longest run, then the nearest).
    const Run* best = nullptr;
    std::ptrdiff_t bestDistance = 0;
    for (const Run& run : runs_) {
        const std::ptrdiff_t distance = static_cast<std::ptrdiff_t>(run.end) - place_;
        // A re-sync wants its words one after another, as the script has them: a recogniser
        // pressed to hear the script in an ad-lib finds script words, but rarely several in a
        // row with none left out.
        const bool far = distance < 1 || distance > kLocalWords;
        const int confirmed = far ? run.unbroken : distance == 1 ? 1 : run.length;
        if (confirmed < required(distance, continuing) || (distance > 1 && !far && run.rare == 0))
            continue;
        const bool better = [&] {
            if (!best)
                return true;
            const bool near = distance >= 1 && distance <= kLocalWords;
            const bool bestNear = bestDistance >= 1 && bestDistance <= kLocalWords;
            if (near != bestNear)
                return near;
            if (near)
                return distance < bestDistance;
            if (run.unbroken != best->unbroken)
                return run.unbroken > best->unbroken;
            return std::abs(distance) < std::abs(bestDistance);
        }();
        if (better) {
            best = &run;
            bestDistance = distance;
        }
    }
    if (!best)
        return {};
    place_ = static_cast<std::ptrdiff_t>(best->end);
    return {true, bestDistance < 1 || bestDistance > kLocalWords};
}

}  // namespace prompter::voice
