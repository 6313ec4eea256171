// The line reader's mailbox splitting against a plain byte-by-byte split of the
// same rule: a message starts at the file's first line when that is a separator
// (after a byte-order mark and empty lines), and at every later separator line
// that follows an empty line. Separators, body lines that look like them, line
// ends of every form and a filler that moves them around the reader's 64 KB
// chunk edges come from the input, and so do the sizes of the reads. Each
// message's offset, size, digest and (read line by line) text must be the
// reference's. A difference stops the fuzzer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "listing/sources/file_hashes.h"
#include "listing/sources/line_reader.h"
#include "listing/sources/mailbox_cursor.h"
#include "listing/sources/mailbox.h"
#include "platform/digest.h"

namespace {

struct reference_message {
  std::size_t offset = 0;
  std::size_t size = 0;
  std::string text;  // its lines as read: line ends made LF
};

// One line of the stored bytes: its text (without the line end) and where the
// next line starts.
struct stored_line {
  std::size_t start = 0;
  std::size_t text_end = 0;
  std::size_t next = 0;
  bool line_end = false;
};

// Whether the file's first 64 KB hold CRs but no LF: then a lone CR ends a line.
bool has_cr_line_ends(std::string_view bytes) {
  std::string_view first = bytes.substr(0, k_read_chunk);
  return first.find('\n') == std::string_view::npos && first.find('\r') != std::string_view::npos;
}

// Lines end in LF or CR LF, and in a bare-CR file in a lone CR.
std::vector<stored_line> stored_lines(std::string_view bytes) {
  bool cr_ends = has_cr_line_ends(bytes);
  std::vector<stored_line> lines;
  std::size_t start = 0;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    bool lf = bytes[i] == '\n';
    bool crlf = bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n';
    bool lone_cr = cr_ends && bytes[i] == '\r' && !crlf;
    if (!lf && !crlf && !lone_cr) continue;
    std::size_t next = crlf ? i + 2 : i + 1;
    std::size_t text_end = lf && i > start && bytes[i - 1] == '\r' ? i - 1 : i;
    lines.push_back({start, text_end, next, true});
    start = next;
    i = next - 1;
  }
  if (start < bytes.size()) lines.push_back({start, bytes.size(), bytes.size(), false});
  return lines;
}

// In a file whose lines end in LF or CR LF, a byte-order mark and empty lines
// may stand before a mailbox's first separator; they belong to no message.
std::size_t lead_length(std::string_view bytes) {
  if (has_cr_line_ends(bytes)) return 0;
  std::size_t at = bytes.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  for (;;) {
    if (bytes.substr(at, 1) == "\n") {
      at += 1;
    } else if (bytes.substr(at, 2) == "\r\n") {
      at += 2;
    } else {
      return at;
    }
  }
}

std::vector<reference_message> reference_split(std::string_view bytes) {
  std::vector<stored_line> lines = stored_lines(bytes);
  auto text_of = [&](const stored_line& l) { return bytes.substr(l.start, l.text_end - l.start); };
  std::size_t lead = lead_length(bytes);
  std::size_t first = 0;
  while (first < lines.size() && lines[first].next <= lead) ++first;
  // A byte-order mark stands on the first line, before its text.
  stored_line head = first < lines.size() ? lines[first] : stored_line{};
  head.start = std::max(head.start, lead);
  bool mailbox = first < lines.size() && is_separator_line(text_of(head));
  if (mailbox) lines[first] = head;
  if (!mailbox) first = 0;
  std::vector<reference_message> messages(1);
  messages[0].offset = lines.empty() ? 0 : lines[first].start;
  for (std::size_t i = first; i < lines.size(); ++i) {
    bool after_empty = i > 0 && lines[i - 1].text_end == lines[i - 1].start;
    if (mailbox && i > first && after_empty && is_separator_line(text_of(lines[i]))) {
      messages.push_back({lines[i].start, 0, ""});
    }
    messages.back().text.append(text_of(lines[i]));
    if (lines[i].line_end) messages.back().text.push_back('\n');
  }
  for (std::size_t m = 0; m < messages.size(); ++m) {
    std::size_t end = m + 1 < messages.size() ? messages[m + 1].offset : bytes.size();
    messages[m].size = end - messages[m].offset;
  }
  return messages;
}

