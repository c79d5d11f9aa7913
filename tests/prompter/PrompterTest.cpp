// The teleprompter on Qt's headless platform: the prompting view driven by a clock of the test's
// own (so positions are exact, never timed), its keys, its pictures, the saved settings, the
// library of scripts and the command line.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <cmath>
#include <random>
#include <variant>

#include "PrompterDoubles.h"
#include "handover/ContainerLocation.h"
#include "prompter/PromptView.h"
#include "prompter/PrompterOptions.h"
#include "prompter/PrompterSettings.h"
#include "prompter/PrompterWindow.h"
#include "prompter/ReaderIntake.h"
#include "prompter/ScriptEditor.h"
#include "prompter/ScriptFile.h"
#include "prompter/ScriptIndex.h"
#include "prompter/ScriptIntake.h"
#include "prompter/ScriptLibrary.h"
#include "prompter/SettingsWindow.h"
#include "prompter/WordStarts.h"
#include "qttext/PlainTextSource.h"
#include "qttext/TextBlocks.h"

using prompter::Mirror;
using prompter::PromptView;

Q_DECLARE_METATYPE(prompter::Mirror)
Q_DECLARE_METATYPE(prompter::PrompterSettings)

namespace {

using prompter::testing::FakeClock;
using prompter::testing::HandIntake;

std::shared_ptr<const qttext::TextSource> plain(const std::string& text) {
    return std::make_shared<qttext::PlainTextSource>(text);
}

std::string words(int count, const char* word = "word") {
    std::string text;
    // Appended in pieces, not as a literal + a string: GCC 12 falsely warns (-Wrestrict) about
    // the insertion that form makes, once optimised.
    for (int i = 0; i < count; ++i)
        text.append(i ? " " : "").append(word);
    return text;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

bool isInk(QRgb pixel) {
    return qGray(pixel) > 128;
}

// The first row at or below `from` with ink between the margins (the text, not the markers).
int firstInkRow(const QImage& image, int from) {
    for (int y = from; y < image.height() - 8; ++y)
        for (int x = image.width() / 5; x < image.width() * 4 / 5; ++x)
            if (isInk(image.pixel(x, y)))
                return y;
    return -1;
}

}  // namespace

class PrompterTest : public QObject {
    Q_OBJECT

  private:
    std::shared_ptr<FakeClock> clock_;
    std::unique_ptr<PromptView> view_;
    QTemporaryDir home_;

    PromptView& showView(const std::string& text, prompter::PrompterSettings settings = {}) {
        clock_ = std::make_shared<FakeClock>();
        view_ = std::make_unique<PromptView>(clock_);
        view_->resize(800, 600);
        view_->setSettings(settings);
        view_->setScript(plain(text));
        view_->show();
        if (!QTest::qWaitForWindowExposed(view_.get()))
            qFatal("the prompting view was never shown");
        return *view_;
    }

  private slots:
    void initTestCase() {
        QVERIFY(home_.isValid());
        qputenv("XDG_CONFIG_HOME", (home_.path() + "/config").toUtf8());
        qputenv("XDG_DATA_HOME", (home_.path() + "/data").toUtf8());
        qputenv("XDG_CACHE_HOME", (home_.path() + "/cache").toUtf8());
    }
    void cleanup() { view_.reset(); }

    // The position is the speed times the time moved, after the countdown, minus pauses; the
    // speed keys and the wheel change it from the moment they are pressed.
    void positionIsSpeedTimesTime() {
        PromptView& view = showView(words(2000));
        const double frame = 1000.0 / 60;  // the largest step a frame may show
        view.start();
        QVERIFY(view.motion().isCountingDown(clock_->now));
        clock_->now += 2999;
        QCOMPARE(view.position(), 0.0);  // the countdown holds it
        clock_->now += 1 + 10000;        // ten seconds at 140 words per minute
        QVERIFY(std::abs(view.position() - 140.0 / 60 * 10) <= 140.0 / 60000 * frame);

        QTest::keyClick(&view, Qt::Key_Space);  // pause
        const double held = view.position();
        clock_->now += 60000;
        QCOMPARE(view.position(), held);
        QVERIFY(!view.isFrameTimerActive());  // nothing moves, nothing is drawn
        QTest::keyClick(&view, Qt::Key_B);    // a clicker's key resumes
        QVERIFY(view.isFrameTimerActive());
        for (int i = 0; i < 4; ++i)
            QTest::keyClick(&view, Qt::Key_Up);
        QCOMPARE(view.motion().speed(), 180.0);
        clock_->now += 30000;
        QVERIFY(std::abs(view.position() - (held + 180.0 / 2)) <= 180.0 / 60000 * frame);

        QWheelEvent wheel(QPointF(10, 10), view.mapToGlobal(QPointF(10, 10)), QPoint(),
                          QPoint(0, -240), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&view, &wheel);
        QCOMPARE(view.motion().speed(), 160.0);
        for (int i = 0; i < 100; ++i)
            QTest::keyClick(&view, Qt::Key_Down);
        QCOMPARE(view.motion().speed(), prompter::PromptMotion::kMinSpeed);

        // A skipped countdown: Space during it starts moving at once.
        view.jumpTo(0);
        view.start();
        QTest::keyClick(&view, Qt::Key_Period);
        QVERIFY(!view.motion().isCountingDown(clock_->now));
        clock_->now += 60000;
        QCOMPARE(view.position(), prompter::PromptMotion::kMinSpeed);
        clock_->now += 1e9;  // the end holds, and the frames stop
        QCOMPARE(view.position(), 2000.0);
        view.repaint();
        QVERIFY(!view.isFrameTimerActive());
    }

    // What is drawn follows the position: the text rises by the words' share of their paragraph's
    // height, whatever the frames in between.
    void pictureFollowsThePosition() {
        prompter::PrompterSettings settings;
        settings.fontSize = 40;
        settings.countdown = 0;
        PromptView& view = showView(words(600), settings);
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        const int band = 60;  // below the speed and progress line
        const int before = firstInkRow(view.grab().toImage(), band);
        QVERIFY(std::abs(before - view.readingLineY()) < 20);
        view.start();
        clock_->now += 6000;  // 14 words of 600
        const double risen = 14.0 / 600 * view.paragraphHeight(0);
        const int after = firstInkRow(view.grab().toImage(), band);
        QVERIFY2(std::abs((before - after) - risen) <= 1.5,
                 qPrintable(QString("rose %1, expected %2").arg(before - after).arg(risen)));
    }

    void jumps_data() {
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<double>("expected");  // words; -1: the end
        // Paragraphs of 10, 20 and 5 words, then an empty one (1), then 3.
        QTest::newRow("End") << QList<int>{Qt::Key_End} << -1.0;
        QTest::newRow("End then Home") << QList<int>{Qt::Key_End, Qt::Key_Home} << 0.0;
        QTest::newRow("next paragraph twice") << QList<int>{Qt::Key_Right, Qt::Key_Right} << 30.0;
        // Blank lines are passed over: one press is one paragraph of text, both ways.
        QTest::newRow("next over the blank line")
            << QList<int>{Qt::Key_Right, Qt::Key_Right, Qt::Key_Right} << 36.0;
        QTest::newRow("next after the last: the end")
            << QList<int>{Qt::Key_Right, Qt::Key_Right, Qt::Key_Right, Qt::Key_Right} << -1.0;
        QTest::newRow("back over the blank line")
            << QList<int>{Qt::Key_Right, Qt::Key_Right, Qt::Key_Right, Qt::Key_Left} << 30.0;
        QTest::newRow("back from the end: the last paragraph")
            << QList<int>{Qt::Key_End, Qt::Key_Left} << 36.0;
        QTest::newRow("back from the start of one goes to the one before")
            << QList<int>{Qt::Key_Right, Qt::Key_Right, Qt::Key_Left} << 10.0;
        QTest::newRow("back before the first stays") << QList<int>{Qt::Key_Left} << 0.0;
        QTest::newRow("a screen down and up again")
            << QList<int>{Qt::Key_PageDown, Qt::Key_PageUp} << 0.0;
    }
    void jumps() {
        QFETCH(QList<int>, keys);
        QFETCH(double, expected);
        PromptView& view =
            showView(words(10) + "\n" + words(20) + "\r\n" + words(5) + "\n\n" + words(3));
        QCOMPARE(view.paragraphCount(), std::size_t{5});
        for (int key : keys)
            QTest::keyClick(&view, static_cast<Qt::Key>(key));
        QCOMPARE(view.position(), expected < 0 ? view.motion().length() : expected);
    }

    // Sections and cues: `#` lines are headings the number keys and Ctrl+PageUp/PageDown land
    // on; `[...]` cues count no words, here, in the library and in the time left; the title
    // line, the headings and the cues are drawn apart from the rest.
    void sectionsAndCues() {
        const std::string script =
            "Quarterly results\n"
            "# Opening\n"
            "Good [smile] morning [slide 2] all\n"
            "\n"
            "## The numbers\n"
            "Revenue grew [pause\n"
            "# Close\n"
            "Thank you [bow]";
        PromptView& view = showView(script);
        const prompter::ScriptIndex& index = view.index();
        QCOMPARE(index.sections().size(), std::size_t{3});
        QCOMPARE(index.sections()[1].title, QString("The numbers"));
        QCOMPARE(index.sections()[1].paragraph, std::size_t{4});
        QCOMPARE(index.cues().size(), std::size_t{3});  // an unclosed [ is text
        QCOMPARE(index.weight(2), 3.0);                 // Good morning all
        QCOMPARE(index.weight(5), 3.0);                 // Revenue grew [pause
        QCOMPARE(index.weight(7), 2.0);                 // Thank you
        QCOMPARE(index.words(), std::uint64_t{2 + 2 + 3 + 3 + 3 + 2 + 2});
        QCOMPARE(view.motion().length(), 18.0);  // the blank line counts one, as a moment
        prompter::ScriptIndex::WordCount count;  // the library's count, fed in pieces
        count.feed(std::string_view(script).substr(0, 30));
        count.feed(std::string_view(script).substr(30));
        QCOMPARE(count.total(), index.words());

        QTest::keyClick(&view, Qt::Key_2);
        QCOMPARE(view.currentParagraph(), std::size_t{4});
        QTest::keyClick(&view, Qt::Key_PageDown, Qt::ControlModifier);
        QCOMPARE(view.currentParagraph(), std::size_t{6});
        QTest::keyClick(&view, Qt::Key_PageDown, Qt::ControlModifier);  // the last stays
        QCOMPARE(view.currentParagraph(), std::size_t{6});
        view.jumpTo(view.position() + 1);  // under way in "Close": back to its heading first
        QTest::keyClick(&view, Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(view.currentParagraph(), std::size_t{6});
        QTest::keyClick(&view, Qt::Key_PageUp, Qt::ControlModifier);
        QCOMPARE(view.currentParagraph(), std::size_t{4});
        QTest::keyClick(&view, Qt::Key_9);  // no ninth section: nothing moves
        QCOMPARE(view.currentParagraph(), std::size_t{4});
        QTest::keyClick(&view, Qt::Key_1);
        QCOMPARE(view.currentParagraph(), std::size_t{1});
        const auto menu = view.sectionMenu();  // the sections, numbered, to choose from
        QCOMPARE(menu->actions().size(), 3);
        QCOMPARE(menu->actions()[2]->text(), QString("&3. Close"));
        QVERIFY(menu->actions()[0]->isChecked());
        menu->actions()[2]->trigger();
        QCOMPARE(view.currentParagraph(), std::size_t{6});

        // The cues in their colour, the heading bold and larger than the text.
        view.jumpTo(0);
        const QImage image = view.grab().toImage();
        const QColor cue = view.settings().cueColour;
        int cuePixels = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                cuePixels += QColor(image.pixel(x, y)) == cue;
        QVERIFY2(cuePixels > 50, qPrintable(QString("%1 pixels of the cue colour").arg(cuePixels)));
        QVERIFY(view.paragraphHeight(1) > view.paragraphHeight(7));  // one line each
    }

    // Words counted many bytes at a time are the words counted a byte at a time, for any
    // bytes (broken UTF-8 too) split anywhere: each piece carries the state to the next.
    // Mostly the bytes where a count turns (spaces, tabs, continuations, the edges of the
    // ideograph leads), in runs longer than a step, long continuation runs after a space.
    void wordStartsMatchByteByByte() {
        static const unsigned char kTurning[] = {' ',  '\t', 'a',  '[',  '\n', 0x00,
                                                 0x7F, 0x80, 0xBF, 0xC0, 0xE2, 0xE3,
                                                 0xE9, 0xEA, 0xF0, 0xFF, 0xA0, 0x89};
        std::mt19937 random(27);
        std::vector<std::string> texts;
        for (int n = 0; n < 300; ++n) {
            std::string text(random() % 200, '\0');
            for (char& c : text)
                c = static_cast<char>(random() % 4 == 0 ? random() % 256
                                                        : kTurning[random() % sizeof kTurning]);
            texts.push_back(std::move(text));
        }
        std::string all(256, '\0');
        for (int c = 0; c < 256; ++c)
            all[c] = static_cast<char>(c);
        texts.push_back(all);
        texts.push_back(" " + std::string(100, '\x80') + "a");  // a carry across steps
        texts.push_back("\xE3" + std::string(70, '\xBF') + " ");
        texts.push_back(std::string(64, 'a') + " " + std::string(63, 'b'));
        texts.push_back(std::string(96, ' '));
        for (int n = 0; n < 8; ++n)
            texts.push_back(words(10 + n * 7, n % 2 ? "\xE6\x97\xA5x" : "w\xC3\xA9"));

        for (const std::string& text : texts) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
            for (unsigned start = 0; start <= 1; ++start) {
                unsigned byByte = start;
                const std::uint64_t expected =
                    prompter::countWordStartsByByte(bytes, text.size(), byByte);
                for (std::size_t split = 0; split <= text.size(); ++split) {
                    unsigned boundary = start;
                    std::uint64_t counted = prompter::countWordStarts(bytes, split, boundary);
                    counted +=
                        prompter::countWordStarts(bytes + split, text.size() - split, boundary);
                    QVERIFY2(counted == expected && boundary == byByte,
                             qPrintable(QString("%1 bytes from %2, split at %3: %4 words, not %5")
                                            .arg(text.size())
                                            .arg(start)
                                            .arg(split)
                                            .arg(counted)
                                            .arg(expected)));
                }
            }
        }
    }

