#include "listing/line_reader.h"

#include <algorithm>
#include <chrono>
#include <bit>
#include <cstring>

#include "listing/byte_search.h"
#include "listing/mailbox.h"

namespace {

// Makes `to` a copy of `from`.
void copy_line(message_line& to, const message_line& from) {
  std::memcpy(to.text.data(), from.text.c_str(), from.text.length + 1);
  to.text.length = from.text.length;
  to.line_end = from.line_end;
}

// One read of the file into the buffer, timed when the reader's owner asks: the
// time the reads alone take tells a cold disk from a busy core.
int64_t read_file_bytes(line_reader& reader, char* into, int64_t wanted) {
  if (reader.ahead) return read_ahead_bytes(*reader.ahead, into, wanted);
  if (!reader.time_reads) return g_platform.read_bytes(reader.file, into, wanted);
  auto started = std::chrono::steady_clock::now();
  int64_t got = g_platform.read_bytes(reader.file, into, wanted);
  reader.read_ns += std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::chrono::steady_clock::now() - started)
                        .count();
  return got;
}

// Reads on into the chunk until it is full or the file ends, or with
// `to_first_lf` only while it holds no LF: the file's line end is judged on the
// first chunk, and a mailbox's separators on whole lines, and how the system
// happens to cut its reads must change neither. Returns the chunk's size.
std::size_t top_up_chunk(line_reader& reader, std::size_t size, bool to_first_lf) {
  std::size_t searched = 0;
  while (!reader.at_eof && size < reader.buffer.size() &&
         !(to_first_lf && std::memchr(reader.buffer.data() + searched, '\n', size - searched))) {
    searched = size;
    int64_t wanted = static_cast<int64_t>(reader.buffer.size() - size);
    int64_t got = read_file_bytes(reader, reader.buffer.data() + size, wanted);
    if (got <= 0) {
      if (got < 0) reader.read_failed = true;
      reader.at_eof = true;
      break;
    }
    reader.bytes_read += got;
    if (got < wanted && reader.expected_size >= 0 && reader.bytes_read >= reader.expected_size) {
      reader.at_eof = true;
    }
    size += static_cast<std::size_t>(got);
  }
  return size;
}

// A first chunk with CRs but no LF is an old Mac file: its lines end in a bare
// CR. Any file with an LF there keeps LF line ends and its lone CRs as bytes.
void judge_line_ends(line_reader& reader, std::size_t size) {
  reader.line_ends_known = true;
  const char* bytes = reader.buffer.data();
  reader.cr_line_ends =
      !std::memchr(bytes, '\n', size) && std::memchr(bytes, '\r', size) != nullptr;
}

// In a file of CR line ends, each CR in [0, size) that does not start a CR LF
// becomes the LF the rest of the reader looks for; the byte after each is known,
// or the file has ended. A mailbox notes each one in turned_crs, so that its
// messages' digests get the CR as stored.
void turn_lone_crs_into_lfs(line_reader& reader, std::size_t size) {
  char* bytes = reader.buffer.data();
  if (reader.mailbox) std::fill_n(reader.turned_crs.begin(), (size + 63) / 64, uint64_t{0});
  for (char* cr = static_cast<char*>(std::memchr(bytes, '\r', size)); cr;) {
    std::size_t at = static_cast<std::size_t>(cr - bytes);
    if (at + 1 == size || bytes[at + 1] != '\n') {
      *cr = '\n';
      if (reader.mailbox) reader.turned_crs[at / 64] |= uint64_t{1} << (at % 64);
    }
    if (at + 1 >= size) break;
    cr = static_cast<char*>(std::memchr(cr + 1, '\r', size - at - 1));
  }
}

// Whether the first chunk of a bare-CR file, `size` bytes, begins with a
// separator line (which ends at the chunk's first CR).
bool begins_with_cr_separator(const line_reader& reader, std::size_t size) {
  const char* bytes = reader.buffer.data();
  const void* cr = std::memchr(bytes, '\r', size);
  return cr && is_separator_line(std::string_view(
                   bytes, static_cast<std::size_t>(static_cast<const char*>(cr) - bytes)));
}

// The longest last line of a chunk that is held for the next one: a separator
// line is short, and a longer line is no separator.
constexpr std::size_t k_held_line_limit = 1024;

