// The INI reader over any file content, as the program's own file or as the
// shared file with its sections.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "platform/platform.h"
#include "settings/ini_settings.h"

namespace {

std::string s_content;
std::string s_present;  // the one INI file that "exists"

bool fake_program_path(std::string& out) {
  out = "/fuzz/bin/mailsift";
  return true;
}
bool fake_current_directory(std::string& out) {
  out = "/fuzz/cwd";
  return true;
}
bool only_the_ini_exists(const std::string& path) { return path == s_present; }
std::FILE* open_the_ini(const std::string& path, const char* mode) {
  if (path != s_present || mode[0] != 'r' || s_content.empty()) return nullptr;
  return fmemopen(s_content.data(), s_content.size(), "r");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_reset();
  if (size == 0) return 0;
  // The first byte picks the program's own file or the shared one.
  s_present = (data[0] & 1) ? "/fuzz/cwd/TOLVERIN.INI" : "/fuzz/cwd/mailsift.ini";
  s_content.assign(reinterpret_cast<const char*>(data) + 1, size - 1);
  g_platform.program_path = fake_program_path;
  g_platform.current_directory = fake_current_directory;
  g_platform.path_exists = only_the_ini_exists;
  g_platform.open_stream = open_the_ini;
  g_platform.open_regular_stream = open_the_ini;
  try {
    read_ini_settings(std::vector<std::string>{"/fuzz/bin/mailsift"});
  } catch (const fuzz_exit&) {
  }
  return 0;
}