// A separator longer than the reader holds at a chunk's end is no separator
// there, and one longer than a chunk nowhere: such inputs test nothing here.
bool has_long_from_line(std::string_view bytes) {
  for (const stored_line& l : stored_lines(bytes)) {
    if (l.next - l.start > 1000 && bytes.substr(l.start, 5) == "From ") return true;
  }
  return false;
}

std::string md5_hex(std::string_view bytes) {
  digest_state* state = nullptr;
  digest_value value;
  if (digest_start(state, digest_kind::md5) != digest_start_result::started) std::abort();
  digest_add(state, bytes.data(), bytes.size());
  digest_finish(state, value);
  digest_free(state);
  static constexpr char k_hex[] = "0123456789abcdef";
  std::string hex;
  for (std::size_t i = 0; i < value.size; ++i) {
    hex += k_hex[value.bytes[i] >> 4];
    hex += k_hex[value.bytes[i] & 15];
  }
  return hex;
}

// The mailbox the input describes: each byte below 8 stands for a line or line
// end of a mailbox, any other byte for itself.
std::string built_mailbox(const uint8_t* data, size_t size, std::string_view end,
                          std::size_t filler) {
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    switch (data[i]) {
      case 0:
        out.append("From a@example.org Mon Jan  1 10:00:00 2024").append(end);
        break;
      case 1:
        out.append(end);
        break;
      case 2:
        out.append("From here on, at 10:00 in 2024").append(end);
        break;
      case 3:
        out.push_back('\r');
        break;
      case 4:
        out.push_back('\n');
        break;
      case 5:
        out.append("Subject: s").append(end);
        break;
      case 6:
        out.append(">From b Tue Feb  2 11:11 2023").append(end);
        break;
      case 7:
        out.append("From c Wed Mar 3 01:02 1999");
        break;
      default:
        out.push_back(static_cast<char>(data[i]));
    }
    // The filler goes after the first line, so that what follows meets a chunk's end.
    if (i == 0) {
      while (filler >= 40) {
        out.append(std::string(40 - end.size(), 'x')).append(end);
        filler -= 40;
      }
      out.append(std::string(filler, 'y'));
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  fuzz_reset();
  static constexpr std::string_view k_ends[] = {"\n", "\r\n", "\r"};
  std::string_view end = k_ends[data[0] % 3];
  bool marked = (data[0] & 8) != 0;
  // Near one chunk's end, or not at all.
  std::size_t filler = (data[0] & 16) ? k_read_chunk - 600 + (data[1] | data[2] << 8) % 1200 : 0;
  static std::string content;
  content = built_mailbox(data + 4, size - 4, end, filler);
  if (has_long_from_line(content)) return 0;
  fuzz_serve_file(content, (data[0] & 4) != 0, 1 + std::size_t{data[3]} * 300);
  std::vector<reference_message> expected = reference_split(content);

  static const mark_filter filter = [] {
    mark_filter f;
    f.admit(':', 'c', 't');
    return f;
  }();
  static auto reader = std::make_unique<line_reader>();
  static auto line = std::make_unique<message_line>();
  static auto cursor = std::make_unique<mailbox_cursor>();
  file_hashes hashes;
  choose_hash_columns(hashes, true, false, false);
  if (!open_line_reader(*reader, "fuzz.mbox")) std::abort();
  reader->hashes = &hashes;
  attach_mailbox_cursor(*reader, *cursor, filter);
  std::size_t count = 0;
  do {
    start_file_hashes(hashes, nullptr);
    std::string text;
    for (;;) {
      if (marked) {
        std::string_view ignored;
        marked_read got = read_marked_line(*reader, filter, *line, ignored);
        if (got == marked_read::end) break;
        continue;
      }
      if (!read_line(*reader, *line)) break;
      text.append(line->text.view());
      if (line->line_end) text.push_back('\n');
    }
    finish_message_hashes(*reader);
    if (count >= expected.size()) std::abort();
    const reference_message& want = expected[count];
    int64_t offset = reader->mailbox ? reader->message_offset : 0;
    int64_t got_size = reader->mailbox ? message_size(*reader) : reader->bytes_read;
    if (offset != static_cast<int64_t>(want.offset)) std::abort();
    if (got_size != static_cast<int64_t>(want.size)) std::abort();
    if (!marked && text != want.text) std::abort();
    if (hashes.texts[0].view() != md5_hex(std::string_view(content).substr(want.offset, want.size)))
      std::abort();
    ++count;
  } while (next_message(*reader));
  close_line_reader(*reader);
  free_file_hashes(hashes);
  if (count != expected.size()) std::abort();
  return 0;
}
