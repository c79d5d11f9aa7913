// The share sheet and the controls as desktop windows, on Qt's headless platform, driven as a
// person drives them. A private session bus carries a small settings portal and notification
// service, so the desktop's settings and notifications are real D-Bus traffic.
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <QApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <cmath>
#include <csignal>
#include <filesystem>

#include "host/frontend/OutcomeReport.h"
#include "host/desktop/AttributedTextSource.h"
#include "host/desktop/ControlsWindow.h"
#include "host/desktop/DesktopTraits.h"
#include "host/desktop/QtColours.h"
#include "host/desktop/RefusalWindow.h"
#include "host/desktop/ShareWindow.h"
#include "host/session/ShareSession.h"
#include "platform/extension/ExtensionBundle.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/SystemCalls.h"
#include "platform/foundation/TextAttributeKey.h"
#include "qttext/LazyTextView.h"
#include "support/FaultySystemCalls.h"
#include "support/MountNamespace.h"
#include "support/Subprocess.h"
#include "support/TemporaryFolder.h"

using host::desktop::LazyTextView;
using host::desktop::ShareWindow;
using platform::ContentSizeCategory;
using platform::UserInterfaceStyle;

Q_DECLARE_METATYPE(platform::UserInterfaceStyle)
Q_DECLARE_METATYPE(platform::ContentSizeCategory)

namespace {

const QColor kBlack(0, 0, 0);
const QColor kWhite(255, 255, 255);
// How long a waited-for change or answer may take: a send syncs to the disk and the portal
// answers over the bus, both of which a busy machine delays. Waits end as soon as it comes.
constexpr int kPatienceMs = 60000;

// A settings portal and a notification service on one connection of the private bus.
class Portal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Settings")

  public:
    uint colourScheme = 2;  // prefers light

  public slots:
    QDBusVariant Read(const QString& group, const QString& key) {
        if (group == "org.freedesktop.appearance" && key == "color-scheme")
            return QDBusVariant(QVariant::fromValue(QDBusVariant(colourScheme)));
        return QDBusVariant(QVariant::fromValue(QDBusVariant(1.0)));
    }

  signals:
    void SettingChanged(const QString& group, const QString& key, const QDBusVariant& value);
};

class Notifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

  public:
    QStringList bodies;
    QStringList senders;  // application name, icon and desktop entry, as the service shows them

  public slots:
    uint Notify(const QString& application, uint, const QString& icon, const QString& summary,
                const QString& body, const QStringList&, const QVariantMap& hints, int) {
        bodies << summary + ": " + body;
        senders << application + " · " + icon + " · " +
                       hints.value(QStringLiteral("desktop-entry")).toString();
        return static_cast<uint>(bodies.size());
    }
};

std::vector<std::filesystem::path> importedFiles(const std::filesystem::path& root) {
    std::vector<std::filesystem::path> files;
    const auto folder = root / "group.app.quorvane.teleprompter" / "regular" / "imported";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        files.push_back(entry.path());
    return files;
}

// The lines of text in a picture of the text view: bands of rows holding ink (pixels far from
// the background's lightness), each with its height and the median width of its ink strokes.
struct InkLine {
    int height = 0;
    int stroke = 0;
};
std::vector<InkLine> inkLines(const QImage& image, int top, const QColor& background) {
    std::vector<InkLine> lines;
    std::vector<int> strokes;
    int bandStart = -1;
    for (int y = top; y <= image.height(); ++y) {
        bool ink = false;
        for (int x = 0, run = 0; y < image.height() && x <= image.width() - 20; ++x) {
            const bool dark =
                x < image.width() - 20 &&
                std::abs(image.pixelColor(x, y).lightness() - background.lightness()) > 128;
            if (dark) {
                ++run;
                ink = true;
            } else if (run > 0) {
                strokes.push_back(run);
                run = 0;
            }
        }
        if (ink && bandStart < 0)
            bandStart = y;
        if (!ink && bandStart >= 0) {
            std::nth_element(strokes.begin(), strokes.begin() + strokes.size() / 2, strokes.end());
            lines.push_back({y - bandStart, strokes[strokes.size() / 2]});
            strokes.clear();
            bandStart = -1;
        }
    }
    return lines;
}

}  // namespace

class DesktopTest : public QObject {
    Q_OBJECT

  private:
    std::optional<platform::ExtensionBundle> bundle_;
    std::unique_ptr<testing_support::TemporaryFolder> root_;
    std::unique_ptr<host::ShareSession> session_;
    std::unique_ptr<ShareWindow> window_;

