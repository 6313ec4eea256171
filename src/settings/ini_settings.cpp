#include "settings/ini_settings.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "INCLUDE_U/text.h"
#include "platform/platform.h"
#include "settings/ini_keys.h"
#include "settings/run_log_request.h"
#include "settings/run_settings.h"
#include "settings/setters.h"
#include "settings/setting_messages.h"

namespace {

// One read of the INI file takes at most this many characters; a longer line is
// read in pieces, each treated as a line.
constexpr std::size_t k_ini_piece = 259;
// Settings files are a few hundred bytes; whatever follows this much is not read.
constexpr long k_ini_size_limit = 1 << 20;
constexpr const char* k_shared_ini_name = "TOLVERIN.INI";
// The program's own file when the program file was renamed and has none of its own.
constexpr const char* k_fixed_ini_name = "MAILSIFT.ini";

struct program_location {
  std::string directory;  // ends with a separator, or empty
  std::string base_name;  // without extension, with the case it has on disk
};

struct ini_choice {
  std::string path;
  bool shared = false;  // only the program's section is read
};

program_location locate_program() {
  program_location where;
  std::string path;
  if (!g_platform.program_path(path)) return where;
  std::size_t name_at = path.size();
  while (name_at > 0 && !is_path_separator(path[name_at - 1])) --name_at;
  where.directory = path.substr(0, name_at);
  where.base_name = path.substr(name_at);
  std::size_t dot = where.base_name.rfind('.');
  if (dot != std::string::npos && dot > 0) where.base_name.resize(dot);
  return where;
}

std::string in_directory(const std::string& directory, const std::string& name) {
  if (directory.empty() || is_path_separator(directory.back())) return directory + name;
  return directory + k_path_separator + name;
}

// The four places in their order, then the fixed name in the current directory and
// the program's directory; the first that exists is taken.
bool find_ini_file(const program_location& program, ini_choice& choice) {
  if (program.base_name.empty()) return false;
  std::string current;
  g_platform.current_directory(current);
  std::string own = program.base_name + ".ini";
  const ini_choice candidates[] = {
      {in_directory(current, own), false},
      {in_directory(program.directory, own), false},
      {in_directory(current, k_shared_ini_name), true},
      {in_directory(program.directory, k_shared_ini_name), true},
      {in_directory(current, k_fixed_ini_name), false},
      {in_directory(program.directory, k_fixed_ini_name), false},
  };
  for (const ini_choice& candidate : candidates) {
    if (g_platform.path_exists(candidate.path)) {
      choice = candidate;
      return true;
    }
  }
  return false;
}

// Reads one piece of a line without its line end (CR LF counts as one line end, as
// a text-mode read gives it); false at the end of the file or past the size that
// settings can sensibly take.
bool read_ini_line(std::FILE* file, std::string& line) {
  line.clear();
  long offset = std::ftell(file);
  if (offset < 0 || offset >= k_ini_size_limit) return false;
  int c = std::fgetc(file);
  if (c == EOF) return false;
  while (c != EOF && c != '\n') {
    if (c == '\r') {
      int next = std::fgetc(file);
      if (next == '\n') break;
      if (next != EOF) std::ungetc(next, file);
    }
    line.push_back(static_cast<char>(c));
    if (line.size() == k_ini_piece) break;
    c = std::fgetc(file);
  }
  return true;
}

bool begins_section(std::string_view line) { return !line.empty() && line[0] == '['; }

// The program's own file: every line counts, section headers are skipped.
void read_own_file(std::FILE* file) {
  std::string line;
  while (read_ini_line(file, line)) {
    if (!begins_section(line)) apply_ini_line(line);
  }
}

// The shared file: only the lines between the program's header and the next
// section (or a line naming the program's header again) count.
void read_program_section(std::FILE* file, const std::string& header) {
  std::string line;
  bool inside = false;
  while (read_ini_line(file, line)) {
    std::string upper = ascii_upper_copy(line);
    if (!inside) {
      inside = upper.rfind(header, 0) == 0;
      continue;
    }
    if (begins_section(upper) || upper.find(header) != std::string::npos) return;
    apply_ini_line(line);
  }
}

void report_unopened_ini() {
  say_setting("\nCouldn't open .ini file\n");
  show_setting_messages();
  // Only a person at a terminal can press a key, and sees the message only when
  // standard error is one too; scripts must not hang here.
  if (g_platform.stdin_is_terminal() && g_platform.is_terminal(stderr)) g_platform.read_key();
}

}  // namespace

bool env_contains(const char* word, const char* name) {
  std::string value;
  if (!g_platform.get_environment(name, value)) return false;
  return ascii_ifind(value, word) != std::string::npos;
}

void read_environment() {
  std::string value;
  // An empty ACCT names no file (POSIX shells can set one; Windows cannot).
  if (g_platform.get_environment("ACCT", value) && !value.empty()) {
    request_run_log_open(ascii_iequal(value, "ON") ? std::string_view("ACCT-ING") : value);
  }
  if (g_platform.get_environment("DELIMETER", value)) {
    std::string_view shown = value;
    if (!shown.empty() && shown.front() == '"') shown.remove_prefix(1);
    // Nothing after the quote leaves the delimiter alone rather than making it NUL.
    // The low 8 bits of its first character: the delimiter is one byte.
    if (!shown.empty()) g_delimiter = static_cast<char>(first_character_code(shown) & 0xFF);
    say_setting("env points to :");
    say_setting(shown);
    say_setting(":");
  }
}

void read_ini_settings(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "-.ini") return;
  }
  program_location program = locate_program();
  ini_choice choice;
  if (!find_ini_file(program, choice)) return;
  std::FILE* file = g_platform.open_regular_stream(choice.path, "r");
  if (!file) {
    report_unopened_ini();
    return;
  }
  if (choice.shared) {
    std::string header = "[";
    header += ascii_upper_copy(program.base_name);
    header += ']';
    read_program_section(file, header);
  } else {
    read_own_file(file);
  }
  std::fclose(file);
}
