#include "settings/path_lists.h"

#include <cstdio>

#include "INCLUDE_U/stops.h"
#include "INCLUDE_U/text.h"
#include "INCLUDE_U/unreadable.h"
#include "platform/platform.h"
#include "settings/setting_messages.h"

std::vector<std::string> g_paths;
std::vector<std::string> g_filetypes;
std::vector<std::string> g_excludes;
int g_exclude_count = 0;

namespace {

// Windows names ignore case; POSIX names do not, so there "Mail" and "mail" are
// two directories and both are walked.
bool same_path(std::string_view a, std::string_view b) {
  return k_windows ? ascii_iequal(a, b) : a == b;
}

// Splits a full path after its last separator: the directory part keeps the
// separator, the rest is file name plus extension.
void split_full_path(const std::string& full, std::string& directory, std::string& file) {
  std::size_t cut = full.size();
  while (cut > 0 && !is_path_separator(full[cut - 1])) --cut;
  // "C:name" has no separator: the drive alone is the directory part.
  if (cut == 0 && k_windows && full.size() >= 2 && full[1] == ':') cut = 2;
  directory = full.substr(0, cut);
  file = full.substr(cut);
}

}  // namespace

std::string windows_long_path(std::string_view full) {
  // "\\server\share" is a network path, except the "\\?\" and "\\.\" forms.
  bool network =
      full.size() > 2 && full[0] == '\\' && full[1] == '\\' && full[2] != '?' && full[2] != '.';
  if (network) return "\\\\?\\UNC\\" + std::string(full.substr(2));
  return "\\\\?\\" + std::string(full);
}

void add_path(std::string_view path) {
  std::string full;
  if (path.empty() || !g_platform.full_path(std::string(path), full)) return;
  if (full.size() > 1 && full.back() == k_path_separator) full.pop_back();
  std::string stored = k_windows ? windows_long_path(full) : full;
  for (const std::string& entry : g_paths) {
    if (same_path(entry, stored)) return;
  }
  if (g_paths.size() >= k_list_limit) {
    say_setting_formatted("\nToo many starting paths: at most %d can be given\n",
                          static_cast<int>(k_list_limit));
    end_start_up(k_exit_illegal_option);
  }
  g_paths.push_back(stored);
}

void add_path_argument(std::string_view word) {
  std::string full;
  if (word.empty() || !g_platform.full_path(std::string(word), full)) return;
  if (full.find('*') == std::string::npos && g_platform.is_directory(full)) {
    add_path(full);
    return;
  }
  std::string directory, file;
  split_full_path(full, directory, file);
  // A word without wildcards that names nothing in a directory that exists is a
  // file the user expected to be there. (When the directory is missing too, the
  // walk names the directory.)
  bool has_wildcard = full.find_first_of("*?") != std::string::npos;
  if (!has_wildcard && !file.empty() && !g_platform.path_exists(full) &&
      g_platform.is_directory(directory)) {
    report_unreadable(full, "No such file or directory");
  }
  // With a starting path already given, a drive root loses its separator and so
  // names that drive's current directory. The POSIX root "/" has no such form.
  if (!g_paths.empty() && directory.size() > 1 && is_path_separator(directory.back())) {
    directory.pop_back();
  }
  add_path(directory);
  if (!file.empty()) add_filetype(file);
}

void add_filetype(std::string_view pattern) {
  for (const std::string& entry : g_filetypes) {
    if (entry == pattern) return;
  }
  if (g_filetypes.size() >= k_list_limit) {
    say_setting_formatted("\nToo many file types: at most %d can be given\n",
                          static_cast<int>(k_list_limit));
    end_start_up(k_exit_illegal_option);
  }
  g_filetypes.emplace_back(pattern);
}

void add_current_directory() {
  std::string cwd;
  if (g_platform.current_directory(cwd)) add_path(cwd);
}

bool add_exclude(std::string_view pattern) {
  if (g_excludes.size() >= k_exclude_limit) return false;
  g_excludes.push_back(ascii_upper_copy(pattern));
  g_exclude_count = static_cast<int>(g_excludes.size());
  return true;
}

void clear_path_lists() {
  g_paths.clear();
  g_filetypes.clear();
  g_excludes.clear();
  g_exclude_count = 0;
}
