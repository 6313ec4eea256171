// Passing over lines must hand out every line that holds an admitted mark, as
// reading every line finds them, whatever the content and however the reads
// fall, also when each line handed out is followed by a read ahead and a step
// back, as the rules do. A difference stops the fuzzer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "listing/sources/line_reader.h"

namespace {

// The pairs of the most frequent header names, in either case.
mark_filter fuzz_filter() {
  mark_filter filter;
  filter.admit(':', 'o', 'm');
  filter.admit(':', 'e', 'd');
  filter.admit(':', 't', 'o');
  filter.admit('=', 'm', 'e');
  return filter;
}

bool holds_admitted_mark(std::string_view text, const mark_filter& filter) {
  for (std::size_t i = 2; i < text.size(); ++i) {
    if ((text[i] == ':' || text[i] == '=') && is_ascii_letter(text[i - 2]) &&
        is_ascii_letter(text[i - 1]) && filter.admits(text[i], text[i - 2], text[i - 1])) {
      return true;
    }
  }
  return false;
}

std::vector<std::string> admitted_lines(bool passing_over, unsigned look_ahead_every) {
  static const mark_filter filter = fuzz_filter();
  static auto reader = std::make_unique<line_reader>();
  static auto line = std::make_unique<message_line>();
  static auto ahead = std::make_unique<message_line>();
  std::vector<std::string> lines;
  if (!open_line_reader(*reader, "fuzz.eml")) std::abort();
  for (unsigned n = 0;; ++n) {
    std::string_view text;
    if (passing_over) {
      marked_read got = read_marked_line(*reader, filter, *line, text);
      if (got == marked_read::end) break;
      if (got == marked_read::next_chunk) continue;
    } else {
      if (!read_line(*reader, *line)) break;
      text = line->text.view();
    }
    if (holds_admitted_mark(text, filter)) lines.emplace_back(text);
    if (look_ahead_every != 0 && n % look_ahead_every == 0 && read_line(*reader, *ahead)) {
      step_back(*reader, *ahead);
    }
  }
  close_line_reader(*reader);
  return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  fuzz_reset();
  // The first byte picks how reads fall, how often a line is looked ahead of, and
  // how many times the rest is repeated, so that short inputs also cross the
  // reader's chunk edges.
  std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  static std::string content;
  content.clear();
  for (unsigned i = 0; i <= (data[0] >> 3) % 32u * 4; ++i) content += rest;
  fuzz_serve_file(content, (data[0] & 1) != 0);
  unsigned look_ahead_every = (data[0] >> 1) % 4;
  std::vector<std::string> every = admitted_lines(false, 0);
  if (admitted_lines(true, look_ahead_every) != every) std::abort();
  return 0;
}
