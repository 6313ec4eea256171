#include "fuzz_support.h"

#include <cstdio>
#include <cstring>

#include "listing/eml_program.h"
#include "platform/platform.h"
#include "runlog/run_log.h"
#include "settings/path_lists.h"
#include "settings/run_settings.h"

namespace {

std::string_view s_file;
std::size_t s_offset = 0;
bool s_whole_reads = false;

void throwing_exit(int status) { throw fuzz_exit{status}; }
void no_sleep(int) {}
int no_key() { return -1; }
bool no_key_waiting() { return false; }
bool fixed_computer_name(std::string& out) {
  out = "FUZZHOST";
  return true;
}
bool refuse_path(const std::string&) { return false; }
bool no_such_path(const std::string&) { return false; }
std::FILE* refuse_stream(const std::string&, const char*) { return nullptr; }
bool refuse_truncate(const std::string&, int64_t) { return false; }

read_handle open_served(const std::string&) {
  s_offset = 0;
  return 1;
}
int64_t read_served(read_handle, void* buffer, int64_t size) {
  // Short reads of varying length exercise the reader's refills at every offset;
  // whole reads serve as much as is asked for, as a file on disk does.
  std::size_t left = s_file.size() - s_offset;
  std::size_t chunk = s_whole_reads ? left : 1 + (s_offset * 7919 + 13) % 4093;
  std::size_t take = left < chunk ? left : chunk;
  if (take > static_cast<std::size_t>(size)) take = static_cast<std::size_t>(size);
  std::memcpy(buffer, s_file.data() + s_offset, take);
  s_offset += take;
  return static_cast<int64_t>(take);
}
void close_served(read_handle) {}

}  // namespace

void fuzz_reset() {
  // The listing goes to a sink that stays open for the whole fuzzing run.
  static std::FILE* sink = std::fopen("/dev/null", "w");
  g_platform = native_platform();
  g_platform.exit_process = throwing_exit;
  g_platform.sleep_milliseconds = no_sleep;
  g_platform.read_key = no_key;
  g_platform.key_waiting = no_key_waiting;
  g_platform.computer_name = fixed_computer_name;
  g_platform.create_directory = refuse_path;
  g_platform.path_exists = no_such_path;
  g_platform.open_stream = refuse_stream;
  g_platform.open_regular_stream = refuse_stream;
  g_platform.truncate_file = refuse_truncate;
  create_run_settings();
  clear_path_lists();
  g_out_file = sink;
  g_msg_file = stderr;
  g_acct_file = nullptr;
}

void fuzz_serve_file(std::string_view data, bool whole_reads) {
  s_file = data;
  s_offset = 0;
  s_whole_reads = whole_reads;
  g_platform.open_for_reading = open_served;
  g_platform.read_bytes = read_served;
  g_platform.close_file = close_served;
}

std::vector<std::string> fuzz_words(const uint8_t* data, size_t size) {
  std::vector<std::string> words;
  std::string word;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  words.push_back(word);
  return words;
}