    // Presents `text` in a shown window, as the program does.
    ShareWindow& show(const std::string& text,
                      UserInterfaceStyle appearance = UserInterfaceStyle::light,
                      ContentSizeCategory size = ContentSizeCategory::large) {
        host::SessionSettings settings;
        settings.appearance = appearance;
        settings.textSize = size;
        session_ = std::make_unique<host::ShareSession>(*bundle_, settings);
        session_->present(platform::String(text));
        window_ = std::make_unique<ShareWindow>(*session_);
        window_->show();
        [[maybe_unused]] const bool exposed = QTest::qWaitForWindowExposed(window_.get());
        return *window_;
    }
    int exitStatus() const { return host::exitStatusFor(session_->outcome()); }

  private slots:
    void initTestCase() { bundle_ = platform::ExtensionBundle::load(QUORVANE_BUNDLE_DIR); }
    void cleanupTestCase() { QDBusConnection::disconnectFromBus("stand-ins"); }
    void init() {
        root_ = std::make_unique<testing_support::TemporaryFolder>();
        platform::FileManager::defaultManager().setContainerRoot(root_->str());
    }
    void cleanup() {
        window_.reset();
        session_.reset();
    }

    // The bar, the title line and the body as the extension styled them, in the appearance's
    // colours; colourless text in the palette's text colour.
    void drawsTheViews_data() {
        QTest::addColumn<UserInterfaceStyle>("appearance");
        QTest::addColumn<ContentSizeCategory>("size");
        QTest::addColumn<int>("titleSize");
        QTest::addColumn<int>("bodySize");
        QTest::addColumn<QColor>("bodyColour");
        QTest::newRow("light, Large")
            << UserInterfaceStyle::light << ContentSizeCategory::large << 34 << 17 << kBlack;
        QTest::newRow("dark, Large")
            << UserInterfaceStyle::dark << ContentSizeCategory::large << 34 << 17 << kWhite;
        QTest::newRow("dark, AX5")
            << UserInterfaceStyle::dark << ContentSizeCategory::accessibilityExtraExtraExtraLarge
            << 60 << 53 << kWhite;
        QTest::newRow("light, AX5")
            << UserInterfaceStyle::light << ContentSizeCategory::accessibilityExtraExtraExtraLarge
            << 60 << 53 << kBlack;
    }
    void drawsTheViews() {
        QFETCH(UserInterfaceStyle, appearance);
        QFETCH(ContentSizeCategory, size);
        QFETCH(int, titleSize);
        QFETCH(int, bodySize);
        QFETCH(QColor, bodyColour);
        ShareWindow& window = show("Evening bulletin\nGood evening.", appearance, size);

        QCOMPARE(window.bar()->leftButton()->text(), QString("\u2715 Close"));
        QCOMPARE(window.bar()->rightButton()->text(), QString("Send to Teleprompter"));
        QVERIFY(window.bar()->rightButton()->isEnabled());
        QCOMPARE(window.bar()->titleLabel()->text(), QString());
        for (QWidget* control : {static_cast<QWidget*>(window.bar()->leftButton()),
                                 static_cast<QWidget*>(window.bar()->rightButton()),
                                 static_cast<QWidget*>(window.textWidget())})
            QVERIFY(!control->accessibleName().isEmpty());

        LazyTextView* text = window.textWidget();
        QVERIFY(text && text->isVisible());
        // The title line keeps its own line break, and a line feed follows it.
        QCOMPARE(text->blockCount(), std::size_t{4});
        QCOMPARE(text->blockText(1), QString());
        QCOMPARE(text->blockText(0), QString("Evening bulletin"));
        const auto title = text->blockFormats(0);
        QCOMPARE(title.size(), 1);
        QCOMPARE(title[0].format.font().pixelSize(), titleSize);
        QVERIFY(title[0].format.font().bold());
        QCOMPARE(title[0].format.foreground().color(), window.palette().color(QPalette::Text));
        QCOMPARE(window.palette().color(QPalette::Text), bodyColour);  // the appearance's palette
        for (std::size_t block : {2, 3}) {
            const auto body = text->blockFormats(block);
            QCOMPARE(body.size(), 1);
            QCOMPARE(body[0].format.font().pixelSize(), bodySize);
            QVERIFY(!body[0].format.font().bold());
            QCOMPARE(body[0].format.foreground().color(), bodyColour);
        }

        // The picture a screenshot holds: the appearance's background under the bar, ink of the
        // opposite lightness, and a title row visibly larger and bolder than the body's rows.
        const QImage picture = window.grab().toImage();
        const QColor background = picture.pixelColor(picture.width() / 2, picture.height() - 4);
        QCOMPARE(background, bodyColour == kBlack ? kWhite : kBlack);
        const auto lines = inkLines(picture, window.bar()->height() + 2, background);
        QCOMPARE(lines.size(), std::size_t{3});  // the title and the two body lines
        // The title and the first body line are the same words: their ink scales with the sizes,
        // and the bold strokes are wider than the size alone makes them.
        const double scale = double(titleSize) / bodySize;
        QVERIFY2(std::abs(lines[0].height / (lines[1].height * scale) - 1) < 0.15,
                 "the title row is larger");
        QVERIFY2(lines[0].stroke > lines[1].stroke * scale * 1.2, "the title row is bold");
    }

