#include "listing/sources/file_hashes.h"

#include <utility>

#include "INCLUDE_U/messages.h"
#include "INCLUDE_U/stops.h"

namespace {

// Once-a-run notes 0 to 2: a column that stays empty for want of its digest is
// named once, on standard error, so that an empty column is not taken for a
// file that was not read.
constexpr const char* k_unavailable_notes[k_digest_kinds] = {
    "\nmailsift: the system's cryptography gives no MD5 digest; its column stays empty\n",
    "\nmailsift: the system's cryptography gives no SHA-1 digest; its column stays empty\n",
    "\nmailsift: the system's cryptography gives no SHA-256 digest; its column stays empty\n",
};

void say_unavailable(held_messages* messages, digest_kind kind) {
  std::size_t i = static_cast<std::size_t>(kind);
  write_once_note(messages, static_cast<int>(i), k_unavailable_notes[i]);
}

}  // namespace

void choose_hash_columns(file_hashes& hashes, bool md5, bool sha1, bool sha256) {
  hashes.count = 0;
  for (auto [wanted, kind] : {std::pair{md5, digest_kind::md5}, std::pair{sha1, digest_kind::sha1},
                              std::pair{sha256, digest_kind::sha256}}) {
    if (wanted) hashes.kinds[hashes.count++] = kind;
  }
}

std::string_view hash_column_name(digest_kind kind) {
  switch (kind) {
    case digest_kind::md5:
      return "MD5";
    case digest_kind::sha1:
      return "SHA-1";
    case digest_kind::sha256:
      return "SHA-256";
  }
  return "";
}

void start_file_hashes(file_hashes& hashes, held_messages* messages) {
  for (std::size_t i = 0; i < hashes.count; ++i) {
    hashes.texts[i].clear();
    digest_start_result started = digest_start(hashes.states[i], hashes.kinds[i]);
    // A digest missing for want of memory is no fact about the system's
    // cryptography: the run takes the road of a failed allocation.
    if (started == digest_start_result::out_of_memory) answer_failed_allocation();
    hashes.failed[i] = started != digest_start_result::started;
    if (started == digest_start_result::unavailable) say_unavailable(messages, hashes.kinds[i]);
  }
}

void add_to_file_hashes(file_hashes& hashes, const char* bytes, std::size_t size) {
  for (std::size_t i = 0; i < hashes.count; ++i) {
    if (!hashes.failed[i] && !digest_add(hashes.states[i], bytes, size)) hashes.failed[i] = true;
  }
}

void free_file_hashes(file_hashes& hashes) {
  for (digest_state*& state : hashes.states) digest_free(state);
}

void finish_file_hashes(file_hashes& hashes, bool read_to_end) {
  static constexpr char k_hex[] = "0123456789abcdef";
  for (std::size_t i = 0; i < hashes.count; ++i) {
    // A digest left unfinished is started afresh for the next file.
    digest_value value;
    if (hashes.failed[i] || !read_to_end || !digest_finish(hashes.states[i], value)) continue;
    for (std::size_t b = 0; b < value.size; ++b) {
      hashes.texts[i].push_back(k_hex[value.bytes[b] >> 4]);
      hashes.texts[i].push_back(k_hex[value.bytes[b] & 0xF]);
    }
  }
}
