#include "qttext/TextBlocks.h"

#include <QFontDatabase>
#include <QTextOption>
#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qttext {
namespace {

// More layouts than this in the cache and it is emptied: a viewport needs a few dozen at most.
constexpr std::size_t kLayoutCacheLimit = 512;

bool isContinuationByte(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

bool mayStartLineBreak(unsigned char c) {
    return c <= 0x0D || c == 0xC2 || c == 0xE2;
}

// The offset of the first byte in [from, end) that may start a line break (a control byte up to
// CR, or the lead byte of NEL or of the line and paragraph separators); `end` when none does.
// Sixteen bytes at a time where the processor allows: the index of a 100 MB text is one pass.
std::size_t nextBreakCandidate(const unsigned char* bytes, std::size_t from, std::size_t end) {
#if defined(__SSE2__)
    const __m128i carriageReturn = _mm_set1_epi8(0x0D);
    const __m128i nextLineLead = _mm_set1_epi8(static_cast<char>(0xC2));
    const __m128i separatorLead = _mm_set1_epi8(static_cast<char>(0xE2));
    while (from + 16 <= end) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + from));
        const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(chunk, carriageReturn), chunk);
        const __m128i leads =
            _mm_or_si128(_mm_cmpeq_epi8(chunk, nextLineLead), _mm_cmpeq_epi8(chunk, separatorLead));
        const int mask = _mm_movemask_epi8(_mm_or_si128(control, leads));
        if (mask != 0)
            return from + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
        from += 16;
    }
#endif
    while (from < end && !mayStartLineBreak(bytes[from]))
        ++from;
    return from;
}

// Pictographs that have a colour presentation, and the characters that join or modify them
// inside one emoji (zero-width joiner, variation selectors, keycap, tags).
bool isPictograph(char32_t c) {
    return (c >= 0x1F000 && c <= 0x1FAFF) || (c >= 0x2600 && c <= 0x27BF) ||
           (c >= 0x2B00 && c <= 0x2BFF) || c == 0x2328 || c == 0x23CF ||
           (c >= 0x23E9 && c <= 0x23FA) || c == 0x231A || c == 0x231B;
}
bool joinsEmoji(char32_t c) {
    return c == 0x200D || c == 0xFE0F || c == 0x20E3 || (c >= 0xE0020 && c <= 0xE007F);
}

// Emoji stretches of `text`, in UTF-16 offsets, each drawn in the emoji family.
void addEmojiFormats(const QString& text, const QString& family,
                     QList<QTextLayout::FormatRange>& formats) {
    QTextCharFormat format;
    format.setFontFamilies(QStringList{family});
    qsizetype i = 0;
    const qsizetype size = text.size();
    while (i < size) {
        char32_t c = text[i].unicode();
        qsizetype width = 1;
        if (QChar::isHighSurrogate(c) && i + 1 < size && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            width = 2;
        }
        if (!isPictograph(c)) {
            i += width;
            continue;
        }
        const qsizetype start = i;
        i += width;
        while (i < size) {
            char32_t next = text[i].unicode();
            qsizetype nextWidth = 1;
            if (QChar::isHighSurrogate(next) && i + 1 < size && text[i + 1].isLowSurrogate()) {
                next = QChar::surrogateToUcs4(text[i], text[i + 1]);
                nextWidth = 2;
            }
            if (!isPictograph(next) && !joinsEmoji(next))
                break;
            i += nextWidth;
        }
        formats.append({static_cast<int>(start), static_cast<int>(i - start), format});
    }
}

}  // namespace

QString TextBlocks::emojiFamily() {
    static const QString family = [] {
        QString found;
        for (const QString& name : QFontDatabase::families()) {
            if (!name.contains(QLatin1String("emoji"), Qt::CaseInsensitive))
                continue;
            // A colour face is preferred over a monochrome one.
            if (found.isEmpty() || name.contains(QLatin1String("color"), Qt::CaseInsensitive))
                found = name;
        }
        return found;
    }();
    return family;
}

