#include "platform/foundation/AttributedText.h"

#include <algorithm>
#include <stdexcept>

namespace platform {
namespace detail {
namespace {

// Appended pieces smaller than this are merged with a small last piece, so that texts built
// from many short appends stay a short list of pieces.
constexpr std::size_t kSmallPiece = 512;

// Large run buffers are reused instead of freed: a transform clones a list, edits it and lets
// it go, and handing big blocks back to the allocator each time makes it return memory to the
// system and fault it back in on the next transform. A few spare buffers per thread, bounded
// in size, keep the cost per run flat.
class SpareRunBuffers {
  public:
    static constexpr std::size_t kMinimumRuns = 1024;
    static constexpr std::size_t kMaximumRuns = 1u << 20;
    static constexpr std::size_t kKept = 4;

    static std::vector<RunList::Run> take(std::size_t size) {
        Pool* spares = pool();
        if (!spares)
            return {};
        for (auto it = spares->buffers.begin(); it != spares->buffers.end(); ++it) {
            if (it->capacity() >= size) {
                std::vector<RunList::Run> buffer = std::move(*it);
                spares->buffers.erase(it);
                buffer.clear();
                return buffer;
            }
        }
        return {};
    }

    static void give(std::vector<RunList::Run>&& buffer) {
        if (buffer.capacity() < kMinimumRuns || buffer.capacity() > kMaximumRuns)
            return;
        Pool* spares = pool();
        if (!spares)
            return;  // the thread is ending: the buffer is simply freed
        if (spares->buffers.size() >= kKept)
            spares->buffers.erase(spares->buffers.begin());
        spares->buffers.push_back(std::move(buffer));
    }

  private:
    struct Pool {
        std::vector<std::vector<RunList::Run>> buffers;
        ~Pool() { finished = true; }
    };
    // Texts may outlive the thread's pool (a static text destroyed at exit runs after the
    // thread's own objects are gone); the flag, trivially destructible, stays readable.
    static inline thread_local bool finished = false;