    // The band of texts at the top is never drawn over by the script, and the countdown covers
    // nothing at or below the reading line: those pixels are the same as without it.
    void bandsAndCountdownHideNoWords() {
        prompter::PrompterSettings settings;
        settings.fontSize = 40;
        PromptView& view = showView(words(3000), settings);
        view.start();  // counting down from 3
        const QImage counting = view.grab().toImage();
        QTest::keyClick(&view, Qt::Key_Space);  // skipped, then held where it is
        QTest::keyClick(&view, Qt::Key_Space);
        QCOMPARE(view.position(), 0.0);
        const QImage held = view.grab().toImage();
        const int line = static_cast<int>(view.readingLineY());
        const int bottom = static_cast<int>(view.textArea().bottom());
        QCOMPARE(counting.copy(0, line, counting.width(), bottom - line),
                 held.copy(0, line, held.width(), bottom - line));
        QVERIFY(counting.copy(view.countdownArea().toRect()) !=
                held.copy(view.countdownArea().toRect()));  // it was drawn

        // Well into the script, text fills the view above the reading line: none of it in the
        // band, where only the band's own dimmer ink is.
        view.jumpTo(1500);
        const QImage middle = view.grab().toImage();
        QVERIFY(firstInkRow(middle, 0) < line);
        const int band = static_cast<int>(view.textArea().top());
        int brightest = 0;
        for (int y = 0; y < band; ++y)
            for (int x = 0; x < middle.width(); ++x)
                brightest = std::max(brightest, qGray(middle.pixel(x, y)));
        QVERIFY2(brightest < 200, qPrintable(QString("brightest in the band: %1").arg(brightest)));
        QVERIFY(firstInkRow(middle, band) <= band + 2);  // the text reaches the band's edge
    }

    // The time elapsed since the countdown ended, and times over an hour in hours.
    void clocks() {
        PromptView& view = showView(words(2000));
        view.start();
        QCOMPARE(view.elapsedSeconds(), 0.0);
        clock_->now += 3000 + 65000;
        QCOMPARE(view.elapsedSeconds(), 65.0);
        QTest::keyClick(&view, Qt::Key_Space);
        clock_->now += 10000;
        QCOMPARE(view.elapsedSeconds(), 75.0);  // a take's clock: pauses included
    }

    // A screen down moves the text up by most of a screen, and starting from a paragraph puts
    // its first line on the reading line.
    void screenJumpAndParagraphStart() {
        prompter::PrompterSettings settings;
        settings.fontSize = 30;
        PromptView& view = showView(words(3000), settings);
        QTest::keyClick(&view, Qt::Key_PageDown);
        const double expected = 0.8 * view.height() / view.paragraphHeight(0) * 3000;
        QVERIFY(std::abs(view.position() - expected) < 1);
        PromptView& other = showView("one\ntwo three\nfour five six");
        other.jumpToParagraph(2);
        QCOMPARE(other.position(), 3.0);
        QCOMPARE(other.currentParagraph(), std::size_t{2});
    }

    void mirrorFlipsThePicture_data() {
        QTest::addColumn<Mirror>("mirror");
        QTest::newRow("horizontal") << Mirror::horizontal;
        QTest::newRow("vertical") << Mirror::vertical;
        QTest::newRow("both") << Mirror::both;
    }
    void mirrorFlipsThePicture() {
        QFETCH(Mirror, mirror);
        prompter::PrompterSettings settings;
        settings.fontSize = 48;
        PromptView& view = showView("Good evening.\nThe river rose by two metres.", settings);
        view.start();
        clock_->now += 4000;  // inside the countdown: its numeral is mirrored too
        const QImage plainPicture = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
        QTest::keyClick(&view, mirror == Mirror::vertical ? Qt::Key_V : Qt::Key_H);
        if (mirror == Mirror::both)
            QTest::keyClick(&view, Qt::Key_V);
        QCOMPARE(view.settings().mirror, mirror);
        const QImage mirrored = view.grab().toImage().convertToFormat(QImage::Format_RGB32);
        const QImage expected = plainPicture.mirrored(prompter::mirrorsHorizontally(mirror),
                                                      prompter::mirrorsVertically(mirror));
        // Pixel for pixel, but for antialiasing: a differing pixel has a matching one beside it.
        int ink = 0;
        int unmatched = 0;
        for (int y = 1; y < expected.height() - 1; ++y)
            for (int x = 1; x < expected.width() - 1; ++x) {
                const int want = qGray(expected.pixel(x, y));
                ink += want > 128;
                bool matched = false;
                for (int dy = -1; dy <= 1 && !matched; ++dy)
                    for (int dx = -1; dx <= 1 && !matched; ++dx)
                        matched = std::abs(qGray(mirrored.pixel(x + dx, y + dy)) - want) <= 128;
                unmatched += !matched;
            }
        QVERIFY(ink > 2000);
        QVERIFY2(unmatched == 0, qPrintable(QString("%1 pixels unmatched").arg(unmatched)));
    }

    // Frames that only move the text move the picture kept from the frames before; they give
    // the pixels a frame drawn whole gives (each channel within 2 levels: antialiasing), through
    // a scroll of several screens each way, jumps inside the kept rows and far beyond them, an
    // edit, a resize, every mirror and a change of settings; and they rasterise only the rows
    // coming into sight.
    void keptPictureMatchesWholeFrames() {
        prompter::PrompterSettings settings;
        settings.fontSize = 44;
        settings.countdown = 0;
        settings.speed = 600;
        std::string script = "The title line\n\n# Opening\n";
        for (int i = 0; i < 60; ++i)
            script += words(i % 7 * 9 + 1, i % 3 ? "word" : "[cue] w\xc3\xa9rd") + "\n" +
                      (i % 5 == 0 ? "\n# Part\n" : "");
        PromptView& view = showView(script, settings);
        const auto shown = [&] {
            // What the screen shows: the next frame painted into the window, as the frame
            // timer has it painted.
            view.showNextFrame();
            QApplication::processEvents();
            return view.screen()
                ->grabWindow(view.winId())
                .toImage()
                .convertToFormat(QImage::Format_RGB32);
        };
        // Pixels with ink, and the largest difference of a channel.
        const auto compare = [](const QImage& kept, const QImage& whole) {
            int ink = 0;
            int worst = 0;
            for (int y = 0; y < whole.height(); ++y)
                for (int x = 0; x < whole.width(); ++x) {
                    const QRgb a = kept.pixel(x, y);
                    const QRgb b = whole.pixel(x, y);
                    ink += qGray(b) > 128;
                    worst =
                        std::max({worst, std::abs(qRed(a) - qRed(b)),
                                  std::abs(qGreen(a) - qGreen(b)), std::abs(qBlue(a) - qBlue(b))});
                }
            return std::pair(ink, worst);
        };
        int compared = 0;
        const auto matchesWhole = [&](const char* when) {
            const QImage kept = shown();
            view.setKeepsPicture(false);
            const QImage whole = shown();
            view.setKeepsPicture(true);
            QCOMPARE(kept.size(), whole.size());
            const auto [ink, worst] = compare(kept, whole);
            QVERIFY2(ink > 2000, when);
            QVERIFY2(worst <= 2, qPrintable(QStringLiteral("%1: a channel differs by %2")
                                                .arg(QLatin1String(when))
                                                .arg(worst)));
            ++compared;
        };
        const auto scroll = [&](int frames, double milliseconds, const char* when) {
            for (int i = 1; i <= frames; ++i) {
                clock_->now += milliseconds;
                if (i % 25 == 0)
                    matchesWhole(when);
                else
                    shown();
            }
        };
        view.start();
        matchesWhole("still");
        const std::uint64_t drawnBefore = view.textRowsDrawn();
        scroll(24, 60, "scrolling down");
        // Frames drawn whole would rasterise the text area (over 500 rows) 24 times.
        QVERIFY2(view.textRowsDrawn() - drawnBefore < 24 * 500 / 4,
                 qPrintable(QString::number(view.textRowsDrawn() - drawnBefore)));
        scroll(126, 60, "scrolling down");  // 9 s at 600 words a minute: several screens
        QVERIFY(view.position() > 80);
        QTest::keyClick(&view, Qt::Key_PageUp);  // inside the kept rows
        matchesWhole("a screen back");
        QTest::keyClick(&view, Qt::Key_PageDown);
        matchesWhole("a screen on");
        QTest::keyClick(&view, Qt::Key_V);
        scroll(50, 60, "upside down");
        QTest::keyClick(&view, Qt::Key_H);
        scroll(50, 60, "both mirrored");
        QTest::keyClick(&view, Qt::Key_V);
        scroll(50, 60, "left to right");
        QTest::keyClick(&view, Qt::Key_H);
        QTest::keyClick(&view, Qt::Key_End);
        matchesWhole("the end");
        QTest::keyClick(&view, Qt::Key_Home);
        matchesWhole("the start");
        view.jumpTo(view.motion().length() / 2);
        view.resize(640, 700);
        scroll(50, 60, "resized");
        settings = view.settings();
        settings.fontSize = 36;
        settings.marginPercent = 20;
        settings.textColour = QColor(250, 240, 200);
        settings.backgroundColour = QColor(20, 30, 60);
        view.setSettings(settings);
        scroll(50, 60, "new settings");
        view.replaceScript(plain("An edit at the top\n" + script));
        scroll(50, 60, "edited");
        QVERIFY(compared >= 16);

        // At two device pixels a pixel, rendered into an image: the kept rows move by device
        // pixels.
        const auto rendered = [&](bool keeps) {
            view.setKeepsPicture(keeps);
            QImage image(view.size() * 2, QImage::Format_RGB32);
            image.setDevicePixelRatio(2);
            view.render(&image);
            return image;
        };
        for (int i = 0; i < 40; ++i) {
            clock_->now += 60;
            const QImage kept = rendered(true);
            if (i % 10 == 9) {
                const auto [ink, worst] = compare(kept, rendered(false));
                QVERIFY(ink > 8000);
                QVERIFY2(worst <= 2,
                         qPrintable(QString("high density: a channel differs by %1").arg(worst)));
            }
        }
    }