// Whether the line that ends just before `p` (a line start of the chunk) is
// empty; near the chunk's start, by what the chunk started with.
bool follows_empty_line(const line_reader& reader, std::size_t p) {
  const char* bytes = reader.buffer.data();
  if (p == 0) return reader.starts_line && reader.after_empty_line;
  std::size_t lf = p - 1;
  if (lf == 0) return reader.starts_line;
  if (bytes[lf - 1] == '\n') return true;
  if (bytes[lf - 1] != '\r') return false;
  return lf - 1 == 0 ? reader.starts_line : bytes[lf - 2] == '\n';
}

// Where the line at `p` ends (its LF, or the chunk's end at the end of the file),
// or npos when it goes on in a chunk not read yet.
std::size_t line_stop(const line_reader& reader, std::size_t p) {
  const char* bytes = reader.buffer.data();
  const char* lf = find_first(bytes + p, reader.chunk_end - p, '\n');
  if (lf) return static_cast<std::size_t>(lf - bytes);
  return reader.at_eof ? reader.chunk_end : std::string_view::npos;
}

// Start of the line after the one at `p`, or the chunk's end.
std::size_t line_after(const line_reader& reader, std::size_t p) {
  std::size_t stop = line_stop(reader, p);
  return stop < reader.chunk_end ? stop + 1 : reader.chunk_end;
}

bool separator_at(const line_reader& reader, std::size_t p) {
  const char* bytes = reader.buffer.data();
  if (reader.chunk_end - p < 5 || std::memcmp(bytes + p, "From ", 5) != 0) return false;
  std::size_t stop = line_stop(reader, p);
  if (stop == std::string_view::npos) return false;
  std::size_t n = stop - p;
  if (n > 0 && bytes[stop - 1] == '\r') --n;
  return is_separator_line(std::string_view(bytes + p, n));
}

// Whether a separator line starts at `p`, from `from` on: a line that starts
// with "From " after an empty line and passes is_separator_line.
bool separator_from(const line_reader& reader, std::size_t p, std::size_t from) {
  return p >= from && follows_empty_line(reader, p) && separator_at(reader, p);
}

// The first block from `block` on whose bit is set in `bits`, or the number of
// blocks a chunk can have when there is none.
std::size_t first_block_from(const std::array<uint64_t, k_read_chunk / k_mark_block / 64>& bits,
                             std::size_t block) {
  for (std::size_t next = block; next / 64 < bits.size(); next = (next / 64 + 1) * 64) {
    uint64_t ahead = bits[next / 64] >> (next % 64);
    if (ahead != 0) return next + static_cast<std::size_t>(std::countr_zero(ahead));
  }
  return k_read_chunk / k_mark_block;
}

// The first separator line of the chunk from `from` on; the chunk's end when
// there is none.
std::size_t find_separator(line_reader& reader, std::size_t from) {
  // The marks pass notes the blocks that may hold an 'F' after an LF: bodies hold
  // many an 'F' (a base64 attachment one in 64 bytes), lines that begin with one
  // are few, and so are the blocks looked at here.
  if (!reader.marks_ready) find_chunk_marks(reader, *reader.split_mailbox);
  const char* bytes = reader.buffer.data();
  for (std::size_t block = first_block_from(reader.line_start_f_blocks, from / k_mark_block);
       block * k_mark_block < reader.chunk_end;
       block = first_block_from(reader.line_start_f_blocks, block + 1)) {
    std::size_t base = block * k_mark_block;
    bool after_lf = base == 0 ? reader.starts_line : bytes[base - 1] == '\n';
    for (uint64_t hits = line_start_f_bits64(bytes + base, after_lf); hits != 0; hits &= hits - 1) {
      std::size_t p = base + static_cast<std::size_t>(std::countr_zero(hits));
      if (p >= reader.chunk_end) break;
      if (separator_from(reader, p, from)) return p;
    }
  }
  return reader.chunk_end;
}