bool TextBlocks::setSource(std::shared_ptr<const TextSource> source) {
    const bool sameCharacters = source_ && source &&
                                source->characterIdentity() == source_->characterIdentity() &&
                                source->length() == source_->length() && !blocks_.empty();
    source_ = std::move(source);
    if (!sameCharacters)
        indexBlocks();
    forgetLayouts();
    return !sameCharacters;
}

void TextBlocks::setDefaultFont(const QFont& font) {
    if (font == defaultFont_)
        return;
    defaultFont_ = font;
    forgetLayouts();
}

void TextBlocks::setDefaultColour(const QColor& colour) {
    if (colour == defaultColour_)
        return;
    defaultColour_ = colour;
    forgetLayouts();
}

void TextBlocks::setWidth(double width) {
    width = std::max(width, 1.0);
    if (width == width_)
        return;
    width_ = width;
    forgetLayouts();
}

void TextBlocks::setLineSpacing(double factor) {
    if (!(factor > 0) || factor == lineSpacing_)
        return;
    lineSpacing_ = factor;
    forgetLayouts();
}

double TextBlocks::height(std::size_t index) {
    (void)layout(index);
    return layouts_.find(index)->second.height;
}

void TextBlocks::forgetLayouts() {
    layouts_.clear();
    layoutsMade_ = 0;
    ++generation_;
}

void TextBlocks::trimCache() {
    if (layouts_.size() > kLayoutCacheLimit)
        layouts_.clear();
}

void TextBlocks::setSource(std::shared_ptr<const TextSource> source, std::vector<Block> blocks) {
    source_ = std::move(source);
    blocks_ = std::move(blocks);
    if (blocks_.empty())
        blocks_.push_back({0, 0});
    forgetLayouts();
}

std::vector<TextBlocks::Block> TextBlocks::cut(const TextSource& source,
                                               const std::atomic<bool>* stop) {
    // How often a cut that may be stopped looks whether it should be.
    constexpr std::uint64_t kStopCheckBytes = std::uint64_t{1} << 20;
    std::vector<Block> blocks;
    std::uint64_t checkAt = kStopCheckBytes;
    bool stopped = false;
    std::uint64_t offset = 0;      // of the current piece in the text
    std::uint64_t blockStart = 0;  // of the block being scanned
    bool afterCarriageReturn = false;
    const auto push = [&](std::uint64_t end, std::uint64_t next) {
        blocks.push_back({blockStart, static_cast<std::uint32_t>(end - blockStart)});
        blockStart = next;
    };
    source.forEachPiece([&](std::string_view piece) {
        if (stopped)
            return;
        const auto* bytes = reinterpret_cast<const unsigned char*>(piece.data());
        const std::size_t size = piece.size();
        std::size_t i = 0;
        if (afterCarriageReturn && size > 0) {
            afterCarriageReturn = false;
            if (bytes[0] == '\n') {
                blockStart = offset + 1;  // CR LF is one line break, even across pieces
                i = 1;
            }
        }
        while (i < size) {
            if (stop && offset + i >= checkAt) {
                checkAt = offset + i + kStopCheckBytes;
                if (stop->load(std::memory_order_relaxed)) {
                    stopped = true;
                    return;
                }
            }
            // How far the block may grow before it must be cut.
            const std::uint64_t used = offset + i - blockStart;
            const std::size_t room = used < kMaxBlockBytes ? kMaxBlockBytes - used : 0;
            const std::size_t limit =
                static_cast<std::size_t>(std::min<std::uint64_t>(size, i + room));
            const std::size_t at = nextBreakCandidate(bytes, i, limit);
            if (at == limit) {
                if (limit == size)
                    break;
                // Too long for one layout: cut at the last space of the block's last stretch in
                // this piece, else at the character boundary at or before the limit.
                std::size_t cut = limit;
                while (cut > i && isContinuationByte(bytes[cut]))
                    --cut;
                const std::size_t floor =
                    limit > kMaxBlockBytes / 4 ? limit - kMaxBlockBytes / 4 : 0;
                for (std::size_t j = limit; j > floor && offset + j > blockStart + 1; --j) {
                    if (bytes[j - 1] == ' ') {
                        cut = j;
                        break;
                    }
                }
                if (offset + cut <= blockStart)
                    cut = limit;
                push(offset + cut, offset + cut);
                i = cut;
                continue;
            }
            const unsigned char c = bytes[at];
            i = at + 1;
            if (c >= 0x0A && c <= 0x0D) {
                push(offset + at, offset + at + 1);
                if (c == '\r') {
                    if (at + 1 < size) {
                        if (bytes[at + 1] == '\n') {
                            blockStart = offset + at + 2;
                            i = at + 2;
                        }
                    } else {
                        afterCarriageReturn = true;
                    }
                }
            } else if (c == 0xC2 && at + 1 < size && bytes[at + 1] == 0x85) {
                push(offset + at, offset + at + 2);  // NEL
                i = at + 2;
            } else if (c == 0xE2 && at + 2 < size && bytes[at + 1] == 0x80 &&
                       (bytes[at + 2] == 0xA8 || bytes[at + 2] == 0xA9)) {
                push(offset + at, offset + at + 3);  // line and paragraph separators
                i = at + 3;
            }
        }
        offset += size;
    });
    // The text after the last line break is a block, empty or not; so is an empty text.
    if (!stopped)
        blocks.push_back({blockStart, static_cast<std::uint32_t>(offset - blockStart)});
    return blocks;
}

