// Finding bytes in a chunk, 64 and 16 bytes at a time where the processor has
// SSE2: the line ends and the separator lines' first letters the line reader
// looks for. Inline, as each is a hot loop of its caller.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#ifdef __SSE2__
// Bit i set when bytes[i] is `c`, for the 64 bytes at `bytes`.
inline uint64_t byte_bits64(const char* bytes, char c) {
  __m128i wanted = _mm_set1_epi8(c);
  uint64_t bits = 0;
  for (int i = 0; i < 64; i += 16) {
    __m128i part = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
    bits |= static_cast<uint64_t>(
                static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(part, wanted))))
            << i;
  }
  return bits;
}

// Bit i set where bytes[i] is 'F' and bytes[i-1] an LF, for the 64 bytes at
// `bytes` (bit 0 by `after_lf`, whether the byte before them is an LF): one load
// of each 16 bytes for both.
inline uint64_t line_start_f_bits64(const char* bytes, bool after_lf) {
  __m128i lf = _mm_set1_epi8('\n');
  __m128i f = _mm_set1_epi8('F');
  uint64_t lfs = 0;
  uint64_t fs = 0;
  for (int i = 0; i < 64; i += 16) {
    __m128i part = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes + i));
    lfs |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(part, lf))))
           << i;
    fs |= static_cast<uint64_t>(static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(part, f))))
          << i;
  }
  return fs & (lfs << 1 | static_cast<uint64_t>(after_lf));
}
#else
inline uint64_t line_start_f_bits64(const char* bytes, bool after_lf) {
  uint64_t bits = 0;
  bool after = after_lf;
  for (int i = 0; i < 64; ++i) {
    bits |= static_cast<uint64_t>(after && bytes[i] == 'F') << i;
    after = bytes[i] == '\n';
  }
  return bits;
}
#endif

// Place of the first `c` in [from, from + n), or null: 64 and then 16 bytes at a
// time where the processor has SSE2. Lines are short, so one look at 64 bytes
// mostly finds their end, and how many looks a line takes is seldom a surprise.
inline const char* find_first(const char* from, std::size_t n, char c) {
  const char* p = from;
  const char* end = from + n;
#ifdef __SSE2__
  for (; end - p >= 64; p += 64) {
    uint64_t hits = byte_bits64(p, c);
    if (hits != 0) return p + std::countr_zero(hits);
  }
  __m128i wanted = _mm_set1_epi8(c);
  for (; end - p >= 16; p += 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted)));
    if (hits != 0) return p + std::countr_zero(hits);
  }
#endif
  for (; p != end; ++p) {
    if (*p == c) return p;
  }
  return nullptr;
}

// Place of the last `c` in [from, from + n), or null: as find_first does. The
// bytes from `readable` (at most `from`) on may be loaded, though only those from
// `from` on count: a line end is then mostly found in one look at the 64 bytes
// before the end, however near `from` that is.
inline const char* find_last(const char* readable, const char* from, std::size_t n, char c) {
  const char* p = from + n;
#ifdef __SSE2__
  while (p > from && p - readable >= 64) {
    const char* window = p - 64;
    uint64_t hits = byte_bits64(window, c);
    if (window < from) hits &= ~uint64_t{0} << (from - window);
    if (hits != 0) return window + (63 - std::countl_zero(hits));
    if (window <= from) return nullptr;
    p = window;
  }
  __m128i wanted = _mm_set1_epi8(c);
  while (p - from >= 16) {
    p -= 16;
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    unsigned hits = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted)));
    if (hits != 0) return p + (31 - std::countl_zero(hits));
  }
#else
  (void)readable;
#endif
  while (p != from) {
    if (*--p == c) return p;
  }
  return nullptr;
}
