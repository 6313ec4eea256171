// The marks of a chunk: where ':' and '=' stand after two letters, and NULs,
// found a block of 64 bytes at a time, with AVX2 where the processor has it.
#include <bit>
#include <cstring>

#include "listing/sources/line_reader_marks.h"

#include <algorithm>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

// The bit of the mark at `i` of the block at `bytes`, which follows two letters,
// when `filter` admits it and `present`, else 0: judged without a branch on the
// outcome, which the processor could not foresee.
uint64_t admitted_bit(const char* bytes, int i, bool present, const mark_filter& filter) {
  const char* mark = bytes + i;
  return static_cast<uint64_t>(present & filter.admits_after_letters(mark[0], mark[-2], mark[-1]))
         << i;
}

// The marks of the block at `bytes` among `marks` (bit i for its byte i, none
// before byte 2) that `filter` admits. A block with marks after letters mostly
// holds one or two: those two are judged whether they are there or not, so that
// the loop's end is a branch the processor can foresee.
[[gnu::always_inline]] inline uint64_t admitted_marks(const char* bytes, uint64_t marks,
                                                      const mark_filter& filter) {
  // In place of a missing mark, the block's last byte is judged (whatever it
  // is), and dropped.
  constexpr uint64_t k_stand_in = uint64_t{1} << 63;
  uint64_t admitted = admitted_bit(bytes, std::countr_zero(marks | k_stand_in), marks != 0, filter);
  marks &= marks - 1;
  admitted |= admitted_bit(bytes, std::countr_zero(marks | k_stand_in), marks != 0, filter);
  marks &= marks - 1;
  for (; marks != 0; marks &= marks - 1) {
    admitted |= admitted_bit(bytes, std::countr_zero(marks), true, filter);
  }
  return admitted;
}

// Bits 63 and 62 set when the last and the one but last byte before `bytes` are
// letters: what a mark at the start of a block is judged by.
uint64_t letters_just_before(const char* bytes) {
  return static_cast<uint64_t>(k_letter_keys[static_cast<unsigned char>(bytes[-1])] != 0) << 63 |
         static_cast<uint64_t>(k_letter_keys[static_cast<unsigned char>(bytes[-2])] != 0) << 62;
}

// One chunk's blocks, in two passes. The first tells with the fewest
// instructions (`quiet`: 1 when a block holds neither) which blocks hold a mark
// or a NUL at all, as most blocks of a body hold neither, and notes them in a
// bitmap without a branch per block, whose outcome the processor could not
// foresee. The second goes through the blocks so noted: `search` finds their
// marks and NULs, and where they hold a mark `letters` finds the letters, since
// the filter judges only marks after two letters, as every literal's mark is;
// most marks in bodies are not, and are passed over without a table look-up.
// In a mailbox, the first pass also notes the blocks that may hold an 'F' after
// an LF (`lf_then_f`), which is how a separator starts: the search for the
// separators then looks at those blocks alone, and the bytes are loaded once.
template <bool mailbox, typename quiet_test, typename block_search, typename letter_search,
          typename line_start_test>
