// The desktop window with big texts, on Qt's headless platform: how long the first paint takes
// after the text has been delivered, and what a step of scrolling costs at the start, in the
// middle and at the end. Peak memory is measured around it (/usr/bin/time -v), see
// scripts/desktop-figures.sh.
//
//   desktop_bench [MEGABYTES]        (100 by default)
#include <QApplication>
#include <QElapsedTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "ReportText.h"
#include "host/desktop/AttributedTextSource.h"
#include "host/desktop/ShareWindow.h"
#include "host/session/ShareSession.h"
#include "platform/extension/ExtensionBundle.h"
#include "qttext/LazyTextView.h"

namespace {

using Clock = std::chrono::steady_clock;

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Paints `widget` now and returns how long that took, in milliseconds.
double paintNow(QWidget* widget) {
    const auto start = Clock::now();
    widget->repaint();
    return millisecondsSince(start);
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 100;
    QApplication application(argc, argv);
    const auto bundle = platform::ExtensionBundle::load(QUORVANE_BUNDLE_DIR);

    std::string text = reportText(megabytes << 20);
    const std::size_t size = text.size();
    host::ShareSession session(bundle, host::SessionSettings{});
    const auto presented = Clock::now();
    session.present(platform::String(std::move(text)));
    const double intake = millisecondsSince(presented);

    // The index of the text's blocks alone, in a text view of its own.
    double indexing = 0;
    {
        host::desktop::LazyTextView alone;
        const auto start = Clock::now();
        alone.setContent(host::desktop::attributedTextSource(session.textView()->attributedText()));
        indexing = millisecondsSince(start);
    }

    // Delivered: the extension's text view holds the text. From here to the first paint.
    const auto delivered = Clock::now();
    host::desktop::ShareWindow window(session);
    window.show();
    QApplication::processEvents();
    host::desktop::LazyTextView* view = window.textWidget();
    const double firstPaint = millisecondsSince(delivered) + paintNow(view->viewport());
    const std::size_t layoutsAtStart = view->layoutsMade();

    // A step of scrolling: a page down, at the start, in the middle and at the end.
    double worstStep = 0;
    const auto pages = [&](int count) {
        for (int i = 0; i < count; ++i) {
            const auto start = Clock::now();
            view->scrollByPoints(view->viewport()->height());
            view->viewport()->repaint();
            worstStep = std::max(worstStep, millisecondsSince(start));
        }
    };
    pages(20);
    auto start = Clock::now();
    view->scrollToEnd();
    view->viewport()->repaint();
    const double toEnd = millisecondsSince(start);
    pages(5);
    start = Clock::now();
    view->scrollToStart();
    view->viewport()->repaint();
    const double toStart = millisecondsSince(start);

    std::printf("text                      %.1f MB, %zu blocks\n", size / 1048576.0,
                view->blockCount());
    std::printf("intake (present)          %.1f ms\n", intake);
    std::printf("block index alone         %.1f ms\n", indexing);
    std::printf("first paint after delivery %.1f ms (%zu text layouts)\n", firstPaint,
                layoutsAtStart);
    std::printf("scroll to the end         %.2f ms\n", toEnd);
    std::printf("scroll back to the start  %.2f ms\n", toStart);
    std::printf("worst page step           %.2f ms\n", worstStep);
    std::printf("text layouts made in all  %zu\n", view->layoutsMade());
    std::fflush(stdout);
    session.tap(host::ShareAction::close);
    session.settle();
    return 0;
}