    static Pool* pool() {
        if (finished)
            return nullptr;
        thread_local Pool spares;
        return &spares;
    }
};

}  // namespace

// ---- RunList ----

RunList::RunList(const RunList& other)
    : runs(other.runs.size() >= SpareRunBuffers::kMinimumRuns
               ? SpareRunBuffers::take(other.runs.size())
               : std::vector<Run>{}),
      values(other.values),
      normalized(other.normalized) {
    runs.assign(other.runs.begin(), other.runs.end());
}

RunList::~RunList() {
    SpareRunBuffers::give(std::move(runs));
}

void RunList::compact() {
    if (runs.capacity() <= 4 * runs.size() + 64)
        return;
    std::vector<Run> exact(runs.begin(), runs.end());
    SpareRunBuffers::give(std::move(runs));
    runs = std::move(exact);
}

std::size_t RunList::indexContaining(std::uint64_t position) const {
    const auto it = std::upper_bound(runs.begin(), runs.end(), position,
                                     [](std::uint64_t p, const Run& run) { return p < run.start; });
    return static_cast<std::size_t>(it - runs.begin()) - 1;
}

std::size_t RunList::indexNear(std::uint64_t position, std::size_t hint) const {
    for (std::size_t index = hint; index < runs.size() && index <= hint + 1; ++index) {
        if (runs[index].start <= position &&
            (index + 1 == runs.size() || position < runs[index + 1].start)) {
            return index;
        }
    }
    return indexContaining(position);
}

std::uint32_t RunList::intern(const AttributeValuePtr& value) {
    if (!value)
        return 0;
    if (values[lastInterned] == value)
        return lastInterned;
    // A pass sets the same few values again and again; look at the newest entries only and
    // accept a duplicate entry otherwise (normalize() compacts the table).
    const std::size_t oldest = values.size() > 8 ? values.size() - 8 : 1;
    for (std::size_t i = values.size(); i-- > oldest;) {
        if (values[i] == value)
            return lastInterned = static_cast<std::uint32_t>(i);
    }
    values.push_back(value);
    return lastInterned = static_cast<std::uint32_t>(values.size() - 1);
}

void RunList::assign(Range range, const AttributeValuePtr& value, std::uint64_t textLength) {
    if (range.length == 0)
        return;
    normalized = false;
    const std::uint32_t index = intern(value);
    const std::size_t first = indexNear(range.location, editHint);
    editHint = first;
    const std::uint64_t end = range.end();
    // The common case in a pass over runs: the range is exactly one run.
    if (runs[first].start == range.location && runEnd(first, textLength) == end) {
        runs[first].value = index;
        return;
    }
    const std::size_t last = indexNear(end - 1, first);
    Run replacement[3];
    std::size_t count = 0;
    if (runs[first].start < range.location)
        replacement[count++] = runs[first];
    replacement[count++] = {range.location, index};
    if (runEnd(last, textLength) > end)
        replacement[count++] = {end, runs[last].value};
    const auto from = runs.begin() + static_cast<std::ptrdiff_t>(first);
    const auto to = runs.begin() + static_cast<std::ptrdiff_t>(last) + 1;
    const auto replaced = static_cast<std::size_t>(to - from);
    if (replaced >= count) {
        std::copy(replacement, replacement + count, from);
        runs.erase(from + static_cast<std::ptrdiff_t>(count), to);
    } else {
        std::copy(replacement, replacement + replaced, from);
        runs.insert(to, replacement + replaced, replacement + count);
    }
}

void RunList::normalize() {
    if (normalized)
        return;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < runs.size(); ++i) {
        if (kept > 0 && sameValue(runs[kept - 1].value, runs[i].value))
            continue;
        runs[kept++] = runs[i];
    }
    runs.resize(kept);
    // Drop table entries no run names any more, so a long-edited list does not keep them.
    if (values.size() > 2 * runs.size() + 16) {
        std::vector<std::uint32_t> remap(values.size(), 0);
        std::vector<AttributeValuePtr> compact{nullptr};
        for (Run& run : runs) {
            if (run.value == 0)
                continue;
            if (remap[run.value] == 0) {
                remap[run.value] = static_cast<std::uint32_t>(compact.size());
                compact.push_back(values[run.value]);
            }
            run.value = remap[run.value];
        }
        values = std::move(compact);
        lastInterned = 0;
    }
    normalized = true;
}

bool RunList::allNone() const {
    return std::all_of(runs.begin(), runs.end(),
                       [this](const Run& run) { return values[run.value] == nullptr; });
}

// ---- readers ----

std::string AttributedTextState::string() const {
    return substring({0, length()});
}

std::string AttributedTextState::substring(Range range) const {
    checkRange(range, "substring");
    std::string result;
    result.reserve(range.length);
    std::uint64_t pieceStart = 0;
    forEachPiece([&](std::string_view piece) {
        const std::uint64_t pieceEnd = pieceStart + piece.size();
        const std::uint64_t from = std::max(pieceStart, range.location);
        const std::uint64_t to = std::min(pieceEnd, range.end());
        if (from < to)
            result.append(piece.substr(from - pieceStart, to - from));
        pieceStart = pieceEnd;
    });
    return result;
}

void AttributedTextState::forEachPiece(const std::function<void(std::string_view)>& visit) const {
    if (!text_)
        return;
    for (const String& piece : text_->pieces)
        visit(piece.view());
}

void AttributedTextState::checkRange(Range range, const char* operation) const {
    if (range.location > length() || range.length > length() - range.location) {
        throw std::out_of_range(
            std::string(operation) + ": range {" + std::to_string(range.location) + ", " +
            std::to_string(range.length) + "} out of bounds; length " + std::to_string(length()));
    }
}

const RunList* AttributedTextState::findRuns(const TextAttributeKey& key) const {
    for (const KeyedRuns& keyed : attributes_) {
        if (keyed.key == key)
            return keyed.runs.get();
    }
    return nullptr;
}

void AttributedTextState::enumerateAttribute(const TextAttributeKey& key, Range range,
                                             AttributeEnumerationOptions /*options*/,
                                             const AttributeVisitor& visitor) const {
    checkRange(range, "enumerateAttribute");
    std::uint64_t position = range.location;
    const std::uint64_t end = range.end();
    std::size_t hint = 0;
    // The visitor may edit this very text (when it is mutable), so every step re-reads the runs
    // and keeps no reference into them across the call.
    while (position < end && position < length()) {
        AttributeValuePtr value;
        std::uint64_t runEnd = length();
        if (const RunList* list = findRuns(key)) {
            std::size_t index = list->indexNear(position, hint);
            const std::uint32_t valueIndex = list->runs[index].value;
            value = list->values[valueIndex];
            runEnd = list->runEnd(index, length());
            while (runEnd < end && index + 1 < list->runs.size() &&
                   list->sameValue(list->runs[index + 1].value, valueIndex)) {
                ++index;
                runEnd = list->runEnd(index, length());
            }
            hint = index;
        }
        runEnd = std::min(runEnd, end);
        bool stop = false;
        visitor(value, Range{position, runEnd - position}, stop);
        if (stop)
            return;
        position = runEnd;
    }
}

AttributeValuePtr AttributedTextState::attribute(const TextAttributeKey& key,
                                                 std::uint64_t location,
                                                 Range* longestEffectiveRange) const {
    if (location >= length()) {
        throw std::out_of_range("attribute: location " + std::to_string(location) +
                                " out of bounds; length " + std::to_string(length()));
    }
    const RunList* list = findRuns(key);
    if (!list) {
        if (longestEffectiveRange)
            *longestEffectiveRange = {0, length()};
        return nullptr;
    }
    std::size_t first = list->indexContaining(location);
    std::size_t last = first;
    const std::uint32_t valueIndex = list->runs[first].value;
    if (longestEffectiveRange) {
        while (first > 0 && list->sameValue(list->runs[first - 1].value, valueIndex))
            --first;
        while (last + 1 < list->runs.size() &&
               list->sameValue(list->runs[last + 1].value, valueIndex))
            ++last;
        const std::uint64_t start = list->runs[first].start;
        *longestEffectiveRange = {start, list->runEnd(last, length()) - start};
    }
    return list->values[valueIndex];
}

std::vector<AttributeRun> AttributedTextState::runs(const TextAttributeKey& key) const {
    std::vector<AttributeRun> result;
    enumerateAttribute(key, {0, length()}, AttributeEnumerationOptions::none,
                       [&](const AttributeValuePtr& value, Range range, bool&) {
                           result.push_back({range, value});
                       });
    return result;
}

std::vector<TextAttributeKey> AttributedTextState::keys() const {
    std::vector<TextAttributeKey> result;
    for (const KeyedRuns& keyed : attributes_) {
        if (!keyed.runs->allNone())
            result.push_back(keyed.key);
    }
    return result;
}

bool AttributedTextState::isEqualToAttributedString(const AttributedTextState& other) const {
    if (length() != other.length() || string() != other.string())
        return false;
    auto sameRuns = [](const std::vector<AttributeRun>& a, const std::vector<AttributeRun>& b) {
        return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                          [](const AttributeRun& x, const AttributeRun& y) {
                              return x.range == y.range && sameAttributeValue(x.value, y.value);
                          });
    };
    for (const auto* side : {this, &other}) {
        for (const KeyedRuns& keyed : side->attributes_) {
            if (!sameRuns(runs(keyed.key), other.runs(keyed.key)))
                return false;
        }
    }
    return true;
}

}  // namespace detail

