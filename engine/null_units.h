#pragma once
// Finds the nulls of a UTF-16 list thirty-two units at a time: with SSE2 where the processor has it (checked once
// at run time in a 32-bit x86 build, which may not assume it), else four units to a 64-bit word.

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(__i386__)
#include <emmintrin.h>
#endif

namespace pathlift {

inline constexpr std::size_t kNullScanUnits = 32;

// Two bits per unit of the four at bytes (any alignment), bits 2k and 2k + 1 both set when unit k is null.
inline std::uint64_t NullPairsOfFour(const unsigned char* bytes) noexcept {
    std::uint64_t word;
    std::memcpy(&word, bytes, sizeof(word));
    // A lane's top bit ends up set exactly when the lane is zero: adding 0x7FFF to its low fifteen bits carries
    // into the top bit unless they are all clear, and no lane's sum reaches into the next lane.
    constexpr std::uint64_t kLow = 0x7FFF7FFF7FFF7FFFu;
    const std::uint64_t tops = ~(((word & kLow) + kLow) | word) & ~kLow;
    if (tops == 0) {
        return 0;
    }
    std::uint64_t pairs = 0;
    for (unsigned k = 0; k < 4; ++k) {
        pairs |= ((tops >> (16 * k + 15)) & 1u) * (std::uint64_t{3} << (2 * k));
    }
    return pairs;
}

inline std::uint64_t NullPairsPortable(const unsigned char* bytes) noexcept {
    std::uint64_t pairs = 0;
    for (unsigned k = 0; k < kNullScanUnits / 4; ++k) {
        pairs |= NullPairsOfFour(bytes + 8 * k) << (8 * k);
    }
    return pairs;
}

#if defined(__SSE2__) || defined(__i386__)
#if !defined(__SSE2__)
__attribute__((target("sse2")))
#endif
inline std::uint64_t
NullPairsSse2(const unsigned char* bytes) noexcept {
    const __m128i zero = _mm_setzero_si128();
    const auto* blocks = reinterpret_cast<const __m128i*>(bytes);
    const __m128i a = _mm_cmpeq_epi16(_mm_loadu_si128(blocks), zero);
    const __m128i b = _mm_cmpeq_epi16(_mm_loadu_si128(blocks + 1), zero);
    const __m128i c = _mm_cmpeq_epi16(_mm_loadu_si128(blocks + 2), zero);
    const __m128i d = _mm_cmpeq_epi16(_mm_loadu_si128(blocks + 3), zero);
    if (_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(a, b), _mm_or_si128(c, d))) == 0) {
        return 0; // the common case: no name ends in these 32 units
    }
    return static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(a))) |
           static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(b))) << 16 |
           static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(c))) << 32 |
           static_cast<std::uint64_t>(static_cast<unsigned>(_mm_movemask_epi8(d))) << 48;
}
#endif

// Two bits per unit of the kNullScanUnits at bytes (any alignment), bits 2k and 2k + 1 set when unit k is null.
inline std::uint64_t NullPairs(const unsigned char* bytes) noexcept {
#if defined(__SSE2__)
    return NullPairsSse2(bytes);
#elif defined(__i386__)
    static const bool sse2 = (__builtin_cpu_init(), __builtin_cpu_supports("sse2") != 0);
    return sse2 ? NullPairsSse2(bytes) : NullPairsPortable(bytes);
#else
    return NullPairsPortable(bytes);
#endif
}

// The number of nulls in a mask of NullPairs.
inline std::size_t NullCount(std::uint64_t pairs) noexcept {
    std::uint64_t x = pairs & 0x5555555555555555u;
    x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
    x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Fu;
    return static_cast<std::size_t>((x * 0x0101010101010101u) >> 56);
}

// The unit of the lowest and of the highest null of a non-zero mask.
inline std::size_t FirstNull(std::uint64_t pairs) noexcept {
    return static_cast<std::size_t>(__builtin_ctzll(pairs)) / 2;
}
inline std::size_t LastNull(std::uint64_t pairs) noexcept {
    return static_cast<std::size_t>(63 - __builtin_clzll(pairs)) / 2;
}

} // namespace pathlift