    // Size keys change the laid-out text and are announced (so they are saved).
    void sizeKeys() {
        PromptView& view = showView(words(50));
        QSignalSpy sizes(&view, &PromptView::fontSizeChanged);
        const double height = view.paragraphHeight(0);
        QTest::keyClick(&view, Qt::Key_Plus, Qt::ControlModifier);
        QTest::keyClick(&view, Qt::Key_Equal, Qt::ControlModifier);
        QCOMPARE(view.settings().fontSize, 64 + 2 * PromptView::kFontStep);
        QVERIFY(view.paragraphHeight(0) > height);
        QTest::keyClick(&view, Qt::Key_Minus, Qt::ControlModifier);
        QCOMPARE(sizes.count(), 3);
        QTest::keyClick(&view, Qt::Key_Minus);  // without Ctrl: nothing
        QCOMPARE(sizes.count(), 3);
    }

    // A right-to-left paragraph is drawn against the right margin, a left-to-right one against
    // the left.
    void paragraphsAlignByTheirDirection() {
        prompter::PrompterSettings settings;
        settings.fontSize = 40;
        PromptView& view = showView("\u05e9\u05dc\u05d5\u05dd \u05e2\u05d5\u05dc\u05dd", settings);
        const auto inkSpan = [](PromptView& shown) {
            const QImage image = shown.grab().toImage();
            int left = image.width(), right = -1;
            const int line = static_cast<int>(shown.readingLineY());
            for (int y = line + 2; y < line + 50; ++y)
                for (int x = image.width() / 10; x < image.width() * 9 / 10; ++x)
                    if (isInk(image.pixel(x, y))) {
                        left = std::min(left, x);
                        right = std::max(right, x);
                    }
            return std::pair{left, right};
        };
        const auto [rtlLeft, rtlRight] = inkSpan(view);
        QVERIFY(rtlRight > 800 * 0.85 && rtlLeft > 800 / 2);
        PromptView& ltr = showView("Shalom world", settings);
        const auto [ltrLeft, ltrRight] = inkSpan(ltr);
        QVERIFY(ltrLeft < 800 * 0.15 && ltrRight < 800 / 2);
    }

    // Emoji take the system's colour emoji font (the share window draws through the same
    // text library): the picture holds colour where white text on black has none. The heart is
    // also in the text font, in black and white, which is what it would be drawn in otherwise.
    void emojiDrawInColour() {
        if (qttext::TextBlocks::emojiFamily().isEmpty())
            QSKIP("no emoji font on this system");
        prompter::PrompterSettings settings;
        settings.fontSize = 80;
        PromptView& view = showView("Love \xe2\x9d\xa4\xef\xb8\x8f", settings);
        const QImage picture = view.grab().toImage();
        int coloured = 0;
        for (int y = static_cast<int>(view.readingLineY()); y < picture.height() - 10; ++y)
            for (int x = picture.width() / 10; x < picture.width() * 9 / 10; ++x) {
                const QColor pixel = picture.pixelColor(x, y);  // between the margins' markers
                coloured += pixel.hsvSaturation() > 100 && pixel.value() > 100;
            }
        QVERIFY2(coloured > 500, qPrintable(QString("%1 coloured pixels").arg(coloured)));
    }

    // Settings changed while prompting are saved and come back after a restart; the command
    // line's values hold for the run only; a damaged file reads as the defaults; reset forgets.
    void settingsSurviveARestart() {
        QVERIFY(prompter::PrompterSettings::reset());
        const QString scripts = home_.path() + "/data/quorvane/scripts";
        QVERIFY(QDir().mkpath(scripts));
        writeFile(scripts + "/talk.txt", "Hello there.\nSecond line.\n");
        {
            prompter::ScriptLibrary library(scripts);
            HandIntake intake;
            const auto options = prompter::PrompterOptions::parse(
                {"quorvane-prompter", "--speed", "300", "--countdown", "0"});
            const auto saved = prompter::PrompterSettings::load();
            prompter::PrompterWindow window(library, intake, options.applied(saved), saved,
                                            prompter::Presentation::window,
                                            std::make_shared<FakeClock>());
            QVERIFY(window.prompt(scripts + "/talk.txt"));
            PromptView* view = window.promptView();
            QCOMPARE(view->motion().speed(), 300.0);
            QTest::keyClick(view, Qt::Key_Up);
            QTest::keyClick(view, Qt::Key_H);
            QTest::keyClick(view, Qt::Key_Plus, Qt::ControlModifier);
            QTest::keyClick(view, Qt::Key_Escape);
            QCOMPARE(window.currentWidget(), window.library());
        }
        const auto restarted = prompter::PrompterSettings::load();
        QCOMPARE(restarted.speed, 310.0);
        QCOMPARE(restarted.mirror, Mirror::horizontal);
        QCOMPARE(restarted.fontSize, 64 + PromptView::kFontStep);
        QCOMPARE(restarted.countdown, 3.0);  // the command line's countdown was not saved

        {
            QSettings file(prompter::PrompterSettings::filePath(), QSettings::IniFormat);
            file.setValue("speed", "fast");
            file.setValue("fontSize", 1e9);
            file.setValue("textColour", "not a colour");
            file.setValue("lineSpacing", 0.1);
            file.setValue("voiceModel", "relative/model");
        }
        const auto damaged = prompter::PrompterSettings::load();
        QCOMPARE(damaged.speed, 140.0);
        QCOMPARE(damaged.fontSize, 64);
        QCOMPARE(damaged.textColour, QColor(Qt::white));
        QCOMPARE(damaged.mirror, Mirror::horizontal);
        QCOMPARE(damaged.lineSpacing, 1.0);
        QCOMPARE(damaged.voiceModel, QString());
        QVERIFY(prompter::PrompterSettings::reset());
        QCOMPARE(prompter::PrompterSettings::load(), prompter::PrompterSettings{});
    }

    // Settings changed in the settings window reach the running prompt and its preview at once,
    // and come back after a restart.
    void settingsWindowReachesThePrompt() {
        QVERIFY(prompter::PrompterSettings::reset());
        QTemporaryDir folder;
        prompter::ScriptLibrary library(folder.path());
        writeFile(folder.path() + "/talk.txt", "Talk\nWords to say.\n");
        HandIntake intake;
        {
            prompter::PrompterWindow window(library, intake, {}, {}, prompter::Presentation::window,
                                            std::make_shared<FakeClock>());
            QVERIFY(window.prompt(folder.path() + "/talk.txt", 0, prompter::Motion::still));
            QTest::keyClick(window.promptView(), Qt::Key_Comma, Qt::ControlModifier);
            prompter::SettingsWindow* settings = window.showSettings();
            QVERIFY(settings->isVisible());
            settings->fontSize->setValue(96);
            settings->readingLine->setValue(50);
            settings->speed->setValue(180);
            settings->mirror->setCurrentIndex(
                settings->mirror->findData(static_cast<int>(Mirror::horizontal)));
            settings->margin->setValue(20);
            // Line spacing: the paragraph of one line grows by the factor, the place kept.
            const double oneLine = window.promptView()->paragraphHeight(0);
            const double place = window.promptView()->position();
            settings->lineSpacing->setValue(1.5);
            QCOMPARE(window.promptView()->paragraphHeight(0), oneLine * 1.5);
            QCOMPARE(window.promptView()->position(), place);
            // Voice-following as settings: a build without it says so and changes nothing.
            QVERIFY(!settings->followVoice->isEnabled());
            window.setMicrophones([] { return QStringList{"USB Mic", "Built-in Audio"}; });
            settings = window.showSettings();
            QVERIFY(settings->followVoice->isEnabled());
            QCOMPARE(settings->microphone->count(), 3);  // the default and the two
            QSignalSpy announced(&window, &prompter::PrompterWindow::settingsChanged);
            settings->followVoice->setChecked(true);
            settings->microphone->setCurrentIndex(settings->microphone->findText("USB Mic"));
            settings->voiceModel->setText(folder.path() + "/model/../model");
            emit settings->voiceModel->editingFinished();
            QVERIFY(announced.count() >= 3);
            QCOMPARE(announced.last()[0].value<prompter::PrompterSettings>().microphone,
                     QString("USB Mic"));
            QVERIFY(window.promptView()->settings().followVoice);
            QCOMPARE(window.promptView()->settings().fontSize, 96);
            QCOMPARE(window.promptView()->settings().readingLine, 0.5);
            QCOMPARE(window.promptView()->motion().speed(), 180.0);
            QCOMPARE(window.promptView()->settings().mirror, Mirror::horizontal);
            QCOMPARE(settings->preview()->settings().readingLine, 0.5);
            QCOMPARE(settings->preview()->settings().marginPercent, 20);
            for (QPushButton* button : settings->findChildren<QPushButton*>())
                QVERIFY2(!button->accessibleName().isEmpty(), qPrintable(button->text()));

            // The speed set in the library: the prompt and the reading times follow.
            library.refresh();
            const auto readingTime = [&] {
                return library.index(0, prompter::ScriptLibrary::kReadingTime).data().toString();
            };
            QCOMPARE(readingTime(), QString("0:02"));  // 4 words at 180 a minute
            window.showLibrary();
            window.library()->speedBox()->setValue(280);
            QCOMPARE(window.promptView()->motion().speed(), 280.0);
            QCOMPARE(readingTime(), QString("0:01"));
        }
        const auto restarted = prompter::PrompterSettings::load();
        QCOMPARE(restarted.fontSize, 96);
        QCOMPARE(restarted.readingLine, 0.5);
        QCOMPARE(restarted.speed, 280.0);
        QCOMPARE(restarted.mirror, Mirror::horizontal);
        QCOMPARE(restarted.marginPercent, 20);
        QCOMPARE(restarted.lineSpacing, 1.5);
        QVERIFY(restarted.followVoice);
        QCOMPARE(restarted.microphone, QString("USB Mic"));
        QCOMPARE(restarted.voiceModel, folder.path() + "/model");
        QVERIFY(prompter::PrompterSettings::reset());
    }