// ---- AttributedText ----

AttributedText::AttributedText(String text) {
    if (text.empty())
        return;
    auto pieces = std::make_shared<detail::TextPieces>();
    pieces->length = text.size();
    pieces->pieces.push_back(std::move(text));
    text_ = std::move(pieces);
}

AttributedText::AttributedText(String text, const AttributeDictionary& attributes)
    : AttributedText(std::move(text)) {
    if (length() == 0)
        return;
    for (const auto& [key, value] : attributes) {
        if (!value)
            continue;
        auto list = std::make_shared<detail::RunList>();
        list->runs.push_back({0, list->intern(value)});
        attributes_.push_back({key, std::move(list), false});
    }
}

MutableAttributedText AttributedText::mutableCopy() const {
    MutableAttributedText copy;
    copy.text_ = text_;
    copy.attributes_ = attributes_;
    for (detail::KeyedRuns& keyed : copy.attributes_)
        keyed.owned = false;
    return copy;
}

// ---- MutableAttributedText ----

void MutableAttributedText::endEditing() {
    if (editingDepth_ > 0)
        --editingDepth_;
    if (editingDepth_ > 0)
        return;
    for (detail::KeyedRuns& keyed : attributes_) {
        if (keyed.owned)
            keyed.runs->normalize();
    }
}

