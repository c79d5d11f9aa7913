#include "prompter/remote/PromptRemote.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <algorithm>
#include <variant>

#include "prompter/PromptView.h"
#include "qttext/PlainTextSource.h"

namespace prompter::remote {
namespace {

// At most `bytes` of `text`, cut at a character's start.
std::string shortened(std::string text, std::size_t bytes) {
    if (text.size() <= bytes)
        return text;
    std::size_t cut = bytes;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    text.resize(cut);
    return text + "\u2026";
}

// The first line with text, without the #s that make it a section heading.
std::string firstLine(const std::string& text) {
    std::size_t start = text.find_first_not_of(" \t\r\n#");
    if (start == std::string::npos)
        return {};
    const std::size_t end = text.find_first_of("\r\n", start);
    return shortened(text.substr(start, end == std::string::npos ? std::string::npos : end - start),
                     80);
}

}  // namespace

PromptRemote::PromptRemote(PrompterWindow& window, ScriptLibrary& library,
                           std::shared_ptr<const PromptClock> clock, QObject* parent)
    : QObject(parent), window_(window), library_(library), clock_(std::move(clock)) {
    connect(window_.library(), &LibraryView::promptRequested, this,
            [this](const QString& path) { noteScript(path); });
    PromptView* view = window_.promptView();
    connect(view, &PromptView::frameDrawn, this, &PromptRemote::changed);
    connect(view, &PromptView::speedChanged, this, &PromptRemote::changed);
    connect(view, &PromptView::scriptChanged, this, &PromptRemote::takeScript);
    connect(view, &PromptView::indexed, this, &PromptRemote::changed);
    connect(&window_, &QStackedWidget::currentChanged, this, &PromptRemote::changed);
    takeScript();
}

void PromptRemote::noteScript(const QString& path) {
    path_ = path;
    takeScript();
}

void PromptRemote::takeScript() {
    const auto& script = window_.promptView()->script();
    if (!script)
        return;
    if (script != text_) {  // a new text (not only a new name for it)
        text_ = script;
        scriptId_.reset();  // made when first asked for: a prompt nobody watches never hashes it
    }
    title_ = firstLine(text_->substring(0, 4096));
    if (title_.empty())
        title_ = QFileInfo(path_).fileName().toStdString();
    emit changed();
}

std::string PromptRemote::scriptIdOf(const std::string& text) {
    return scriptIdOf(qttext::PlainTextSource(text));
}

std::string PromptRemote::scriptIdOf(const qttext::TextSource& text) {
    QCryptographicHash hash(QCryptographicHash::Sha256);
    text.forEachPiece([&hash](std::string_view piece) {
        hash.addData(QByteArrayView(piece.data(), static_cast<qsizetype>(piece.size())));
    });
    return hash.result().toHex().left(16).toStdString();
}

bool PromptRemote::isPrompting() const {
    return text_ && window_.currentWidget() == window_.promptView();
}

std::optional<std::string> PromptRemote::apply(const Command& command) {
    PromptView* view = window_.promptView();
    if (command.kind == CommandKind::state)
        return std::nullopt;
    if (leaderConnected_)
        return std::string(
            "this prompter follows another, which sets what it shows; send commands to that one");
    if (command.kind == CommandKind::add) {
        QString fileName;
        if (auto failure = library_.add(QByteArray::fromStdString(command.text), &fileName))
            return failure->toStdString();
        library_.markNew(fileName);
        if (command.prompt) {
            const QString path = library_.pathOf(fileName);
            if (!window_.prompt(path))
                return window_.library()->message().toStdString();
            noteScript(path);
        } else {
            window_.library()->select(fileName);
        }
        emit changed();
        return std::nullopt;
    }
    if (!isPrompting())
        return std::string(
            "nothing is being prompted; choose a script on the prompter, or add one");
    switch (command.kind) {
        case CommandKind::start:
            view->start();
            break;
        case CommandKind::pause:
            view->pause();
            break;
        case CommandKind::resume:
            view->resume();
            break;
        case CommandKind::toggle:
            view->togglePause();
            break;
        case CommandKind::speed:
            view->setSpeed(command.value);
            break;
        case CommandKind::faster:
            view->setSpeed(view->motion().speed() + PromptView::kSpeedStep);
            break;
        case CommandKind::slower:
            view->setSpeed(view->motion().speed() - PromptView::kSpeedStep);
            break;
        case CommandKind::screens:
            view->jumpByScreens(command.value);
            break;
        case CommandKind::jump:
            if (command.by) {
                view->jumpByParagraphs(static_cast<int>(std::clamp<std::int64_t>(
                    *command.by, -Command::kMaxIndex, Command::kMaxIndex)));
                break;
            }
            if (command.section) {
                const std::size_t sections = view->index().sections().size();
                // While the index is made, the jump waits for it and is checked then.
                if (sections == 0 && !view->isIndexing())
                    return std::string(
                        "this script has no sections (a line starting with # "
                        "begins one)");
                if (static_cast<std::size_t>(*command.section) > sections && !view->isIndexing())
                    return "there are only " + std::to_string(sections) + " sections";
                view->jumpToSection(static_cast<std::size_t>(*command.section - 1));
                break;
            }
            if (static_cast<std::size_t>(*command.paragraph) > view->paragraphCount() &&
                !view->isIndexing())
                return "there are only " + std::to_string(view->paragraphCount()) + " paragraphs";
            view->jumpToParagraph(static_cast<std::size_t>(*command.paragraph - 1));
            break;
        default:
            break;
    }
    emit changed();
    return std::nullopt;
}

std::optional<std::string> PromptRemote::scriptText() {
    if (!isPrompting())
        return std::nullopt;
    std::string text;
    text.reserve(static_cast<std::size_t>(text_->length()));
    text_->forEachPiece([&text](std::string_view piece) { text.append(piece); });
    return text;
}

RemoteState PromptRemote::snapshot() const {
    RemoteState state;
    const PromptView* view = window_.promptView();
    const PromptMotion& motion = view->motion();
    const double now = clock_->milliseconds();
    state.speed = motion.speed();
    state.connected = !leaderConnected_ || leaderConnected_();
    if (!isPrompting())
        return state;
    state.script = title_;
    if (!scriptId_)
        scriptId_ = scriptIdOf(*text_);
    state.scriptId = *scriptId_;
    state.running = motion.isRunning();
    state.countingDown = motion.isCountingDown(now);
    state.following = followingVoice_ && followingVoice_();
    state.position = motion.position(now);
    state.length = motion.length();
    const std::size_t current = view->currentParagraph();
    state.paragraph = current + 1;
    state.paragraphs = view->paragraphCount();
    state.counting = view->isIndexing();
    const ScriptIndex& index = view->index();
    for (const auto& section : index.sections())
        state.sections.push_back(section.title.toStdString());
    if (const auto section = index.sectionOf(current))
        state.section = *section + 1;
    // The lines come from the paragraphs the view cut the text into.
    for (std::size_t i = current; i < view->paragraphCount() && i < current + kLinesShown; ++i) {
        const auto block = view->paragraph(i);
        state.lines.push_back(
            shortened(view->script()->substring(
                          block.start, std::min<std::uint64_t>(block.length, kLineBytes + 4)),
                      kLineBytes));
    }
    return state;
}

}  // namespace prompter::remote