// Length of the UTF-8 byte-order mark and the empty lines that stand before the
// first line of the first chunk's `size` bytes: a mailbox may begin with them.
std::size_t leading_bytes(const char* bytes, std::size_t size) {
  std::size_t at = size >= 3 && std::memcmp(bytes, "\xEF\xBB\xBF", 3) == 0 ? 3 : 0;
  for (;;) {
    if (at < size && bytes[at] == '\n') {
      at += 1;
    } else if (at + 1 < size && bytes[at] == '\r' && bytes[at + 1] == '\n') {
      at += 2;
    } else {
      return at;
    }
  }
}

// Whether the first chunk, `size` bytes as read, begins with a separator line,
// after a byte-order mark and empty lines, which belong to no message.
bool begins_with_separator(line_reader& reader, std::size_t size) {
  reader.chunk_end = size;
  if (reader.cr_line_ends) return begins_with_cr_separator(reader, size);
  std::size_t lead = leading_bytes(reader.buffer.data(), size);
  if (!separator_at(reader, lead)) return false;
  reader.bytes_before_first_message = static_cast<int64_t>(lead);
  return true;
}

// Holds the chunk's short last line for the next chunk (by lowering `size`), and
// notes how the next chunk starts.
void hold_last_line(line_reader& reader, std::size_t& size) {
  const char* bytes = reader.buffer.data();
  const char* lf = find_last(bytes, bytes, size, '\n');
  std::size_t start = lf ? static_cast<std::size_t>(lf - bytes) + 1 : 0;
  reader.next_starts_line = lf && size - start <= k_held_line_limit;
  reader.next_after_empty_line = reader.next_starts_line && follows_empty_line(reader, start);
  if (!reader.next_starts_line) return;
  reader.held_tail = size - start;
  size = start;
}

// Adds the chunk's bytes [from, to) to the digests as stored: in a bare-CR
// mailbox, each LF that was a CR goes in as that CR.
void add_stored_bytes(line_reader& reader, std::size_t from, std::size_t to) {
  const char* bytes = reader.buffer.data();
  std::size_t start = from;
  for (std::size_t word = from / 64; reader.cr_line_ends && word * 64 < to; ++word) {
    for (uint64_t bits = reader.turned_crs[word]; bits != 0; bits &= bits - 1) {
      std::size_t cr = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
      if (cr < from) continue;
      if (cr >= to) break;
      add_to_file_hashes(*reader.hashes, bytes + start, cr - start);
      add_to_file_hashes(*reader.hashes, "\r", 1);
      start = cr + 1;
    }
  }
  add_to_file_hashes(*reader.hashes, bytes + start, to - start);
}

// Adds the mailbox's bytes of the chunk up to `to` to the message's digests.
void add_message_bytes(line_reader& reader, std::size_t to) {
  if (reader.hashes && to > reader.hashed_to) add_stored_bytes(reader, reader.hashed_to, to);
  reader.hashed_to = to;
}

