// PocketSphinx 0.8 behind the Recogniser interface: the packaged acoustic model and dictionary,
// and a language model written from the script's words around the presenter's place. The model
// text goes to the decoder through an anonymous in-memory file, so nothing is written to disk.
#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <sys/mman.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <unordered_set>

#include "prompter/voice/Recogniser.h"
#include "prompter/voice/WavAudio.h"

namespace prompter::voice {
namespace {

// A way out for words not in the script: what presenters say between the lines. Only those in
// the model's dictionary are used (another language's model may have none of them).
const char* const kOutOfScript[] = {
    "a",    "about", "actually", "again", "ah",     "all",    "and",   "are",   "be",    "but",
    "can",  "could", "do",       "er",    "for",    "go",     "good",  "have",  "hello", "here",
    "hm",   "how",   "i",        "in",    "is",     "it",     "just",  "know",  "like",  "look",
    "me",   "mean",  "my",       "no",    "not",    "now",    "of",    "oh",    "ok",    "okay",
    "on",   "one",   "really",   "right", "say",    "see",    "so",    "sorry", "that",  "the",
    "them", "then",  "there",    "they",  "thing",  "think",  "this",  "to",    "uh",    "um",
    "wait", "was",   "we",       "well",  "what",   "when",   "where", "who",   "why",   "with",
    "yeah", "yes",   "you",      "your",  "camera", "coffee", "lunch", "crew",  "time",  "take",
};

// After this long an utterance ends, and the next one listens with the newest model.
constexpr std::size_t kMaxUtteranceSamples = 20 * kSampleRate;
// How often the utterance so far is asked for: each asking walks back over all of it.
constexpr std::size_t kPartialEverySamples = kSampleRate / 10;

QString findModelFile(const QString& folder, const QString& pattern) {
    const QStringList found = QDir(folder).entryList({pattern}, QDir::Files, QDir::Name);
    return found.isEmpty() ? QString() : QDir(folder).filePath(found.first());
}

// An anonymous in-memory file holding `text`, named by a path the decoder can open.
class MemoryFile {
  public:
    explicit MemoryFile(const std::string& text)
        : fd_(memfd_create("quorvane-voice", MFD_CLOEXEC)) {
        if (fd_ < 0)
            return;
        std::size_t written = 0;
        while (written < text.size()) {
            const ssize_t n = ::write(fd_, text.data() + written, text.size() - written);
            if (n <= 0) {
                ::close(fd_);
                fd_ = -1;
                return;
            }
            written += static_cast<std::size_t>(n);
        }
    }
    ~MemoryFile() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    [[nodiscard]] bool ok() const { return fd_ >= 0; }
    [[nodiscard]] std::string path() const { return "/proc/self/fd/" + std::to_string(fd_); }

  private:
    int fd_;
};

class SphinxRecogniser : public Recogniser {
  public:
    SphinxRecogniser(ps_decoder_t* decoder, std::unordered_set<std::string> known)
        : decoder_(decoder), known_(std::move(known)) {
        for (const char* word : kOutOfScript)
            if (knows(word))
                outOfScript_.emplace_back(word);
    }
    ~SphinxRecogniser() override {
        if (started_)
            ps_end_utt(decoder_);
        ps_free(decoder_);
    }
    SphinxRecogniser(const SphinxRecogniser&) = delete;
    SphinxRecogniser& operator=(const SphinxRecogniser&) = delete;

    [[nodiscard]] bool knows(const std::string& word) const override {
        return known_.count(word) != 0;
    }

    void listenFor(const std::vector<std::string>& words) override {
        pending_ = scriptLanguageModel(words, outOfScript_);
        if (!started_)
            applyModel();
    }

    std::vector<Hypothesis> feed(std::span<const std::int16_t> samples) override {
        std::vector<Hypothesis> heard;
        if (!hasModel_)
            return heard;
        if (!started_)
            startUtterance();
        ps_process_raw(decoder_, samples.data(), samples.size(), FALSE, FALSE);
        utteranceSamples_ += samples.size();
        const bool speaking = ps_get_in_speech(decoder_) != 0;
        if (speaking && utteranceSamples_ - askedAt_ >= kPartialEverySamples) {
            askedAt_ = utteranceSamples_;
            spoke_ = true;
            Hypothesis partial{words(), false};
            if (partial.words != last_) {
                last_ = partial.words;
                heard.push_back(std::move(partial));
            }
        }
        if ((spoke_ && !speaking) || utteranceSamples_ > kMaxUtteranceSamples)
            endUtterance(heard);
        return heard;
    }

    std::vector<Hypothesis> finish() override {
        std::vector<Hypothesis> heard;
        if (started_)
            endUtterance(heard);
        return heard;
    }

  private:
    std::vector<std::string> words() const {
        std::vector<std::string> out;
        std::int32_t score = 0;
        const char* text = ps_get_hyp(decoder_, &score);
        if (!text)
            return out;
        std::string all(text);
        std::size_t at = 0;
        while (at < all.size()) {
            std::size_t end = all.find(' ', at);
            if (end == std::string::npos)
                end = all.size();
            std::string word = all.substr(at, end - at);
            at = end + 1;
            if (const auto paren = word.find('('); paren != std::string::npos && paren > 0)
                word.resize(paren);  // an alternative pronunciation
            if (word.empty() || word[0] == '<' || word[0] == '[')
                continue;  // silence, noise
            out.push_back(std::move(word));
        }
        return out;
    }

