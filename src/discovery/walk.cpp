#include "discovery/walk.h"

#include <cstdint>
#include <vector>

#include "INCLUDE_U/stops.h"
#include "INCLUDE_U/text.h"
#include "INCLUDE_U/unreadable.h"
#include "discovery/select_file.h"
#include "discovery/wildcard.h"
#include "platform/platform.h"
#include "settings/path_lists.h"
#include "settings/run_settings.h"

walk_totals g_walk;

namespace {

// Identities of the directories on the current walk path. A link back to one of
// them would repeat the same files without end, so it is not entered again.
std::vector<dir_identity> s_walk_path;

bool is_on_walk_path(const dir_identity& id) {
  for (const dir_identity& entered : s_walk_path) {
    if (entered == id) return true;
  }
  return false;
}

// After a directory search failed or ended early: named when the visitor reports
// directories (see walk_visitor). True when the search failed.
bool report_directory_failure(const walk_visitor& visit, const std::string& dir) {
  std::string reason;
  failure_kind kind = g_platform.last_failure(reason);
  if (!visit.reports_directories && kind != failure_kind::no_resources) {
    return kind != failure_kind::none;
  }
  return report_failure(dir, true);
}

// Length as the width setting counts it: in UTF-16 units, not bytes.
uint32_t utf16_length(std::string_view text) {
  uint32_t units = 0;
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (!is_utf8_continuation(byte)) ++units;  // one per lead byte
    if (byte >= 0xF0) ++units;                 // four-byte sequences need a surrogate pair
  }
  return units;
}

void count_file(const std::string& dir, const dir_entry& entry) {
  ++g_walk.counted_files;
  if (entry.size > 0) g_walk.counted_bytes += static_cast<uint64_t>(entry.size);
  if (g_settings->auto_width) {
    uint32_t length = utf16_length(dir) + utf16_length(entry.name);
    if (length > g_walk.longest_path) g_walk.longest_path = length;
  }
}

stop_reason count_visited_file(const walk_visitor&, const std::string& dir, const dir_entry& entry,
                               int64_t) {
  count_file(dir, entry);
  return stop_reason::go_on;
}

stop_reason select_visited_file(const walk_visitor& self, const std::string& dir,
                                const dir_entry& entry, int64_t directories_held) {
  if (g_settings->exclude && is_excluded(entry.name)) return stop_reason::go_on;
  return select_walked_file(*self.sink, dir, entry, directories_held);
}

// Walks every subdirectory of the open enumeration, each completely before the
// next entry is read.
stop_reason walk_subdirectories(const walk_visitor& visit, const std::string& dir,
                                find_state* search, dir_entry& entry) {
  do {
    if (abort_key_pressed()) return stop_reason::interrupted;
    if ((entry.attributes & k_attr_directory) == 0 || is_dot_entry(entry.name)) continue;
    if (visit.reports_directories) ++g_walk.dir_count;
    stop_reason stop = walk_directory(dir + entry.name + k_path_separator, visit);
    if (stop != stop_reason::go_on) return stop;
  } while (g_platform.find_next(search, entry));
  report_directory_failure(visit, dir);
  return failure_stop();
}

}  // namespace

walk_visitor counting_visitor() {
  return {.file = count_visited_file,
          .needs_sizes = true,
          .reports_directories = false,
          .sink = nullptr};
}

walk_visitor selecting_visitor(const file_sink& sink) {
  return {.file = select_visited_file,
          .needs_sizes = false,
          .reports_directories = true,
          .sink = &sink};
}

stop_reason walk_directory(const std::string& dir, const walk_visitor& visit) {
  ++g_walk.depth;
  if (g_settings->level_depth != 0 && g_walk.depth > g_settings->level_depth - 1) {
    --g_walk.depth;
    return stop_reason::go_on;
  }
  dir_identity id;
  bool identified = g_platform.directory_identity(dir, id);
  if (identified && is_on_walk_path(id)) {
    --g_walk.depth;
    return stop_reason::go_on;
  }
  // The directory's search holds a descriptor as long as the walk is below it,
  // beside the files still on their way from the directories walked before.
  if (visit.sink) {
    stop_reason stop = visit.sink->make_room_to_open(g_walk.depth - 1);
    if (stop != stop_reason::go_on) {
      --g_walk.depth;
      return stop;
    }
  }
  dir_entry entry;
  // Only names and the directory bit matter here: a full look-up of every file
  // would cost as much again as the look-up the file selection makes.
  find_state* search = g_platform.find_first_names(dir + "*.*", entry);
  if (!search) {
    report_directory_failure(visit, dir);
    --g_walk.depth;
    return failure_stop();
  }
  if (identified) s_walk_path.push_back(id);
  stop_reason stop = stop_reason::go_on;
  if (g_settings->recurse) {
    stop = walk_subdirectories(visit, dir, search, entry);
  } else if (visit.reports_directories) {
    ++g_walk.dir_count;
  }
  g_platform.find_close(search);
  if (stop == stop_reason::go_on) stop = scan_directory_files(dir, visit);
  if (identified) s_walk_path.pop_back();
  --g_walk.depth;
  return stop;
}

stop_reason scan_directory_files(const std::string& dir, const walk_visitor& visit) {
  // Counting adds up sizes; the selection looks each file up itself and needs
  // only names.
  auto find_first = visit.needs_sizes ? g_platform.find_first : g_platform.find_first_names;
  dir_entry entry;
  for (std::size_t i = 0; i < g_filetypes.size(); ++i) {
    const std::string& pattern = g_filetypes[i];
    if (pattern.empty() || pattern[0] == '-') break;
    find_state* search = find_first(dir + pattern, entry);
    // A pattern that matches nothing is no failure; a directory that cannot be
    // read is named once, not once per pattern.
    if (!search) {
      if (report_directory_failure(visit, dir)) return failure_stop();
      continue;
    }
    stop_reason stop = stop_reason::go_on;
    do {
      if (abort_key_pressed()) {
        stop = stop_reason::interrupted;
        break;
      }
      // Each level of the walk holds its directory open while the next is read.
      if ((entry.attributes & k_attr_directory) == 0) {
        stop = visit.file(visit, dir, entry, g_walk.depth);
      }
    } while (stop == stop_reason::go_on && g_platform.find_next(search, entry));
    bool failed = stop == stop_reason::go_on && report_directory_failure(visit, dir);
    g_platform.find_close(search);
    if (stop != stop_reason::go_on) return stop;
    if (failed) return failure_stop();
  }
  return stop_reason::go_on;
}

bool is_excluded(std::string_view name) {
  std::string upper = ascii_upper_copy(name);
  for (const std::string& pattern : g_excludes) {
    if (wildcard_match(pattern, upper)) return true;
  }
  return false;
}
