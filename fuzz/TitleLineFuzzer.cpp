// Arbitrary bytes through the intake and the title line.
//
// Promises checked, for any bytes at all (valid UTF-8 or not):
// - titleLine is the trimmed text from its start up to and including its first line break
//   (CR LF kept whole), or all of it; it shares the text's characters. A reference built the
//   plain way (decode every scalar, trim the list, look for the break) must agree byte for byte;
// - the host's UTF-8 check flags exactly the first byte the reference cannot decode;
// - a share request offering the bytes as plain text reaches the controller unchanged: the
//   captured text is the bytes, and the text view shows the title line, one line feed and the
//   bytes, the title part bold at the large-title size and the rest at the body size.
#include <fstream>
#include <optional>
#include <sstream>
#include <vector>

#include "FuzzSupport.h"
#include "host/frontend/InputText.h"
#include "platform/extension/ExtensionContext.h"
#include "platform/extension/ExtensionItem.h"
#include "platform/extension/InterfaceFile.h"
#include "platform/extension/ItemProvider.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Font.h"
#include "share/ShareViewController.h"
#include "share/TitleLine.h"

namespace fuzzing {
namespace {

// ---- reference ----

// One unit of the text: a scalar decoded from `size` bytes, or one byte that starts no valid
// sequence.
struct Unit {
    char32_t scalar;
    std::size_t offset;
    std::size_t size;
    bool valid;
};

std::string encode(char32_t scalar) {
    std::string bytes;
    if (scalar < 0x80) {
        bytes += static_cast<char>(scalar);
    } else if (scalar < 0x800) {
        bytes += static_cast<char>(0xC0 | (scalar >> 6));
        bytes += static_cast<char>(0x80 | (scalar & 0x3F));
    } else if (scalar < 0x10000) {
        bytes += static_cast<char>(0xE0 | (scalar >> 12));
        bytes += static_cast<char>(0x80 | ((scalar >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (scalar & 0x3F));
    } else {
        bytes += static_cast<char>(0xF0 | (scalar >> 18));
        bytes += static_cast<char>(0x80 | ((scalar >> 12) & 0x3F));
        bytes += static_cast<char>(0x80 | ((scalar >> 6) & 0x3F));
        bytes += static_cast<char>(0x80 | (scalar & 0x3F));
    }
    return bytes;
}

// A sequence is valid when it is exactly the encoding of the scalar its bits spell, and that
// scalar is neither a surrogate nor above U+10FFFF: re-encoding rules out overlong forms.
std::optional<Unit> decodeSequence(std::string_view bytes, std::size_t offset, std::size_t size) {
    if (offset + size > bytes.size())
        return std::nullopt;
    static constexpr unsigned char kLeadMask[] = {0, 0x7F, 0x1F, 0x0F, 0x07};
    char32_t scalar = static_cast<unsigned char>(bytes[offset]) & kLeadMask[size];
    for (std::size_t i = 1; i < size; ++i)
        scalar = (scalar << 6) | (static_cast<unsigned char>(bytes[offset + i]) & 0x3F);
    if (scalar > 0x10FFFF || (scalar >= 0xD800 && scalar <= 0xDFFF))
        return std::nullopt;
    if (encode(scalar) != bytes.substr(offset, size))
        return std::nullopt;
    return Unit{scalar, offset, size, true};
}

std::vector<Unit> decodeAll(std::string_view bytes) {
    std::vector<Unit> units;
    for (std::size_t offset = 0; offset < bytes.size();) {
        std::optional<Unit> unit;
        for (std::size_t size = 1; size <= 4 && !unit; ++size)
            unit = decodeSequence(bytes, offset, size);
        if (!unit)
            unit = Unit{0xFFFD, offset, 1, false};
        units.push_back(*unit);
        offset += unit->size;
    }
    return units;
}

bool isSpaceOrNewline(const Unit& unit) {
    if (!unit.valid)
        return false;
    static constexpr char32_t kSet[] = {0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,
                                        0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003, 0x2004,
                                        0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028,
                                        0x2029, 0x202F, 0x205F, 0x3000};
    for (char32_t c : kSet) {
        if (unit.scalar == c)
            return true;
    }
    return false;
}

bool isLineBreak(const Unit& unit) {
    if (!unit.valid)
        return false;
    static constexpr char32_t kSet[] = {0x0A, 0x0B, 0x0C, 0x0D, 0x85, 0x2028, 0x2029};
    for (char32_t c : kSet) {
        if (unit.scalar == c)
            return true;
    }
    return false;
}

std::string referenceTitleLine(std::string_view bytes) {
    const std::vector<Unit> units = decodeAll(bytes);
    std::size_t first = 0, last = units.size();  // kept units: [first, last)
    while (first < last && isSpaceOrNewline(units[first]))
        ++first;
    while (last > first && isSpaceOrNewline(units[last - 1]))
        --last;
    if (first == last)
        return "";
    std::size_t end = last;
    for (std::size_t i = first; i < last; ++i) {
        if (isLineBreak(units[i])) {
            end = i + 1;
            if (units[i].scalar == U'\r' && end < last && units[end].scalar == U'\n')
                ++end;
            break;
        }
    }
    const std::size_t from = units[first].offset;
    const std::size_t to = units[end - 1].offset + units[end - 1].size;
    return std::string(bytes.substr(from, to - from));
}

std::optional<std::size_t> referenceFirstInvalid(std::string_view bytes) {
    for (const Unit& unit : decodeAll(bytes)) {
        if (!unit.valid)
            return unit.offset;
    }
    return std::nullopt;
}

// ---- the intake, through a controller made from the shipped interface file ----

const std::string& interfaceDocument() {
    static const std::string document = [] {
        std::ifstream file(QUORVANE_RESOURCES_DIR "/MainInterface.json", std::ios::binary);
        std::ostringstream contents;
        contents << file.rdbuf();
        return contents.str();
    }();
    return document;
}

void checkIntake(const std::string& bytes, const std::string& title) {
    auto loaded = platform::InterfaceFile::loadFromString(interfaceDocument(), "MainInterface");
    auto controller =
        std::dynamic_pointer_cast<quorvane::ShareViewController>(loaded.initialViewController);
    check(controller != nullptr, "the interface file makes the share controller");
    auto provider = std::make_shared<platform::ItemProvider>();
    provider->registerItem("public.plain-text", platform::String(bytes));
    auto item = std::make_shared<platform::ExtensionItem>();
    item->setAttachments(std::vector{provider});
    auto context =
        std::make_shared<platform::ExtensionContext>(std::vector<platform::ObjectPtr>{item});
    controller->setExtensionContext(context);
    controller->loadViewIfNeeded();
    check(platform::MainRunLoop::runUntilIdle(std::chrono::seconds(20)), "the intake settles");
    check(controller->capturedText() == bytes, "the shared text reaches the controller unchanged");

    const platform::AttributedText& shown = controller->textView()->attributedText();
    check(shown.string() == title + "\n" + bytes,
          "the text view shows the title line, a line feed and the text");
    const double titleSize =
        platform::Font::preferredFontForTextStyle(platform::TextStyle::largeTitle).pointSize();
    const double bodySize =
        platform::Font::preferredFontForTextStyle(platform::TextStyle::body).pointSize();
    const std::uint64_t titleEnd = title.size() + 1;
    for (const platform::AttributeRun& run : shown.runs(platform::NSFontAttributeName)) {
        const platform::Font* font = run.value ? run.value->font() : nullptr;
        check(font != nullptr, "every character of the text view has a font");
        const bool inTitle = run.range.location < titleEnd;
        check(!inTitle || run.range.end() <= titleEnd, "no font run crosses the title's end");
        check(font->isBold() == inTitle, "the title part is bold and the body is not");
        check(font->pointSize() == (inTitle ? titleSize : bodySize),
              "the title at the large-title size, the body at the body size");
    }
}

}  // namespace

int titleLineOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const platform::String text(bytes);
    const platform::String title = quorvane::titleLine(text);
    const std::string expected = referenceTitleLine(bytes);
    check(title == expected, "titleLine agrees with the reference");
    check(title.empty() || title.storageIdentity() == text.storageIdentity(),
          "the title shares the text's characters");
    const std::optional<std::size_t> firstInvalid = referenceFirstInvalid(bytes);
    check(host::firstInvalidUtf8(bytes) == firstInvalid,
          "the host's UTF-8 check flags the first byte that does not decode");
    // The same check fed as a stream, cut where the input's first bytes say: the vectorised
    // blocks and the walk around each cut find the same byte.
    {
        host::Utf8StreamCheck stream;
        std::optional<std::uint64_t> found;
        const std::size_t cuts[] = {size > 0 ? data[0] % (size + 1) : 0,
                                    size > 1 ? (data[0] + 31 * data[1]) % (size + 1) : size};
        for (std::size_t cut : cuts) {
            if (!found && cut >= stream.checked())
                found = stream.feed(std::string_view(bytes).substr(0, cut));
        }
        if (!found)
            found = stream.finish(bytes);
        check(found == (firstInvalid ? std::optional<std::uint64_t>(*firstInvalid) : std::nullopt),
              "the stream check flags the same byte wherever the stream is cut");
    }
    checkIntake(bytes, expected);
    return 0;
}

}  // namespace fuzzing

#ifdef QUORVANE_LIBFUZZER
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    return fuzzing::titleLineOneInput(data, size);
}
#endif
