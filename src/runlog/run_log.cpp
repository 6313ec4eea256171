#include "runlog/run_log.h"

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "INCLUDE_U/clock.h"
#include "INCLUDE_U/dates.h"
#include "INCLUDE_U/messages.h"
#include "INCLUDE_U/numbers.h"
#include "INCLUDE_U/stops.h"
#include "INCLUDE_U/text.h"
#include "INCLUDE_U/unreadable.h"
#include "discovery/walk.h"
#include "listing/eml_program.h"
#include "listing/outlook_listing.h"
#include "platform/platform.h"
#include "runlog/last_access.h"
#include "settings/path_lists.h"
#include "settings/run_settings.h"
#include "settings/setting_messages.h"

std::FILE* g_acct_file = nullptr;

namespace {

constexpr const char* k_separator_line = "****************************************";
// Source label of the file-routine messages, shared with the sibling tools.
constexpr const char* k_file_routine_label = "Generic_u";
constexpr char k_ctrl_z = 0x1A;
// Logs this short are never trimmed.
constexpr int64_t k_untrimmed_size = 9;
// End-of-file marks that a log of ours may end in; a longer run means the file is
// something else (an archive, an image) and nothing of it is cut.
constexpr int64_t k_longest_trimmed_run = 512;

// "C:" alone names a drive, not a directory to create.
bool is_drive_only(std::string_view text) {
  return k_windows && text.size() == 2 && text[1] == ':';
}

// Drive and directory of a file name, with the separator that ends them.
std::string directory_part(const std::string& name) {
  std::size_t i = name.size();
  while (i > 0 && !is_path_separator(name[i - 1])) --i;
  if (i == 0 && k_windows && name.size() >= 2 && name[1] == ':') return name.substr(0, 2);
  return name.substr(0, i);
}

// The directory text without its last separator; empty when there is none.
std::string without_last_separator(const std::string& directory) {
  std::size_t i = directory.size();
  while (i > 0 && !is_path_separator(directory[i - 1])) --i;
  return i == 0 ? std::string() : directory.substr(0, i - 1);
}

void show_note(const char* format, const std::string& text) {
  say_setting_formatted(format, text.c_str());
}

void report_file_routine(int line, const char* what, const std::string& name) {
  std::fprintf(stderr, "\n%s\n%d\n%s %s\n", k_file_routine_label, line, what, name.c_str());
}

// Offset just past the last byte that is neither NUL nor Ctrl-Z, when at most
// k_longest_trimmed_run of them end the file; `size` otherwise, or when the tail
// cannot be read (nothing is then cut).
int64_t end_of_text(const std::string& name, int64_t size) {
  char tail[k_longest_trimmed_run + 1];
  int64_t start = size > k_longest_trimmed_run + 1 ? size - (k_longest_trimmed_run + 1) : 0;
  int64_t got = g_platform.read_at(name, start, tail, size - start);
  if (got != size - start) return size;
  for (int64_t i = got; i > 0; --i) {
    char c = tail[i - 1];
    if (c != '\0' && c != k_ctrl_z) return start + i;
  }
  // Nothing but marks: a whole file of them is short enough to be ours only when it
  // fits the run.
  return start == 0 && size <= k_longest_trimmed_run ? 0 : size;
}

// Standard and daylight abbreviations and the offset in whole hours.
struct zone_facts {
  std::string standard_name;
  std::string standard_abbreviation;
  std::string daylight_abbreviation;
  long offset_hours = 0;
};

bool read_zone_facts(zone_facts& facts) {
  zone_state zone;
  if (!g_platform.time_zone(zone)) return false;
  facts.standard_name = zone.standard_name;
  facts.standard_abbreviation = zone_abbreviation(zone.standard_name, true);
  if (zone.has_daylight && !zone.daylight_name.empty()) {
    facts.daylight_abbreviation = zone_abbreviation(zone.daylight_name, false);
  }
  facts.offset_hours = zone.offset_seconds_west / 3600;
  return true;
}

void write_start_stamp(std::FILE* log, const zone_facts& facts) {
  int64_t now = current_time();
  std::string local = ctime_text(now);
  std::fputs("\n Started ", log);
  if (facts.standard_name.empty()) {
    std::fprintf(log, "%s Local Time: ", local.c_str());
  } else {
    std::fprintf(log, "%s GMT, ", utc_ctime_text(now).c_str());
    std::string hours_minutes = local.size() >= 16 ? local.substr(11, 5) : std::string();
    std::fprintf(log, "%s %s ", hours_minutes.c_str(), facts.standard_name.c_str());
    std::fprintf(log, "(%s/%s:%ld)", facts.standard_abbreviation.c_str(),
                 facts.daylight_abbreviation.c_str(), facts.offset_hours);
  }
  std::fputs("\n", log);
}

}  // namespace

std::string zone_abbreviation(std::string_view name, bool upper) {
  std::string abbreviation(name.substr(0, 3));
  // The initial of a later word replaces a letter; a name that ends in a space has
  // no initial there, and the abbreviation ends at that letter.
  auto put_initial = [&abbreviation, name](std::size_t letter, std::size_t space) {
    if (space + 1 >= name.size()) {
      if (letter < abbreviation.size()) abbreviation.resize(letter);
    } else if (letter < abbreviation.size()) {
      abbreviation[letter] = name[space + 1];
    }
  };
  std::size_t first_space = name.find(' ');
  if (first_space != std::string_view::npos) {
    put_initial(1, first_space);
    std::size_t second_space = name.find(' ', first_space + 2);
    if (second_space != std::string_view::npos) put_initial(2, second_space);
  }
  if (upper) ascii_upper_in_place(abbreviation);
  return abbreviation;
}

