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
#include "listing/sources/file_hashes.h"
#include "listing/sources/line_reader_marks.h"
#include "listing/sources/mark_filter.h"
#include "listing/sources/message_line.h"
#include "listing/sources/message_source.h"
#include "listing/sources/read_ahead.h"
#include "platform/platform.h"

// State of one open message file. One instance is reused for every file, so
// nothing is allocated per file. The buffer holds the bytes as stored; CR LF is
// turned into LF as lines are handed out.
static_assert(k_large_file == k_read_chunk, "a large file is one larger than a chunk");

struct line_reader {
  read_handle file = k_no_file;
  // Never cleared: every read sets the bytes it hands on, and a scan that meets
  // only small files then touches the buffer's first pages alone.
  alignas(k_mark_block) std::array<char, k_read_chunk> buffer;
  std::size_t pos = 0;         // next byte to hand out; always the start of a line or piece
  std::size_t end = 0;         // end of the bytes that may be handed out
  bool held_cr = false;        // a CR after `end`, kept for the next chunk
  bool at_eof = false;         // the file has delivered its last byte (or failed)
  bool read_failed = false;    // a read failed: the end came early
  bool replay = false;         // the next read hands back `stepped_back`
  // The chunk's marks, worked out for a whole chunk at once when it is first
  // searched (line_reader_marks.h).
  chunk_marks marks;
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
  // Where the bytes come from, and where a message of them ends (message_source.h);
  // a mailbox's cursor (mailbox_cursor.h) while the source is one.
  const message_source* source = &k_file_source;
  void* source_state = nullptr;  // what a source other than the file reads with
  // The source splits the file into messages (a mailbox): known after the first
  // chunk. Its chunks are then searched for the lines that start with 'F' too.
  bool mailbox = false;
  // The chunk's bytes end here; `end` stops short of it where a message ends.
  std::size_t chunk_end = 0;
  int64_t chunk_offset = 0;    // where the chunk starts in the file
  int64_t message_offset = 0;  // where the message read now starts (its separator)
  // A mailbox's byte-order mark and empty lines before its first separator.
  int64_t bytes_before_first_message = 0;
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
// Reads from `source` instead of a file, which `state` tells it how (a source
// that makes its bytes in memory); `size` as for attach_line_reader.
void attach_source(line_reader& reader, const message_source& source, void* state,
                   int64_t size = -1);
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
// After a read met the end of a message: finishes its digests as its source says
// (empty when the message was not read whole).
inline void finish_message_hashes(line_reader& reader) { reader.source->finish_hashes(reader); }
// The size in bytes of the message just read (from its separator up to the next
// one, or to the end of the file).
int64_t message_size(const line_reader& reader);
// Moves on to the source's next message once a read met the end of one; false at
// the end of the file (or for a file that is no mailbox).
inline bool next_message(line_reader& reader) { return reader.source->next_message(reader); }

// For the sources (message_source.h).

// The file's next bytes through the platform's reads (or the read-ahead), timed
// when the reader's owner asks: the plain file's `read`.
int64_t read_file_bytes(line_reader& reader, char* into, int64_t wanted);
// The plain file's other routines, which a source of one message shares: its
// chunks are the message's whole, its digests finish at its end, and no message
// follows it.
bool next_file_chunk(line_reader& reader);
void finish_file_hashes_of(line_reader& reader);
bool no_next_message(line_reader& reader);
// Reads the next chunk through the source's `read` behind the `kept` bytes that
// already start the buffer (or the CR held back from the last chunk), judges the
// file's line ends on its first chunk, feeds the digests (when the reader has
// them) with the bytes as stored, holds back a CR at the chunk's end for its LF
// (a CR LF pair never spans two chunks), and turns a bare-CR file's CRs into the
// LFs the rest of the reader looks for. Sets `end` and `chunk_end` to the chunk's
// size; false when the source has no more. The plain file's next chunk.
bool read_chunk(line_reader& reader, std::size_t kept);
// The steps of read_chunk, for a source that takes them in an order of its own.
// Starts a chunk: the CR held back from the last one starts it; returns the
// bytes it starts with.
std::size_t begin_chunk(line_reader& reader);
// One read behind `kept` bytes; at the end (0 or -1) the chunk is those bytes.
int64_t read_into_chunk(line_reader& reader, std::size_t kept);
// Reads on into the chunk of `size` bytes until it is full or the file ends, or
// with `to_first_lf` only while it holds no LF: the file's line end is judged on
// the first chunk, and a mailbox's separators on whole lines, and how the system
// happens to cut its reads must change neither. Returns the chunk's size.
std::size_t top_up_chunk(line_reader& reader, std::size_t size, bool to_first_lf);
// A first chunk with CRs but no LF is an old Mac file: its lines end in a bare
// CR. Any file with an LF there keeps LF line ends and its lone CRs as bytes.
void judge_line_ends(line_reader& reader, std::size_t size);
// Holds back a CR that ends the chunk's `size` bytes, unless the file has ended;
// returns the size without it.
std::size_t hold_back_cr(line_reader& reader, std::size_t size);
// In a file of CR line ends, each CR in [0, size) that does not start a CR LF
// becomes an LF; the byte after each is known, or the file has ended. With
// `turned`, bit i notes that byte i was such a CR, so that digests can take the
// CR as stored.
void turn_lone_crs_into_lfs(char* bytes, std::size_t size, uint64_t* turned);
// Why the chunk and the reader's positions break their rules, or null when they
// keep them; checked after every chunk in a build with checks (make test-asan).
const char* chunk_fault(const line_reader& reader);
// Makes the next read hand back `line`, the line read_line has just read, as it
// was read.
void step_back(line_reader& reader, const message_line& line);

// The first byte the next read would hand out, when the buffer already holds it;
// -1 when it does not. A caller may then pass on a line without reading it.
inline int next_byte(const line_reader& reader) {
  if (reader.replay || reader.pos >= reader.end) return -1;
  return static_cast<unsigned char>(reader.buffer[reader.pos]);
}

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
        reader.marks.bits[block] & (~uint64_t{0} << skip) & (~uint64_t{0} >> (k_mark_block - keep));
    for (; bits != 0; bits &= bits - 1) {
      visit(first + static_cast<std::size_t>(std::countr_zero(bits)) - start);
    }
  }
}