    void startUtterance() {
        ps_start_utt(decoder_);
        started_ = true;
        spoke_ = false;
        utteranceSamples_ = 0;
        askedAt_ = 0;
        last_.clear();
    }

    void endUtterance(std::vector<Hypothesis>& heard) {
        ps_end_utt(decoder_);
        started_ = false;
        heard.push_back({words(), true});
        last_.clear();
        applyModel();
    }

    void applyModel() {
        if (pending_.empty())
            return;
        const MemoryFile file(pending_);
        pending_.clear();
        // Two names in turn: the new search is added before the old one goes.
        const char* name = (generation_++ % 2) ? "script-b" : "script-a";
        if (!file.ok() || ps_set_lm_file(decoder_, name, file.path().c_str()) != 0 ||
            ps_set_search(decoder_, name) != 0)
            return;  // the model in use stays
        hasModel_ = true;
    }

    ps_decoder_t* decoder_;
    std::unordered_set<std::string> known_;
    std::vector<std::string> outOfScript_;
    std::string pending_;
    std::vector<std::string> last_;
    std::size_t utteranceSamples_ = 0;
    std::size_t askedAt_ = 0;
    unsigned generation_ = 0;
    bool hasModel_ = false;
    bool started_ = false;
    bool spoke_ = false;
};

}  // namespace

QString defaultModelFolder() {
    return QStringLiteral("/usr/share/pocketsphinx/model/en-us");
}

// The dictionary's entries for `wanted` words (and their alternative pronunciations, "word(2)"),
// and which of them it has.
std::string dictionaryFor(QFile& file, const std::unordered_set<std::string>& wanted,
                          std::unordered_set<std::string>& known) {
    std::string entries;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine(4096);
        const auto space = line.indexOf(' ');
        if (space <= 0)
            continue;
        std::string word(line.constData(), static_cast<std::size_t>(space));
        if (const auto paren = word.find('('); paren != std::string::npos && paren > 0)
            word.resize(paren);
        if (!wanted.count(word))
            continue;
        known.insert(word);
        entries.append(line.constData(), static_cast<std::size_t>(line.size()));
        if (entries.back() != '\n')
            entries.push_back('\n');
    }
    return entries;
}

std::variant<std::unique_ptr<Recogniser>, QString> makeSphinxRecogniser(
    const QString& modelFolder, const std::vector<std::string>& vocabulary) {
    const QString folder = modelFolder.isEmpty() ? defaultModelFolder() : modelFolder;
    if (!QFileInfo(folder).isDir())
        return QStringLiteral(
                   "There is no voice model in %1 (for English, install "
                   "pocketsphinx-en-us).")
            .arg(folder);
    QString acoustic;
    if (QFileInfo::exists(QDir(folder).filePath(QStringLiteral("mdef")))) {
        acoustic = folder;
    } else {
        for (const QString& sub :
             QDir(folder).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name))
            if (QFileInfo::exists(QDir(folder).filePath(sub + QStringLiteral("/mdef")))) {
                acoustic = QDir(folder).filePath(sub);
                break;
            }
    }
    QString dictionary = findModelFile(folder, QStringLiteral("*.dict"));
    if (dictionary.isEmpty() && !acoustic.isEmpty())
        dictionary = findModelFile(acoustic, QStringLiteral("*.dict"));
    if (acoustic.isEmpty() || dictionary.isEmpty())
        return QStringLiteral(
                   "%1 is not a PocketSphinx model: it needs an acoustic model "
                   "folder (with mdef) and a .dict file.")
            .arg(folder);

    QFile dictionaryFile(dictionary);
    if (!dictionaryFile.open(QIODevice::ReadOnly))
        return QStringLiteral("The voice model's dictionary %1 cannot be read: %2")
            .arg(dictionary, dictionaryFile.errorString());
    std::unordered_set<std::string> wanted(vocabulary.begin(), vocabulary.end());
    for (const char* word : kOutOfScript)
        wanted.insert(word);
    std::unordered_set<std::string> known;
    const std::string entries = dictionaryFor(dictionaryFile, wanted, known);
    if (known.empty())
        return QStringLiteral(
                   "None of this script's words are in the voice model's dictionary "
                   "(%1): is the script in another language? Following it needs a "
                   "model for that language (--voice-model FOLDER).")
            .arg(dictionary);
    const MemoryFile subset(entries);
    if (!subset.ok())
        return QStringLiteral("The voice model cannot be prepared (no memory for its dictionary).");

    err_set_logfp(nullptr);  // the decoder's log would flood standard error
    const QByteArray hmm = acoustic.toLocal8Bit();
    const QByteArray dict = QByteArray::fromStdString(subset.path());
    cmd_ln_t* config = cmd_ln_init(nullptr, ps_args(), TRUE, "-hmm", hmm.constData(), "-dict",
                                   dict.constData(), "-logfn", "/dev/null", nullptr);
    if (!config)
        return QStringLiteral("The voice model in %1 cannot be used.").arg(folder);
    ps_decoder_t* decoder = ps_init(config);
    cmd_ln_free_r(config);
    if (!decoder)
        return QStringLiteral("The voice model in %1 cannot be loaded.").arg(folder);
    return std::unique_ptr<Recogniser>(
        std::make_unique<SphinxRecogniser>(decoder, std::move(known)));
}

}  // namespace prompter::voice
