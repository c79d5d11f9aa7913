#include "prompter/PromptMotion.h"

#include <algorithm>
#include <cmath>

namespace prompter {

void PromptMotion::setLength(double words) {
    length_ = std::max(words, 0.0);
    anchorWords_ = std::clamp(anchorWords_, 0.0, length_);
}

double PromptMotion::position(double now) const {
    if (!running_ || now <= movesFrom_)
        return anchorWords_;
    return std::min(anchorWords_ + speed_ / 60000.0 * (now - movesFrom_), length_);
}

double PromptMotion::countdownLeft(double now) const {
    return isCountingDown(now) ? movesFrom_ - now : 0.0;
}

// Fixes the position reached so far; movement (if any) goes on from it, after what is left of
// a countdown.
void PromptMotion::anchor(double now) {
    anchorWords_ = position(now);
    movesFrom_ = std::max(now, movesFrom_);
}

void PromptMotion::start(double now, double countdownMs) {
    anchor(now);
    running_ = true;
    movesFrom_ = now + std::max(countdownMs, 0.0);
}

void PromptMotion::pause(double now) {
    anchor(now);
    running_ = false;
}

void PromptMotion::resume(double now) {
    anchor(now);
    running_ = true;
    movesFrom_ = now;
}

void PromptMotion::setSpeed(double now, double wordsPerMinute) {
    if (!std::isfinite(wordsPerMinute))
        return;
    anchor(now);
    speed_ = std::clamp(wordsPerMinute, kMinSpeed, kMaxSpeed);
}

void PromptMotion::jumpTo(double now, double words) {
    anchor(now);
    anchorWords_ = std::clamp(std::isfinite(words) ? words : 0.0, 0.0, length_);
}

}  // namespace prompter