// Reads the next chunk behind a CR held back from the last one; false at end of
// file. A CR at the end of a chunk is held back because its LF may start the
// next one: a CR LF pair never spans two chunks.
bool refill(line_reader& reader) {
  // A message of a mailbox ends before its chunk does: the reads end there, as at
  // the end of a file.
  if (reader.end < reader.chunk_end) return false;
  if (reader.mailbox) add_message_bytes(reader, reader.chunk_end);
  // The line last read may no longer be whole in the buffer.
  reader.rewind_pos = line_reader::k_no_rewind;
  // Whether the chunk holds a NUL is learnt with its marks, in the same pass.
  reader.marks_ready = false;
  reader.chunk_has_nul = false;
  for (;;) {
    std::size_t kept = reader.held_cr ? 1 : 0;
    if (kept) reader.buffer[0] = '\r';
    if (reader.held_tail) {
      std::memmove(reader.buffer.data(), reader.buffer.data() + reader.chunk_end, reader.held_tail);
      kept = reader.held_tail;
      reader.held_tail = 0;
    }
    reader.starts_line = reader.next_starts_line;
    reader.after_empty_line = reader.next_after_empty_line;
    reader.hashed_to = 0;
    reader.pos = 0;
    reader.held_cr = false;
    int64_t wanted = static_cast<int64_t>(reader.buffer.size() - kept);
    int64_t got = 0;
    if (!reader.at_eof)
      got = read_file_bytes(reader, reader.buffer.data() + kept, wanted);
    if (got <= 0) {
      // A failing read ends the file like its end does; the caller names it.
      if (got < 0) reader.read_failed = true;
      reader.at_eof = true;
      reader.end = reader.chunk_end = kept;
      reader.chunk_offset = reader.bytes_read - static_cast<int64_t>(kept);
      // A CR held back for an LF that never came ends the last line, as do the
      // CRs of a bare-CR mailbox's held last line.
      if (kept && reader.cr_line_ends) turn_lone_crs_into_lfs(reader, kept);
      if (reader.mailbox && kept > 0) {
        reader.end = find_separator(reader, 0);
        if (reader.end == 0) return false;
      }
      return kept > 0;
    }
    reader.bytes_read += got;
    ++reader.chunks_read;
    // A short read that brings the file to its known size is its end.
    if (got < wanted && reader.expected_size >= 0 && reader.bytes_read >= reader.expected_size) {
      reader.at_eof = true;
    }
    std::size_t size = kept + static_cast<std::size_t>(got);
    if (!reader.line_ends_known) {
      size = top_up_chunk(reader, size, true);
      judge_line_ends(reader, size);
      if (reader.split_mailbox) reader.mailbox = begins_with_separator(reader, size);
    }
    if (reader.mailbox) size = top_up_chunk(reader, size, false);
    reader.chunk_offset = reader.bytes_read - static_cast<int64_t>(size);
    // Every byte read, as stored: before a held CR or a line end is changed. A
    // mailbox's bytes go to the digests of their messages as these end.
    if (reader.hashes && !reader.mailbox) {
      add_to_file_hashes(*reader.hashes, reader.buffer.data() + kept, size - kept);
    }
    bool ends_in_cr = reader.buffer[size - 1] == '\r' && !reader.at_eof;
    // A bare-CR mailbox's lines are found by their line ends before its last line
    // is held; a CR at the chunk's end waits for the byte after it.
    if (reader.mailbox && reader.cr_line_ends)
      turn_lone_crs_into_lfs(reader, ends_in_cr ? size - 1 : size);
    if (reader.mailbox && !reader.at_eof) hold_last_line(reader, size);
    if (reader.buffer[size - 1] == '\r' && !reader.at_eof) {
      reader.held_cr = true;
      --size;
    }
    if (reader.cr_line_ends && !reader.mailbox) turn_lone_crs_into_lfs(reader, size);
    reader.end = reader.chunk_end = size;
    if (reader.mailbox && size > 0) {
      // The first chunk starts with the first message's own separator, after the
      // bytes that belong to no message.
      std::size_t first = 0;
      if (reader.chunk_offset == 0) {
        first = static_cast<std::size_t>(reader.bytes_before_first_message);
        reader.pos = reader.hashed_to = first;
        reader.message_offset = reader.bytes_before_first_message;
      }
      reader.end = find_separator(reader, reader.chunk_offset == 0 ? line_after(reader, first) : 0);
      if (reader.end == 0) return false;
    }
    if (size > 0) return true;
  }
}

// A line's text ends at its first NUL, as it does for C string routines.
void cut_at_nul(message_line& line) {
  const void* nul = std::memchr(line.text.data(), '\0', line.text.length);
  if (!nul) return;
  line.text.truncate(static_cast<std::size_t>(static_cast<const char*>(nul) - line.text.data()));
  line.line_end = false;
}

// Length of the text of the line [start, lf) without the CR of a CR LF end.
std::size_t text_length(const char* start, const char* lf) {
  std::size_t n = static_cast<std::size_t>(lf - start);
  return n > 0 && start[n - 1] == '\r' ? n - 1 : n;
}

// Takes the line at `reader.pos` from the current chunk into `line`, as far as
// `room` characters (line end included) allow; returns the characters taken.
std::size_t take_from_chunk(line_reader& reader, message_line& line, std::size_t room) {
  const char* start = reader.buffer.data() + reader.pos;
  std::size_t available = reader.end - reader.pos;
  // A CR LF counts as one character, so the line end may lie one byte further.
  std::size_t window = available < room + 1 ? available : room + 1;
  const char* lf = find_first(start, window, '\n');
  if (lf) {
    std::size_t n = text_length(start, lf);
    if (n + 1 <= room) {
      line.text.append(std::string_view(start, n));
      reader.pos += static_cast<std::size_t>(lf - start) + 1;
      line.line_end = true;
      return n + 1;
    }
  }
  std::size_t take = available < room ? available : room;
  line.text.append(std::string_view(start, take));
  reader.pos += take;
  return take;
}


