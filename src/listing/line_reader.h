// Line reader for message files: raw bytes in, text-mode lines out.
//
// CR LF becomes LF as a text-mode read makes it, so records are the same on every
// platform; a lone CR and Ctrl-Z are ordinary bytes. One read delivers at most
// k_field_capacity characters, its line end included, so a longer line arrives in
// pieces. A line's text ends at its first NUL byte.
#pragma once

#include <array>
#include <cstddef>
#include <string>

#include "listing/header_values.h"
#include "platform/platform.h"

// One line as read: its text without the line end, and whether a line end
// followed the text (false for a piece of a long line, a last line without a line
// end, and a line cut at a NUL byte).
struct message_line {
  field_text text;
  bool line_end = false;
};

inline constexpr std::size_t k_read_chunk = 1 << 16;

// State of one open message file. One instance is reused for every file, so
// nothing is allocated per file.
struct line_reader {
  read_handle file = k_no_file;
  std::array<char, k_read_chunk> buffer{};
  std::size_t pos = 0;         // next byte to hand out
  std::size_t end = 0;         // end of the translated bytes that may be handed out
  std::size_t held = 0;        // bytes after `end` kept for the next read (a CR)
  bool at_eof = false;         // the file has delivered its last byte (or failed)
  bool chunk_has_nul = false;  // the lines of this chunk need the NUL cut
  bool replay = false;         // the next read hands back `stepped_back`
  message_line stepped_back;
};

// Opens the file for reading; false when it cannot be opened.
bool open_line_reader(line_reader& reader, const std::string& path);
void close_line_reader(line_reader& reader);
// Reads the next line (or piece of a long line) into `line`; false at end of
// file or when the read fails, with `line` then empty.
bool read_line(line_reader& reader, message_line& line);
// Makes the next read_line hand back `line`, the line just read ahead.
void step_back(line_reader& reader, const message_line& line);
