// Where the line reader takes a message's bytes from: one small table of routines
// per kind of source, so that the scan reads the lines of every message alike and
// knows nothing of where they came from. Three kinds today: the plain file
// (k_file_source, one message), the mailbox message (k_mailbox_source in
// mailbox_cursor.h, a cursor over the file's chunks) and the message made in
// memory (k_memory_source in memory_source.h: an Outlook message's headers and
// body). A source that makes its bytes in memory gives its own `read` and takes
// the plain file's other routines: the reader then splits its bytes into lines,
// judges their ends and feeds the digests as it does a file's.
#pragma once

#include <cstdint>

struct line_reader;

struct message_source {
  // The next bytes of the source, as stored, into `into`: at most `wanted`, 0 at
  // its end, -1 when a read failed before any byte of this call.
  int64_t (*read)(line_reader& reader, char* into, int64_t wanted);
  // The hook from refill: reads the next chunk of the message into the reader
  // (read_chunk, settle_line_ends) and says where the message ends in it; false
  // when the message has no more bytes.
  bool (*next_chunk)(line_reader& reader);
  // After a read met the end of the message: finishes its digests (empty when it
  // was not read whole).
  void (*finish_hashes)(line_reader& reader);
  // Moves on to the source's next message once a read met the end of one; false
  // when there is none.
  bool (*next_message)(line_reader& reader);
};

// A plain file: its bytes through the platform's reads (or a read-ahead), one
// message from its first byte to its end.
extern const message_source k_file_source;
