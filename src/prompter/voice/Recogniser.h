// Recogniser: speech to words, listening for a known text. An engine sits behind this small
// interface (PocketSphinx 0.8 today; its version 5 has another API, and another engine could
// follow). It is used from one thread, the voice's own, never the window's.
#pragma once

#include <QString>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <variant>
#include <vector>

namespace prompter::voice {

struct Hypothesis {
    std::vector<std::string> words;  // the current utterance so far, lower case
    bool final = false;              // the utterance ended: these words stand
};

class Recogniser {
  public:
    virtual ~Recogniser() = default;
    // Whether `word` (lower case) is in its dictionary: words it cannot hear are left out of
    // what the aligner expects.
    [[nodiscard]] virtual bool knows(const std::string& word) const = 0;
    // Listens for these words (the script around the presenter's place, in order) from the next
    // utterance on, with a way out for words that are not among them.
    virtual void listenFor(const std::vector<std::string>& words) = 0;
    // 16 kHz mono audio; what it heard so far when that changed.
    virtual std::vector<Hypothesis> feed(std::span<const std::int16_t> samples) = 0;
    // The audio ended: the last utterance's words.
    virtual std::vector<Hypothesis> finish() = 0;
};

// PocketSphinx with the model in `modelFolder` (an acoustic model folder and a .dict file in it
// or below it); the packaged English model when empty. It will be asked to listen for words of
// `vocabulary` only (the script's): its decoder loads just those from the dictionary, which
// takes a fraction of the time the whole dictionary would. A message when it cannot start.
[[nodiscard]] std::variant<std::unique_ptr<Recogniser>, QString> makeSphinxRecogniser(
    const QString& modelFolder, const std::vector<std::string>& vocabulary);

// The packaged English model's folder.
[[nodiscard]] QString defaultModelFolder();

// An ARPA language model of `words` (in script order: what follows what) with `outOfScript`
// words as the way out for anything else said, each much less likely than a script word.
[[nodiscard]] std::string scriptLanguageModel(const std::vector<std::string>& words,
                                              const std::vector<std::string>& outOfScript);

}  // namespace prompter::voice