// The first block after `block` that holds an admitted mark, or the number of
// blocks a chunk can have when none does. Only blocks of the current chunk have
// their bit set.
std::size_t next_marked_block(const line_reader& reader, std::size_t block) {
  return first_block_from(reader.marked_blocks, block + 1);
}

// Position of the next admitted mark from `reader.pos` on, or the chunk's end;
// the chunk's marks are known. Every literal looked for has two bytes before its
// mark, within its line, and a line starts at `reader.pos` or later.
std::size_t next_admitted_mark(const line_reader& reader) {
  std::size_t from = reader.pos + 2;
  if (from >= reader.end) return reader.end;
  std::size_t block = from / k_mark_block;
  // Bytes of the block before `from` are behind the search already.
  uint64_t ahead = reader.marks[block] >> (from % k_mark_block) << (from % k_mark_block);
  if (ahead == 0) {
    block = next_marked_block(reader, block);
    if (block == reader.marks.size()) return reader.end;
    ahead = reader.marks[block];
  }
  std::size_t mark = block * k_mark_block + static_cast<std::size_t>(std::countr_zero(ahead));
  // Marks past a mailbox message's end belong to the next message.
  return mark < reader.end ? mark : reader.end;
}

// Start of the line that holds `at`: just after the last line end before it, but
// not before `reader.pos`, which is where a line or a piece of one begins.
std::size_t line_start(const line_reader& reader, std::size_t at) {
  const char* base = reader.buffer.data();
  const char* lf = find_last(base, base + reader.pos, at - reader.pos, '\n');
  return lf ? static_cast<std::size_t>(lf - base) + 1 : reader.pos;
}

marked_read read_whole_line(line_reader& reader, message_line& spare, std::string_view& text) {
  if (!read_line(reader, spare)) return marked_read::end;
  text = spare.text.view();
  return marked_read::line;
}

}  // namespace

bool open_line_reader(line_reader& reader, const std::string& path) {
  attach_line_reader(reader, g_platform.open_for_reading(path));
  return reader.file != k_no_file;
}

void attach_line_reader(line_reader& reader, read_handle file, int64_t size) {
  reader.file = file;
  reader.pos = reader.end = 0;
  reader.held_cr = false;
  reader.at_eof = file == k_no_file;
  reader.read_failed = false;
  reader.hashes = nullptr;
  reader.chunk_has_nul = false;
  reader.replay = false;
  reader.marks_ready = false;
  reader.expected_size = size;
  reader.bytes_read = 0;
  reader.size_changed = false;
  reader.chunks_read = 0;
  reader.read_ns = 0;
  reader.rewind_pos = line_reader::k_no_rewind;
  reader.line_ends_known = false;
  reader.cr_line_ends = false;
  reader.split_mailbox = nullptr;
  reader.mailbox = false;
  reader.ahead_failure = failure_kind::none;
  reader.chunk_end = 0;
  reader.chunk_offset = 0;
  reader.message_offset = 0;
  reader.bytes_before_first_message = 0;
  reader.held_tail = 0;
  reader.next_starts_line = true;
  reader.next_after_empty_line = false;
  reader.hashed_to = 0;
}

void read_line_reader_ahead(line_reader& reader) {
  if (!reader.ahead) reader.ahead = start_read_ahead(reader.file);
}

void close_line_reader(line_reader& reader) {
  // The reads ahead end before the file is closed under them.
  if (reader.ahead) {
    reader.ahead_failure = stop_read_ahead(reader.ahead, reader.ahead_failure_reason);
    reader.ahead = nullptr;
  }
  if (reader.file != k_no_file) {
    reader.size_changed = reader.at_eof && !reader.read_failed && reader.expected_size >= 0 &&
                          reader.bytes_read != reader.expected_size;
    g_platform.close_file(reader.file);
  }
  reader.file = k_no_file;
  reader.replay = false;
}

bool read_to_end(const line_reader& reader) {
  return reader.file != k_no_file && reader.at_eof && !reader.read_failed &&
         reader.bytes_read >= reader.expected_size;
}

