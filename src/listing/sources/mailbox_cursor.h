// The mailbox message as a source: a cursor over the file's chunks that ends the
// reads at each separator line as at the end of a file, so that every header
// rule, counter and date starts afresh with each message, and each message's
// bytes go to digests of their own. The separator line itself is judged by
// is_separator_line (mailbox.h); where it may stand (first in the file, or after
// an empty line) is the cursor's to know.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "listing/sources/file_hashes.h"
#include "listing/sources/line_reader.h"
#include "listing/sources/mark_filter.h"

struct mailbox_cursor {
  // The filter the reader's chunks are searched with, as read_marked_line is given.
  const mark_filter* filter = nullptr;
  // The message's digests, fed with its bytes as it ends; null when none is wanted.
  file_hashes* hashes = nullptr;
  // The first chunk has been judged: the file is a mailbox when it begins with a
  // separator line, after a byte-order mark and empty lines (reader.mailbox), else
  // it is read as a plain file.
  bool judged = false;
  // The last line of a chunk, when short, is held for the next one, so that a
  // separator is always judged whole: its bytes after the chunk's end.
  std::size_t held_tail = 0;
  // The next chunk starts a line, and whether that line follows an empty one.
  bool next_starts_line = true;
  bool next_after_empty_line = false;
  bool starts_line = true;  // the same of the chunk read now
  bool after_empty_line = false;
  // The message's bytes before this position of the chunk are in its digests.
  std::size_t hashed_to = 0;
  // A bare-CR mailbox only: bit i set when byte i of the chunk is an LF that was a
  // CR as stored, so that the digests take the CR.
  std::array<uint64_t, k_read_chunk / 64> turned_crs;
};

extern const message_source k_mailbox_source;

// Reads the file attached to `reader` as a mailbox from now on (before its first
// read), when it begins with a separator line: `cursor` is the scan's, `filter`
// the one read_marked_line is given, and the reader's digests become the messages'.
void attach_mailbox_cursor(line_reader& reader, mailbox_cursor& cursor, const mark_filter& filter);

// Why the cursor breaks its rules over the reader's chunk, or null; checked with
// chunk_fault in a build with checks.
const char* cursor_fault(const line_reader& reader, const mailbox_cursor& cursor);
