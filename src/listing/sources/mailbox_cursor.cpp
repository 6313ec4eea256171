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

// Whether the first chunk begins with a separator line.
bool begins_with_separator(const line_reader& reader) { return separator_at(reader, 0); }

// Holds the chunk's short last line for the next chunk (by lowering the chunk's
// end), with a CR held back after it, and notes how the next chunk starts.
void hold_last_line(line_reader& reader, mailbox_cursor& cursor) {
  const char* bytes = reader.buffer.data();
  std::size_t size = reader.chunk_end;
  const char* lf = find_last(bytes, bytes, size, '\n');
  std::size_t start = lf ? static_cast<std::size_t>(lf - bytes) + 1 : 0;
  std::size_t held_cr = reader.held_cr ? 1 : 0;
  cursor.next_starts_line = lf && size - start + held_cr <= k_held_line_limit;
  cursor.next_after_empty_line =
      cursor.next_starts_line && follows_empty_line(reader, cursor, start);
  if (!cursor.next_starts_line) return;
  // The CR waits with its line, which the next chunk starts with.
  cursor.held_tail = size - start + held_cr;
  reader.held_cr = false;
  reader.end = reader.chunk_end = start;
}

// Adds the mailbox's bytes of the chunk up to `to` to the message's digests.
void add_message_bytes(const line_reader& reader, mailbox_cursor& cursor, std::size_t to) {
  if (cursor.hashes && to > cursor.hashed_to) {
    add_to_file_hashes(*cursor.hashes, reader.buffer.data() + cursor.hashed_to,
                       to - cursor.hashed_to);
  }
  cursor.hashed_to = to;
}

// The first chunk decides: a file that begins with a separator line is read as a
// mailbox, any other as a plain file, whose digests take every byte as stored.
void judge_first_chunk(line_reader& reader, mailbox_cursor& cursor) {
  cursor.judged = true;
  reader.mailbox = reader.chunk_end > 0 && begins_with_separator(reader);
  if (reader.mailbox) return;
  reader.hashes = cursor.hashes;
  cursor.hashes = nullptr;
  if (reader.hashes) {
    add_to_file_hashes(*reader.hashes, reader.buffer.data(),
                       reader.chunk_end + (reader.held_cr ? 1 : 0));
  }
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

// The cursor's part of refill: the message's bytes of the chunk go to its digests
// before the chunk goes, a short last line waits for the next chunk, and the
// reads end at the next separator as at the end of a file.
bool next_mailbox_chunk(line_reader& reader) {
  mailbox_cursor& cursor = cursor_of(reader);
  if (!cursor.judged || !reader.mailbox) {
    bool first = !cursor.judged;
    if (!read_chunk(reader, 0)) {
      cursor.judged = true;
      return false;
    }
    if (first) judge_first_chunk(reader, cursor);
    if (!reader.mailbox) {
      settle_line_ends(reader);
      return true;
    }
  } else {
    // A message ends before its chunk does: the reads end there, as at the end
    // of a file.
    if (reader.end < reader.chunk_end) return false;
    add_message_bytes(reader, cursor, reader.chunk_end);
    std::size_t kept = cursor.held_tail;
    if (kept) std::memmove(reader.buffer.data(), reader.buffer.data() + reader.chunk_end, kept);
    cursor.held_tail = 0;
    cursor.starts_line = cursor.next_starts_line;
    cursor.after_empty_line = cursor.next_after_empty_line;
    cursor.hashed_to = 0;
    if (!read_chunk(reader, kept)) return false;
  }
  if (!reader.at_eof) hold_last_line(reader, cursor);
  settle_line_ends(reader);
  if (reader.chunk_end == 0) return false;
  // The first chunk starts with the first message's own separator.
  reader.end =
      find_separator(reader, cursor, reader.chunk_offset == 0 ? line_after(reader, 0) : 0);
  check_cursor(reader, cursor);
  return reader.end > 0;
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
  cursor = mailbox_cursor{};
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
