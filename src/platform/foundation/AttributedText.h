// AttributedText and MutableAttributedText: the platform's attributed string.
//
// Sections: storage model · AttributedText (immutable) · MutableAttributedText (editing).
//
// Storage model. The characters are UTF-8 bytes kept as a sequence of shared immutable pieces;
// positions and lengths count bytes. Each attribute key has its own list of runs covering the
// whole text, each run holding a value or none. Copies (mutableCopy, copy, conversion between
// the two forms) share the characters and the run lists; a mutable text clones a key's runs the
// first time it edits that key. So a transform that touches one key of a 100 MB text with one
// run costs a few allocations, and its cost grows with the runs, never with the length.
// Appending shares the appended text's pieces as well, so no operation copies large texts.
//
// Thread safety: an AttributedText may be read from any number of threads at once; a
// MutableAttributedText belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/AttributeValue.h"
#include "platform/foundation/Range.h"
#include "platform/foundation/String.h"
#include "platform/foundation/TextAttributeKey.h"

namespace platform {

using AttributeDictionary = std::vector<std::pair<TextAttributeKey, AttributeValuePtr>>;

// Enumeration options. Only the platform's default (0) is offered: longest runs, forward.
enum class AttributeEnumerationOptions : unsigned { none = 0 };

// One longest run of a key: a range with one value (or none) throughout.
struct AttributeRun {
    Range range;
    AttributeValuePtr value;
};

// The visitor of enumerateAttribute: the run's value or none, the run's range, and a stop flag.
using AttributeVisitor =
    std::function<void(const AttributeValuePtr& value, Range range, bool& stop)>;

class MutableAttributedText;

namespace detail {

// Runs of one key: sorted starts, the first at 0, each run reaching the next start or the end.
// A run names its value by index into a small table of the list's values (index 0 is none), so
// copying a list is a plain copy of the runs and never touches a reference count per run.
struct RunList {
    struct Run {
        std::uint64_t start;
        std::uint32_t value;  // index into `values`
    };
    RunList() = default;
    RunList(const RunList& other);
    RunList& operator=(const RunList&) = delete;
    ~RunList();

    std::vector<Run> runs;
    std::vector<AttributeValuePtr> values{nullptr};
    bool normalized = true;  // no two neighbours hold the same value
    // Where the last edit was, and the value it set. Only edits use them, and only a mutable
    // text's private list is ever edited, so they are never touched by two threads.
    std::size_t editHint = 0;
    std::uint32_t lastInterned = 0;

    [[nodiscard]] std::size_t indexContaining(std::uint64_t position) const;
    // The same, trying `hint` and the run after it first: passes move forward run by run.
    [[nodiscard]] std::size_t indexNear(std::uint64_t position, std::size_t hint) const;
    [[nodiscard]] std::uint64_t runEnd(std::size_t index, std::uint64_t textLength) const {
        return index + 1 < runs.size() ? runs[index + 1].start : textLength;
    }
    [[nodiscard]] const AttributeValuePtr& valueOf(std::size_t index) const {
        return values[runs[index].value];
    }
    [[nodiscard]] bool sameValue(std::uint32_t a, std::uint32_t b) const {
        return a == b || sameAttributeValue(values[a], values[b]);
    }
    // The table index of a value, adding it when it is new.
    std::uint32_t intern(const AttributeValuePtr& value);
    void assign(Range range, const AttributeValuePtr& value, std::uint64_t textLength);
    void normalize();
    // Gives back spare capacity once a list is much shorter than its buffer.
    void compact();
    [[nodiscard]] bool allNone() const;
};

struct KeyedRuns {
    TextAttributeKey key;
    std::shared_ptr<RunList> runs;  // shared between copies; edited only when owned
    mutable bool owned = false;     // a mutable text's private clone; cleared when shared again
};

struct TextPieces {
    std::vector<String> pieces;
    std::uint64_t length = 0;
};

// The state both forms share; its operations are the readers of both.
class AttributedTextState {
  public:
    [[nodiscard]] std::uint64_t length() const { return text_ ? text_->length : 0; }
    [[nodiscard]] std::string string() const;
    [[nodiscard]] std::string substring(Range range) const;
    void forEachPiece(const std::function<void(std::string_view)>& visit) const;
    [[nodiscard]] const void* characterStorage() const { return text_.get(); }

    void enumerateAttribute(const TextAttributeKey& key, Range range,
                            AttributeEnumerationOptions options,
                            const AttributeVisitor& visitor) const;
    [[nodiscard]] AttributeValuePtr attribute(const TextAttributeKey& key, std::uint64_t location,
                                              Range* longestEffectiveRange = nullptr) const;
    [[nodiscard]] std::vector<AttributeRun> runs(const TextAttributeKey& key) const;
    [[nodiscard]] std::vector<TextAttributeKey> keys() const;
    [[nodiscard]] bool isEqualToAttributedString(const AttributedTextState& other) const;

  protected:
    void checkRange(Range range, const char* operation) const;
    [[nodiscard]] const RunList* findRuns(const TextAttributeKey& key) const;

    std::shared_ptr<const TextPieces> text_;
    std::vector<KeyedRuns> attributes_;
};

}  // namespace detail

// NSAttributedString: immutable; a cheap value to copy and safe to share between threads.
class AttributedText : public detail::AttributedTextState {
  public:
    AttributedText() = default;
    // initWithString: the text with no attributes (the characters are shared, not copied).
    explicit AttributedText(String text);
    // initWithString:attributes: the text with each attribute over its whole length.
    AttributedText(String text, const AttributeDictionary& attributes);

    [[nodiscard]] MutableAttributedText mutableCopy() const;
    [[nodiscard]] AttributedText copy() const { return *this; }

    friend bool operator==(const AttributedText& a, const AttributedText& b) {
        return a.isEqualToAttributedString(b);
    }

  private:
    friend class MutableAttributedText;
};

// NSMutableAttributedString. Edits never affect texts it was copied from or copied to.
class MutableAttributedText : public detail::AttributedTextState {
  public:
    MutableAttributedText() = default;
    explicit MutableAttributedText(String text)
        : MutableAttributedText(AttributedText(std::move(text)).mutableCopy()) {}
    MutableAttributedText(String text, const AttributeDictionary& attributes)
        : MutableAttributedText(AttributedText(std::move(text), attributes).mutableCopy()) {}

    // Groups edits; the runs are tidied when the outermost group ends.
    void beginEditing() { ++editingDepth_; }
    void endEditing();

    // addAttribute:value:range: the key has `value` everywhere in `range` afterwards. A null
    // value removes. Throws std::out_of_range when the range passes the end of the text.
    void addAttribute(const TextAttributeKey& key, AttributeValuePtr value, Range range);
    // removeAttribute:range: the key has no value anywhere in `range` afterwards.
    void removeAttribute(const TextAttributeKey& key, Range range);
    // appendAttributedString: the other text at the end, with its own attributes.
    void appendAttributedString(const AttributedText& other);

    // copy: an immutable copy (shares characters and runs).
    [[nodiscard]] AttributedText copy() const;
    [[nodiscard]] MutableAttributedText mutableCopy() const { return copy().mutableCopy(); }
    operator AttributedText() const { return copy(); }  // NOLINT: a mutable text is a text

  private:
    friend class AttributedText;
    detail::RunList& ownedRuns(const TextAttributeKey& key);

    int editingDepth_ = 0;
};

}  // namespace platform