bool read_line(line_reader& reader, message_line& line) {
  reader.rewind_pos = line_reader::k_no_rewind;
  if (reader.replay) {
    reader.replay = false;
    copy_line(line, reader.stepped_back);
    return true;
  }
  line.text.clear();
  line.line_end = false;
  // Characters this read may still take, its line end included.
  std::size_t room = k_field_capacity;
  bool got_any = false;
  bool may_hold_nul = false;
  while (room > 0 && !line.line_end) {
    if (reader.pos == reader.end && !refill(reader)) break;
    if (!got_any) reader.rewind_pos = reader.pos;
    // A chunk not searched for marks has not been searched for NULs either.
    may_hold_nul = may_hold_nul || !reader.marks_ready || reader.chunk_has_nul;
    got_any = true;
    room -= take_from_chunk(reader, line, room);
  }
  if (may_hold_nul) cut_at_nul(line);
  return got_any;
}

void finish_message_hashes(line_reader& reader) {
  if (!reader.hashes) return;
  if (!reader.mailbox) {
    finish_file_hashes(*reader.hashes, read_to_end(reader));
    return;
  }
  add_message_bytes(reader, reader.end);
  bool whole = reader.pos == reader.end && (reader.end < reader.chunk_end || read_to_end(reader));
  finish_file_hashes(*reader.hashes, whole);
}

int64_t message_size(const line_reader& reader) {
  return reader.chunk_offset + static_cast<int64_t>(reader.end) - reader.message_offset;
}

bool next_message(line_reader& reader) {
  if (!reader.mailbox || reader.end >= reader.chunk_end) return false;
  reader.message_offset = reader.chunk_offset + static_cast<int64_t>(reader.end);
  reader.hashed_to = reader.end;
  reader.pos = reader.end;
  reader.replay = false;
  reader.rewind_pos = line_reader::k_no_rewind;
  reader.end = find_separator(reader, line_after(reader, reader.pos));
  return true;
}

void step_back(line_reader& reader, const message_line& line) {
  // Read again from the buffer, the line costs no copy, and the next read may
  // pass over it like any other line of the chunk.
  if (reader.rewind_pos != line_reader::k_no_rewind) {
    reader.pos = reader.rewind_pos;
    reader.rewind_pos = line_reader::k_no_rewind;
    return;
  }
  copy_line(reader.stepped_back, line);
  reader.replay = true;
}

marked_read read_marked_line(line_reader& reader, const mark_filter& filter, message_line& spare,
                             std::string_view& text) {
  reader.rewind_pos = line_reader::k_no_rewind;
  if (reader.replay) return read_whole_line(reader, spare, text);
  if (reader.pos == reader.end) return refill(reader) ? marked_read::next_chunk : marked_read::end;
  // The marks of every block of the chunk, with the widest instructions the
  // processor has.
  if (!reader.marks_ready) find_chunk_marks(reader, filter);
  // NULs cut lines short, so their marks may not count: such chunks go line by line.
  if (reader.chunk_has_nul) return read_whole_line(reader, spare, text);
  std::size_t mark = next_admitted_mark(reader);
  if (mark == reader.end) {
    // The chunk's whole lines hold no admitted mark. Its last line may go on in
    // the next chunk, where one could follow: that one is read whole.
    const char* base = reader.buffer.data();
    const char* lf = find_last(base, base + reader.pos, reader.end - reader.pos, '\n');
    if (lf) reader.pos = static_cast<std::size_t>(lf - base) + 1;
    if (reader.pos == reader.end) return read_marked_line(reader, filter, spare, text);
    return read_whole_line(reader, spare, text);
  }
  reader.pos = line_start(reader, mark);
  const char* start = reader.buffer.data() + reader.pos;
  const char* lf = find_first(start, reader.end - reader.pos, '\n');
  // A line that goes on in the next chunk, or that is too long for one read, is
  // read whole: its pieces are lines of their own.
  if (!lf || text_length(start, lf) + 1 > k_field_capacity) {
    return read_whole_line(reader, spare, text);
  }
  text = std::string_view(start, text_length(start, lf));
  reader.pos += static_cast<std::size_t>(lf - start) + 1;
  return marked_read::line;
}