    // The library: newest first, a file that lands shows at once and marked new, what an intake
    // takes is marked new, a pasted script is a new file, rename never replaces, failures show.
    void libraryListsAndFollowsTheFolder() {
        QTemporaryDir folder;
        const QString scripts = folder.path() + "/scripts";
        prompter::ScriptLibrary library(scripts);
        QCOMPARE(library.ensureFolder(), std::nullopt);
        QCOMPARE(QFileInfo(scripts).permissions() & 0x0077, QFileDevice::Permissions{});
        writeFile(scripts + "/old.txt", "\n\n  Old news  \nbody words here\n");
        writeFile(scripts + "/.hidden", "not a script");
        QVERIFY(QFile::link(scripts + "/old.txt", scripts + "/link.txt"));
        HandIntake intake;
        prompter::PrompterWindow window(library, intake, {}, {}, prompter::Presentation::window,
                                        std::make_shared<FakeClock>());
        library.refresh();
        window.show();
        prompter::LibraryView* view = window.library();
        QCOMPARE(library.rowCount(), 1);
        QCOMPARE(view->rowText(0), QString("old"));  // by name, without ".txt"
        QCOMPARE(library.entries()[0].title, QString("Old news"));
        QCOMPARE(view->rowText(0, prompter::ScriptLibrary::kLength), QString("5 words"));

        writeFile(scripts + "/landed.txt", "Landed live\n");
        QTRY_COMPARE_WITH_TIMEOUT(library.rowCount(), 2, 20000);
        QVERIFY(view->rowText(0).contains("New"));
        QVERIFY(view->rowText(0).endsWith("landed"));

        writeFile(scripts + "/taken.txt", "Taken in\n");
        emit intake.taken({"taken.txt"});
        QCOMPARE(library.entries().size(), std::size_t{3});
        QVERIFY(library.entries()[0].isNew || library.entries()[1].isNew);
        emit intake.failed("A text could not be taken: disk full");
        QCOMPARE(window.library()->message(), QString("A text could not be taken: disk full"));

        QString pasted;
        QCOMPARE(library.add("Pasted words\nmore", &pasted), std::nullopt);
        QCOMPARE(pasted, QString("Pasted words.txt"));
        QCOMPARE(library.add("Pasted words\nother", &pasted), std::nullopt);
        QCOMPARE(pasted, QString("Pasted words (2).txt"));
        QFile second(scripts + "/" + pasted);
        QVERIFY(second.open(QIODevice::ReadOnly));
        QCOMPARE(second.readAll(), QByteArray("Pasted words\nother"));

        QVERIFY(library.rename("landed.txt", "old.txt").has_value());  // taken: refused
        QVERIFY(library.rename("landed.txt", "../escape.txt").has_value());
        // Renamed as shown: the ".txt" is kept.
        QCOMPARE(prompter::ScriptLibrary::fileNameFor(" renamed ", "landed.txt"),
                 QString("renamed.txt"));
        QCOMPARE(library.rename("landed.txt", "renamed.txt"), std::nullopt);
        QVERIFY(library.rowOf("renamed.txt") >= 0);
        QVERIFY(library.rowOf("landed.txt") < 0);
        QVERIFY(QFile::exists(scripts + "/old.txt"));
        QVERIFY(QFile::exists(scripts + "/renamed.txt"));

        // Deleting moves to the desktop's trash, with Undo offered: gone from the library,
        // kept in the trash, and back under its name after Undo.
        window.library()->select("renamed.txt");
        QTest::keyClick(window.library()->list(), Qt::Key_Delete);
        QVERIFY(!QFile::exists(scripts + "/renamed.txt"));
        QVERIFY(window.library()->message().contains("moved to the trash"));
        const QString homeTrash = home_.path() + "/data/Trash/files/renamed.txt";
        const QString folderTrash =
            folder.path() + QString("/.Trash-%1/files/renamed.txt").arg(::getuid());
        QVERIFY(QFile::exists(homeTrash) || QFile::exists(folderTrash));
        QVERIFY(library.rowOf("renamed.txt") < 0);
        window.library()->undoDelete();
        QVERIFY(QFile::exists(scripts + "/renamed.txt"));
        QVERIFY(!QFile::exists(homeTrash) && !QFile::exists(folderTrash));
        QVERIFY(!QFile::exists(home_.path() + "/data/Trash/info/renamed.txt.trashinfo"));
        QVERIFY(library.rowOf("renamed.txt") >= 0);
        QCOMPARE(library.moveToTrash("renamed.txt"), std::nullopt);
        for (const auto& entry : library.entries())
            QVERIFY(entry.fileName != "renamed.txt");

        // "New" clears once a script is opened; the title names the script open.
        window.library()->select("taken.txt");
        QVERIFY(!library.entries()[static_cast<std::size_t>(library.rowOf("taken.txt"))].isNew);
        QCOMPARE(window.windowTitle(), QString::fromUtf8("taken \u2014 Teleprompter"));

        // A script that cannot be read: a message in the window, the library still there.
        QVERIFY(::mkfifo(QFile::encodeName(scripts + "/fifo.txt").constData(), 0600) == 0);
        QVERIFY(!window.prompt(scripts + "/fifo.txt"));
        QVERIFY(window.library()->message().contains("not a regular file"));
        QVERIFY(!window.prompt(scripts + "/missing.txt"));
        QVERIFY(window.library()->message().contains("missing.txt"));
        QCOMPARE(window.currentWidget(), window.library());

        // Ctrl+Q quits from a prompt as from the library.
        QVERIFY(window.prompt(scripts + "/old.txt", 0, prompter::Motion::still));
        QCOMPARE(window.windowTitle(), QString::fromUtf8("old \u2014 Teleprompter"));
        QTest::keyClick(window.promptView(), Qt::Key_Q, Qt::ControlModifier);
        QVERIFY(!window.isVisible());
    }

    // The prompter's own folder and files follow the rules of the rest: a scripts folder that is
    // a link, or that anyone may write in, is refused everywhere and the window says why; a FIFO
    // as the settings file is never opened for reading or writing; a name holds no control
    // characters.
    void ownFilesOnly() {
        QTemporaryDir folder;
        const QString real = folder.path() + "/real";
        QVERIFY(QDir().mkpath(real));
        writeFile(real + "/secret.txt", "Someone else's words\n");
        QVERIFY(QFile::link(real, folder.path() + "/scripts"));
        prompter::ScriptLibrary linked(folder.path() + "/scripts");
        QVERIFY(linked.ensureFolder()->contains("symbolic link"));
        HandIntake intake;
        prompter::PrompterWindow window(linked, intake, {}, {}, prompter::Presentation::window,
                                        std::make_shared<FakeClock>());
        linked.refresh();
        window.show();
        QCOMPARE(linked.rowCount(), 0);
        QVERIFY(window.library()->message().contains("symbolic link"));
        QVERIFY(window.library()->editor()->text()->toPlainText().isEmpty());
        QVERIFY(linked.rename("secret.txt", "moved.txt").has_value());
        QVERIFY(linked.moveToTrash("secret.txt").has_value());
        QString pasted;
        QVERIFY(linked.add("Pasted\n", &pasted).has_value());
        QVERIFY(!window.prompt(folder.path() + "/scripts/secret.txt"));
        QCOMPARE(QDir(real).entryList(QDir::Files), QStringList{"secret.txt"});

        QVERIFY(::chmod(QFile::encodeName(real).constData(), 0777) == 0);
        prompter::ScriptLibrary open(real);
        QVERIFY(open.ensureFolder()->contains("Anyone may write"));
        open.refresh();
        QCOMPARE(open.rowCount(), 0);
        QVERIFY(::chmod(QFile::encodeName(real).constData(), 0700) == 0);
        prompter::ScriptLibrary own(real);
        QCOMPARE(own.ensureFolder(), std::nullopt);
        own.refresh();
        QCOMPARE(own.rowCount(), 1);
        for (const QString& name : {QString("two\nlines.txt"), QString("\x1b[31mred.txt"),
                                    QString::fromUtf8("evil\u202Etxt.exe"), QString(".hidden")})
            QVERIFY2(own.rename("secret.txt", name).has_value(), qPrintable(name));
        QCOMPARE(QDir(real).entryList(QDir::Files), QStringList{"secret.txt"});

        // A FIFO as the settings file: the defaults, at once; a save leaves it alone.
        QVERIFY(prompter::PrompterSettings::reset());
        const QString settings = prompter::PrompterSettings::filePath();
        QVERIFY(QDir().mkpath(QFileInfo(settings).absolutePath()));
        QVERIFY(::mkfifo(QFile::encodeName(settings).constData(), 0600) == 0);
        QCOMPARE(prompter::PrompterSettings::load(), prompter::PrompterSettings{});
        prompter::PrompterSettings changed;
        changed.speed = 200;
        QVERIFY(!changed.save());
        QVERIFY(QFileInfo(settings).exists() && !QFileInfo(settings).isFile());
        QVERIFY(prompter::PrompterSettings::reset());
        // Settings kept elsewhere through a link (as dotfile managers do) are read and written
        // there, the link kept.
        const QString kept = folder.path() + "/dotfiles.conf";
        writeFile(kept, "[General]\nspeed=250\nvoice=kept\n");
        QVERIFY(QFile::link(kept, settings));
        QCOMPARE(prompter::PrompterSettings::load().speed, 250.0);
        QVERIFY(changed.save());
        QVERIFY(QFileInfo(settings).isSymLink());
        QCOMPARE(prompter::PrompterSettings::load().speed, 200.0);
        QCOMPARE(QSettings(kept, QSettings::IniFormat).value("voice").toString(), QString("kept"));
        QVERIFY(prompter::PrompterSettings::reset());
    }

