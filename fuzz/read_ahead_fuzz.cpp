// The read-ahead hands out the file's bytes exactly as read_bytes would: in
// order, none lost or doubled, whatever sizes the system's reads and the scan's
// requests have; a failed read ends the bytes where it happened, and the next
// request says -1; a stop in the middle ends cleanly. A difference stops the fuzzer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "listing/sources/read_ahead.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 8) return 0;
  fuzz_reset();
  // The file: the rest of the input, repeated to reach past the read-ahead's
  // parts (256 KB each, four of them) when the input asks.
  std::string_view rest(reinterpret_cast<const char*>(data) + 8, size - 8);
  static std::string content;
  content.clear();
  std::size_t copies = 1 + (data[0] % 8 == 0 ? 1200000 / (rest.size() + 1) : data[0] % 8);
  for (std::size_t i = 0; i < copies; ++i) content += rest;
  // Reads of a byte or a few through a megabyte are slow: they get fewer bytes.
  std::size_t longest_read = 1 + (std::size_t{data[2]} << (data[2] % 11));
  if (content.size() > longest_read * 4096) content.resize(longest_read * 4096);
  fuzz_serve_file(content, (data[1] & 1) != 0, longest_read);
  // A failing read somewhere in the file, or none.
  int64_t fail_at = -1;
  if (data[1] & 2) {
    fail_at = static_cast<int64_t>((data[3] | data[4] << 8 | data[5] << 16) % (content.size() + 1));
    fuzz_fail_reads_at(fail_at);
  }
  // Where the scan stops reading before the end, or never.
  std::size_t stop_after = (data[1] & 4) ? (data[6] << 12) % (content.size() + 1) : SIZE_MAX;
  read_handle file = g_platform.open_for_reading("fuzz.mbox");
  read_ahead* ahead = start_read_ahead(file);
  if (!ahead) std::abort();
  std::size_t expected_end = fail_at < 0 ? content.size() : static_cast<std::size_t>(fail_at);
  static std::vector<char> into(1 << 20);
  std::size_t given = 0;
  for (unsigned n = 0;; ++n) {
    if (given >= stop_after) break;
    // Requests of every size, from one byte to more than a part.
    int64_t wanted = 1 + ((n * 2654435761u + data[7]) % (std::size_t{1} << (data[7] % 20 + 1)));
    int64_t got = read_ahead_bytes(*ahead, into.data(), wanted);
    if (got < 0) {
      // Only once every byte before the failure was handed out.
      if (fail_at < 0 || given != expected_end) std::abort();
      break;
    }
    if (got > wanted) std::abort();
    if (got == 0) {
      if (given != expected_end || fail_at >= 0) std::abort();
      break;
    }
    // Short of what was wanted only at the end of the bytes.
    if (got < wanted && given + static_cast<std::size_t>(got) != expected_end) std::abort();
    if (given + static_cast<std::size_t>(got) > expected_end) std::abort();
    if (std::memcmp(into.data(), content.data() + given, static_cast<std::size_t>(got)) != 0)
      std::abort();
    given += static_cast<std::size_t>(got);
  }
  std::string reason;
  failure_kind failure = stop_read_ahead(ahead, reason);
  // The failure is reported once the reads met it, and only then.
  bool met = fail_at >= 0 && given == expected_end && stop_after == SIZE_MAX;
  if (met && (failure != failure_kind::other || reason != "fuzz")) std::abort();
  if (fail_at < 0 && failure != failure_kind::none) std::abort();
  g_platform.close_file(file);
  return 0;
}
