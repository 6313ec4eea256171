// A message made in memory as a source: lines a store other than a message file
// gives (an Outlook message's headers and body), read by the scan as a file's.
#pragma once

#include <cstddef>
#include <string_view>

#include "listing/sources/line_reader.h"

// The bytes of one message and how far the reader has taken them.
struct memory_message {
  std::string_view bytes;
  std::size_t taken = 0;
};

extern const message_source k_memory_source;

// Reads `message` through `reader` from now on: one message, its digests fed
// with exactly its bytes. `message` must outlive the reads.
void attach_memory_message(line_reader& reader, memory_message& message);