    // What the list shows comes from the library's cache only while each script is the file it
    // was counted from: scripts edited in place (size and modification time kept), replaced by
    // a rename, new or gone, under a cache that is whole, has a damaged entry, is cut short, is
    // someone else's format, or is a link, a folder or under a linked folder. Every row shows
    // "counting…" until counted and then the right count; a refused cache is left as it is.
    // Hundreds of other scripts beside them (a library large enough to be looked at on two
    // threads), one named in accents; a name the system cannot decode is never listed.
    void libraryCacheNeverMakesACountWrong() {
        QTemporaryDir folder;
        const QString scripts = folder.path() + "/scripts";
        const QString cacheHome = folder.path() + "/cache";
        const QString cachePath = cacheHome + "/quorvane/library-cache";
        QVERIFY(QDir().mkpath(scripts));
        QVERIFY(::chmod(QFile::encodeName(scripts).constData(), 0700) == 0);
        writeFile(scripts + "/Alpha.txt", "Alpha\none two three\n");
        writeFile(scripts + "/Beta.txt", "Beta\nfour five\n");
        writeFile(scripts + "/Gamma.txt", "Gamma [cue] six\n");
        writeFile(scripts + "/Delta.txt", "Delta\nseven eight nine\n");
        writeFile(scripts + "/Zeta.txt", "Zeta\n");
        QMap<QString, QString> others;
        for (int i = 0; i < 700; ++i) {
            const QString name =
                i == 350 ? QString("Ét\u00e9 %1").arg(i) : QString("More %1").arg(i);
            writeFile(scripts + "/" + name + ".txt",
                      (name + "\n" + QString("word ").repeated(i % 5)).toUtf8());
            others.insert(name, QString("%1 words %2").arg(2 + i % 5).arg(name));
        }
        const int undecodable = ::open((QFile::encodeName(scripts) + "/bad \xff.txt").constData(),
                                       O_WRONLY | O_CREAT | O_EXCL, 0600);
        QVERIFY(undecodable >= 0);
        ::close(undecodable);
        QTest::qWait(2100);  // counts of files changed in the last two seconds are not kept

        const auto settle = [&](prompter::ScriptLibrary& library) {
            library.setCountingBudget(0);
            QCOMPARE(library.ensureFolder(), std::nullopt);
            library.refresh();
        };
        const auto shown = [](const prompter::ScriptLibrary& library) {
            QMap<QString, QString> rows;
            for (int row = 0; row < library.rowCount(); ++row)
                rows.insert(library.index(row, prompter::ScriptLibrary::kName).data().toString(),
                            library.index(row, prompter::ScriptLibrary::kLength).data().toString() +
                                " " + library.entries()[std::size_t(row)].title);
            return rows;
        };
        {
            prompter::ScriptLibrary first(scripts, nullptr, cachePath);
            settle(first);
            QVERIFY(first.counting());
            QCOMPARE(first.index(0, prompter::ScriptLibrary::kReadingTime).data().toString(),
                     QString("counting\u2026"));
            QTRY_VERIFY(!first.counting());
            QCOMPARE(shown(first)["Gamma"], QString("2 words Gamma [cue] six"));
        }
        QCOMPARE(QFileInfo(cachePath).permissions() & 0x0077, QFileDevice::Permissions{});
        QCOMPARE(QFileInfo(cacheHome + "/quorvane").permissions() & 0x0077,
                 QFileDevice::Permissions{});
        QFile saved(cachePath);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray whole = saved.readAll();
        saved.close();

        // Alpha edited in place, its size and modification time kept; Beta replaced by a
        // rename, same size; Epsilon new; Zeta gone.
        struct stat before {};
        QCOMPARE(::stat(QFile::encodeName(scripts + "/Alpha.txt").constData(), &before), 0);
        QFile alpha(scripts + "/Alpha.txt");
        QVERIFY(alpha.open(QIODevice::ReadWrite));
        QVERIFY(alpha.seek(9));
        QCOMPARE(alpha.write("_"), 1);  // "one two" becomes one word
        alpha.close();
        const timespec times[2] = {before.st_atim, before.st_mtim};
        QCOMPARE(
            ::utimensat(AT_FDCWD, QFile::encodeName(scripts + "/Alpha.txt").constData(), times, 0),
            0);
        writeFile(folder.path() + "/Beta.new", "Beta\nfour-five\n");
        QVERIFY(::rename(QFile::encodeName(folder.path() + "/Beta.new").constData(),
                         QFile::encodeName(scripts + "/Beta.txt").constData()) == 0);
        writeFile(scripts + "/Epsilon.txt", "Epsilon words\n");
        QVERIFY(QFile::remove(scripts + "/Zeta.txt"));
        QMap<QString, QString> right = others;
        right.insert(QMap<QString, QString>{{"Alpha", "3 words Alpha"},
                                            {"Beta", "2 words Beta"},
                                            {"Gamma", "2 words Gamma [cue] six"},
                                            {"Delta", "4 words Delta"},
                                            {"Epsilon", "2 words Epsilon words"}});

        QByteArray damaged = whole;
        damaged[damaged.indexOf("Gamma [cue]") + 1] = 'o';
        const QString elsewhere = folder.path() + "/elsewhere";
        QVERIFY(QDir().mkpath(elsewhere));
        writeFile(elsewhere + "/library-cache", whole);
        enum Kind { file, link, directory, linkedFolder };
        const struct {
            const char* what;
            Kind kind;
            QByteArray bytes;
            bool refused;
        } cases[] = {
            {"a link", link, {}, true},
            {"a folder", directory, {}, true},
            {"a linked folder", linkedFolder, {}, true},
            {"whole", file, whole, false},
            {"empty", file, {}, false},
            {"foreign", file, QByteArray(300, '\x7f') + whole, false},
            {"cut short", file, whole.left(whole.size() - 5), false},
            {"a damaged entry", file, damaged, false},
        };
        for (const auto& planted : cases) {
            QVERIFY(QDir(cacheHome).removeRecursively());
            QVERIFY(QDir().mkpath(cacheHome));
            if (planted.kind == linkedFolder) {
                QVERIFY(QFile::link(elsewhere, cacheHome + "/quorvane"));
            } else {
                QVERIFY(QDir().mkpath(cacheHome + "/quorvane"));
                if (planted.kind == file)
                    writeFile(cachePath, planted.bytes);
                else if (planted.kind == link)
                    QVERIFY(QFile::link(elsewhere + "/library-cache", cachePath));
                else
                    QVERIFY(QDir().mkpath(cachePath));
            }
            {
                prompter::ScriptLibrary library(scripts, nullptr, cachePath);
                settle(library);
                QVERIFY2(library.cache().refusal().has_value() == planted.refused, planted.what);
                const auto early = shown(library);
                for (auto row = right.cbegin(); row != right.cend(); ++row)
                    QVERIFY2(early[row.key()] == *row ||
                                 early[row.key()] == "counting\u2026 " + row.key() + ".txt",
                             qPrintable(QString(planted.what) + ": " + early[row.key()]));
                // Delta, unchanged, is shown at once from a cache that holds it whole.
                if (planted.bytes == whole || planted.bytes == damaged)
                    QCOMPARE(early["Delta"], right["Delta"]);
                QTRY_VERIFY(!library.counting());
                QVERIFY2(shown(library) == right, planted.what);
                QCOMPARE(library.index(0, prompter::ScriptLibrary::kReadingTime).data().toString(),
                         QString("0:01"));  // Epsilon, the newest: 2 words at 140 a minute
            }
            // A cache it could use is rewritten whole; a refused one is left as it was.
            QFile after(planted.kind == linkedFolder ? elsewhere + "/library-cache" : cachePath);
            QCOMPARE(QFileInfo(cachePath).isSymLink(), planted.kind == link);
            if (planted.kind == directory) {
                QVERIFY(QFileInfo(cachePath).isDir());
            } else {
                QVERIFY(after.open(QIODevice::ReadOnly));
                const QByteArray now = after.readAll();
                if (planted.refused)
                    QCOMPARE(now, whole);
                else
                    QVERIFY2(now.startsWith(whole.left(10)) && now != planted.bytes, planted.what);
            }
        }
        // The cache rewritten after the damage reads whole; the unchanged scripts come from it.
        prompter::ScriptLibrary again(scripts, nullptr, cachePath);
        settle(again);
        QCOMPARE(again.cache().dropped(), 0);
        QCOMPARE(shown(again)["Delta"], right["Delta"]);
        QCOMPARE(shown(again)["Gamma"], right["Gamma"]);

        // Under a file size limit smaller than the cache, the cache is left as it was and the
        // program goes on (writing past the limit would end it).
        QFile kept(cachePath);
        QVERIFY(kept.open(QIODevice::ReadOnly));
        const QByteArray last = kept.readAll();
        QVERIFY(QFile::remove(scripts + "/Delta.txt"));
        rlimit limit{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlimit small{64, limit.rlim_max};
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &small), 0);
        {
            prompter::ScriptLibrary limited(scripts, nullptr, cachePath);
            settle(limited);
            QTRY_VERIFY(!limited.counting());
        }
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        kept.close();
        QVERIFY(kept.open(QIODevice::ReadOnly));
        QCOMPARE(kept.readAll(), last);
    }

    // The scripts of the old folder move into the library once: byte for byte, a taken name
    // numbered, nothing replaced, hidden files and links left; across file systems too, where a
    // whole copy from an interrupted run is not made twice.
    void oldFolderMovesInOnce() {
        QTemporaryDir folder;
        const QString old = folder.path() + "/old";
        const QString scripts = folder.path() + "/Teleprompter";
        QVERIFY(QDir().mkpath(old));
        writeFile(old + "/Notes.txt", "Notes\nfrom the old folder\n");
        writeFile(old + "/Speech.txt", "Speech\n");
        writeFile(old + "/.hidden", "left alone");
        QVERIFY(QFile::link(old + "/Speech.txt", old + "/link.txt"));
        prompter::ScriptLibrary library(scripts);
        QCOMPARE(library.ensureFolder(), std::nullopt);
        writeFile(scripts + "/Notes.txt", "Notes\nalready here\n");
        QStringList problems;
        QCOMPARE(library.moveIn(old, &problems), 2);
        QCOMPARE(problems, QStringList{});
        QCOMPARE(QDir(scripts).entryList(QDir::Files),
                 (QStringList{"Notes (2).txt", "Notes.txt", "Speech.txt"}));
        QFile moved(scripts + "/Notes (2).txt");
        QVERIFY(moved.open(QIODevice::ReadOnly));
        QCOMPARE(moved.readAll(), QByteArray("Notes\nfrom the old folder\n"));
        QCOMPARE(QDir(old).entryList(QDir::Files | QDir::Hidden | QDir::System),
                 (QStringList{".hidden", "link.txt"}));
        QCOMPARE(library.moveIn(old, &problems), 0);  // once
        QCOMPARE(library.rowCount(), 3);
        QCOMPARE(library.moveIn(scripts, &problems), 0);  // never into itself

        // Another file system (a RAM disk), where there is one.
        QTemporaryDir ram("/dev/shm/prompter-XXXXXX");
        struct stat here {};
        struct stat there {};
        if (!ram.isValid() || ::stat("/dev/shm", &there) != 0 ||
            ::stat(QFile::encodeName(scripts).constData(), &here) != 0 ||
            here.st_dev == there.st_dev)
            QSKIP("no second file system to move from");
        writeFile(ram.path() + "/Far.txt", "Far away\n");
        writeFile(ram.path() + "/Copied.txt", "Copied before\n");
        writeFile(scripts + "/Copied.txt", "Copied before\n");  // a run cut after its link
        QCOMPARE(library.moveIn(ram.path(), &problems), 2);
        QCOMPARE(problems, QStringList{});
        QCOMPARE(QDir(ram.path()).entryList(QDir::Files), QStringList{});
        QVERIFY(!QFile::exists(scripts + "/Copied (2).txt"));
        QFile far(scripts + "/Far.txt");
        QVERIFY(far.open(QIODevice::ReadOnly));
        QCOMPARE(far.readAll(), QByteArray("Far away\n"));
        QCOMPARE(QDir(scripts).entryList(QDir::Hidden | QDir::Files).size(), 5);  // no leftovers
    }