bool ensure_log_directory(const std::string& name) {
  std::string directory = directory_part(name);
  std::string text = without_last_separator(directory);
  // A log in a root directory ("/run.log") leaves no text after the cut.
  const std::string& tested = text.empty() ? directory : text;
  if (!tested.empty() && g_platform.is_directory(tested)) return true;

  for (std::size_t i = 1; i < text.size(); ++i) {
    if (!is_path_separator(text[i])) continue;
    std::string upper_level = text.substr(0, i);
    text[i] = k_path_separator;
    if (is_drive_only(upper_level) || g_platform.path_exists(upper_level)) continue;
    g_platform.create_directory(upper_level);
    show_note("Creating (log\\error) directory:  %s\n", upper_level);
  }
  bool created = g_platform.create_directory(text);
  show_note("Creating (log) directory:  %s\n", text);
  show_setting_messages();
  pause_seconds(1);
  return created;
}

bool trim_log_file(const std::string& name) {
  // Opening for update proves the file exists and may be written; otherwise it is
  // created empty, which "a" never does to an existing file.
  std::FILE* probe = g_platform.open_regular_stream(name, "r+b");
  if (!probe) probe = g_platform.open_regular_stream(name, "ab");
  if (!probe) {
    // The caller names the system's reason after this message.
    int error = errno;
    report_file_routine(__LINE__, "error opening", name);
    errno = error;
    return false;
  }
  std::fclose(probe);

  int64_t size = 0;
  if (!g_platform.file_size(name, size) || size <= k_untrimmed_size) return true;
  // Only a run of end-of-file marks at the very end goes: a stray NUL in the middle
  // of the log, or of a file named by mistake, must not cost the text after it.
  int64_t end = end_of_text(name, size);
  if (end < size) g_platform.truncate_file(name, end);
  return true;
}

std::FILE* open_run_log(const std::string& name) {
  ensure_log_directory(name);
  // A log that cannot be written is reported and the run goes on without it: an
  // optional log must not cost the user the listing.
  std::FILE* log = trim_log_file(name) ? g_platform.open_regular_stream(name, "a+") : nullptr;
  if (!log) {
    say_setting_formatted("Can't open accounting file %s: %s\n", name.c_str(),
                          system_reason(errno));
    return nullptr;
  }
  std::fseek(log, 0, SEEK_END);
  std::fprintf(log, "\n%.40s\n", k_separator_line);
  // On the disk at once, as the command line and the start stamp: a run that dies
  // still leaves its start in the log.
  std::fflush(log);
  return log;
}

void write_command_echo(const std::vector<std::string>& args) {
  if (!g_acct_file) return;
  for (const std::string& arg : args) {
    // A lone bar would read as a pipe if the line were pasted into a shell.
    if (arg == "|") {
      std::fputs(" \"|\"", g_acct_file);
    } else {
      std::fputc(' ', g_acct_file);
      write_text(g_acct_file, arg);
    }
  }
  std::fputs("\n", g_acct_file);
  std::fflush(g_acct_file);
}

void write_run_log_header(const std::vector<std::string>& args) {
  if (!g_acct_file) return;
  if (!g_settings->output_mode && g_settings->silent) return;
  zone_facts facts;
  if (!read_zone_facts(facts)) {
    std::fputs("\nCan't get timezone information\n", stderr);
    exit_directly(k_exit_memory);
  }
  write_start_stamp(g_acct_file, facts);
  std::fputs(" Command Line: ", g_acct_file);
  for (const std::string& arg : args) {
    write_text(g_acct_file, arg);
    std::fputc(' ', g_acct_file);
  }
  std::fputs("\n", g_acct_file);
  std::fflush(g_acct_file);
}

void write_initial_directory() {
  if (!g_acct_file || g_paths.empty()) return;
  std::string_view path = g_paths.front();
  std::size_t prefix = std::strlen(k_long_path_prefix);
  if (path.substr(0, prefix) == k_long_path_prefix) path.remove_prefix(prefix);
  std::fputs(" Initial directory: ", g_acct_file);
  write_text(g_acct_file, path);
  std::fputs("\n", g_acct_file);
}

void write_run_log_trailer(int reason) {
  if (!g_acct_file) return;
  if (reason != 0) {
    const char* text = exit_reason_text(reason);
    std::fprintf(g_acct_file, "\n Abnormal termination. Reason: %s", text ? text : "");
  }
  write_text(g_acct_file, directory_count_text(g_walk.dir_count, g_file_count));
  write_text(g_acct_file, outlook_count_text());
  write_text(g_acct_file, unreadable_count_text(g_unreadable_count));
  write_text(g_acct_file, undated_count_text(g_undated_count));
  std::fprintf(g_acct_file, "\n\n  Finished: %.24s\n", ctime_text(g_end_time).c_str());
  std::fputs("  Elapsed: ", g_acct_file);
  write_text(g_acct_file, elapsed_text(g_end_time - g_start_time));
  std::fputs("\n", g_acct_file);
  report_last_access(g_acct_file, g_last_access_setting);
  report_access_times(g_acct_file, g_last_access_setting, g_platform.access_times_not_kept());
  std::fputs("\n", g_acct_file);
}

void close_run_log() {
  if (!g_acct_file) return;
  std::fclose(g_acct_file);
  g_acct_file = nullptr;
}

bool carry_out_run_log_request(const run_log_request& request) {
  switch (request.action) {
    case run_log_action::open:
      g_acct_file = open_run_log(std::string(request.name));
      break;
    case run_log_action::give_way:
      if (g_acct_file) std::fprintf(g_acct_file, request.farewell, std::string(request.name).c_str());
      close_run_log();
      break;
    case run_log_action::close:
      close_run_log();
      break;
    case run_log_action::is_open:
      break;
  }
  return g_acct_file != nullptr;
}
