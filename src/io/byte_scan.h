// Finding bytes in blocks of Windows-1252 text: where the readers split
// fields and lines, and which bytes the XML writer must escape. Each scan
// answers a bit mask, bit i for byte i, so that a caller walks the bytes it
// looks for instead of testing every byte. SSE2 does a block in a few
// instructions; the portable forms give the same answers anywhere.
#ifndef PELLAR_IO_BYTE_SCAN_H_
#define PELLAR_IO_BYTE_SCAN_H_

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace pellar {

// Where two bytes occur in a block.
struct ByteMasks {
  uint64_t a = 0;
  uint64_t b = 0;
};

// The positions of `a` and of `b` in the 64 bytes at `p`.
inline ByteMasks FindBytes64Portable(const char* p, char a, char b) {
  constexpr uint64_t kOnes = 0x0101010101010101, kLow7 = kOnes * 0x7F;
  const uint64_t pattern_a = kOnes * static_cast<unsigned char>(a);
  const uint64_t pattern_b = kOnes * static_cast<unsigned char>(b);
  // The high bit of each zero byte of `t`, exactly; then the eight high
  // bits gathered into one byte, byte i giving bit i.
  const auto zero_bits = [](uint64_t t) {
    const uint64_t flags = ~(((t & kLow7) + kLow7) | t | kLow7);
    return ((flags >> 7) * 0x0102040810204080) >> 56;
  };
  ByteMasks masks;
  for (int i = 0; i < 8; ++i) {
    // Byte k of the word is byte k of the block in either byte order.
    uint64_t word = 0;
    if constexpr (std::endian::native == std::endian::little) {
      std::memcpy(&word, p + 8 * i, 8);
    } else {
      for (int k = 0; k < 8; ++k) {
        word |= uint64_t{static_cast<unsigned char>(p[8 * i + k])} << (8 * k);
      }
    }
    masks.a |= zero_bits(word ^ pattern_a) << (8 * i);
    masks.b |= zero_bits(word ^ pattern_b) << (8 * i);
  }
  return masks;
}

// The positions of `a` and of `b` in the `n` (at most 64) bytes at `p`.
inline ByteMasks FindBytes64(const char* p, size_t n, char a, char b) {
  char padded[64];
  if (n < 64) {
    // Bits past the end are cleared below, whatever the padding holds.
    std::memset(padded, 0, sizeof padded);
    std::memcpy(padded, p, n);
    p = padded;
  }
  ByteMasks masks;
#if defined(__SSE2__)
  const __m128i pattern_a = _mm_set1_epi8(a);
  const __m128i pattern_b = _mm_set1_epi8(b);
  for (int i = 0; i < 4; ++i) {
    const __m128i v =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    const auto bits = [](__m128i eq) {
      return uint64_t{static_cast<uint16_t>(_mm_movemask_epi8(eq))};
    };
    masks.a |= bits(_mm_cmpeq_epi8(v, pattern_a)) << (16 * i);
    masks.b |= bits(_mm_cmpeq_epi8(v, pattern_b)) << (16 * i);
  }
#else
  masks = FindBytes64Portable(p, a, b);
#endif
  if (n < 64) {
    const uint64_t inside = (uint64_t{1} << n) - 1;
    masks.a &= inside;
    masks.b &= inside;
  }
  return masks;
}

// Whether the XML writer escapes Windows-1252 code `code`: "&", "<", ">",
// "'", '"', CR (which may start a CR LF) and every code from 127 up.
constexpr bool IsXmlSpecial(unsigned char code) {
  return code >= 0x7F || code == '&' || code == '<' || code == '>' ||
         code == '\'' || code == '"' || code == '\r';
}

// The positions of the bytes IsXmlSpecial among the 16 at `p`.
inline unsigned XmlSpecialMask16Portable(const char* p) {
  unsigned mask = 0;
  for (unsigned i = 0; i < 16; ++i) {
    if (IsXmlSpecial(static_cast<unsigned char>(p[i]))) mask |= 1u << i;
  }
  return mask;
}

inline unsigned XmlSpecialMask16(const char* p) {
#if defined(__SSE2__)
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const auto set = [](int c) { return _mm_set1_epi8(static_cast<char>(c)); };
  const auto is = [&v, &set](int c) { return _mm_cmpeq_epi8(v, set(c)); };
  // Pairs one bit apart share a test: "&" 0x26 and "'" 0x27, "<" 0x3C and
  // ">" 0x3E; codes from 127 up are those the unsigned maximum keeps.
  const auto pair = [&v, &set](int mask, int c) {
    return _mm_cmpeq_epi8(_mm_and_si128(v, set(mask)), set(c));
  };
  const __m128i high = _mm_cmpeq_epi8(_mm_max_epu8(v, set(0x7F)), v);
  const __m128i special = _mm_or_si128(
      _mm_or_si128(high, is('\r')),
      _mm_or_si128(is('"'), _mm_or_si128(pair(0xFE, '&'), pair(0xFD, '<'))));
  return static_cast<unsigned>(_mm_movemask_epi8(special));
#else
  return XmlSpecialMask16Portable(p);
#endif
}

}  // namespace pellar

#endif  // PELLAR_IO_BYTE_SCAN_H_