    // The start of a script indexed alone is paragraph for paragraph the start of the whole
    // script's index, wherever the cut falls: inside a CR LF, a NEL, a line separator or a
    // character, in a very long line cut into pieces, in a cue or a heading. And a big script
    // indexed in two halves at once is indexed as in one.
    void headIsTheStartOfTheWhole_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("cut");
        const QByteArray lines = QByteArray::fromStdString(words(30) + "\n");
        QTest::newRow("CR LF cut between")
            << lines.repeated(40) + "end\r\nmore\n" + lines << 40 * lines.size() + 4;
        QTest::newRow("NEL cut inside")
            << lines.repeated(40) + "end\xC2\x85more" << 40 * lines.size() + 4;
        QTest::newRow("separator cut inside")
            << lines.repeated(40) + "end\xE2\x80\xA8more" << 40 * lines.size() + 5;
        const QByteArray line = QByteArray::fromStdString(words(20000));  // one line, pieces
        QTest::newRow("one long line") << line << 70000;
        QTest::newRow("one long line, no spaces, cut in a character")
            << QByteArray("\xC3\xA9").repeated(40000) << 50001;
        QTest::newRow("cut in a cue and a heading")
            << lines.repeated(10) + "# Heading [cue\nwords [two] here\n# Last\n"
            << 10 * lines.size() + 12;
    }
    void headIsTheStartOfTheWhole() {
        QFETCH(QByteArray, text);
        QFETCH(int, cut);
        const qttext::PlainTextSource whole(text.toStdString());
        const auto blocks = qttext::TextBlocks::cut(whole);
        const auto index = prompter::ScriptIndex::build(whole, blocks);
        const auto head = prompter::ScriptIndexing::head(whole, static_cast<std::uint64_t>(cut));
        QVERIFY(!head.blocks.empty());
        QVERIFY(head.blocks.size() < blocks.size());
        QVERIFY(head.blocks.back().start + head.blocks.back().length <= std::uint64_t(cut));
        for (std::size_t i = 0; i < head.blocks.size(); ++i) {
            QCOMPARE(head.blocks[i].start, blocks[i].start);
            QCOMPARE(head.blocks[i].length, blocks[i].length);
            QCOMPARE(head.index.paragraphStart(i + 1), index.paragraphStart(i + 1));
            QCOMPARE(head.index.hasText(i), index.hasText(i));
        }
        for (std::size_t i = 0; i < head.index.sections().size(); ++i)
            QCOMPARE(head.index.sections()[i].title, index.sections()[i].title);
        for (std::size_t i = 0; i < head.index.cues().size(); ++i)
            QCOMPARE(head.index.cues()[i].length, index.cues()[i].length);

        // The whole index of a big text, made in two halves at once, is the one made in one.
        QByteArray big = text;
        while (big.size() < static_cast<qsizetype>(prompter::ScriptIndexing::kSplitBytes))
            big += text;
        const qttext::PlainTextSource bigSource(big.toStdString());
        const auto oneBlocks = qttext::TextBlocks::cut(bigSource);
        const auto one = prompter::ScriptIndex::build(bigSource, oneBlocks);
        const auto halves = prompter::ScriptIndexing::whole(bigSource);
        QCOMPARE(halves.blocks.size(), oneBlocks.size());
        for (std::size_t i = 0; i < oneBlocks.size(); ++i) {
            QCOMPARE(halves.blocks[i].start, oneBlocks[i].start);
            QCOMPARE(halves.blocks[i].length, oneBlocks[i].length);
            QCOMPARE(halves.index.paragraphStart(i + 1), one.paragraphStart(i + 1));
            QCOMPARE(halves.index.hasText(i), one.hasText(i));
        }
        QCOMPARE(halves.index.words(), one.words());
        QCOMPARE(halves.index.titleParagraph(), one.titleParagraph());
        QCOMPARE(halves.index.sections().size(), one.sections().size());
        for (std::size_t i = 0; i < one.sections().size(); ++i) {
            QCOMPARE(halves.index.sections()[i].paragraph, one.sections()[i].paragraph);
            QCOMPARE(halves.index.sections()[i].title, one.sections()[i].title);
        }
        QCOMPARE(halves.index.cues().size(), one.cues().size());
        for (std::size_t i = 0; i < one.cues().size(); ++i) {
            QCOMPARE(halves.index.cues()[i].start, one.cues()[i].start);
            QCOMPARE(halves.index.cues()[i].length, one.cues()[i].length);
        }
    }

    // A big script shows at once from the index of its start: the right first words, and the
    // band says the words are being counted. The jumps asked for meanwhile that need the whole
    // index (the next section twice, then End; a paragraph near the end) are taken once it is
    // made, in order; then progress, time left and the sections are those of the whole script.
    void bigScriptShowsBeforeItsIndex() {
        std::string filler;
        for (int i = 0; filler.size() < 3 * PromptView::kIndexedAtOnce; ++i)
            filler += words(40) + "\n\n";
        const std::string script = "The title\n# Opening\n" + words(8, "first") + "\n" + filler +
                                   "# Middle\n" + filler + "# Close\nlast words\n";
        const qttext::PlainTextSource source(script);
        const auto blocks = qttext::TextBlocks::cut(source);
        const auto whole = prompter::ScriptIndex::build(source, blocks);
        QCOMPARE(whole.sections().size(), std::size_t{3});

        prompter::PrompterSettings settings;
        settings.fontSize = 24;
        clock_ = std::make_shared<FakeClock>();
        view_ = std::make_unique<PromptView>(clock_);
        view_->resize(800, 600);
        view_->setSettings(settings);
        view_->show();
        QVERIFY(QTest::qWaitForWindowExposed(view_.get()));
        PromptView& view = *view_;
        QSignalSpy indexed(&view, &PromptView::indexed);
        // No event is handled between here and the wait below: the whole index cannot be taken.
        view.setScript(plain(script));
        QVERIFY(view.isIndexing());
        QVERIFY(view.paragraphCount() < blocks.size());
        QVERIFY(view.bandTimes().startsWith("counting words"));
        QVERIFY(!view.bandTimes().contains("left"));
        // The first frame is the one of the script's start alone.
        PromptView start(clock_);
        start.resize(800, 600);
        start.setSettings(settings);
        start.setScript(plain(script.substr(0, 4096)));
        const QRect text = view.textArea().toRect();
        QCOMPARE(view.grab().toImage().copy(text), start.grab().toImage().copy(text));

        QTest::keyClick(&view, Qt::Key_PageDown, Qt::ControlModifier);  // to "Opening"
        QTest::keyClick(&view, Qt::Key_PageDown, Qt::ControlModifier);  // to "Middle", past all
        QCOMPARE(view.currentParagraph(), std::size_t{0});              // indexed so far
        const QImage before = view.grab().toImage().copy(text);
        QVERIFY(indexed.wait(20000));
        QVERIFY(!view.isIndexing());
        QCOMPARE(view.paragraphCount(), blocks.size());
        QCOMPARE(view.motion().length(), whole.length());
        QCOMPARE(view.currentParagraph(), whole.sections()[1].paragraph);
        QVERIFY(view.bandTimes().startsWith("50%"));
        QVERIFY(view.bandTimes().contains("left"));
        const double middle = view.position();
        view.jumpTo(0);  // the same words drawn the same, the whole index taken
        QCOMPARE(view.grab().toImage().copy(text), before);
        view.jumpTo(middle);
        QCOMPARE(view.sectionMenu()->actions().size(), 3);
        QTest::keyClick(&view, Qt::Key_End);
        QCOMPARE(view.position(), whole.length());

        // Asked for while indexing: a paragraph past those indexed, then End.
        view.setScript(plain(script));
        QVERIFY(view.isIndexing());
        view.jumpToParagraph(blocks.size() - 2);
        QCOMPARE(view.position(), 0.0);
        QVERIFY(indexed.wait(20000));
        QCOMPARE(view.currentParagraph(), blocks.size() - 2);
        view.setScript(plain(script));
        QTest::keyClick(&view, Qt::Key_Right);  // within those indexed: at once
        QCOMPARE(view.currentParagraph(), std::size_t{1});
        QTest::keyClick(&view, Qt::Key_End);
        QVERIFY(indexed.wait(20000));
        QCOMPARE(view.position(), whole.length());
    }

    // A big script named on disk shows from its start alone, the first frame the same as the
    // whole script's; the rest is read behind it, then script() is the whole (the byte-order
    // mark left out), a jump asked for meanwhile is taken, and a follower hears of the new text.
    // A file rewritten between the two reads is taken as an edit; a rest that cannot be read
    // leaves the start shown and says why.
    void bigScriptShowsBeforeItIsRead() {
        std::string script = "The title\n# Opening\n";
        while (script.size() < 3 * PromptView::kIndexedAtOnce)
            script += words(30) + "\n\n";
        script += "# Close\nlast words\n";
        QTemporaryDir folder;
        const QString path = folder.path() + "/big.txt";
        writeFile(path, QByteArray::fromStdString("\xEF\xBB\xBF" + script));
        prompter::PrompterSettings settings;
        settings.fontSize = 24;
        clock_ = std::make_shared<FakeClock>();
        const auto made = [this, &settings] {
            auto view = std::make_unique<PromptView>(clock_);
            view->resize(800, 600);
            view->setSettings(settings);
            return view;
        };
        const auto start = [&path] {
            auto started = prompter::ScriptFile::start(path, PromptView::kIndexedAtOnce,
                                                       PromptView::kHeadBytes);
            return std::get<prompter::ScriptFile::Start>(std::move(started));
        };
        view_ = made();
        PromptView& view = *view_;
        QSignalSpy indexed(&view, &PromptView::indexed);
        QSignalSpy changed(&view, &PromptView::scriptChanged);
        auto first = start();
        QVERIFY(first.rest);
        QCOMPARE(*first.text, script.substr(0, PromptView::kHeadBytes + 1));
        view.setScript(std::move(first));
        QVERIFY(view.isReading() && view.isIndexing());
        QVERIFY(view.bandTimes().startsWith("counting words"));
        const auto whole = made();
        whole->setScript(plain(script));
        const QRect text = view.textArea().toRect();
        QCOMPARE(view.grab().toImage().copy(text), whole->grab().toImage().copy(text));
        QTest::keyClick(&view, Qt::Key_End);  // waits for the whole
        QVERIFY(indexed.wait(20000));
        QVERIFY(!view.isReading() && !view.isIndexing());
        QCOMPARE(changed.count(), 2);  // the start, then the whole
        QVERIFY(view.script()->substring(0, script.size() + 1) == script);
        QCOMPARE(view.paragraphCount(),
                 qttext::TextBlocks::cut(qttext::PlainTextSource(script)).size());
        QCOMPARE(view.position(), view.motion().length());
        QCOMPARE(view.index().sections().size(), std::size_t{2});

        // Rewritten in place after its start was read, a line put above the one being read:
        // the new text, whole, read on from the same words.
        const std::string later = "Another title\n" + script;
        auto second = start();
        writeFile(path, QByteArray::fromStdString(later));
        view.setScript(std::move(second));
        view.jumpToParagraph(10);
        QTRY_VERIFY_WITH_TIMEOUT(!view.isIndexing(), 20000);
        QVERIFY(view.script()->substring(0, later.size() + 1) == later);
        QCOMPARE(view.currentParagraph(), std::size_t{11});
        QCOMPARE(view.index().sections().size(), std::size_t{2});

        // The rest cannot be read: the start stays, and the failure is told.
        QSignalSpy failed(&view, &PromptView::readFailed);
        auto third = start();
        const std::string shown = *third.text;
        third.rest = [] {
            return prompter::ScriptFile::Result(
                prompter::ScriptReadError{"Cannot read \u201cbig.txt\u201d: Input/output error"});
        };
        view.setScript(std::move(third));
        QVERIFY(failed.wait(20000));
        QCOMPARE(failed.first().first().toString(),
                 QString("Cannot read \u201cbig.txt\u201d: Input/output error"));
        QVERIFY(!view.isIndexing());
        QVERIFY(view.script()->substring(0, shown.size() + 1) == shown);
        view_.reset();
    }

    // A script replaced while its index is still being made (a live reload, another script
    // chosen) never mixes the two: the index taken is the last script's, whole; a view closed
    // while indexing stops its thread.
    void scriptReplacedWhileIndexed() {
        const auto big = [](const char* word, int paragraphs) {
            std::string text = std::string("# ") + word + "\n";
            while (text.size() < 2 * PromptView::kIndexedAtOnce)
                for (int i = 0; i < paragraphs; ++i)
                    text += words(9, word) + "\n";
            return text;
        };
        const std::string first = big("alpha", 3);
        const std::string second = big("beta", 7) + "# Second heading\nmore\n";
        clock_ = std::make_shared<FakeClock>();
        view_ = std::make_unique<PromptView>(clock_);
        view_->resize(800, 600);
        view_->show();
        QVERIFY(QTest::qWaitForWindowExposed(view_.get()));
        PromptView& view = *view_;
        QSignalSpy indexed(&view, &PromptView::indexed);
        view.setScript(plain(first));
        view.replaceScript(plain(second));  // edited on disk before the first was indexed
        QVERIFY(view.isIndexing());
        QVERIFY(indexed.wait(20000));
        QTest::qWait(50);  // a late word from the first script's thread would come by now
        QCOMPARE(indexed.count(), 1);
        const qttext::PlainTextSource source(second);
        const auto whole = prompter::ScriptIndex::build(source, qttext::TextBlocks::cut(source));
        QCOMPARE(view.script()->length(), std::uint64_t(second.size()));
        QCOMPARE(view.paragraphCount(), whole.paragraphCount());
        QCOMPARE(view.motion().length(), whole.length());
        QCOMPARE(view.index().sections().size(), std::size_t{2});
        QCOMPARE(view.index().sections()[1].title, QString("Second heading"));
        for (int i = 0; i < 5; ++i)  // in quick turns, and closed while indexing
            view.setScript(plain(i % 2 ? first : second));
        view_.reset();
    }

    // A script named at start-up is read ahead; the read that prompts it takes those bytes
    // only when they are still what the file holds, and only for that very file: a rewritten
    // file is read again, a link in the library is refused as ever, a FIFO never blocks. A big
    // script is read whole and byte-exact.
    void readAheadOnlyWhileUnchanged() {
        QTemporaryDir folder;
        const QString path = folder.path() + "/script.txt";
        const QString other = folder.path() + "/other.txt";
        writeFile(path, "first version\n");
        writeFile(other, "another script\n");
        const auto text = [](const prompter::ScriptFile::Result& read) {
            const auto* bytes = std::get_if<std::shared_ptr<const std::string>>(&read);
            return bytes ? QString::fromStdString(**bytes) : QString("refused");
        };
        prompter::ScriptFile::readAhead(path);
        QCOMPARE(text(prompter::ScriptFile::read(other)), QString("another script\n"));
        QCOMPARE(text(prompter::ScriptFile::read(path)), QString("first version\n"));
        prompter::ScriptFile::readAhead(path);
        QTest::qWait(20);
        writeFile(path, "later version\n");  // the same size, the same inode
        QCOMPARE(text(prompter::ScriptFile::read(path)), QString("later version\n"));
        QVERIFY(QFile::link(path, folder.path() + "/link.txt"));
        prompter::ScriptFile::readAhead(folder.path() + "/link.txt");
        const int fd = ::open(QFile::encodeName(folder.path()).constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(fd >= 0);
        QVERIFY(text(prompter::ScriptFile::readAt(fd, "link.txt", "link.txt")) == "refused");
        ::close(fd);
        prompter::ScriptFile::forgetReadAhead();
        QVERIFY(::mkfifo(QFile::encodeName(folder.path() + "/fifo").constData(), 0600) == 0);
        prompter::ScriptFile::readAhead(folder.path() + "/fifo");
        QVERIFY(text(prompter::ScriptFile::read(folder.path() + "/fifo")) == "refused");

        // A big script is read in two halves at once, each byte in its place, ahead or not.
        std::string big(9u << 20, 'x');
        for (std::size_t i = 0; i < big.size(); ++i)
            big[i] = static_cast<char>('a' + (i * 7 + i / 4093) % 26);
        const QString bigPath = folder.path() + "/big.txt";
        writeFile(bigPath, QByteArray::fromStdString("\xEF\xBB\xBF" + big));
        for (const bool ahead : {false, true}) {
            if (ahead)
                prompter::ScriptFile::readAhead(bigPath);
            const auto read = prompter::ScriptFile::read(bigPath);
            const auto* bytes = std::get_if<std::shared_ptr<const std::string>>(&read);
            QVERIFY(bytes);
            QVERIFY(**bytes == big);  // the byte-order mark left out
        }
        // Its start first: the head, then the rest read from the file it began, even once
        // another is renamed over its name; a small script whole at once; a FIFO refused.
        auto started = prompter::ScriptFile::start(bigPath, 1 << 20, 4096);
        auto* start = std::get_if<prompter::ScriptFile::Start>(&started);
        QVERIFY(start && start->rest);
        QVERIFY(*start->text == big.substr(0, 4097));
        writeFile(folder.path() + "/new.txt", "renamed over\n");
        QVERIFY(::rename(QFile::encodeName(folder.path() + "/new.txt").constData(),
                         QFile::encodeName(bigPath).constData()) == 0);
        QVERIFY(text(start->rest()) == QString::fromStdString(big));
        auto small = prompter::ScriptFile::start(bigPath, 1 << 20, 4096);
        QVERIFY(std::get<prompter::ScriptFile::Start>(small).rest == nullptr);
        QCOMPARE(QString::fromStdString(*std::get<prompter::ScriptFile::Start>(small).text),
                 QString("renamed over\n"));
        QVERIFY(std::holds_alternative<prompter::ScriptReadError>(
            prompter::ScriptFile::start(folder.path() + "/fifo", 0, 0)));
    }

    // Edits show live in a running prompt, saved in the editor or written by another program,
    // of a library script or of a file opened from elsewhere, the reading line on the same words
    // (an edit above it shifts nothing on screen); an edit made on disk while the editor holds
    // unsaved changes is offered, never lost.
    void liveEdits() {
        QTemporaryDir folder;
        const QString scripts = folder.path() + "/Teleprompter";
        prompter::ScriptLibrary library(scripts);
        QCOMPARE(library.ensureFolder(), std::nullopt);
        QByteArray text = "Talk\n";
        for (int i = 1; i <= 20; ++i)
            text += "Paragraph " + QByteArray::number(i) + " with a few more words\n";
        writeFile(scripts + "/Talk.txt", text);
        HandIntake intake;
        prompter::PrompterWindow window(library, intake, {}, {}, prompter::Presentation::window,
                                        std::make_shared<FakeClock>());
        library.refresh();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        prompter::ScriptEditor* editor = window.library()->editor();
        QCOMPARE(editor->fileName(), QString("Talk.txt"));
        QVERIFY(window.prompt(scripts + "/Talk.txt", 10, prompter::Motion::still));
        PromptView* view = window.promptView();
        view->jumpTo(view->paragraphStart(10) + 3);
        const auto shot = [&] {
            const QImage image = view->grab().toImage();
            const int line = static_cast<int>(view->readingLineY());
            return image.copy(0, line, image.width(),
                              static_cast<int>(view->textArea().bottom()) - line);
        };
        const QImage before = shot();

        // Another program replaces the file (written aside, renamed over), a line added on top.
        writeFile(folder.path() + "/aside", "Added by another program\n" + text);
        QVERIFY(::rename(QFile::encodeName(folder.path() + "/aside").constData(),
                         QFile::encodeName(scripts + "/Talk.txt").constData()) == 0);
        QTRY_COMPARE_WITH_TIMEOUT(view->paragraphCount(), std::size_t{23}, 5000);
        QCOMPARE(view->currentParagraph(), std::size_t{11});
        QCOMPARE(view->position(), view->paragraphStart(11) + 3);
        QCOMPARE(shot(), before);
        QTRY_VERIFY(editor->text()->toPlainText().startsWith("Added by another program"));
        QVERIFY(!editor->isModified());

        // Saved in the editor: a paragraph removed above the reading line, a word added below.
        QTextCursor cursor(editor->text()->document());
        cursor.movePosition(QTextCursor::Down, QTextCursor::MoveAnchor, 2);
        cursor.movePosition(QTextCursor::Down, QTextCursor::KeepAnchor);
        cursor.removeSelectedText();
        cursor.movePosition(QTextCursor::End);
        cursor.insertText("The end.");
        QVERIFY(editor->isModified());
        QCOMPARE(editor->save(), std::nullopt);
        QTRY_COMPARE_WITH_TIMEOUT(view->paragraphCount(), std::size_t{22}, 5000);
        QCOMPARE(view->position(), view->paragraphStart(10) + 3);
        QCOMPARE(shot(), before);
        QFile saved(scripts + "/Talk.txt");
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(saved.readAll().endsWith("words\nThe end."));

        // Changed on disk while edited here: offered, and the text typed here kept.
        editor->text()->appendPlainText("Typed here");
        writeFile(scripts + "/Talk.txt", "Written elsewhere\n");
        QTRY_VERIFY_WITH_TIMEOUT(editor->hasConflict(), 5000);
        QVERIFY(editor->save().has_value());  // refused while offered
        QCOMPARE(editor->saveMineAsNew(), std::nullopt);
        QVERIFY(!editor->hasConflict());
        QTRY_COMPARE_WITH_TIMEOUT(library.rowCount(), 2, 5000);
        QFile mine(scripts + "/Added by another program.txt");
        QVERIFY(mine.open(QIODevice::ReadOnly));
        QVERIFY(mine.readAll().endsWith("Typed here"));

        // A script opened from outside the library follows its file too: replaced by a rename
        // (as editors save), then written in place; a busy folder around it changes nothing.
        const QString outside = folder.path() + "/outside/Speech.txt";
        QVERIFY(QDir().mkpath(folder.path() + "/outside"));
        writeFile(outside, text);
        QVERIFY(window.prompt(outside, 10, prompter::Motion::still));
        view->jumpTo(view->paragraphStart(10) + 3);
        writeFile(folder.path() + "/outside/other.txt", "Not the script\n");
        writeFile(folder.path() + "/aside", "Added outside\n" + text);
        QVERIFY(::rename(QFile::encodeName(folder.path() + "/aside").constData(),
                         QFile::encodeName(outside).constData()) == 0);
        QTRY_COMPARE_WITH_TIMEOUT(view->paragraphCount(), std::size_t{23}, 5000);
        QCOMPARE(view->position(), view->paragraphStart(11) + 3);
        writeFile(outside, text + "The end, written in place.\n");
        QTRY_COMPARE_WITH_TIMEOUT(view->paragraphCount(), std::size_t{23}, 5000);
        QTRY_VERIFY(view->script()->substring(0, 4) == "Talk");
    }

    // Sent texts: those waiting at start are taken before the window shows, newest first; one
    // sent while it is open is taken live and marked new. Each lands once, byte for byte, under
    // the receiver's name for it, and leaves the import folder.
    void takesSentTextsExactlyOnce() {
        QTemporaryDir root;
        const QString imported =
            QString::fromStdString(handover::importFolderPath(root.path().toStdString()));
        QVERIFY(QDir().mkpath(imported));
        const QString scripts = root.path() + "/scripts";
        const auto send = [&](const QString& id, const QByteArray& bytes) {
            // As the share sheet does: written aside, then linked in complete.
            writeFile(root.path() + "/staged", bytes);
            QVERIFY(::rename(QFile::encodeName(root.path() + "/staged").constData(),
                             QFile::encodeName(imported + "/" + id).constData()) == 0);
        };
        const QByteArray first("Morning brief\r\nCoffee first.\n");
        const QByteArray second("\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d\nsecond text \xf0\x9f\x98\x80");
        send("6F1C2E0A-8B4D-4E5F-9A1B-2C3D4E5F6A7B", first);
        QTest::qWait(20);  // so the two arrive at different times
        send("0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D", second);
        writeFile(imported + "/not-a-text.txt", "left alone");

        prompter::ScriptLibrary library(scripts);
        prompter::ReaderIntake intake(root.path().toStdString(), scripts);
        prompter::PrompterWindow window(library, intake, {}, {}, prompter::Presentation::window,
                                        std::make_shared<FakeClock>());
        QCOMPARE(library.ensureFolder(), std::nullopt);
        intake.takeWaiting();
        library.refresh();
        QCOMPARE(QDir(imported).entryList(QDir::Files), QStringList{"not-a-text.txt"});
        QCOMPARE(QDir(scripts).entryList(QDir::Files | QDir::Hidden).size(), 2);
        const auto& entries = library.entries();
        QCOMPARE(entries.size(), std::size_t{2});
        QCOMPARE(entries[0].title, QString::fromUtf8("\xd7\xa9\xd7\x9c\xd7\x95\xd7\x9d"));
        QCOMPARE(entries[1].fileName, QString("Morning brief.txt"));
        QVERIFY(entries[0].isNew && entries[1].isNew);
        QFile firstFile(scripts + "/Morning brief.txt");
        QVERIFY(firstFile.open(QIODevice::ReadOnly));
        QCOMPARE(firstFile.readAll(), first);

        intake.startWatching();
        window.show();
        const QByteArray third("Morning brief\nA second one with the same title.\n");
        send("11111111-2222-4333-8444-555555555555", third);
        QTRY_COMPARE_WITH_TIMEOUT(library.entries().size(), std::size_t{3}, 20000);
        QCOMPARE(library.entries()[0].fileName, QString("Morning brief (2).txt"));
        QVERIFY(library.entries()[0].isNew);
        QVERIFY(window.library()->rowText(0).contains("New"));
        QFile thirdFile(scripts + "/Morning brief (2).txt");
        QVERIFY(thirdFile.open(QIODevice::ReadOnly));
        QCOMPARE(thirdFile.readAll(), third);
        QTRY_COMPARE_WITH_TIMEOUT(QDir(imported).entryList(QDir::Files),
                                  QStringList{"not-a-text.txt"}, 20000);
        QTest::qWait(100);  // nothing lands twice
        QCOMPARE(QDir(scripts).entryList(QDir::Files | QDir::Hidden).size(), 3);

        // A text another reader holds is passed over; when that reader lets go (stopped, killed,
        // or its command failed) nothing changes in the folder, yet the text is taken soon after.
        const QString heldId = "22222222-3333-4444-8555-666666666666";
        writeFile(root.path() + "/staged", "Held elsewhere\n");
        const int holder =
            ::open(QFile::encodeName(root.path() + "/staged").constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(holder >= 0);
        QVERIFY(::flock(holder, LOCK_EX | LOCK_NB) == 0);
        QVERIFY(::rename(QFile::encodeName(root.path() + "/staged").constData(),
                         QFile::encodeName(imported + "/" + heldId).constData()) == 0);
        QTest::qWait(700);  // woken by its landing, and looked at again while it is held
        QVERIFY(QFile::exists(imported + "/" + heldId));
        ::close(holder);
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(imported + "/" + heldId), 10000);
        QTRY_COMPARE_WITH_TIMEOUT(library.entries().size(), std::size_t{4}, 10000);

        // A scripts folder that cannot be written to (here: a file in its place): the text stays
        // waiting, and the window says so.
        writeFile(root.path() + "/blocked", "a file, not a folder");
        prompter::ReaderIntake blocked(root.path().toStdString(), root.path() + "/blocked");
        QSignalSpy failures(&blocked, &prompter::ScriptIntake::failed);
        send("99999999-8888-4777-8666-555555555555", "Stuck\n");
        blocked.takeWaiting();
        QCOMPARE(failures.count(), 1);
        QVERIFY(failures[0][0].toString().contains("stays waiting"));
        blocked.takeWaiting();  // said once while it lasts
        QCOMPARE(failures.count(), 1);
        QVERIFY(QFile::exists(imported + "/99999999-8888-4777-8666-555555555555"));
    }

    // A script is read once per open: the editor shows it, prompting starts at the editor's
    // paragraph from the same bytes, and only a change on disk (even one in place that keeps the
    // size) reads it again. A script too large to edit shows read-only; a click there prompts.
    void openedOnceAndPromptedFromTheEditor() {
        QTemporaryDir folder;
        prompter::ScriptLibrary library(folder.path());
        writeFile(folder.path() + "/a.txt", "First\nSecond\nThird\nFourth\n");
        HandIntake intake;
        prompter::PrompterWindow window(library, intake, {}, {}, prompter::Presentation::window,
                                        std::make_shared<FakeClock>());
        library.refresh();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const auto bytesOf = [&](const QString& name) {
            return std::get<std::shared_ptr<const std::string>>(library.read(name));
        };
        const auto opened = bytesOf("a.txt");
        prompter::ScriptEditor* editor = window.library()->editor();
        QTextCursor cursor(editor->text()->document()->findBlockByNumber(2));
        editor->text()->setTextCursor(cursor);
        for (QPushButton* button : window.library()->findChildren<QPushButton*>())
            if (button->text() == "Prompt")
                QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(window.currentWidget(), window.promptView());
        QCOMPARE(window.promptView()->currentParagraph(), std::size_t{2});
        QCOMPARE(window.promptView()->script()->characterIdentity(), opened.get());

        // Rewritten in place at the same size: read anew, in the prompt and the editor too.
        QFile file(folder.path() + "/a.txt");
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.write("FIRST") == 5);
        file.close();
        QTRY_COMPARE(*bytesOf("a.txt"), std::string("FIRST\nSecond\nThird\nFourth\n"));
        QTRY_VERIFY(editor->text()->toPlainText().startsWith("FIRST"));
        QTRY_COMPARE(window.promptView()->script()->substring(0, 5), std::string("FIRST"));
        QCOMPARE(bytesOf("a.txt").get(), bytesOf("a.txt").get());

        // Too large to edit: shown read-only from the bytes prompted, a click prompts there.
        window.showLibrary();
        std::string huge;
        for (int i = 0; huge.size() <= prompter::ScriptEditor::kEditableBytes; ++i)
            huge += "Line " + std::to_string(i) + " of a long script\n";
        writeFile(folder.path() + "/Huge.txt", QByteArray::fromStdString(huge));
        QTRY_VERIFY(library.rowOf("Huge.txt") >= 0);
        window.library()->select("Huge.txt");
        QVERIFY(editor->isReadOnly());
        QVERIFY(editor->status().contains("Read-only"));
        qttext::LazyTextView* view = editor->readOnlyView();
        QVERIFY(view->isVisible());
        QCOMPARE(view->blockText(2), QString("Line 2 of a long script"));
        double y = 0;
        for (std::size_t i = 0; i < 2; ++i)
            y += view->blockLayout(i)->boundingRect().height();
        QTest::mouseClick(
            view->viewport(), Qt::LeftButton, {},
            QPoint(5, static_cast<int>(y + view->blockLayout(2)->boundingRect().height() / 2)));
        QCOMPARE(window.currentWidget(), window.promptView());
        QCOMPARE(window.promptView()->currentParagraph(), std::size_t{2});
        QCOMPARE(window.promptView()->script()->characterIdentity(), bytesOf("Huge.txt").get());
    }

    // Every control a person reaches has a name for assistive technology; the menu bar holds the
    // window's actions, and its keys work from the list and the editor.
    void everyControlIsNamed() {
        QTemporaryDir folder;
        prompter::ScriptLibrary library(folder.path());
        HandIntake intake;
        prompter::PrompterWindow window(library, intake, {}, {}, prompter::Presentation::window,
                                        std::make_shared<FakeClock>());
        for (QWidget* control : window.library()->controls())
            QVERIFY2(!control->accessibleName().isEmpty(), control->metaObject()->className());
        for (QPushButton* button : window.library()->findChildren<QPushButton*>())
            QVERIFY2(!button->accessibleName().isEmpty(), qPrintable(button->text()));
        QVERIFY(!window.promptView()->accessibleName().isEmpty());
        QVERIFY(!window.accessibleName().isEmpty());

        // The menu bar: the window's actions by name, each key shown one that works.
        QStringList menus;
        QHash<QString, QAction*> actions;
        for (QAction* menu : window.library()->menuBar()->actions()) {
            menus << menu->text().remove('&');
            for (QAction* action : menu->menu()->actions())
                actions.insert(action->text().remove('&').section('\t', 0, 0), action);
        }
        QCOMPARE(menus, (QStringList{"File", "Edit", "View", "Settings", "Help"}));
        library.refresh();
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.library()->list()->setFocus();
        QTest::keyClick(window.library()->list(), Qt::Key_N, Qt::ControlModifier);  // New
        QTRY_COMPARE(library.rowCount(), 1);
        QCOMPARE(window.library()->editor()->fileName(), QString("New script.txt"));
        QVERIFY(window.library()->editor()->text()->hasFocus());
        QTest::keyClicks(window.library()->editor()->text(), "Opening words");
        QTest::keyClick(window.library()->editor()->text(), Qt::Key_Return, Qt::ControlModifier);
        QCOMPARE(window.currentWidget(), window.promptView());  // saved, then prompted
        QCOMPARE(window.promptView()->script()->substring(0, 13), std::string("Opening words"));
        window.showLibrary();
        QVERIFY(actions.contains("Keys") && actions.contains("Open File\u2026"));
        actions["Keys"]->trigger();
        QTRY_VERIFY(window.library()->findChild<QMessageBox*>("keys"));
        QVERIFY(window.library()->findChild<QMessageBox*>("keys")->informativeText().contains(
            "Ctrl+PageUp"));
        actions["Quit"]->trigger();
        QVERIFY(!window.isVisible());
    }

    void commandLine_data() {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<bool>("valid");
        QTest::newRow("all of them")
            << QStringList{"--prompt", "f.txt",        "--screen", "1",
                           "--window", "--mirror",     "both",     "--speed",
                           "200",      "--font-size",  "80",       "--countdown",
                           "0",        "--screenshot", "out.png",  "--line-spacing",
                           "1.5",      "--microphone", "USB"}
            << true;
        QTest::newRow("line spacing too tight") << QStringList{"--line-spacing", "0.5"} << false;
        QTest::newRow("speed too high") << QStringList{"--speed", "601"} << false;
        QTest::newRow("speed not a number") << QStringList{"--speed", "nan"} << false;
        QTest::newRow("mirror unknown") << QStringList{"--mirror", "diagonal"} << false;
        QTest::newRow("screen negative") << QStringList{"--screen", "-1"} << false;
        QTest::newRow("screen fractional") << QStringList{"--screen", "1.5"} << false;
        QTest::newRow("countdown too long") << QStringList{"--countdown", "61"} << false;
        QTest::newRow("stray argument") << QStringList{"file.txt"} << false;
        QTest::newRow("unknown option") << QStringList{"--fast"} << false;
    }
    void commandLine() {
        QFETCH(QStringList, arguments);
        QFETCH(bool, valid);
        const auto options =
            prompter::PrompterOptions::parse(QStringList{"quorvane-prompter"} + arguments);
        QCOMPARE(options.action == prompter::PrompterOptions::Action::run, valid);
        if (!valid) {
            QVERIFY(!options.error.isEmpty());
            return;
        }
        const auto settings = options.applied({});
        QCOMPARE(settings.mirror, Mirror::both);
        QCOMPARE(settings.speed, 200.0);
        QCOMPARE(settings.fontSize, 80);
        QCOMPARE(settings.countdown, 0.0);
        QCOMPARE(settings.screen, 1);
        QCOMPARE(settings.lineSpacing, 1.5);
        QCOMPARE(settings.microphone, QString("USB"));
        QCOMPARE(*options.prompt, QString("f.txt"));
    }
};

QTEST_MAIN(PrompterTest)
#include "PrompterTest.moc"
