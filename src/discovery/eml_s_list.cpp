#include "discovery/eml_s_list.h"

#include <cstdint>
#include <cstdio>
#include <string_view>

#include "INCLUDE_U/messages.h"
#include "INCLUDE_U/stops.h"
#include "INCLUDE_U/text.h"
#include "discovery/select_file.h"
#include "platform/platform.h"
#include "settings/run_settings.h"

namespace {

// One more byte than a line may hold, for the carriage return of a CR LF line end.
using list_line = bounded_text<k_list_line_limit + 1>;

enum class line_read { line, too_long, end_of_file, interrupted };

// Bytes of an overlong line skipped between two looks for an interrupt.
constexpr int64_t k_skip_poll_interval = 1 << 16;

// Reads one line without its "\n"; a line longer than the buffer is read to its end
// and reported as too long, so that its rest is not taken for further lines.
line_read read_list_line(std::FILE* list, list_line& line) {
  line.clear();
  bool overflow = false;
  int c = std::getc(list);
  if (c == EOF) return line_read::end_of_file;
  int64_t skipped = 0;
  while (c != EOF && c != '\n') {
    if (!line.push_back(static_cast<char>(c))) {
      overflow = true;
      // A line without end (a sparse file of zeros) must not stop an interrupt.
      if (++skipped % k_skip_poll_interval == 0 && interrupt_pending()) {
        return line_read::interrupted;
      }
    }
    c = std::getc(list);
  }
  if (line.back() == '\r') line.drop_last();
  return overflow || line.size() > k_list_line_limit ? line_read::too_long : line_read::line;
}

// The name of a list line: the text before the first "|" without trailing line
// ends and spaces; the first character always stays.
std::string_view name_of_line(std::string_view line) {
  std::size_t bar = line.find('|');
  if (bar != std::string_view::npos) line = line.substr(0, bar);
  while (line.size() > 1) {
    char c = line.back();
    if (c != '\n' && c != '\r' && c != ' ') break;
    line.remove_suffix(1);
  }
  return line;
}

void report_too_long(int line_number) {
  char text[96];
  int n = std::snprintf(text, sizeof text, "\nSource list line %d skipped: the path is too long\n",
                        line_number);
  if (n > 0) write_message(std::string_view(text, static_cast<std::size_t>(n)));
}

enum class entry_result { named, nothing_named, too_long };

// Splits the full path of `name` into the directory string and the file name.
entry_result split_list_name(std::string_view name, std::string& dir, std::string& file) {
  std::string text;
  if (name.empty() || !g_platform.ansi_text_to_utf8(std::string(name), text)) {
    return entry_result::nothing_named;
  }
  std::string full;
  if (!g_platform.full_path(text, full)) return entry_result::too_long;
  std::size_t separator = full.rfind(k_path_separator);
  if (separator == std::string::npos || separator + 1 == full.size()) {
    return entry_result::nothing_named;
  }
  std::string_view prefix(k_long_path_prefix);
  // A line that already carries the long-path form must not get it twice.
  if (!prefix.empty() && std::string_view(full).substr(0, prefix.size()) == prefix) prefix = {};
  if (prefix.size() + full.size() > k_list_path_limit) return entry_result::too_long;
  dir.assign(prefix);
  dir.append(full, 0, separator + 1);
  file.assign(full, separator + 1);
  return entry_result::named;
}

// Reads the list, handing each named file to `take` until it asks to stop.
template <typename handler>
stop_reason read_list_entries(std::FILE* list, handler take) {
  static list_line line;
  std::string dir;
  std::string file;
  for (int line_number = 1;; ++line_number) {
    if (abort_key_pressed()) return stop_reason::interrupted;
    line_read read = read_list_line(list, line);
    if (read == line_read::interrupted) return stop_reason::interrupted;
    if (read == line_read::end_of_file) return stop_reason::go_on;
    if (read == line_read::too_long) {
      report_too_long(line_number);
      continue;
    }
    // An empty line ends the list.
    if (line.empty()) return stop_reason::go_on;
    std::string_view name = name_of_line(line.view());
    entry_result result = split_list_name(name, dir, file);
    if (result == entry_result::too_long) report_too_long(line_number);
    if (result != entry_result::named) continue;
    // The column header line of a listing used as a list names no file.
    stop_reason stop = take(dir, file, name == "Filename");
    if (stop != stop_reason::go_on) return stop;
  }
}

}  // namespace

stop_reason read_source_list(std::FILE* list, list_entry_handler handler) {
  return read_list_entries(list, [handler](const std::string& dir, const std::string& name, bool) {
    handler(dir, name);
    return stop_reason::go_on;
  });
}

stop_reason process_source_list(const walk_visitor& visit) {
  if (!g_source_list_file) return stop_reason::go_on;
  const file_sink& sink = *visit.sink;
  // A line naming a missing file is named and counted, as an unreadable one is:
  // a list of 10,000 files must not yield 9,998 records without a word.
  return read_list_entries(g_source_list_file, [&sink](const std::string& dir,
                                                       const std::string& name, bool header_line) {
    return header_line ? select_file(sink, dir, name) : select_listed_file(sink, dir, name);
  });
}
