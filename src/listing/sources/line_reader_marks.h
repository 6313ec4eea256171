// The marks of a chunk: where ':' and '=' stand after two letters, and NULs,
// found a block of 64 bytes at a time, with AVX2 where the processor has it. The
// line reader searches each chunk it reads with them; a line that lies in no
// chunk is searched 16 bytes at a time (mark_bits16).
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include "listing/sources/mark_filter.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

inline constexpr std::size_t k_read_chunk = 1 << 16;
// The chunk is searched for ':' and '=' a block of this many bytes at a time.
inline constexpr std::size_t k_mark_block = 64;
static_assert(k_read_chunk % k_mark_block == 0);

// The admitted marks of one chunk.
struct chunk_marks {
  bool ready = false;    // false after a refill, until the chunk is searched
  bool has_nul = false;  // the chunk holds a NUL; known once ready
  // The admitted ':' and '=' of the chunk, bit i of word b for byte i of block b.
  // Only the words of blocks set in marked_blocks are other than 0.
  std::array<uint64_t, k_read_chunk / k_mark_block> bits{};
  // Bit b set when block b holds an admitted mark, so that a search for the next
  // one skips a run of blocks without in a few steps.
  std::array<uint64_t, k_read_chunk / k_mark_block / 64> marked_blocks{};
  // A mailbox's chunks only: bit b set when block b may hold an 'F' that starts a
  // line (block 0 always), found with the marks; a separator starts with one.
  std::array<uint64_t, k_read_chunk / k_mark_block / 64> line_start_f_blocks{};
};

// Bit i set when bytes[i] is ':' or '=', for the 16 bytes at `bytes`: all sixteen
// at once where the processor has SSE2, as every x86-64 does.
inline uint32_t mark_bits16(const char* bytes) {
#ifdef __SSE2__
  __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
  __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(block, _mm_set1_epi8(':')),
                              _mm_cmpeq_epi8(block, _mm_set1_epi8('=')));
  return static_cast<uint32_t>(_mm_movemask_epi8(hits));
#else
  uint32_t bits = 0;
  for (int i = 0; i < 16; ++i) {
    if (bytes[i] == ':' || bytes[i] == '=') bits |= 1u << i;
  }
  return bits;
#endif
}

// Finds the admitted marks and the NULs of the `size` bytes of `chunk` (a buffer
// of k_read_chunk bytes, aligned to k_mark_block) into `marks`, the widest way the
// processor allows; with `line_starts` (a mailbox) also line_start_f_blocks.
void find_chunk_marks(chunk_marks& marks, const char* chunk, std::size_t size,
                      const mark_filter& filter, bool line_starts);

// The marks ':' and '=', and the NULs, of the k_mark_block bytes at `block`
// (aligned to k_mark_block), bit i for byte i: what a chunk is searched for.
struct block_marks {
  uint64_t marks = 0;
  uint64_t nuls = 0;
};
// Whether the block holds a mark or a NUL at all: most blocks of a body do not,
// and are passed over after this. Each of the three routines below comes in a
// form with the widest instructions the processor has, and a _baseline form with
// SSE2 alone (byte by byte without it), as every processor can run.
bool holds_mark_or_nul(const char* block);
bool holds_mark_or_nul_baseline(const char* block);
block_marks search_block(const char* block);
block_marks search_block_baseline(const char* block);
// Bit i set when byte i of the block is an ASCII letter; looked for only in
// blocks that hold a mark.
uint64_t letters_of_block(const char* block);
uint64_t letters_of_block_baseline(const char* block);
// Whether an LF is followed by an 'F' among the 65 bytes at `from`: for a block,
// `from` is the byte before it, so that an 'F' at its start is judged too.
bool holds_lf_then_f(const char* from);
bool holds_lf_then_f_baseline(const char* from);

// The first block from `block` on whose bit is set in `bits`, or the number of
// blocks a chunk can have when there is none.
inline std::size_t first_block_from(const std::array<uint64_t, k_read_chunk / k_mark_block / 64>& bits,
                             std::size_t block) {
  for (std::size_t next = block; next / 64 < bits.size(); next = (next / 64 + 1) * 64) {
    uint64_t ahead = bits[next / 64] >> (next % 64);
    if (ahead != 0) return next + static_cast<std::size_t>(std::countr_zero(ahead));
  }
  return k_read_chunk / k_mark_block;
}
