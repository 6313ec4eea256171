#include "listing/sources/line_reader.h"

#include <algorithm>
#include <chrono>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "listing/sources/byte_search.h"

namespace {

// Makes `to` a copy of `from`.
void copy_line(message_line& to, const message_line& from) {
  std::memcpy(to.text.data(), from.text.c_str(), from.text.length + 1);
  to.text.length = from.text.length;
  to.line_end = from.line_end;
}

// Reads on into the first chunk while it holds no LF, until it is full or the
// file ends: the file's line end is judged on that chunk, and how the reads
// happen to be cut must not change the judgement. Returns the chunk's size.
std::size_t top_up_first_chunk(line_reader& reader, std::size_t size) {
  std::size_t searched = 0;
  while (!reader.at_eof && size < reader.buffer.size() &&
         !std::memchr(reader.buffer.data() + searched, '\n', size - searched)) {
    searched = size;
    int64_t wanted = static_cast<int64_t>(reader.buffer.size() - size);
    int64_t got = reader.source->read(reader, reader.buffer.data() + size, wanted);
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
  // A CR held back for the next chunk still lies just after the chunk.
  std::size_t seen = size + (reader.held_cr ? 1 : 0);
  const char* bytes = reader.buffer.data();
  reader.cr_line_ends =
      !std::memchr(bytes, '\n', seen) && std::memchr(bytes, '\r', seen) != nullptr;
}

// In a file of CR line ends, each CR that does not start a CR LF becomes the LF
// the rest of the reader looks for. A CR at the chunk's end is held back, so the
// byte after every CR in [0, size) is known, or the file has ended.
void turn_lone_crs_into_lfs(char* bytes, std::size_t size) {
  for (char* cr = static_cast<char*>(std::memchr(bytes, '\r', size)); cr;) {
    std::size_t at = static_cast<std::size_t>(cr - bytes);
    if (at + 1 == size || bytes[at + 1] != '\n') *cr = '\n';
    if (at + 1 >= size) break;
    cr = static_cast<char*>(std::memchr(cr + 1, '\r', size - at - 1));
  }
}

// Reads the next chunk of the message from its source; false at its end.
bool refill(line_reader& reader) {
  bool more = reader.source->next_chunk(reader);
#ifndef NDEBUG
  if (const char* fault = chunk_fault(reader)) {
    std::fprintf(stderr, "line reader broken: %s\n", fault);
    std::abort();
  }
#endif
  return more;
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
  return first_block_from(reader.marks.marked_blocks, block + 1);
}

// Position of the next admitted mark from `reader.pos` on, or the chunk's end;
// the chunk's marks are known. Every literal looked for has two bytes before its
// mark, within its line, and a line starts at `reader.pos` or later.
std::size_t next_admitted_mark(const line_reader& reader) {
  std::size_t from = reader.pos + 2;
  if (from >= reader.end) return reader.end;
  std::size_t block = from / k_mark_block;
  // Bytes of the block before `from` are behind the search already.
  uint64_t ahead = reader.marks.bits[block] >> (from % k_mark_block) << (from % k_mark_block);
  if (ahead == 0) {
    block = next_marked_block(reader, block);
    if (block == reader.marks.bits.size()) return reader.end;
    ahead = reader.marks.bits[block];
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

bool read_chunk(line_reader& reader, std::size_t kept) {
  // The line last read may no longer be whole in the buffer.
  reader.rewind_pos = line_reader::k_no_rewind;
  // Whether the chunk holds a NUL is learnt with its marks, in the same pass.
  reader.marks.ready = false;
  reader.marks.has_nul = false;
  for (;;) {
    if (kept == 0 && reader.held_cr) {
      reader.buffer[0] = '\r';
      kept = 1;
    }
    reader.pos = 0;
    reader.held_cr = false;
    int64_t wanted = static_cast<int64_t>(reader.buffer.size() - kept);
    int64_t got = 0;
    if (!reader.at_eof) got = reader.source->read(reader, reader.buffer.data() + kept, wanted);
    if (got <= 0) {
      // A failing read ends the file like its end does; the caller names it.
      if (got < 0) reader.read_failed = true;
      reader.at_eof = true;
      reader.end = reader.chunk_end = kept;
      reader.chunk_offset = reader.bytes_read - static_cast<int64_t>(kept);
      return kept > 0;
    }
    reader.bytes_read += got;
    ++reader.chunks_read;
    // A short read that brings the file to its known size is its end.
    if (got < wanted && reader.expected_size >= 0 && reader.bytes_read >= reader.expected_size) {
      reader.at_eof = true;
    }
    std::size_t size = kept + static_cast<std::size_t>(got);
    if (!reader.line_ends_known) size = top_up_first_chunk(reader, size);
    reader.chunk_offset = reader.bytes_read - static_cast<int64_t>(size);
    // Every byte read, as stored: before a held CR or a line end is changed.
    if (reader.hashes) add_to_file_hashes(*reader.hashes, reader.buffer.data() + kept, size - kept);
    if (reader.buffer[size - 1] == '\r' && !reader.at_eof) {
      reader.held_cr = true;
      --size;
    }
    reader.end = reader.chunk_end = size;
    if (size > 0) return true;
    kept = 0;
  }
}

void settle_line_ends(line_reader& reader) {
  std::size_t size = reader.chunk_end;
  if (!reader.line_ends_known) judge_line_ends(reader, size);
  // A CR held back for an LF that never came ends the last line, as every lone
  // CR of such a file does.
  if (reader.cr_line_ends) turn_lone_crs_into_lfs(reader.buffer.data(), size);
}

void find_marks(line_reader& reader, const mark_filter& filter) {
  find_chunk_marks(reader.marks, reader.buffer.data(), reader.chunk_end, filter, reader.mailbox);
}

const char* chunk_fault(const line_reader& reader) {
  if (reader.chunk_end > reader.buffer.size()) return "the chunk is larger than the buffer";
  if (reader.end > reader.chunk_end) return "the message ends past the chunk";
  if (reader.pos > reader.end) return "a line starts past the message's end";
  // A CR LF pair never spans two chunks: a chunk that the file goes on after
  // ends in no CR, which waits for its LF in held_cr instead.
  const char* bytes = reader.buffer.data();
  if (!reader.at_eof && reader.chunk_end > 0 && bytes[reader.chunk_end - 1] == '\r') {
    return "a CR ends a chunk the file goes on after";
  }
  if (reader.held_cr && (reader.at_eof || bytes[reader.chunk_end] != '\r')) {
    return "a held CR is not the byte after the chunk";
  }
  // In a file of CR line ends every lone CR became an LF: a CR left stands
  // before its LF.
  for (std::size_t i = 0; reader.cr_line_ends && i < reader.chunk_end; ++i) {
    if (bytes[i] == '\r' && (i + 1 == reader.chunk_end || bytes[i + 1] != '\n')) {
      return "a lone CR is left in a file of CR line ends";
    }
  }
  if (reader.bytes_read < reader.chunk_offset + static_cast<int64_t>(reader.chunk_end)) {
    return "the chunk holds more than was read";
  }
  return nullptr;
}

bool next_file_chunk(line_reader& reader) {
  if (!read_chunk(reader, 0)) return false;
  settle_line_ends(reader);
  return true;
}

void finish_file_hashes_of(line_reader& reader) {
  if (reader.hashes) finish_file_hashes(*reader.hashes, read_to_end(reader));
}

bool no_next_message(line_reader&) { return false; }

const message_source k_file_source = {read_file_bytes, next_file_chunk, finish_file_hashes_of,
                                       no_next_message};

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
  reader.marks.has_nul = false;
  reader.replay = false;
  reader.marks.ready = false;
  reader.expected_size = size;
  reader.bytes_read = 0;
  reader.chunks_read = 0;
  reader.read_ns = 0;
  reader.rewind_pos = line_reader::k_no_rewind;
  reader.line_ends_known = false;
  reader.cr_line_ends = false;
  reader.source = &k_file_source;
  reader.source_state = nullptr;
  reader.mailbox = false;
  reader.ahead_failure = failure_kind::none;
  reader.chunk_end = 0;
  reader.chunk_offset = 0;
  reader.message_offset = 0;
}

void attach_source(line_reader& reader, const message_source& source, void* state,
                   int64_t size) {
  attach_line_reader(reader, k_no_file, size);
  reader.at_eof = false;
  reader.source = &source;
  reader.source_state = state;
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
  if (reader.file != k_no_file) g_platform.close_file(reader.file);
  reader.file = k_no_file;
  reader.replay = false;
}

bool read_to_end(const line_reader& reader) {
  // A file that could not be opened was not read; a source of its own (with its
  // state) has no file.
  bool opened = reader.file != k_no_file || reader.source_state != nullptr;
  return opened && reader.at_eof && !reader.read_failed &&
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
    may_hold_nul = may_hold_nul || !reader.marks.ready || reader.marks.has_nul;
    got_any = true;
    room -= take_from_chunk(reader, line, room);
  }
  if (may_hold_nul) cut_at_nul(line);
  return got_any;
}

int64_t message_size(const line_reader& reader) {
  return reader.chunk_offset + static_cast<int64_t>(reader.end) - reader.message_offset;
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
  if (!reader.marks.ready) find_marks(reader, filter);
  // NULs cut lines short, so their marks may not count: such chunks go line by line.
  if (reader.marks.has_nul) return read_whole_line(reader, spare, text);
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
