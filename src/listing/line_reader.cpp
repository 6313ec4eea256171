#include "listing/line_reader.h"

#include <cstring>

namespace {

// Appends `n` bytes at `from` to the text; the caller has checked the room.
void append_bytes(field_text& text, const char* from, std::size_t n) {
  std::memcpy(text.data() + text.length, from, n);
  text.length += n;
  text.bytes[text.length] = '\0';
}

// Turns every CR LF of buffer[0, size) into LF in place; returns the new size.
std::size_t translate_line_ends(char* buffer, std::size_t size) {
  char* cr = static_cast<char*>(std::memchr(buffer, '\r', size));
  if (!cr) return size;
  std::size_t out = static_cast<std::size_t>(cr - buffer);
  for (std::size_t in = out; in < size; ++in) {
    if (buffer[in] == '\r' && in + 1 < size && buffer[in + 1] == '\n') continue;
    buffer[out++] = buffer[in];
  }
  return out;
}

// Reads the next chunk behind a CR held back from the last one; false at end of
// file. A CR at the end of a chunk is held back because its LF may start the next.
bool refill(line_reader& reader) {
  for (;;) {
    std::size_t kept = reader.held;
    if (kept) reader.buffer[0] = '\r';
    reader.pos = 0;
    reader.held = 0;
    int64_t got = 0;
    if (!reader.at_eof) {
      got = g_platform.read_bytes(reader.file, reader.buffer.data() + kept,
                                  static_cast<int64_t>(reader.buffer.size() - kept));
    }
    if (got <= 0) {
      // A failing read ends the file like its end does.
      reader.at_eof = true;
      reader.end = kept;
      reader.chunk_has_nul = false;
      return kept > 0;
    }
    std::size_t size =
        translate_line_ends(reader.buffer.data(), kept + static_cast<std::size_t>(got));
    if (reader.buffer[size - 1] == '\r') {
      reader.held = 1;
      --size;
    }
    reader.end = size;
    // Most files hold no NUL at all: one look per chunk spares one per line.
    reader.chunk_has_nul = std::memchr(reader.buffer.data(), '\0', size) != nullptr;
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

}  // namespace

bool open_line_reader(line_reader& reader, const std::string& path) {
  reader.file = g_platform.open_for_reading(path);
  reader.pos = reader.end = reader.held = 0;
  reader.at_eof = false;
  reader.replay = false;
  return reader.file != k_no_file;
}

void close_line_reader(line_reader& reader) {
  if (reader.file != k_no_file) g_platform.close_file(reader.file);
  reader.file = k_no_file;
  reader.replay = false;
}

bool read_line(line_reader& reader, message_line& line) {
  if (reader.replay) {
    reader.replay = false;
    line.text.assign(reader.stepped_back.text.view());
    line.line_end = reader.stepped_back.line_end;
    return true;
  }
  line.text.clear();
  line.line_end = false;
  // Characters this read may still take, its line end included.
  std::size_t room = k_field_capacity;
  bool got_any = false;
  bool may_hold_nul = false;
  while (room > 0) {
    if (reader.pos == reader.end && !refill(reader)) break;
    may_hold_nul = may_hold_nul || reader.chunk_has_nul;
    const char* start = reader.buffer.data() + reader.pos;
    std::size_t scan = reader.end - reader.pos;
    if (scan > room) scan = room;
    got_any = true;
    const char* lf = static_cast<const char*>(std::memchr(start, '\n', scan));
    if (lf) {
      std::size_t n = static_cast<std::size_t>(lf - start);
      append_bytes(line.text, start, n);
      reader.pos += n + 1;
      line.line_end = true;
      break;
    }
    append_bytes(line.text, start, scan);
    reader.pos += scan;
    room -= scan;
  }
  if (may_hold_nul) cut_at_nul(line);
  return got_any;
}

void step_back(line_reader& reader, const message_line& line) {
  reader.stepped_back.text.assign(line.text.view());
  reader.stepped_back.line_end = line.line_end;
  reader.replay = true;
}