[[gnu::always_inline]] inline void find_marks_of_chunk(chunk_marks& out, const char* base,
                                                       std::size_t size,
                                                       const mark_filter& filter, quiet_test quiet,
                                                       block_search search, letter_search letters,
                                                       line_start_test lf_then_f) {
  // The whole chunk: a mailbox's next message lies in it too.
  std::size_t blocks = (size + k_mark_block - 1) / k_mark_block;
  std::array<uint64_t, k_read_chunk / k_mark_block / 64> busy{};
  // Only the blocks with admitted marks have marks kept: clearing just those is
  // cheaper than clearing the chunk's whole table.
  for (std::size_t word = 0; word < out.marked_blocks.size(); ++word) {
    for (uint64_t bits = out.marked_blocks[word]; bits != 0; bits &= bits - 1) {
      out.bits[word * 64 + static_cast<std::size_t>(std::countr_zero(bits))] = 0;
    }
  }
  if constexpr (mailbox) out.line_start_f_blocks.fill(0);
  for (std::size_t first = 0; first < blocks; first += 64) {
    // Gathered in a register: a bitmap in memory would make each block wait for
    // the last one's store.
    uint64_t quiet_bits = 0;
    uint64_t line_starts = 0;
    std::size_t count = std::min<std::size_t>(64, blocks - first);
    // Four blocks a round, the last round reaching past the chunk's end into the
    // buffer (whose blocks come in fours); what lies past the end is dropped.
    static_assert(k_read_chunk / k_mark_block % 4 == 0);
    for (std::size_t i = 0; i < count; i += 4) {
      const char* at = base + (first + i) * k_mark_block;
      uint64_t four = static_cast<uint64_t>(quiet(at)) |
                      static_cast<uint64_t>(quiet(at + k_mark_block)) << 1 |
                      static_cast<uint64_t>(quiet(at + 2 * k_mark_block)) << 2 |
                      static_cast<uint64_t>(quiet(at + 3 * k_mark_block)) << 3;
      quiet_bits |= four << i;
      if constexpr (mailbox) {
        // The buffer's first block has no byte before it: it is always looked at.
        const char* before = at == base ? at : at - 1;
        uint64_t starts = static_cast<uint64_t>(lf_then_f(before) | (at == base)) |
                          static_cast<uint64_t>(lf_then_f(at + k_mark_block - 1)) << 1 |
                          static_cast<uint64_t>(lf_then_f(at + 2 * k_mark_block - 1)) << 2 |
                          static_cast<uint64_t>(lf_then_f(at + 3 * k_mark_block - 1)) << 3;
        line_starts |= starts << i;
      }
    }
    uint64_t bits = ~quiet_bits;
    if (count < 64) {
      bits &= (uint64_t{1} << count) - 1;
      line_starts &= (uint64_t{1} << count) - 1;
    }
    busy[first / 64] = bits;
    if constexpr (mailbox) out.line_start_f_blocks[first / 64] = line_starts;
  }
  // Bytes after the chunk's end belong to no line of it.
  std::size_t tail = size % k_mark_block;
  uint64_t last_block_bytes = tail == 0 ? ~uint64_t{0} : (uint64_t{1} << tail) - 1;
  uint64_t nuls = 0;
  out.marked_blocks.fill(0);
  for (std::size_t word = 0; word < busy.size(); ++word) {
    for (uint64_t bits = busy[word]; bits != 0; bits &= bits - 1) {
      std::size_t b = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
      const char* bytes = base + b * k_mark_block;
      block_marks found = search(bytes);
      if (b + 1 == blocks) {
        found.marks &= last_block_bytes;
        found.nuls &= last_block_bytes;
      }
      nuls |= found.nuls;
      if (found.marks == 0) continue;
      // The chunk's first two bytes have nothing before them to judge a mark by.
      uint64_t before = b == 0 ? 0 : letters_just_before(bytes);
      uint64_t letter_bits = letters(bytes);
      uint64_t after_two_letters =
          (letter_bits << 1 | before >> 63) & (letter_bits << 2 | before >> 62);
      uint64_t admitted = admitted_marks(bytes, found.marks & after_two_letters, filter);
      out.bits[b] = admitted;
      out.marked_blocks[word] |= static_cast<uint64_t>(admitted != 0) << (b % 64);
    }
  }
  out.has_nul = nuls != 0;
  out.ready = true;
}

#ifdef __SSE2__
// Bit i set for each byte of the 16 at `bytes` that is an ASCII letter: in
// either case it lies 0 to 25 above 'a' once bit 5 is set.
inline uint32_t letter_bits16(const char* bytes) {
  __m128i block = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes));
  __m128i from_a = _mm_sub_epi8(_mm_or_si128(block, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
  __m128i letter = _mm_cmpeq_epi8(_mm_min_epu8(from_a, _mm_set1_epi8(25)), from_a);
  return static_cast<uint32_t>(_mm_movemask_epi8(letter));
}
#endif

}  // namespace

block_marks search_block_baseline(const char* block) {
  block_marks found;
#ifdef __SSE2__
  for (std::size_t i = 0; i < k_mark_block; i += 16) {
    __m128i bytes = _mm_load_si128(reinterpret_cast<const __m128i*>(block + i));
    uint32_t nuls =
        static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_setzero_si128())));
    found.marks |= static_cast<uint64_t>(mark_bits16(block + i)) << i;
    found.nuls |= static_cast<uint64_t>(nuls) << i;
  }
#else
  for (std::size_t i = 0; i < k_mark_block; ++i) {
    char c = block[i];
    found.marks |= static_cast<uint64_t>(c == ':' || c == '=') << i;
    found.nuls |= static_cast<uint64_t>(c == '\0') << i;
  }
#endif
  return found;
}