detail::RunList& MutableAttributedText::ownedRuns(const TextAttributeKey& key) {
    for (detail::KeyedRuns& keyed : attributes_) {
        if (keyed.key != key)
            continue;
        if (!keyed.owned) {
            keyed.runs = std::make_shared<detail::RunList>(*keyed.runs);
            keyed.owned = true;
        }
        return *keyed.runs;
    }
    auto list = std::make_shared<detail::RunList>();
    if (length() > 0)
        list->runs.push_back({0, 0});
    attributes_.push_back({key, std::move(list), true});
    return *attributes_.back().runs;
}

void MutableAttributedText::addAttribute(const TextAttributeKey& key, AttributeValuePtr value,
                                         Range range) {
    checkRange(range, "addAttribute");
    if (range.length == 0)
        return;
    if (!value && !findRuns(key))
        return;
    ownedRuns(key).assign(range, value, length());
}

void MutableAttributedText::removeAttribute(const TextAttributeKey& key, Range range) {
    addAttribute(key, nullptr, range);
}

void MutableAttributedText::appendAttributedString(const AttributedText& other) {
    const std::uint64_t oldLength = length();
    const std::uint64_t addedLength = other.length();
    if (addedLength == 0)
        return;

    auto pieces = std::make_shared<detail::TextPieces>(text_ ? *text_ : detail::TextPieces{});
    for (const String& piece : other.text_->pieces) {
        if (!pieces->pieces.empty() && piece.size() < detail::kSmallPiece &&
            pieces->pieces.back().size() < detail::kSmallPiece) {
            std::string merged = pieces->pieces.back().str();
            merged.append(piece.view());
            pieces->pieces.back() = String(std::move(merged));
        } else {
            pieces->pieces.push_back(piece);
        }
    }
    pieces->length = oldLength + addedLength;

    // Every key of either text gets runs over the new length: the other text's runs shifted,
    // or none over the appended part.
    for (detail::KeyedRuns& keyed : attributes_) {
        if (!other.findRuns(keyed.key)) {
            ownedRuns(keyed.key).runs.push_back({oldLength, 0});
            keyed.runs->normalized = false;
        }
    }
    for (const detail::KeyedRuns& theirs : other.attributes_) {
        detail::RunList& mine = ownedRuns(theirs.key);
        std::vector<std::uint32_t> remap(theirs.runs->values.size());
        for (std::size_t i = 0; i < remap.size(); ++i)
            remap[i] = mine.intern(theirs.runs->values[i]);
        for (const auto& run : theirs.runs->runs)
            mine.runs.push_back({oldLength + run.start, remap[run.value]});
        mine.normalized = false;
    }
    text_ = std::move(pieces);
}

AttributedText MutableAttributedText::copy() const {
    AttributedText result;
    result.text_ = text_;
    for (const detail::KeyedRuns& keyed : attributes_) {
        // Tidying an owned list changes no position's value, so it is safe in a const copy.
        if (keyed.owned) {
            keyed.runs->normalize();
            keyed.runs->compact();
        }
        keyed.owned = false;
        if (keyed.runs->allNone())
            continue;
        result.attributes_.push_back({keyed.key, keyed.runs, false});
    }
    return result;
}

}  // namespace platform
