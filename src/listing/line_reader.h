// Line reader for message files: raw bytes in, text-mode lines out.
//
// CR LF becomes LF as a text-mode read makes it, so records are the same on every
// platform; a lone CR and Ctrl-Z are ordinary bytes, except in a file whose first
// chunk holds CRs but no LF, whose lines end in a bare CR (a mailbox of them splits
// as any other, its offsets, sizes and digests those of the bytes as stored). One read delivers at most
// k_field_capacity characters, its line end included, so a longer line arrives in
// pieces. A line's text ends at its first NUL byte.
//
// Besides reading every line, the reader can pass over the lines that hold neither
// ':' nor '=' without copying them: no header rule can match such a line, and most
// body lines are of that kind.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "INCLUDE_U/text.h"
#include "listing/file_hashes.h"
#include "listing/matcher.h"
#include "listing/read_ahead.h"
#include "platform/platform.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

// Capacity of a message line and of each message field.
inline constexpr std::size_t k_field_capacity = 32767;
using field_text = bounded_text<k_field_capacity>;

// One line as read: its text without the line end, and whether a line end
// followed the text (false for a piece of a long line, a last line without a line
// end, and a line cut at a NUL byte).
struct message_line {
  field_text text;
  bool line_end = false;
};

inline constexpr std::size_t k_read_chunk = 1 << 16;
// The chunk is searched for ':' and '=' a block of this many bytes at a time.
inline constexpr std::size_t k_mark_block = 64;
static_assert(k_read_chunk % k_mark_block == 0);

// State of one open message file. One instance is reused for every file, so
// nothing is allocated per file. The buffer holds the bytes as stored; CR LF is
// turned into LF as lines are handed out.
struct line_reader {
  read_handle file = k_no_file;
  alignas(k_mark_block) std::array<char, k_read_chunk> buffer{};
  std::size_t pos = 0;         // next byte to hand out; always the start of a line or piece
  std::size_t end = 0;         // end of the bytes that may be handed out
  bool held_cr = false;        // a CR after `end`, kept for the next chunk
  bool at_eof = false;         // the file has delivered its last byte (or failed)
  bool read_failed = false;    // a read failed: the end came early
  bool chunk_has_nul = false;  // the chunk holds a NUL; known once marks_ready
  bool replay = false;         // the next read hands back `stepped_back`
  // The admitted ':' and '=' of the chunk, bit i of word b for byte i of block b,
  // worked out for a whole chunk at once when it is first searched. Only the
  // words of blocks set in marked_blocks are other than 0.
  std::array<uint64_t, k_read_chunk / k_mark_block> marks{};
  // Bit b set when block b holds an admitted mark, so that a search for the next
  // one skips a run of blocks without in a few steps.
  std::array<uint64_t, k_read_chunk / k_mark_block / 64> marked_blocks{};
  bool marks_ready = false;  // false after a refill, until the chunk is searched
  // A mailbox's chunks only: bit b set when block b may hold an 'F' that starts a
  // line (block 0 always), found with the marks; a separator starts with one.
  std::array<uint64_t, k_read_chunk / k_mark_block / 64> line_start_f_blocks{};
  // Bytes the file is known to hold (-1 when unknown): a short read that reaches
  // it ends the file without one more read to learn so.
  int64_t expected_size = -1;
  int64_t bytes_read = 0;
  // Set on close: the file was read to its end, and its end was not at the size
  // it was known to hold (it changed while it was read).
  bool size_changed = false;
  uint64_t chunks_read = 0;  // chunks of this file read so far
  // Whether the reads are timed, and the nanoseconds this file's reads took.
  bool time_reads = false;
  int64_t read_ns = 0;
  // Whether the first chunk has been judged, and whether it made the lines end
  // in a bare CR (it held CRs but no LF).
  bool line_ends_known = false;
  bool cr_line_ends = false;
  // Digests fed with every byte read, as stored; null when none is wanted.
  file_hashes* hashes = nullptr;
  // Where the line last read by read_line began, while the buffer still holds
  // it whole (any refill forgets it): a step back then just goes back there.
  static constexpr std::size_t k_no_rewind = ~std::size_t{0};
  std::size_t rewind_pos = k_no_rewind;
  message_line stepped_back;
  // Mailboxes. Set before the first read, to the filter read_marked_line is given:
  // a file whose first line is a separator is then read one message at a time,
  // each message ending the reads as a file would. Its chunks are searched for
  // marks as they are read, and for the lines that start with 'F' in the same pass.
  const mark_filter* split_mailbox = nullptr;
  bool mailbox = false;  // the file is one; known after the first read
  // The chunk's bytes end here; `end` stops short of it where a message ends.
  std::size_t chunk_end = 0;
  int64_t chunk_offset = 0;    // where the chunk starts in the file
  int64_t message_offset = 0;  // where the message read now starts (its separator)
  // A mailbox's byte-order mark and empty lines before its first separator.
  int64_t bytes_before_first_message = 0;
  // The last line of a chunk, when short, is held for the next one, so that a
  // separator is always judged whole: its bytes after chunk_end.
  std::size_t held_tail = 0;
  // The next chunk starts a line, and whether that line follows an empty one.
  bool next_starts_line = false;
  bool next_after_empty_line = false;
  bool starts_line = true;  // the same of the chunk read now
  bool after_empty_line = false;
  // A mailbox's digests cover each message's bytes: those before this position of
  // the chunk have been added.
  std::size_t hashed_to = 0;
  // A bare-CR mailbox only: bit i set when byte i of the chunk is an LF that was a
  // CR as stored.
  std::array<uint64_t, k_read_chunk / 64> turned_crs{};
  // A large mailbox is read ahead on a thread of its own (null otherwise); what
  // its failed read met is kept here once it has stopped.
  read_ahead* ahead = nullptr;
  failure_kind ahead_failure = failure_kind::none;
  std::string ahead_failure_reason;
};