QTextLayout& TextBlocks::layout(std::size_t index) {
    if (const auto found = layouts_.find(index); found != layouts_.end())
        return *found->second.layout;

    const Block block = blocks_[index];
    const std::string bytes = source_ ? source_->substring(block.start, block.length) : "";
    QString characters;
    QList<QTextLayout::FormatRange> formats;
    // The font at the block's start sets the height of an empty block.
    // A run without a font: the default one, bold and scaled when the run asks.
    const auto fontOf = [this](const TextRun& run) {
        if (run.font)
            return *run.font;
        QFont font = defaultFont_;
        if (run.bold)
            font.setBold(true);
        if (run.scale != 1.0) {
            if (font.pixelSize() > 0)
                font.setPixelSize(std::max(1, static_cast<int>(font.pixelSize() * run.scale)));
            else
                font.setPointSizeF(font.pointSizeF() * run.scale);
        }
        return font;
    };
    QFont leading = defaultFont_;
    if (source_ && block.start < source_->length())
        source_->forEachRun(block.start, 1, [&](const TextRun& run) { leading = fontOf(run); });
    if (source_)
        source_->forEachRun(block.start, block.length, [&](const TextRun& run) {
            const QString piece = QString::fromUtf8(bytes.data() + (run.start - block.start),
                                                    static_cast<qsizetype>(run.length));
            QTextCharFormat format;
            format.setFont(fontOf(run));
            format.setForeground(run.colour.value_or(defaultColour_));
            formats.append(
                {static_cast<int>(characters.size()), static_cast<int>(piece.size()), format});
            characters += piece;
        });
    if (const QString family = emojiFamily(); !family.isEmpty())
        addEmojiFormats(characters, family, formats);

    auto made = std::make_unique<QTextLayout>(characters, leading);
    made->setFormats(formats);
    // Each paragraph takes its own direction from its first strong character, and is aligned
    // to the side it starts from, whatever the window's direction.
    const bool rightToLeft = characters.isRightToLeft();
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    option.setTextDirection(rightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
    option.setAlignment((rightToLeft ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignAbsolute);
    made->setTextOption(option);
    made->setCacheEnabled(true);
    made->beginLayout();
    double y = 0;
    for (;;) {
        QTextLine line = made->createLine();
        if (!line.isValid())
            break;
        line.setLineWidth(width_);
        line.setPosition(QPointF(0, y + line.height() * (lineSpacing_ - 1) / 2));
        y += line.height() * lineSpacing_;
    }
    made->endLayout();
    ++layoutsMade_;
    return *layouts_.emplace(index, Laid{std::move(made), y}).first->second.layout;
}

}  // namespace qttext