uint64_t letters_of_block_baseline(const char* block) {
  uint64_t letters = 0;
#ifdef __SSE2__
  for (std::size_t i = 0; i < k_mark_block; i += 16) {
    letters |= static_cast<uint64_t>(letter_bits16(block + i)) << i;
  }
#else
  for (std::size_t i = 0; i < k_mark_block; ++i) {
    letters |= static_cast<uint64_t>(is_ascii_letter(block[i])) << i;
  }
#endif
  return letters;
}

bool holds_mark_or_nul_baseline(const char* block) {
#ifdef __SSE2__
  __m128i hits = _mm_setzero_si128();
  for (std::size_t i = 0; i < k_mark_block; i += 16) {
    __m128i bytes = _mm_load_si128(reinterpret_cast<const __m128i*>(block + i));
    hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(':')));
    hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, _mm_set1_epi8('=')));
    hits = _mm_or_si128(hits, _mm_cmpeq_epi8(bytes, _mm_setzero_si128()));
  }
  return _mm_movemask_epi8(hits) != 0;
#else
  block_marks found = search_block_baseline(block);
  return (found.marks | found.nuls) != 0;
#endif
}

// An LF and the 'F' after it, as one 16-bit word: the pairs are compared whole,
// those that start at the even places of the 65 bytes in one load, those that
// start at the odd places in a load one byte on.
constexpr short k_lf_then_f = '\n' | 'F' << 8;

bool holds_lf_then_f_baseline(const char* from) {
#ifdef __SSE2__
  __m128i hits = _mm_setzero_si128();
  for (std::size_t i = 0; i < k_mark_block; i += 16) {
    __m128i even = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i));
    __m128i odd = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i + 1));
    hits = _mm_or_si128(hits, _mm_or_si128(_mm_cmpeq_epi16(even, _mm_set1_epi16(k_lf_then_f)),
                                           _mm_cmpeq_epi16(odd, _mm_set1_epi16(k_lf_then_f))));
  }
  return _mm_movemask_epi8(hits) != 0;
#else
  bool hit = false;
  for (std::size_t i = 0; i < k_mark_block; ++i) hit |= from[i] == '\n' && from[i + 1] == 'F';
  return hit;
#endif
}

namespace {

template <bool mailbox>
void marks_pass_baseline(chunk_marks& out, const char* base, std::size_t size,
                         const mark_filter& filter) {
  find_marks_of_chunk<mailbox>(
      out, base, size, filter, [](const char* block) { return !holds_mark_or_nul_baseline(block); },
      search_block_baseline, letters_of_block_baseline, holds_lf_then_f_baseline);
}

void find_marks_baseline(chunk_marks& out, const char* base, std::size_t size,
                         const mark_filter& filter, bool line_starts) {
  if (line_starts) {
    marks_pass_baseline<true>(out, base, size, filter);
  } else {
    marks_pass_baseline<false>(out, base, size, filter);
  }
}

#if defined(__GNUC__) && defined(__x86_64__)
// The same 32 bytes at a time, for processors that have AVX2; the build itself
// assumes no more than SSE2, so the choice is made at run time.
__attribute__((target("avx2"))) inline block_marks search_block_avx2(const char* block) {
  block_marks found;
  for (std::size_t i = 0; i < k_mark_block; i += 32) {
    __m256i bytes = _mm256_load_si256(reinterpret_cast<const __m256i*>(block + i));
    __m256i marks = _mm256_or_si256(_mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(':')),
                                    _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8('=')));
    __m256i nuls = _mm256_cmpeq_epi8(bytes, _mm256_setzero_si256());
    found.marks |= static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(marks))) << i;
    found.nuls |= static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(nuls))) << i;
  }
  return found;
}

__attribute__((target("avx2"))) inline uint64_t letters_of_block_avx2(const char* block) {
  uint64_t letters = 0;
  for (std::size_t i = 0; i < k_mark_block; i += 32) {
    __m256i bytes = _mm256_load_si256(reinterpret_cast<const __m256i*>(block + i));
    __m256i from_a =
        _mm256_sub_epi8(_mm256_or_si256(bytes, _mm256_set1_epi8(0x20)), _mm256_set1_epi8('a'));
    __m256i letter = _mm256_cmpeq_epi8(_mm256_min_epu8(from_a, _mm256_set1_epi8(25)), from_a);
    letters |= static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(letter))) << i;
  }
  return letters;
}

