#include <cmath>
#include <cstdio>
#include <map>
#include <set>

#include "prompter/voice/Recogniser.h"

namespace prompter::voice {
namespace {

constexpr double kOutOfScriptShare = 0.01;  // of the unigram mass, for words not in the script
constexpr double kBigramShare = 0.9;        // of a word's mass for the words seen after it

std::string line(double log10Probability, const std::string& words, double backoff) {
    char text[64];
    std::snprintf(text, sizeof text, "%.4f ", log10Probability);
    std::string out = text + words;
    if (!std::isnan(backoff)) {
        std::snprintf(text, sizeof text, " %.4f", backoff);
        out += text;
    }
    return out + '\n';
}

}  // namespace

std::string scriptLanguageModel(const std::vector<std::string>& words,
                                const std::vector<std::string>& outOfScript) {
    std::map<std::string, double> unigrams;
    std::map<std::pair<std::string, std::string>, double> bigrams;
    for (std::size_t i = 0; i < words.size(); ++i) {
        unigrams[words[i]] += 1;
        if (i + 1 < words.size())
            bigrams[{words[i], words[i + 1]}] += 1;
    }
    std::set<std::string> extra;
    for (const std::string& word : outOfScript)
        if (!unigrams.count(word))
            extra.insert(word);
    const double scriptShare = extra.empty() ? 1.0 : 1.0 - kOutOfScriptShare;
    const double total = std::max<double>(static_cast<double>(words.size()), 1);
    const double backoff = std::log10(1 - kBigramShare);
    const double none = std::nan("");

    std::string arpa = "\\data\\\n";
    arpa += "ngram 1=" + std::to_string(unigrams.size() + extra.size() + 2) + '\n';
    arpa += "ngram 2=" + std::to_string(bigrams.size()) + "\n\n\\1-grams:\n";
    // An utterance starts and ends anywhere in the script: both back off to the unigrams.
    arpa += line(-99, "<s>", 0);
    arpa += line(std::log10(0.05), "</s>", none);
    for (const auto& [word, count] : unigrams)
        arpa += line(std::log10(scriptShare * count / total), word, backoff);
    for (const std::string& word : extra)
        arpa += line(std::log10(kOutOfScriptShare / static_cast<double>(extra.size())), word, 0);
    arpa += "\n\\2-grams:\n";
    for (const auto& [pair, count] : bigrams)
        arpa += line(std::log10(kBigramShare * count / unigrams[pair.first]),
                     pair.first + ' ' + pair.second, none);
    arpa += "\n\\end\\\n";
    return arpa;
}

}  // namespace prompter::voice
