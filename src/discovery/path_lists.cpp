#include "discovery/path_lists.h"

#include <cstdio>

#include "INCLUDE_U/text.h"
#include "platform/platform.h"
#include "run/terminate.h"

std::vector<std::string> g_paths;
std::vector<std::string> g_filetypes;
std::vector<std::string> g_excludes;
int g_exclude_count = 0;

void add_path(std::string_view path) {
  std::string full;
  if (!g_platform.full_path(std::string(path), full)) return;
  if (full.size() > 1 && full.back() == k_path_separator) full.pop_back();
  std::string stored = std::string(k_long_path_prefix) + full;
  for (const std::string& entry : g_paths) {
    if (ascii_iequal(entry, stored)) return;
  }
  if (g_paths.size() >= k_list_limit) {
    std::printf("\nToo many starting paths: at most %zu can be given\n", k_list_limit);
    terminate_run(k_exit_illegal_option);
  }
  g_paths.push_back(stored);
}

void add_path_argument(std::string_view word) { add_path(word); }

void add_filetype(std::string_view pattern) {
  for (const std::string& entry : g_filetypes) {
    if (entry == pattern) return;
  }
  if (g_filetypes.size() >= k_list_limit) {
    std::printf("\nToo many file types: at most %zu can be given\n", k_list_limit);
    terminate_run(k_exit_illegal_option);
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