// One look-up per byte instead of three comparisons: indexed by a byte's low four
// bits, the table holds the one byte with those bits that is looked for (NUL,
// ':' or '='), or 0x80, which no byte with those bits equals. Bytes from 0x80 up
// look up 0 and never equal it either.
__attribute__((target("avx2"))) inline unsigned block_is_quiet_avx2(const char* block) {
  const __m256i k_wanted = _mm256_setr_epi8(
      0, -128, -128, -128, -128, -128, -128, -128, -128, -128, ':', -128, -128, '=', -128, -128, 0,
      -128, -128, -128, -128, -128, -128, -128, -128, -128, ':', -128, -128, '=', -128, -128);
  __m256i first = _mm256_load_si256(reinterpret_cast<const __m256i*>(block));
  __m256i second = _mm256_load_si256(reinterpret_cast<const __m256i*>(block + 32));
  __m256i hits = _mm256_or_si256(_mm256_cmpeq_epi8(_mm256_shuffle_epi8(k_wanted, first), first),
                                 _mm256_cmpeq_epi8(_mm256_shuffle_epi8(k_wanted, second), second));
  return static_cast<unsigned>(_mm256_testz_si256(hits, hits));
}
static_assert(k_mark_block == 64, "block_is_quiet_avx2 reads two 32-byte halves");

__attribute__((target("avx2"))) inline bool holds_lf_then_f_avx2(const char* from) {
  __m256i hits = _mm256_setzero_si256();
  for (std::size_t i = 0; i < k_mark_block; i += 32) {
    __m256i even = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i));
    __m256i odd = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from + i + 1));
    hits = _mm256_or_si256(
        hits, _mm256_or_si256(_mm256_cmpeq_epi16(even, _mm256_set1_epi16(k_lf_then_f)),
                              _mm256_cmpeq_epi16(odd, _mm256_set1_epi16(k_lf_then_f))));
  }
  return !_mm256_testz_si256(hits, hits);
}

template <bool mailbox>
__attribute__((target("avx2"))) void marks_pass_avx2(chunk_marks& out, const char* base,
                                                     std::size_t size,
                                                     const mark_filter& filter) {
  find_marks_of_chunk<mailbox>(
      out, base, size, filter,
      [](const char* block) __attribute__((target("avx2"))) { return block_is_quiet_avx2(block); },
      [](const char* block) __attribute__((target("avx2"))) { return search_block_avx2(block); },
      [](const char* block)
          __attribute__((target("avx2"))) { return letters_of_block_avx2(block); },
      [](const char* from) __attribute__((target("avx2"))) { return holds_lf_then_f_avx2(from); });
}

void find_marks_avx2(chunk_marks& out, const char* base, std::size_t size,
                     const mark_filter& filter, bool line_starts) {
  if (line_starts) {
    marks_pass_avx2<true>(out, base, size, filter);
  } else {
    marks_pass_avx2<false>(out, base, size, filter);
  }
}

using find_marks_function = void (*)(chunk_marks&, const char*, std::size_t, const mark_filter&,
                                     bool);

find_marks_function widest_find_marks() {
  // The processor's features are known only once this has run; a constructor of
  // the program may run first.
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? find_marks_avx2 : find_marks_baseline;
}

const find_marks_function k_find_marks = widest_find_marks();
#else
constexpr auto k_find_marks = find_marks_baseline;
#endif

}  // namespace

void find_chunk_marks(chunk_marks& marks, const char* chunk, std::size_t size,
                      const mark_filter& filter, bool line_starts) {
  k_find_marks(marks, chunk, size, filter, line_starts);
}

bool holds_mark_or_nul(const char* block) {
#if defined(__GNUC__) && defined(__x86_64__)
  if (k_find_marks == find_marks_avx2) return !block_is_quiet_avx2(block);
#endif
  return holds_mark_or_nul_baseline(block);
}

block_marks search_block(const char* block) {
#if defined(__GNUC__) && defined(__x86_64__)
  if (k_find_marks == find_marks_avx2) return search_block_avx2(block);
#endif
  return search_block_baseline(block);
}

uint64_t letters_of_block(const char* block) {
#if defined(__GNUC__) && defined(__x86_64__)
  if (k_find_marks == find_marks_avx2) return letters_of_block_avx2(block);
#endif
  return letters_of_block_baseline(block);
}

bool holds_lf_then_f(const char* from) {
#if defined(__GNUC__) && defined(__x86_64__)
  if (k_find_marks == find_marks_avx2) return holds_lf_then_f_avx2(from);
#endif
  return holds_lf_then_f_baseline(from);
}

