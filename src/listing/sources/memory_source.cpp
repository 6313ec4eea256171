#include "listing/sources/memory_source.h"

#include <cstring>

namespace {

int64_t read_memory_bytes(line_reader& reader, char* into, int64_t wanted) {
  auto& message = *static_cast<memory_message*>(reader.source_state);
  std::size_t left = message.bytes.size() - message.taken;
  std::size_t n = wanted < 0 ? 0 : static_cast<std::size_t>(wanted);
  if (n > left) n = left;
  if (n != 0) std::memcpy(into, message.bytes.data() + message.taken, n);
  message.taken += n;
  return static_cast<int64_t>(n);
}

}  // namespace

const message_source k_memory_source = {read_memory_bytes, next_file_chunk, finish_file_hashes_of,
                                        no_next_message};

void attach_memory_message(line_reader& reader, memory_message& message) {
  message.taken = 0;
  attach_source(reader, k_memory_source, &message, static_cast<int64_t>(message.bytes.size()));
}