    // Send by a click or by Ctrl+Return: exactly the text in one new file, the window closed, a
    // notification with the title line. Cancel by Escape, the close item or closing the window:
    // nothing written.
    void actingEndsTheShare_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("status");
        QTest::newRow("click Send") << "click send" << 0;
        QTest::newRow("Ctrl+Return") << "ctrl+return" << 0;
        QTest::newRow("Escape") << "escape" << 1;
        QTest::newRow("click Close") << "click close" << 1;
        QTest::newRow("close the window") << "close window" << 1;
        QTest::newRow("Ctrl+W") << "ctrl+w" << 1;
        QTest::newRow("Ctrl+Q") << "ctrl+q" << 1;
        QTest::newRow("Return on the focused Send") << "return on send" << 0;
        QTest::newRow("keypad Enter on the focused Send") << "enter on send" << 0;
        QTest::newRow("Return on the focused Close") << "return on close" << 1;
    }
    void actingEndsTheShare() {
        QFETCH(QString, how);
        QFETCH(int, status);
        const std::string text = "Caf\xc3\xa9 news\r\nline two\n";
        ShareWindow& window = show(text);
        notifications_->bodies.clear();
        notifications_->senders.clear();
        if (how == "click send")
            QTest::mouseClick(window.bar()->rightButton(), Qt::LeftButton);
        else if (how == "ctrl+return")
            QTest::keyClick(window.textWidget(), Qt::Key_Return, Qt::ControlModifier);
        else if (how == "escape")
            QTest::keyClick(window.textWidget(), Qt::Key_Escape);
        else if (how == "click close")
            QTest::mouseClick(window.bar()->leftButton(), Qt::LeftButton);
        else if (how == "ctrl+w")
            QTest::keyClick(window.textWidget(), Qt::Key_W, Qt::ControlModifier);
        else if (how == "ctrl+q")
            QTest::keyClick(window.textWidget(), Qt::Key_Q, Qt::ControlModifier);
        else if (how == "return on send")
            QTest::keyClick(window.bar()->rightButton(), Qt::Key_Return);
        else if (how == "enter on send")
            QTest::keyClick(window.bar()->rightButton(), Qt::Key_Enter, Qt::KeypadModifier);
        else if (how == "return on close")
            QTest::keyClick(window.bar()->leftButton(), Qt::Key_Return);
        else
            window.close();
        QTRY_VERIFY_WITH_TIMEOUT(window.hasFinished(), kPatienceMs);
        QVERIFY(!window.isVisible());
        QCOMPARE(exitStatus(), status);
        const auto files = importedFiles(root_->path());
        if (status == 0) {
            QCOMPARE(files.size(), std::size_t{1});
            QCOMPARE(testing_support::readFile(files[0]), text);
            QCOMPARE(notifications_->bodies, QStringList{"Sent to Teleprompter: Caf\u00e9 news"});
            // The same name as the window and the menu entry, with the entry's icon and id.
            QCOMPARE(notifications_->senders, QStringList{"Send to Teleprompter · quorvane-share · "
                                                          "app.quorvane.teleprompter.share"});
            QCOMPARE(window.windowTitle(), QString("Send to Teleprompter"));
        } else {
            QVERIFY(files.empty());
            QVERIFY(notifications_->bodies.isEmpty());
        }
    }

    // Tab goes from the text to Close, then to Send; the item with the focus is drawn with a
    // ring (the picture changes), and Send, the main action, is drawn unlike Close.
    void theKeyboardsFocusIsSeen() {
        ShareWindow& window = show("Evening bulletin\nGood evening.");
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QWidget* text = window.textWidget();
        QPushButton* close = window.bar()->leftButton();
        QPushButton* send = window.bar()->rightButton();
        QCOMPARE(QApplication::focusWidget(), text);
        const QImage unfocused = close->grab().toImage();
        const QImage sendUnfocused = send->grab().toImage();
        QTest::keyClick(text, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), close);
        QVERIFY(close->grab().toImage() != unfocused);
        QTest::keyClick(close, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), send);
        QVERIFY(close->grab().toImage() == unfocused);
        QVERIFY(send->grab().toImage() != sendUnfocused);
        // The main action is filled with the tint (inside its edge, before its words); Close
        // is not.
        const QColor tint = window.palette().color(QPalette::Highlight);
        const auto filling = [](const QImage& picture) {
            return QColor(picture.pixel(8, picture.height() / 2));
        };
        QCOMPARE(filling(sendUnfocused), tint);
        QVERIFY(filling(unfocused) != tint);
    }

    // Every refusal, read as the program reads its input, is told in a window with the reason
    // and one Close button, for a person who started the program from the desktop; Escape and
    // Return close it.
    void refusalsAreShownInAWindow_data() {
        QTest::addColumn<QString>("input");  // empty: the clipboard
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("key");
        const QString folder = QString::fromStdString(root_->str());
        QTest::newRow("empty clipboard")
            << "" << QByteArray() << ""
            << "The clipboard holds no text. Copy some text first, or open a text file with "
               "Send to Teleprompter."
            << int(Qt::Key_Escape);
        QTest::newRow("clipboard over the cap")
            << "" << QByteArray() << QString(2048, u'x')
            << "The clipboard's text is larger than 1.0 KiB" << int(Qt::Key_Return);
        QTest::newRow("missing file") << "missing.txt" << QByteArray() << "x"
                                      << "No such file or directory" << int(Qt::Key_Escape);
        QTest::newRow("not UTF-8")
            << "latin1.txt" << QByteArray("caf\xe9\n") << ""
            << "is not UTF-8 text (invalid byte at offset 3)" << int(Qt::Key_Return);
        QTest::newRow("over the cap")
            << "big.txt" << QByteArray(4096, 'a') << ""
            << "is larger than the size cap of 1 KiB" << int(Qt::Key_Enter);
        QTest::newRow("a folder") << "." << QByteArray() << ""
                                  << "it is a folder" << int(Qt::Key_Escape);
    }
    void refusalsAreShownInAWindow() {
        QFETCH(QString, input);
        QFETCH(QByteArray, content);
        QFETCH(QString, clipboard);
        QFETCH(QString, reason);
        QFETCH(int, key);
        std::optional<std::string> path;
        if (!input.isEmpty()) {
            path = (root_->path() / input.toStdString()).string();
            if (!content.isEmpty())
                testing_support::writeFile(*path, content.toStdString());
        }
        const auto read = host::desktop::readShareText(path, clipboard, 1024);
        const auto* refused = std::get_if<host::desktop::Refusal>(&read);
        QVERIFY(refused);
        host::desktop::RefusalWindow window(QString::fromStdString(refused->forPerson));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCOMPARE(window.windowTitle(), QString("Send to Teleprompter"));
        QCOMPARE(window.headline()->text(), QString("The text was not sent"));
        QVERIFY2(window.reason()->text().contains(reason), qPrintable(window.reason()->text()));
        // Words for a person who opened it from the desktop: no options, no "standard input".
        for (const char* advice : {"--", "FILE", "standard input", "nothing was sent"})
            QVERIFY2(!window.reason()->text().contains(advice),
                     qPrintable(window.reason()->text()));
        const auto buttons = window.findChildren<QPushButton*>();
        QCOMPARE(buttons.size(), 1);
        QCOMPARE(buttons[0]->text().remove(u'&'), QString("Close"));
        QVERIFY(window.closeButton()->isDefault());
        QTest::keyClick(&window, static_cast<Qt::Key>(key));
        QTRY_VERIFY_WITH_TIMEOUT(!window.isVisible(), kPatienceMs);
        QCOMPARE(window.result(), int(QDialog::Rejected));
    }

    // The selected text as read from the desktop: taken exactly, or refused with words for a
    // person (and for standard error) when there is none, none can be read, it is too large or
    // it is not UTF-8.
    void selectionIsTakenOrRefused() {
        using host::desktop::SelectionRead;
        const auto taken = host::desktop::selectionShareText(
            SelectionRead{QByteArray("Selected\r\n\xe2\x80\x94 text "), ""}, 1024);
        QVERIFY(std::holds_alternative<std::string>(taken));
        QCOMPARE(std::get<std::string>(taken), std::string("Selected\r\n\xe2\x80\x94 text "));
        const std::vector<std::pair<SelectionRead, std::string>> refused{
            {{QByteArray(), ""}, "No text is selected. Select some text first"},
            {{std::nullopt, "no way here"}, "The selected text cannot be read on this desktop."},
            {{QByteArray(2048, 'x'), ""}, "The selected text is larger than 1.0 KiB"},
            {{QByteArray("caf\xe9"), ""}, "it is not UTF-8"},
        };
        for (const auto& [read, words] : refused) {
            const auto result = host::desktop::selectionShareText(read, 1024);
            const auto* refusal = std::get_if<host::desktop::Refusal>(&result);
            QVERIFY2(refusal, words.c_str());
            QVERIFY2(refusal->forPerson.find(words) != std::string::npos,
                     refusal->forPerson.c_str());
            QVERIFY(refusal->forPerson.find("--") == std::string::npos);
            QVERIFY(!refusal->message.empty() && refusal->message != refusal->forPerson);
        }
    }

    // With no notification service to announce a send, the window says it for a moment, then
    // closes; a script that acted gets no pause.
    void sentIsSaidWithoutNotifications() {
        auto bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "stand-ins");
        QVERIFY(bus.unregisterService("org.freedesktop.Notifications"));
        ShareWindow& window = show("Quiet news\nbody");
        QTest::mouseClick(window.bar()->rightButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window.sentNotice()->isVisible(), kPatienceMs);
        QCOMPARE(window.sentNotice()->text(), QString("Sent to the teleprompter"));
        QVERIFY(!window.hasFinished());
        QTRY_VERIFY_WITH_TIMEOUT(window.hasFinished(), kPatienceMs);
        QCOMPARE(exitStatus(), 0);
        ShareWindow& scripted = show("Scripted news\nbody");
        scripted.setUnattended(std::chrono::milliseconds(0));
        QTest::mouseClick(scripted.bar()->rightButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(scripted.hasFinished(), kPatienceMs);
        QVERIFY(!scripted.sentNotice()->isVisible());
        QVERIFY(bus.registerService("org.freedesktop.Notifications"));
        QCOMPARE(importedFiles(root_->path()).size(), std::size_t{2});
    }

    // While the write is held up: the busy look, as the views say; then the window closes.
    void busyWhileWriting() {
        testing_support::FaultySystemCalls calls;
        platform::ScopedSystemCalls installed(calls);
        ShareWindow& window = show("Slow news\nbody");
        calls.blockNext(testing_support::Call::write);
        QTest::mouseClick(window.bar()->rightButton(), Qt::LeftButton);
        QVERIFY(calls.waitUntilBlocked(kPatienceMs));
        QTRY_VERIFY_WITH_TIMEOUT(window.activityWidget() && window.activityWidget()->isVisible(),
                                 kPatienceMs);
        QVERIFY(!window.textWidget()->isVisibleTo(&window));
        QVERIFY(!window.bar()->rightButton()->isEnabled());
        QVERIFY(window.bar()->leftButton()->isEnabled());
        QCOMPARE(window.bar()->titleLabel()->text(), QString("Sending..."));
        window.close();  // a send in flight is not cut short by the window
        QVERIFY(window.isVisible());
        calls.release();
        QTRY_VERIFY_WITH_TIMEOUT(window.hasFinished(), kPatienceMs);
        QCOMPARE(exitStatus(), 0);
        QCOMPARE(importedFiles(root_->path()).size(), std::size_t{1});
    }

    // No container: the window stays up with the reason until dismissed; nothing is written.
    void failedSaveShowsTheReason() {
        testing_support::writeFile(root_->path() / "not-a-folder", "a file");
        platform::FileManager::defaultManager().setContainerRoot(
            (root_->path() / "not-a-folder").string());
        ShareWindow& window = show("Lost news");
        QTest::mouseClick(window.bar()->rightButton(), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(window.failureBanner()->isVisible(), kPatienceMs);
        QVERIFY(window.failureReason()->text().startsWith("Not sent: "));
        QVERIFY(window.failureReason()->text().size() > 12);
        QVERIFY(!window.hasFinished());
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(window.hasFinished());
        QCOMPARE(exitStatus(), 3);
        QCOMPARE(testing_support::readFile(root_->path() / "not-a-folder"), std::string("a file"));
    }

    // The desktop's colour scheme is followed live: a change recolours the whole text.
    void followsTheColourScheme() {
        portal_->colourScheme = 2;
        ShareWindow& window = show("Scheme news\nbody");
        host::desktop::DesktopTraits desktop;
        desktop.start(std::chrono::milliseconds(kPatienceMs));
        QCOMPARE(desktop.appearance(), std::optional(UserInterfaceStyle::light));
        QCOMPARE(desktop.textSize(), std::optional(ContentSizeCategory::large));  // scaling 1.0
        // Text scaling goes to the category whose body size is nearest.
        using host::desktop::categoryForTextScaling;
        QCOMPARE(categoryForTextScaling(0.5), std::optional(ContentSizeCategory::extraSmall));
        QCOMPARE(categoryForTextScaling(1.25), std::optional(ContentSizeCategory::extraExtraLarge));
        QCOMPARE(categoryForTextScaling(3.0),
                 std::optional(ContentSizeCategory::accessibilityExtraExtraExtraLarge));
        QCOMPARE(categoryForTextScaling(std::nan("")), std::nullopt);
        QCOMPARE(categoryForTextScaling(0.0), std::nullopt);
        window.followDesktop(desktop, {});
        QCOMPARE(window.textWidget()->blockFormats(2)[0].format.foreground().color(), kBlack);

        portal_->colourScheme = 1;
        emit portal_->SettingChanged("org.freedesktop.appearance", "color-scheme",
                                     QDBusVariant(1u));
        QTRY_COMPARE_WITH_TIMEOUT(window.traits().userInterfaceStyle, UserInterfaceStyle::dark,
                                  kPatienceMs);
        for (std::size_t block : {0, 2, 3})
            QCOMPARE(window.textWidget()->blockFormats(block)[0].format.foreground().color(),
                     kWhite);
        QCOMPARE(window.palette().color(QPalette::Window), kBlack);

        // The person's own choice wins over the desktop's.
        window.followDesktop(desktop, {UserInterfaceStyle::light, std::nullopt});
        QCOMPARE(window.textWidget()->blockFormats(2)[0].format.foreground().color(), kBlack);
    }

    // Zoom scales the drawing, never the text's point sizes.
    void zoomKeys() {
        ShareWindow& window = show("Zoom news\nbody");
        const int barHeight = window.bar()->height();
        QTest::keyClick(window.textWidget(), Qt::Key_Plus, Qt::ControlModifier);
        QTest::keyClick(window.textWidget(), Qt::Key_Equal, Qt::ControlModifier);
        QCOMPARE(window.zoom(), 1.25);
        QCOMPARE(window.textWidget()->zoom(), 1.25);
        QVERIFY(window.bar()->height() > barHeight);
        QCOMPARE(window.textWidget()->blockFormats(0)[0].format.font().pixelSize(), 34);
        QTest::keyClick(window.textWidget(), Qt::Key_Minus, Qt::ControlModifier);
        QTest::keyClick(window.textWidget(), Qt::Key_Minus, Qt::ControlModifier);
        QTest::keyClick(window.textWidget(), Qt::Key_Minus, Qt::ControlModifier);
        QCOMPARE(window.zoom(), 0.9);
        QTest::keyClick(window.textWidget(), Qt::Key_0, Qt::ControlModifier);
        QCOMPARE(window.zoom(), 1.0);
        QCOMPARE(window.bar()->height(), barHeight);
        QCOMPARE(window.traits().preferredContentSizeCategory, ContentSizeCategory::large);
    }

    // Blocks are the text's paragraphs, split at every line break the platform knows (CR LF
    // once), wherever the break falls against the sixteen-byte steps of the scan.
    void indexesParagraphs_data() {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("blocks");
        QTest::newRow("empty") << QByteArray() << QStringList{""};
        QTest::newRow("final break") << QByteArray("one\n") << QStringList{"one", ""};
        QTest::newRow("CR LF, lone CR, VT, FF")
            << QByteArray("a\r\nb\rc\vd\fe") << QStringList{"a", "b", "c", "d", "e"};
        QTest::newRow("NEL, LS, PS past sixteen bytes")
            << QByteArray("0123456789abcdefghij\xc2\x85k\xe2\x80\xa8l\xe2\x80\xa9m")
            << QStringList{"0123456789abcdefghij", "k", "l", "m"};
        QTest::newRow("lookalike leads stay") << QByteArray("caf\xc3\xa9 \xe2\x80\x94 \xc2\xa0x\ty")
                                              << QStringList{"caf\u00e9 \u2014 \u00a0x\ty"};
    }
    void indexesParagraphs() {
        QFETCH(QByteArray, text);
        QFETCH(QStringList, blocks);
        LazyTextView view;
        view.setContent(host::desktop::attributedTextSource(
            platform::AttributedText(platform::String(text.toStdString()))));
        QStringList shown;
        for (std::size_t i = 0; i < view.blockCount(); ++i)
            shown << view.blockText(i);
        QCOMPARE(shown, blocks);
    }

    // A big text is laid out only where it shows, at the start and at the end.
    void bigTextIsLaidOutWhereItShows() {
        std::string text = "Big news\n";
        for (int i = 0; i < 200000; ++i)
            text += "Paragraph " + std::to_string(i) + " of the long report, with some words.\n";
        text += std::string(3 * LazyTextView::kMaxBlockBytes, 'x');  // one line, no spaces
        ShareWindow& window = show(text);
        LazyTextView* view = window.textWidget();
        QVERIFY(view->blockCount() > 200000);
        QVERIFY(view->layoutsMade() < 100);
        view->scrollToEnd();
        view->repaint();
        QVERIFY(view->layoutsMade() < 200);
        QCOMPARE(view->blockText(view->blockCount() - 1).size(),
                 qsizetype(LazyTextView::kMaxBlockBytes));
        view->scrollByPoints(-1e6);
        view->scrollToStart();
        QCOMPARE(view->firstVisibleBlock(), std::size_t{0});
    }

    // The program itself: a screenshot path that is a link or a FIFO is refused before anything
    // is shown or sent (the link's target untouched, no wait on the FIFO); a picture that cannot
    // be written whole (a full file system) ends the run before the send, leaving no partial
    // picture; a closed standard input is never taken for an empty text.
    void theProgramRefusesWhatCannotBeDoneSafely() {
        testing_support::TemporaryFolder work;
        const auto note = work.path() / "note";
        testing_support::writeFile(note, "a note");
        const auto victim = work.path() / "victim.txt";
        testing_support::writeFile(victim, "the person's file");
        std::filesystem::create_symlink(victim, work.path() / "link.png");
        QCOMPARE(::mkfifo((work.path() / "fifo.png").c_str(), 0600), 0);
        testing_support::ProcessOptions options;
        options.environment["QUORVANE_CONTAINER_ROOT"] = root_->str();
        options.environment["QT_QPA_PLATFORM"] = "offscreen";
        options.environment["PROGRAM"] = QUORVANE_DESKTOP_PROGRAM;
        const auto imported = root_->path() / "group.app.quorvane.teleprompter/regular/imported";
        for (const char* picture : {"link.png", "fifo.png"}) {
            const auto result = testing_support::runProcess(
                QUORVANE_DESKTOP_PROGRAM,
                {"--send", "--screenshot", (work.path() / picture).string(), note.string()},
                options);
            QCOMPARE(result.exitStatus, 2);
            QVERIFY2(result.err.find("screenshot") != std::string::npos, result.err.c_str());
        }
        QCOMPARE(testing_support::readFile(victim), std::string("the person's file"));
        QVERIFY(testing_support::entriesOf(imported).empty());

        const auto closed = testing_support::runProcess(
            "/bin/sh", {"-c", "exec \"$PROGRAM\" --send - <&-"}, options);
        QCOMPARE(closed.exitStatus, 2);
        QVERIFY2(closed.err.find("standard input is closed") != std::string::npos,
                 closed.err.c_str());
        QVERIFY(testing_support::entriesOf(imported).empty());

        const auto small = work.path() / "small";
        std::filesystem::create_directory(small);
        const auto outcome = testing_support::runInPrivateMountNamespace([&] {
            if (const auto error = testing_support::mountFileSystem("tmpfs", small, "size=12k");
                !error.empty())
                return testing_support::Outcome::skipped("cannot mount a small file system: " +
                                                         error);
            testing_support::writeFile(small / "fill", std::string(8192, 'f'));
            const auto result = testing_support::runProcess(
                QUORVANE_DESKTOP_PROGRAM,
                {"--send", "--screenshot", (small / "shot.png").string(), note.string()}, options);
            if (result.exitStatus == 0)
                return testing_support::Outcome::failed("a picture that did not fit succeeded");
            if (result.err.find("No space left") == std::string::npos)
                return testing_support::Outcome::failed("no reason given: " + result.err);
            if (testing_support::entriesOf(small) != std::vector<std::string>{"fill"})
                return testing_support::Outcome::failed("a partial picture was left");
            if (!testing_support::entriesOf(imported).empty())
                return testing_support::Outcome::failed("the text was sent all the same");
            return testing_support::Outcome::passed();
        });
        if (outcome.status == testing_support::Outcome::Status::skipped)
            QSKIP(outcome.message.c_str());
        QVERIFY2(outcome.status == testing_support::Outcome::Status::passed,
                 outcome.message.c_str());
    }

    // The controls drawn from their views: the capsule in the toggle's background colour, in
    // either state; the riding label where the layout pass put it.
    void controlsFollowTheirViews() {
        host::desktop::ControlsWindow window(UserInterfaceStyle::light);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QWidget* toggle = window.widgetFor(window.toggle().get());
        QVERIFY(toggle);
        for (int flick = 0; flick < 2; ++flick) {
            const auto capsule = host::desktop::qtColour(*window.toggle()->backgroundColor());
            const QImage image = toggle->grab().toImage();
            QCOMPARE(image.pixel(image.width() / 2, 1), capsule->rgba());
            QTest::keyClick(toggle, Qt::Key_Space);
        }
        QVERIFY(!window.toggle()->isOn());
        window.nextTint();
        const QImage recoloured = toggle->grab().toImage();
        QCOMPARE(recoloured.pixel(recoloured.width() / 2, 1),
                 host::desktop::qtColour(*window.toggle()->backgroundColor())->rgba());

        QWidget* slider = window.widgetFor(window.slider().get());
        QWidget* label = window.widgetFor(window.valueLabel().get());
        QTest::mouseClick(slider, Qt::LeftButton, {},
                          QPoint(slider->width() * 9 / 10, slider->height() / 2));
        QVERIFY(window.slider()->value() > 0.5f);
        QWidget* sticky = window.widgetFor(window.stickySlider().get());
        QCOMPARE(label->parentWidget(), sticky);
        int lastX = -1;
        for (int press = 0; press < 3; ++press) {
            QCOMPARE(sticky->geometry(),
                     host::desktop::qtRect(window.stickySlider()->frame(), 1).toAlignedRect());
            QCOMPARE(label->geometry(),
                     host::desktop::qtRect(window.valueLabel()->frame(), 1).toAlignedRect());
            QCOMPARE(label->accessibleName().toStdString(), window.valueLabel()->text());
            QVERIFY(label->x() != lastX);  // it rides with the thumb
            lastX = label->x();
            QTest::keyClick(slider, Qt::Key_Left);
        }
    }

  private:
    Portal* portal_ = nullptr;
    Notifications* notifications_ = nullptr;

  public:
    void registerServices() {
        auto bus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, "stand-ins");
        portal_ = new Portal;
        portal_->setParent(this);
        notifications_ = new Notifications;
        notifications_->setParent(this);
        bus.registerObject("/org/freedesktop/portal/desktop", portal_,
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals);
        bus.registerService("org.freedesktop.portal.Desktop");
        bus.registerObject("/org/freedesktop/Notifications", notifications_,
                           QDBusConnection::ExportAllSlots);
        bus.registerService("org.freedesktop.Notifications");
    }
};

// A session bus of our own for the whole run, so no test touches the person's desktop.
int main(int argc, char** argv) {
    int channel[2];
    if (::pipe(channel) != 0)
        return 2;
    const pid_t daemon = ::fork();
    if (daemon == 0) {
        ::dup2(channel[1], STDOUT_FILENO);
        ::execlp("dbus-daemon", "dbus-daemon", "--session", "--nofork", "--print-address", nullptr);
        ::_exit(127);
    }
    ::close(channel[1]);
    std::string address;
    char c;
    while (::read(channel[0], &c, 1) == 1 && c != '\n')
        address += c;
    if (address.empty()) {
        std::fprintf(stderr, "desktop_tests: could not start dbus-daemon\n");
        return 2;
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    int status;
    {
        QApplication application(argc, argv);
        DesktopTest test;
        test.registerServices();
        status = QTest::qExec(&test, argc, argv);
    }
    ::kill(daemon, SIGTERM);
    ::waitpid(daemon, nullptr, 0);
    return status;
}

#include "DesktopTest.moc"
