#include "listing/sources/mailbox_cursor.h"

#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "listing/sources/byte_search.h"
#include "listing/sources/mailbox.h"

namespace {

mailbox_cursor& cursor_of(line_reader& reader) {
  return *static_cast<mailbox_cursor*>(reader.source_state);
}

// The longest last line of a chunk that is held for the next one: a separator
// line is short, and a longer line is no separator.
constexpr std::size_t k_held_line_limit = 1024;

// Whether the line that ends just before `p` (a line start of the chunk) is
// empty; near the chunk's start, by what the chunk started with.
bool follows_empty_line(const line_reader& reader, const mailbox_cursor& cursor, std::size_t p) {
  const char* bytes = reader.buffer.data();
  if (p == 0) return cursor.starts_line && cursor.after_empty_line;
  std::size_t lf = p - 1;
  if (lf == 0) return cursor.starts_line;
  if (bytes[lf - 1] == '\n') return true;
  if (bytes[lf - 1] != '\r') return false;
  return lf - 1 == 0 ? cursor.starts_line : bytes[lf - 2] == '\n';
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
bool separator_from(const line_reader& reader, const mailbox_cursor& cursor, std::size_t p,
                    std::size_t from) {
  return p >= from && follows_empty_line(reader, cursor, p) && separator_at(reader, p);
}

// The first separator line of the chunk from `from` on; the chunk's end when
// there is none.
std::size_t find_separator(line_reader& reader, const mailbox_cursor& cursor, std::size_t from) {
  // The marks pass notes the blocks that may hold an 'F' after an LF: bodies hold
  // many an 'F' (a base64 attachment one in 64 bytes), lines that begin with one
  // are few, and so are the blocks looked at here.
  if (!reader.marks.ready) {
    find_chunk_marks(reader.marks, reader.buffer.data(), reader.chunk_end, *cursor.filter, true);
  }
  const char* bytes = reader.buffer.data();
  for (std::size_t block = first_block_from(reader.marks.line_start_f_blocks, from / k_mark_block);
       block * k_mark_block < reader.chunk_end;
       block = first_block_from(reader.marks.line_start_f_blocks, block + 1)) {
    std::size_t base = block * k_mark_block;
    bool after_lf = base == 0 ? cursor.starts_line : bytes[base - 1] == '\n';
    for (uint64_t hits = line_start_f_bits64(bytes + base, after_lf); hits != 0; hits &= hits - 1) {
      std::size_t p = base + static_cast<std::size_t>(std::countr_zero(hits));
      if (p >= reader.chunk_end) break;
      if (separator_from(reader, cursor, p, from)) return p;
    }
  }
  return reader.chunk_end;
}

// Whether the first chunk of a bare-CR file, `size` bytes, begins with a
// separator line (which ends at the chunk's first CR).
bool begins_with_cr_separator(const line_reader& reader, std::size_t size) {
  const char* bytes = reader.buffer.data();
  const void* cr = std::memchr(bytes, '\r', size);
  return cr && is_separator_line(std::string_view(
                   bytes, static_cast<std::size_t>(static_cast<const char*>(cr) - bytes)));
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
void hold_last_line(line_reader& reader, mailbox_cursor& cursor, std::size_t& size) {
  const char* bytes = reader.buffer.data();
  const char* lf = find_last(bytes, bytes, size, '\n');
  std::size_t start = lf ? static_cast<std::size_t>(lf - bytes) + 1 : 0;
  cursor.next_starts_line = lf && size - start <= k_held_line_limit;
  cursor.next_after_empty_line =
      cursor.next_starts_line && follows_empty_line(reader, cursor, start);
  if (!cursor.next_starts_line) return;
  cursor.held_tail = size - start;
  size = start;
}

// Adds the chunk's bytes [from, to) to the message's digests as stored: in a
// bare-CR mailbox, each LF that was a CR goes in as that CR.
void add_stored_bytes(const line_reader& reader, mailbox_cursor& cursor, std::size_t from,
                      std::size_t to) {
  const char* bytes = reader.buffer.data();
  std::size_t start = from;
  for (std::size_t word = from / 64; reader.cr_line_ends && word * 64 < to; ++word) {
    for (uint64_t bits = cursor.turned_crs[word]; bits != 0; bits &= bits - 1) {
      std::size_t cr = word * 64 + static_cast<std::size_t>(std::countr_zero(bits));
      if (cr < from) continue;
      if (cr >= to) break;
      add_to_file_hashes(*cursor.hashes, bytes + start, cr - start);
      add_to_file_hashes(*cursor.hashes, "\r", 1);
      start = cr + 1;
    }
  }
  add_to_file_hashes(*cursor.hashes, bytes + start, to - start);
}

// Adds the mailbox's bytes of the chunk up to `to` to the message's digests.
void add_message_bytes(const line_reader& reader, mailbox_cursor& cursor, std::size_t to) {
  if (cursor.hashes && to > cursor.hashed_to) add_stored_bytes(reader, cursor, cursor.hashed_to, to);
  cursor.hashed_to = to;
}

// Stops a build with checks where the cursor broke its rules.
void check_cursor(const line_reader& reader, const mailbox_cursor& cursor) {
#ifndef NDEBUG
  if (const char* fault = cursor_fault(reader, cursor)) {
    std::fprintf(stderr, "mailbox cursor broken: %s\n", fault);
    std::abort();
  }
#else
  (void)reader;
  (void)cursor;
#endif
}

// The first chunk decides, once its line ends are judged: a file that begins with
// a separator line (after a byte-order mark and empty lines) is read as a mailbox,
// any other as a plain file, whose digests take every byte as stored.
void judge_first_chunk(line_reader& reader, mailbox_cursor& cursor, std::size_t size) {
  cursor.judged = true;
  reader.mailbox = size > 0 && begins_with_separator(reader, size);
  if (reader.mailbox) return;
  reader.hashes = cursor.hashes;
  cursor.hashes = nullptr;
}

// The first chunk of a file that is no mailbox, as read_chunk would have read it.
bool finish_plain_first_chunk(line_reader& reader, std::size_t size) {
  reader.chunk_offset = reader.bytes_read - static_cast<int64_t>(size);
  if (reader.hashes) add_to_file_hashes(*reader.hashes, reader.buffer.data(), size);
  size = hold_back_cr(reader, size);
  if (reader.cr_line_ends) turn_lone_crs_into_lfs(reader.buffer.data(), size, nullptr);
  reader.end = reader.chunk_end = size;
  return size > 0;
}

// The cursor's part of refill: the message's bytes of the chunk go to its digests
// before the chunk goes, a short last line waits for the next chunk, and the
// reads end at the next separator as at the end of a file.
bool next_mailbox_chunk(line_reader& reader) {
  mailbox_cursor& cursor = cursor_of(reader);
  if (cursor.judged && !reader.mailbox) return read_chunk(reader, 0);
  if (reader.mailbox) {
    // A message ends before its chunk does: the reads end there, as at the end
    // of a file.
    if (reader.end < reader.chunk_end) return false;
    add_message_bytes(reader, cursor, reader.chunk_end);
  }
  for (;;) {
    std::size_t kept = begin_chunk(reader);
    if (cursor.held_tail) {
      std::memmove(reader.buffer.data(), reader.buffer.data() + reader.chunk_end, cursor.held_tail);
      kept = cursor.held_tail;
      cursor.held_tail = 0;
    }
    cursor.starts_line = cursor.next_starts_line;
    cursor.after_empty_line = cursor.next_after_empty_line;
    cursor.hashed_to = 0;
    uint64_t* turned = reader.mailbox ? cursor.turned_crs.data() : nullptr;
    int64_t got = read_into_chunk(reader, kept);
    if (got <= 0) {
      if (!cursor.judged) judge_first_chunk(reader, cursor, 0);
      // A CR held back for an LF that never came ends the last line, as do the
      // CRs of a bare-CR mailbox's held last line.
      if (kept && reader.cr_line_ends) turn_lone_crs_into_lfs(reader.buffer.data(), kept, turned);
      if (reader.mailbox && kept > 0) {
        reader.end = find_separator(reader, cursor, 0);
        check_cursor(reader, cursor);
        if (reader.end == 0) return false;
      }
      return kept > 0;
    }
    std::size_t size = kept + static_cast<std::size_t>(got);
    if (!cursor.judged) {
      // Read full before it is judged: the first separator line may stand after
      // empty lines, past the first LF that short reads would stop at.
      size = top_up_chunk(reader, size, false);
      judge_line_ends(reader, size);
      judge_first_chunk(reader, cursor, size);
      if (!reader.mailbox) return finish_plain_first_chunk(reader, size);
    }
    // A mailbox's chunks are read full, so that short reads from the system
    // cannot hide a separator split across them.
    size = top_up_chunk(reader, size, false);
    reader.chunk_offset = reader.bytes_read - static_cast<int64_t>(size);
    // A bare-CR mailbox's lines are found by their line ends before its last line
    // is held; a CR at the chunk's end waits for the byte after it.
    bool ends_in_cr = reader.buffer[size - 1] == '\r' && !reader.at_eof;
    if (reader.cr_line_ends) {
      turn_lone_crs_into_lfs(reader.buffer.data(), ends_in_cr ? size - 1 : size,
                             cursor.turned_crs.data());
    }
    if (!reader.at_eof) hold_last_line(reader, cursor, size);
    size = hold_back_cr(reader, size);
    reader.end = reader.chunk_end = size;
    if (size == 0) continue;
    // The first chunk starts with the first message's own separator, after the
    // bytes that belong to no message.
    std::size_t first = 0;
    if (reader.chunk_offset == 0) {
      first = static_cast<std::size_t>(reader.bytes_before_first_message);
      reader.pos = cursor.hashed_to = first;
      reader.message_offset = reader.bytes_before_first_message;
    }
    reader.end =
        find_separator(reader, cursor, reader.chunk_offset == 0 ? line_after(reader, first) : 0);
    check_cursor(reader, cursor);
    return reader.end > 0;
  }
}

void finish_mailbox_hashes(line_reader& reader) {
  mailbox_cursor& cursor = cursor_of(reader);
  if (!reader.mailbox) return k_file_source.finish_hashes(reader);
  if (!cursor.hashes) return;
  add_message_bytes(reader, cursor, reader.end);
  bool whole = reader.pos == reader.end && (reader.end < reader.chunk_end || read_to_end(reader));
  finish_file_hashes(*cursor.hashes, whole);
}

bool next_mailbox_message(line_reader& reader) {
  mailbox_cursor& cursor = cursor_of(reader);
  if (!reader.mailbox || reader.end >= reader.chunk_end) return false;
  reader.message_offset = reader.chunk_offset + static_cast<int64_t>(reader.end);
  cursor.hashed_to = reader.end;
  reader.pos = reader.end;
  reader.replay = false;
  reader.rewind_pos = line_reader::k_no_rewind;
  reader.end = find_separator(reader, cursor, line_after(reader, reader.pos));
  check_cursor(reader, cursor);
  return true;
}

}  // namespace

const message_source k_mailbox_source = {read_file_bytes, next_mailbox_chunk,
                                         finish_mailbox_hashes, next_mailbox_message};

void attach_mailbox_cursor(line_reader& reader, mailbox_cursor& cursor, const mark_filter& filter) {
  // Set field by field: the marks of turned CRs are set as each chunk is read.
  cursor.judged = false;
  cursor.held_tail = 0;
  cursor.next_starts_line = true;
  cursor.next_after_empty_line = false;
  cursor.starts_line = true;
  cursor.after_empty_line = false;
  cursor.hashed_to = 0;
  cursor.filter = &filter;
  // The digests wait for the first chunk's judgement: a mailbox's go by message.
  cursor.hashes = reader.hashes;
  reader.hashes = nullptr;
  reader.source_state = &cursor;
  reader.source = &k_mailbox_source;
}

const char* cursor_fault(const line_reader& reader, const mailbox_cursor& cursor) {
  if (!reader.mailbox) return nullptr;
  if (cursor.hashed_to > reader.end) return "the digests are past the message's end";
  if (reader.chunk_end + cursor.held_tail > reader.buffer.size()) {
    return "the held line lies past the buffer";
  }
  if (cursor.held_tail > k_held_line_limit) return "the held line is longer than a separator";
  // A message ends where a line starts.
  if (reader.end < reader.chunk_end && reader.end > 0 && reader.buffer[reader.end - 1] != '\n') {
    return "a message ends inside a line";
  }
  return nullptr;
}
