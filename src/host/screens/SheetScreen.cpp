#include "host/screens/SheetScreen.h"

#include <algorithm>
#include <chrono>
#include <string_view>

#include "host/screens/TextPane.h"
#include "host/session/Colour.h"
#include "host/session/SaveSignals.h"
#include "platform/foundation/Application.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/TextAttributeKey.h"
#include "platform/foundation/Unicode.h"
#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationItem.h"
#include "platform/ui/TraitCollection.h"

namespace host {
namespace {

using platform::UserInterfaceStyle;

// How long the screen waits for a key before it runs the main queue's work again: short, so a
// send's completion is shown promptly and the spinner turns.
constexpr std::chrono::milliseconds kFrameInterval(50);
constexpr std::chrono::milliseconds kSpinnerStep(100);
constexpr std::string_view kSpinnerFrames[] = {"⠋", "⠙", "⠹", "⠸", "⠼", "⠴", "⠦", "⠧", "⠇", "⠏"};

// What a bar item shows: its title, or the name of its system item.
std::string itemLabel(const platform::BarButtonItem& item) {
    if (item.title())
        return *item.title();
    switch (item.systemItem().value_or(platform::BarButtonSystemItem::done)) {
        case platform::BarButtonSystemItem::close:
            return "✕ Close";
        case platform::BarButtonSystemItem::cancel:
            return "Cancel";
        case platform::BarButtonSystemItem::done:
            break;
    }
    return "Done";
}

}  // namespace

SheetScreen::SheetScreen(ShareSession& session, Terminal& terminal)
    : session_(session), terminal_(terminal), depth_(terminal.colourDepth()) {}

void SheetScreen::run() {
    const Terminal::Session screen(terminal_);
    terminal_.discardTypedKeys();
    bool dirty = true;
    while (!session_.hasEnded()) {
        if (terminal_.takeResize())
            dirty = true;
        const auto indicator = session_.activityIndicator();
        if (dirty || (indicator && indicator->isAnimating())) {
            terminal_.present(render(terminal_.rows(), terminal_.columns()));
            dirty = false;
        }
        for (const Key& key : terminal_.readKeys(kFrameInterval)) {
            handle(key);
            dirty = true;
        }
        // Ctrl+C during a send: the send goes on to its end and the sheet closes, as with Esc.
        if (SaveSignals::takeCloseRequest())
            session_.tap(ShareAction::close);
        if (terminal_.isGone() && !session_.tap(ShareAction::close))
            break;  // nobody is left to act, and the sheet cannot be closed
        if (platform::MainRunLoop::runPending() > 0)
            dirty = true;
    }
    session_.settle();
    SaveSignals::setInterruptClosesShare(false);
}

void SheetScreen::send() {
    // Once a send is under way, Ctrl+C no longer leaves the sheet with the request open: the
    // text may be saved at any moment, and leaving would hide that.
    if (session_.tap(ShareAction::send))
        SaveSignals::setInterruptClosesShare(true);
}

void SheetScreen::handle(const Key& key) {
    using Kind = Key::Kind;
    switch (key.kind) {
        case Kind::enter:
            send();
            return;
        case Kind::escape:
            session_.tap(ShareAction::close);
            return;
        case Kind::up:
            return pane_.scrollBy(-1);
        case Kind::down:
            return pane_.scrollBy(1);
        case Kind::pageUp:
            return pane_.scrollBy(-std::max<std::int64_t>(visibleRows_ - 1, 1));
        case Kind::pageDown:
            return pane_.scrollBy(std::max<std::int64_t>(visibleRows_ - 1, 1));
        case Kind::home:
            return pane_.toStart();
        case Kind::end:
            return pane_.toEnd();
        case Kind::left:
        case Kind::right:
            return;
        case Kind::character:
            break;
    }
    switch (key.character) {
        case 0x13:  // Ctrl+S
            send();
            break;
        case 0x0C:  // Ctrl+L: draw everything again
            terminal_.redrawAll();
            break;
        case 'q':
            session_.tap(ShareAction::close);
            break;
        case 'd':
            changeTraits(true, 0);
            break;
        default:
            break;
    }
}

void SheetScreen::changeTraits(bool switchAppearance, int sizeSteps) {
    const auto& controller = session_.controller();
    if (!controller)
        return;
    platform::TraitCollection traits = controller->traitCollection();
    if (switchAppearance) {
        traits.userInterfaceStyle = traits.userInterfaceStyle == UserInterfaceStyle::dark
                                        ? UserInterfaceStyle::light
                                        : UserInterfaceStyle::dark;
    }
    const int size = std::clamp(static_cast<int>(traits.preferredContentSizeCategory) + sizeSteps,
                                0, platform::kContentSizeCategoryCount - 1);
    traits.preferredContentSizeCategory = static_cast<platform::ContentSizeCategory>(size);
    // The platform delivers a trait change only when something changed.
    if (traits != controller->traitCollection())
        session_.changeTraits(traits);
}

std::vector<std::string> SheetScreen::render(int rows, int columns) {
    std::vector<std::string> frame;
    const auto& controller = session_.controller();
    if (!controller || rows <= 0 || columns <= 0)
        return frame;
    const platform::TraitCollection& traits = controller->traitCollection();
    const Palette& palette = paletteFor(traits.userInterfaceStyle);
    const CellStyle plain{palette.text, palette.background};

    // The navigation bar: left item, title, right item.
    {
        const CellStyle bar{palette.text, palette.bar};
        Row row(columns, bar, depth_);
        const platform::NavigationItem& navigation = controller->navigationItem();
        const auto itemStyle = [&](const platform::BarButtonItem& item) {
            CellStyle style{item.isEnabled() ? palette.tint : palette.secondary, palette.bar};
            style.dim = !item.isEnabled();
            return style;
        };
        const auto& left = navigation.leftBarButtonItem();
        const auto& right = navigation.rightBarButtonItem();
        // On a narrow screen the items come first, the right one cut with an ellipsis (so that
        // it is seen to go on), then the title in what is left.
        const std::string leftLabel = ellipsized(left ? itemLabel(*left) : "", columns - 2);
        const int leftEnd = 1 + columnsOf(leftLabel);
        const std::string rightLabel =
            ellipsized(right ? itemLabel(*right) : "", std::max(columns - 1 - leftEnd - 1, 0));
        const int rightStart = columns - 1 - columnsOf(rightLabel);
        row.padTo(1, bar);
        if (left)
            row.text(leftLabel, itemStyle(*left));
        const int titleSpace = rightStart - row.column() - 4;
        const std::string title = ellipsized(navigation.title().view(), titleSpace);
        const int titleWidth = columnsOf(title);
        CellStyle titleStyle = bar;
        titleStyle.bold = true;
        if (!title.empty()) {
            row.padTo(std::max((columns - titleWidth) / 2, row.column() + 2), bar);
            row.text(title, titleStyle);
        }
        row.padTo(rightStart, bar);
        if (right)
            row.text(rightLabel, itemStyle(*right));
        frame.push_back(row.finish());
    }
    const bool framed = rows >= 4;  // room for the rule under the bar and the key line
    if (framed) {
        Row row(columns, plain, depth_);
        std::string rule;
        for (int i = 0; i < columns; ++i)
            rule += "─";
        row.text(rule, CellStyle{palette.separator, palette.background});
        frame.push_back(row.finish());
    }
    const int contentRows = std::max(rows - static_cast<int>(frame.size()) - (framed ? 1 : 0), 0);
    visibleRows_ = contentRows;

    // The content: the text view, or the spinner while the indicator turns.
    std::vector<std::string> content;
    const auto textView = session_.textView();
    const auto indicator = session_.activityIndicator();
    if (textView && !textView->isHidden()) {
        content = pane_.draw(textView->attributedText(), textView->textContainerInset(), columns,
                             contentRows, palette, depth_);
    } else if (indicator && indicator->isAnimating() && !indicator->isHidden() && contentRows > 0) {
        const auto now = std::chrono::steady_clock::now().time_since_epoch();
        const auto step = static_cast<std::size_t>(now / kSpinnerStep) % std::size(kSpinnerFrames);
        for (int i = 0; i < (contentRows - 1) / 2; ++i)
            content.push_back(Row(columns, plain, depth_).finish());
        Row row(columns, plain, depth_);
        row.padTo(columns / 2, plain);
        row.text(kSpinnerFrames[step], CellStyle{palette.tint, palette.background});
        content.push_back(row.finish());
    }
    while (static_cast<int>(content.size()) < contentRows)
        content.push_back(Row(columns, plain, depth_).finish());
    frame.insert(frame.end(), content.begin(), content.end());

    // The keys, and where the sheet stands.
    if (framed) {
        const CellStyle hint{palette.secondary, palette.background};
        Row row(columns, plain, depth_);
        // Where the screen is in a text longer than it (as a pager says it), then the settings.
        // A terminal has one size of letter, so the text size is shown but not offered as keys.
        const std::string position = textView && !textView->isHidden() ? pane_.position() : "";
        // Appended piece by piece: GCC 12 falsely warns (-Wrestrict) about " " + a string.
        std::string status = " ";
        if (!position.empty())
            status += position + " · ";
        status += platform::contentSizeCategoryName(traits.preferredContentSizeCategory);
        status += " · ";
        status += appearanceName(traits.userInterfaceStyle);
        status += " ";
        const std::string keys = " Enter send · Esc close · d light/dark · ^Z suspend";
        row.text(ellipsized(keys, columns - columnsOf(status) - 1), hint);
        row.padTo(columns - columnsOf(status), plain);
        row.text(status, hint);
        frame.push_back(row.finish());
    }
    return frame;
}

}  // namespace host
