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
}

int Aligner::required(std::ptrdiff_t distance) const {
    if (distance == 1)
        return 1;
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
    std::vector<Run> runs;
    runs.reserve(found->second.size());
    for (const std::size_t end : found->second) {
        int length = 1;
        for (const Run& run : runs_) {
            const auto gap =
                static_cast<std::ptrdiff_t>(end) - static_cast<std::ptrdiff_t>(run.end);
            if (gap >= 1 && gap <= kGapWords + wordsSinceMatch_)
                length = std::max(length, run.length + 1);
        }
        runs.push_back({end, length});
    }
    runs_ = std::move(runs);
    wordsSinceMatch_ = 0;

    // The nearest confirmed candidate ahead; failing that, the best confirmed one elsewhere
    // (the longest run, then the nearest).
    const Run* best = nullptr;
    std::ptrdiff_t bestDistance = 0;
    for (const Run& run : runs_) {
        const std::ptrdiff_t distance = static_cast<std::ptrdiff_t>(run.end) - place_;
        if (run.length < required(distance))
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
            if (run.length != best->length)
                return run.length > best->length;
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
