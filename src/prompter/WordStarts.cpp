#include "prompter/WordStarts.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace prompter {

std::uint64_t countWordStartsByByte(const unsigned char* bytes, std::size_t size,
                                    unsigned& boundary) {
    std::uint64_t counted = 0;
    unsigned state = boundary;
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned c = bytes[i];
        const unsigned space = static_cast<unsigned>(c == ' ') | (c == '\t');
        const unsigned ideograph = static_cast<unsigned>(c - 0xE3u <= 6u);
        const unsigned continuation = static_cast<unsigned>((c & 0xC0u) == 0x80u);
        counted += ideograph | (state & ~space & ~continuation & 1u);
        state = space | ideograph | (state & continuation);
    }
    boundary = state;
    return counted;
}

#if defined(__SSE2__)

namespace {

// One bit a byte for 16 bytes, in the low 16 bits: which are spaces or tabs, ideograph leads,
// continuations.
struct Kinds {
    std::uint64_t space;
    std::uint64_t ideograph;
    std::uint64_t continuation;
};

[[gnu::always_inline]] inline Kinds kindsOf(const unsigned char* at) {
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
    const __m128i space =
        _mm_or_si128(_mm_cmpeq_epi8(c, _mm_set1_epi8(' ')), _mm_cmpeq_epi8(c, _mm_set1_epi8('\t')));
    // c - 0xE3 <= 6, unsigned, byte by byte.
    const __m128i fromFirst = _mm_sub_epi8(c, _mm_set1_epi8(static_cast<char>(0xE3)));
    const __m128i ideograph = _mm_cmpeq_epi8(_mm_min_epu8(fromFirst, _mm_set1_epi8(6)), fromFirst);
    // 0x80 to 0xBF are the signed bytes below -64.
    const __m128i continuation = _mm_cmplt_epi8(c, _mm_set1_epi8(-64));
    return {static_cast<std::uint64_t>(_mm_movemask_epi8(space)),
            static_cast<std::uint64_t>(_mm_movemask_epi8(ideograph)),
            static_cast<std::uint64_t>(_mm_movemask_epi8(continuation))};
}

// Bits set, without a call where the processor's own count may be missing.
[[gnu::always_inline]] inline std::uint64_t bitsSet(std::uint64_t x) {
    x -= (x >> 1) & 0x5555555555555555u;
    x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return (x * 0x0101010101010101u) >> 56;
}

// The words starting in the 64 bytes at `at`, the first `size` of them counted, and the state
// after the last of those. Whether a byte may start a word is a carry: a space or an ideograph
// sets it, a continuation byte passes on the one before it, any other byte clears it. So adding
// (sets | passes) + sets + carry-in ripples it through all 64 bytes at once, as a sum's carries
// ripple: the carry into each bit is that byte's state, the carry out of the top the last's.
[[gnu::always_inline]] inline std::uint64_t countStep(const unsigned char* at, std::size_t size,
                                                      std::uint64_t& carry) {
    std::uint64_t space = 0;
    std::uint64_t ideograph = 0;
    std::uint64_t passes = 0;
    for (int part = 0; part < 4; ++part) {
        const Kinds kinds = kindsOf(at + 16 * part);
        space |= kinds.space << (16 * part);
        ideograph |= kinds.ideograph << (16 * part);
        passes |= kinds.continuation << (16 * part);
    }
    const std::uint64_t sets = space | ideograph;
    const std::uint64_t partial = (sets | passes) + sets;
    const std::uint64_t sum = partial + carry;
    const std::uint64_t before = sum ^ passes;
    const std::uint64_t starts = ideograph | (before & ~space & ~passes);
    if (size == 64) {
        carry =
            static_cast<std::uint64_t>(partial < sets) | static_cast<std::uint64_t>(sum < partial);
        return bitsSet(starts);
    }
    carry = (before >> size) & 1u;  // the state before the first byte not counted
    return bitsSet(starts & ((std::uint64_t{1} << size) - 1));
}

}  // namespace

std::uint64_t countWordStarts(const unsigned char* bytes, std::size_t size, unsigned& boundary) {
    if (size == 0)
        return 0;
    std::uint64_t counted = 0;
    std::uint64_t carry = boundary & 1u;
    std::size_t i = 0;
    for (; i + 64 <= size; i += 64)
        counted += countStep(bytes + i, 64, carry);
    if (i < size) {
        // The last bytes, copied to a step of their own; the bytes after them are never counted.
        unsigned char last[64];
        std::memset(last, 'a', sizeof last);
        std::memcpy(last, bytes + i, size - i);
        counted += countStep(last, size - i, carry);
    }
    boundary = static_cast<unsigned>(carry);
    return counted;
}

#else

std::uint64_t countWordStarts(const unsigned char* bytes, std::size_t size, unsigned& boundary) {
    return countWordStartsByByte(bytes, size, boundary);
}

#endif

}  // namespace prompter