// Opens the file for reading; false when it cannot be opened.
bool open_line_reader(line_reader& reader, const std::string& path);
// Reads from a file opened by the caller (k_no_file gives an empty file). When
// `size` is not negative it is the size the file was found to have.
void attach_line_reader(line_reader& reader, read_handle file, int64_t size = -1);
void close_line_reader(line_reader& reader);
// Reads the attached file ahead on a thread of its own from now on, where the
// system has one to spare.
void read_line_reader_ahead(line_reader& reader);
// Whether the open file was read to its end: no read failed and it held at
// least the bytes it was found to have (a file cut short while read did not).
bool read_to_end(const line_reader& reader);
// Reads the next line (or piece of a long line) into `line`; false at end of
// file or when the read fails, with `line` then empty.
bool read_line(line_reader& reader, message_line& line);
// After a read met the end of a message of a mailbox: adds the message's last
// bytes to the digests and finishes them (empty when the message was not read
// whole). For any other file, finishes them as the end of the file does.
void finish_message_hashes(line_reader& reader);
// The size in bytes of the message just read (from its separator up to the next
// one, or to the end of the file).
int64_t message_size(const line_reader& reader);
// Moves on to the next message of a mailbox once a read met the end of one;
// false at the end of the file (or for a file that is no mailbox).
bool next_message(line_reader& reader);
// Makes the next read hand back `line`, the line read_line has just read, as it
// was read.
void step_back(line_reader& reader, const message_line& line);

// The first byte the next read would hand out, when the buffer already holds it;
// -1 when it does not. A caller may then pass on a line without reading it.
inline int next_byte(const line_reader& reader) {
  if (reader.replay || reader.pos >= reader.end) return -1;
  return static_cast<unsigned char>(reader.buffer[reader.pos]);
}

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

// Finds the admitted marks and the NULs of the chunk in the reader's buffer
// (line_reader_marks.cpp), the widest way the processor allows; in a mailbox
// also line_start_f_blocks.
void find_chunk_marks(line_reader& reader, const mark_filter& filter);

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

enum class marked_read { line, next_chunk, end };
// Passes over the lines that hold no ':' or '=' after a pair of letters `filter`
// admits, and gives the next line (or piece) that holds one, or that could not be
// judged without reading it whole.
// `text` then points either into the reader's buffer (valid until the next read)
// or at `spare`, into which the line was read. Returns next_chunk without a line
// when it has read a new chunk and found nothing yet, so that a caller watching
// chunks_read hears from it however long the file; end at the end of the file.
marked_read read_marked_line(line_reader& reader, const mark_filter& filter, message_line& spare,
                             std::string_view& text);

// Whether `text`, handed out by read_marked_line, lies in the reader's buffer;
// its admitted marks are known then.
inline bool lies_in_chunk(const line_reader& reader, std::string_view text) {
  // Compared as numbers: the text may lie in another object altogether.
  auto at = reinterpret_cast<std::uintptr_t>(text.data());
  auto base = reinterpret_cast<std::uintptr_t>(reader.buffer.data());
  return at >= base && at + text.size() <= base + reader.end;
}

// Calls `visit` with the position in `text` (which lies in the chunk) of each of
// its admitted marks, in order. Lines are short, so their few blocks are looked
// at in place; this runs for every line handed out.
template <typename visitor>
void for_each_admitted_mark(const line_reader& reader, std::string_view text, visitor visit) {
  std::size_t start = static_cast<std::size_t>(text.data() - reader.buffer.data());
  std::size_t stop = start + text.size();
  for (std::size_t block = start / k_mark_block; block * k_mark_block < stop; ++block) {
    std::size_t first = block * k_mark_block;
    // The bytes of the block that belong to the line, chosen without a branch:
    // where a line starts and ends in its blocks is no pattern.
    std::size_t skip = first < start ? start - first : 0;
    // The block holds at least one byte of the line, so `keep` is 1 to 64.
    std::size_t keep = stop - first < k_mark_block ? stop - first : k_mark_block;
    uint64_t bits =
        reader.marks[block] & (~uint64_t{0} << skip) & (~uint64_t{0} >> (k_mark_block - keep));
    for (; bits != 0; bits &= bits - 1) {
      visit(first + static_cast<std::size_t>(std::countr_zero(bits)) - start);
    }
  }
}
