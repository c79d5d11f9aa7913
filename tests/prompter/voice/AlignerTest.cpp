// The voice's pure pieces: the script's spoken words (counted as the prompting view counts
// them) and the aligner that turns heard words into a place, as tables of readings.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <sstream>

#include "prompter/PromptView.h"
#include "prompter/PrompterOptions.h"
#include "prompter/voice/Aligner.h"
#include "prompter/voice/ScriptWords.h"
#include "prompter/voice/VoiceMode.h"
#include "prompter/voice/WavAudio.h"
#include "qttext/PlainTextSource.h"

namespace prompter::voice {
namespace {

std::vector<std::string> split(const std::string& text) {
    std::istringstream in(text);
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

// Three paragraphs of twelve words, no word shared between them.
const char* const kThreeParagraphs =
    "red fox jumps over lazy brown dogs near quiet green river banks\n"
    "seven sailors crossed stormy seas toward distant islands under heavy grey skies\n"
    "children painted bright yellow kites before flying them across windy open fields";

struct Reading {
    const char* name;
    const char* script;
    const char* heard;          // words heard, in order; "|" marks a check
    std::vector<int> expected;  // the place at each check
    std::vector<bool> resync;   // whether the last move at each check was a re-sync (optional)
};

void PrintTo(const Reading& reading, std::ostream* out) {
    *out << reading.name;
}

class AlignerReading : public testing::TestWithParam<Reading> {};

TEST_P(AlignerReading, FollowsThePresenter) {
    const Reading& reading = GetParam();
    Aligner aligner(split(reading.script));
    std::size_t check = 0;
    Aligner::Step last;
    for (const std::string& word : split(reading.heard)) {
        if (word == "|") {
            ASSERT_LT(check, reading.expected.size());
            EXPECT_EQ(aligner.place(), reading.expected[check]) << "at check " << check;
            if (check < reading.resync.size()) {
                EXPECT_EQ(last.resync, reading.resync[check]) << "at check " << check;
            }
            ++check;
            continue;
        }
        const Aligner::Step step = aligner.hear(word);
        if (step.moved)
            last = step;
    }
    EXPECT_EQ(check, reading.expected.size());
}

INSTANTIATE_TEST_SUITE_P(
    Readings, AlignerReading,
    testing::Values(
        Reading{"InOrder", "one two three four five", "one | two | three four five |", {0, 1, 4}},
        Reading{"SkippedWords",
                "one two three four five six seven",
                "one two four | five | seven |",
                {3, 4, 6}},
        // A word said twice, or the last few said again, never takes the place back.
        Reading{"RepeatedWords",
                "one two three four five six",
                "one two two | three two three | four |",
                {1, 2, 3}},
        // The third paragraph straight after the first: the place holds until four words in
        // a row confirm the skip, then jumps there.
        Reading{"SkippedParagraph",
                kThreeParagraphs,
                "red fox jumps over lazy brown dogs near quiet green river banks | "
                "children painted bright | yellow | kites |",
                {11, 11, 27, 28},
                {false, false, true, false}},
        // Back to the first paragraph from the second: confirmed, then followed.
        Reading{"GoingBack",
                kThreeParagraphs,
                "red fox jumps over lazy brown dogs near quiet green river banks seven sailors "
                "crossed stormy seas | fox jumps over | lazy | brown |",
                {16, 16, 4, 5},
                {false, false, true, false}},
        // Words that are not in the script, or script words out of order, hold the place.
        Reading{"AdLib",
                kThreeParagraphs,
                "red fox jumps | um so what did the crew think about lunch | islands river "
                "children fields skies | over | lazy |",
                {2, 2, 2, 2, 4}},
        // An ad-lib the recogniser heard as script words from further on, but not one after
        // another as the script has them: no re-sync.
        Reading{"AdLibHeardAsScriptWords",
                kThreeParagraphs,
                "red fox jumps over lazy brown dogs near quiet green river banks | "
                "painted bright kites flying across fields |",
                {11, 11}},
        // The last word of a paragraph not heard, then an ad-lib whose first word happens to be
        // the next paragraph's first: common words do not confirm a skip; a rare one does.
        Reading{"AdLibAfterAMissedWord",
                "the end of the story is here\nthe river runs on",
                "the end of the story is | the | sorry | the river |",
                {5, 5, 5, 8}},
        // Silence: nothing heard, or a noise heard as a word; reading on from there.
        Reading{"Silence",
                "one two three four",
                "one two | | <sil> | three | [noise] four |",
                {1, 1, 1, 2, 3}},
        // The same phrase again and again: each time the nearest one ahead.
        Reading{"RepeatedPhrases",
                "we shall fight on the beaches we shall fight on the landing grounds we shall "
                "fight in the fields and in the streets we shall fight in the hills",
                "we shall fight on the beaches | we shall fight | on the landing grounds we | "
                "shall fight in the fields and in the streets we shall fight in the hills |",
                {5, 8, 13, 28}}),
    [](const testing::TestParamInfo<Reading>& info) { return info.param.name; });

TEST(Aligner, StartsAgainFromAPlaceAKeyChose) {
    Aligner aligner(split(kThreeParagraphs));
    aligner.setPlace(23);  // the presenter jumped to the second paragraph's end by a key
    EXPECT_TRUE(aligner.hear("children").moved);
    EXPECT_EQ(aligner.place(), 24);
    aligner.setPlace(1000);
    EXPECT_EQ(aligner.place(), 35);
    aligner.setPlace(-7);
    EXPECT_EQ(aligner.place(), -1);
    EXPECT_FALSE(Aligner().hear("anything").moved);  // an empty script
}

// The tests' own main() makes the application.
void ensureApplication() {
    ASSERT_NE(QApplication::instance(), nullptr);
}

// The spoken words of a script, each on the word the view counts it as, whatever the script
// holds: cues, headings, punctuation, hyphens, tabs, every kind of line break, ideographs.
TEST(ScriptWords, CountsWordsAsTheViewDoes) {
    ensureApplication();
    const std::string script =
        "# Opening: the news\r\n"
        "Good evening, \"Welcome\" to the show's first-ever\tepisode. [pause] Tonight:\n"
        "\n"
        "[slide 4]\x0b"
        "Forty-two \xe2\x80\x94 rivers\xc2\x85"
        "\xe6\x9d\xb1\xe4\xba\xac is big\xe2\x80\xa9"
        "[look at camera two] Thanks.\n"
        "word[cue]word and [an unclosed one";
    const ScriptWords words = ScriptWords::read(script);
    PromptView view(std::make_shared<SteadyPromptClock>());
    view.setScript(std::make_shared<qttext::PlainTextSource>(script));
    ASSERT_EQ(words.counted.size(), view.paragraphCount());
    // The view counts no cue words (its index leaves cues out).
    for (std::size_t i = 0; i < words.counted.size(); ++i)
        EXPECT_EQ(std::max<double>(static_cast<double>(words.countedBare[i]), 1.0),
                  view.paragraphStart(i + 1) - view.paragraphStart(i))
            << "paragraph " << i;

    std::ostringstream said;
    for (const SpokenWord& word : words.spoken)
        said << word.text << '@' << word.paragraph << ':' << word.ordinal << ':' << word.ordinalBare
             << ' ';
    EXPECT_EQ(said.str(),
              "good@1:0:0 evening@1:1:1 welcome@1:2:2 to@1:3:3 the@1:4:4 show's@1:5:5 "
              "first@1:6:6 ever@1:6:6 episode@1:7:7 tonight@1:9:8 "
              "forty@4:0:0 two@4:0:0 rivers@4:2:2 "
              "\xe6\x9d\xb1@5:0:0 \xe4\xba\xac@5:1:1 is@5:2:2 big@5:3:3 thanks@6:4:0 "
              "word@7:0:0 word@7:2:1 and@7:3:2 an@7:4:3 unclosed@7:5:4 one@7:6:5 ");
    EXPECT_EQ(words.countedBare[3], 0u);  // a line that is only a cue
}

// A WAV file as written by a recorder, a converter or an attacker.
std::string wav(int format, int channels, int rate, int bits, const std::string& samples,
                std::uint32_t fmtSize = 16, std::uint32_t dataSize = 0xFFFFFFFF) {
    const auto le = [](std::uint32_t value, int bytes) {
        std::string out;
        for (int i = 0; i < bytes; ++i)
            out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
        return out;
    };
    const int block = channels * bits / 8;
    std::string out = "RIFF" + le(0, 4) + "WAVE";
    out += "LIST" + le(4, 4) + "INFO";  // a chunk to pass over
    out += "fmt " + le(fmtSize, 4) + le(format, 2) + le(channels, 2) + le(rate, 4) +
           le(rate * block, 4) + le(block, 2) + le(bits, 2);
    out += "data" + le(dataSize == 0xFFFFFFFF ? samples.size() : dataSize, 4) + samples;
    return out;
}

std::string repeated(const std::string& frame, std::size_t count) {
    std::string out;
    for (std::size_t i = 0; i < count; ++i)
        out += frame;
    return out;
}

TEST(WavAudio, ConvertsWhatItCanAndRefusesTheRestWithTheReason) {
    struct Case {
        const char* name;
        std::string bytes;
        std::size_t samples;  // at 16 kHz mono; 0 with `refused`
        const char* refused;  // a part of the reason
    };
    const std::string sample16 = std::string("\x00\x40", 2);  // half scale
    const Case cases[] = {
        {"16 kHz mono", wav(1, 1, 16000, 16, repeated(sample16, 1600)), 1600, nullptr},
        {"44.1 kHz stereo", wav(1, 2, 44100, 16, repeated(sample16 + sample16, 4410)), 1600,
         nullptr},
        {"8 kHz 8-bit", wav(1, 1, 8000, 8, repeated("\xC0", 800)), 1599, nullptr},
        {"48 kHz 24-bit", wav(1, 1, 48000, 24, repeated(std::string("\x00\x00\x40", 3), 4800)),
         1600, nullptr},
        {"float", wav(3, 1, 16000, 32, repeated(std::string("\x00\x00\x00\x3f", 4), 160)), 160,
         nullptr},
        {"cut short", wav(1, 1, 16000, 16, repeated(sample16, 100), 16, 1000000), 100, nullptr},
        {"ADPCM", wav(2, 1, 16000, 4, "abcd"), 0, "not PCM"},
        {"no channels", wav(1, 0, 16000, 16, "abcd"), 0, "0 channels"},
        {"rate 0", wav(1, 1, 0, 16, "abcd"), 0, "0 Hz"},
        {"format chunk larger than the file", wav(1, 1, 16000, 16, "", 0x7FFFFFF0), 0, "damaged"},
        {"no data", wav(1, 1, 16000, 16, "").substr(0, 48), 0, "no sound"},
        {"not RIFF", "hello", 0, "not a WAV"},
    };
    for (const Case& c : cases) {
        const auto decoded = decodeWav(c.bytes);
        if (c.refused) {
            ASSERT_TRUE(std::holds_alternative<QString>(decoded)) << c.name;
            EXPECT_TRUE(std::get<QString>(decoded).contains(QLatin1String(c.refused)))
                << c.name << ": " << std::get<QString>(decoded).toStdString();
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<Audio>(decoded))
            << c.name << ": " << std::get<QString>(decoded).toStdString();
        const Audio& audio = std::get<Audio>(decoded);
        EXPECT_NEAR(static_cast<double>(audio.samples.size()), static_cast<double>(c.samples), 2)
            << c.name;
        // The level survives the conversion (half scale, away from the edges).
        const std::int16_t middle = audio.samples[audio.samples.size() / 2];
        EXPECT_NEAR(middle, 16384, 200) << c.name;
    }
}

TEST(VoiceOptions, NeedWhatTheyWorkWith) {
    const auto parse = [](QStringList arguments) {
        arguments.prepend(QStringLiteral("quorvane-prompter"));
        return PrompterOptions::parse(arguments);
    };
    EXPECT_EQ(parse({QStringLiteral("--positions"), QStringLiteral("t")}).action,
              PrompterOptions::Action::usageError);
    const auto traced =
        parse({QStringLiteral("--prompt"), QStringLiteral("s.txt"), QStringLiteral("--audio-file"),
               QStringLiteral("a.wav"), QStringLiteral("--positions"), QStringLiteral("t")});
    EXPECT_EQ(traced.action, PrompterOptions::Action::run);
    EXPECT_TRUE(traced.followVoice);  // an audio file is there to be followed
    EXPECT_EQ(traced.audioFile.value_or(QString()), QStringLiteral("a.wav"));
}

bool writeFile(const QString& path, const std::string& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) &&
           file.write(bytes.data(), static_cast<qint64>(bytes.size())) ==
               static_cast<qint64>(bytes.size());
}

void press(QWidget& widget, int key) {
    QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
    QApplication::sendEvent(&widget, &event);
}

// Follow-my-voice in a prompting view, with a recording of silence and the packaged model
// loaded on the voice's own thread: keys take over at once and F follows again; a script in
// another language is refused with the reason.
TEST(VoiceMode, KeysTakeOverAndFResumes) {
    ensureApplication();
    QTemporaryDir folder;
    const QString recording = folder.filePath(QStringLiteral("silence.wav"));
    const std::string text =
        "First paragraph of the script here\nSecond paragraph follows it now\n";
    ASSERT_TRUE(writeFile(recording, wav(1, 1, 16000, 16, std::string(32000, '\0'))));

    PromptView view(std::make_shared<SteadyPromptClock>());
    view.resize(800, 600);
    view.setScript(std::make_shared<qttext::PlainTextSource>(text));
    VoiceMode mode(&view, {recording, {}, {}, {}, {}});
    view.start();
    mode.setFollowing(true);
    EXPECT_TRUE(mode.isFollowing());
    EXPECT_FALSE(view.motion().isRunning());  // the voice moves it, not the clock
    // The band says what moves the text, never "Paused" while the voice does.
    EXPECT_TRUE(view.bandState().contains(QLatin1String("Following the voice")))
        << view.bandState().toStdString();
    EXPECT_FALSE(view.bandState().contains(QLatin1String("Paused")));

    press(view, Qt::Key_Right);  // a clicker: takes over and jumps as always
    EXPECT_FALSE(mode.isFollowing());
    EXPECT_EQ(view.position(), view.paragraphStart(1));
    EXPECT_TRUE(view.bandState().contains(QLatin1String("Paused")))
        << view.bandState().toStdString();
    press(view, VoiceMode::kKey);
    EXPECT_TRUE(mode.isFollowing());
    QWheelEvent wheel(QPointF(10, 10), QPointF(10, 10), QPoint(), QPoint(0, 120), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&view, &wheel);
    EXPECT_FALSE(mode.isFollowing());
    press(view, VoiceMode::kKey);
    EXPECT_TRUE(mode.isFollowing());

    // Another language: said in the status band, and following stops.
    view.setScript(std::make_shared<qttext::PlainTextSource>(
        std::string("Bonjour \xc3\xa0 tous et bienvenue dans notre \xc3\xa9mission de ce "
                    "soir\nNous allons parler des rivi\xc3\xa8res et des villages qui les "
                    "entourent aujourdhui\n")));
    EXPECT_TRUE(mode.isFollowing());  // until the model says otherwise
    QElapsedTimer waited;
    waited.start();
    while (mode.isFollowing() && waited.elapsed() < 60000)
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_FALSE(mode.isFollowing());
    const auto* badge = view.findChild<QWidget*>(QStringLiteral("voiceBadge"));
    ASSERT_NE(badge, nullptr);
    EXPECT_TRUE(badge->accessibleDescription().contains(QLatin1String("another language")))
        << badge->accessibleDescription().toStdString();
}

}  // namespace
}  // namespace prompter::voice

// One application for every test, ended before the process ends (Qt frees the font caches
// then, so the leak checker sees none).
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    return RUN_ALL_TESTS();
}
