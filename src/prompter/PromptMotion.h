// PromptMotion: where the script stands at a given time, in words read.
//
// The position is the speed times the time spent moving, pauses, countdowns and jumps taken
// off: a change of speed, a pause or a jump fixes the position reached so far as a new anchor,
// and the position after it grows from there. Nothing accumulates per frame, so frames drawn
// late or early never make the text jump or drift. Times are the prompt clock's milliseconds;
// positions are words from the start (a fraction inside a word is fine).
#pragma once

namespace prompter {

class PromptMotion {
  public:
    static constexpr double kMinSpeed = 20;   // words per minute
    static constexpr double kMaxSpeed = 600;  // words per minute

    // The script's length in words; the position never passes it.
    void setLength(double words);
    [[nodiscard]] double length() const { return length_; }

    [[nodiscard]] double position(double now) const;
    [[nodiscard]] double speed() const { return speed_; }
    [[nodiscard]] bool isRunning() const { return running_; }
    [[nodiscard]] bool isCountingDown(double now) const { return running_ && now < movesFrom_; }
    // Milliseconds left of the countdown (0 when none is running).
    [[nodiscard]] double countdownLeft(double now) const;
    [[nodiscard]] bool isAtEnd(double now) const { return position(now) >= length_; }

    // Starts moving after `countdownMs`.
    void start(double now, double countdownMs);
    void pause(double now);
    // Moves on at once from where it stands (a pending countdown ends now).
    void resume(double now);
    void setSpeed(double now, double wordsPerMinute);
    void jumpTo(double now, double words);

  private:
    void anchor(double now);

    double length_ = 0;
    double speed_ = 140;
    bool running_ = false;
    double anchorWords_ = 0;  // the position at movesFrom_
    double movesFrom_ = 0;    // when movement from the anchor begins
};

}  // namespace prompter
