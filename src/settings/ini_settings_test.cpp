#include "settings/ini_settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "runlog/run_log.h"
#include "settings/path_lists.h"
#include "settings/run_settings.h"
#include "test_util.h"

namespace {

// What the fake platform reports: the program's path, the current directory, the
// environment, whether standard input is a terminal; and what it was asked to do.
std::string s_program;
std::string s_current;
std::vector<std::pair<std::string, std::string>> s_environment;
bool s_terminal = false;
bool s_error_terminal = true;
int s_keys_read = 0;

struct ini_test_platform {
  scoped_platform swap;
  ini_test_platform() {
    s_environment.clear();
    s_terminal = false;
    s_error_terminal = true;
    s_keys_read = 0;
    g_platform.sleep_milliseconds = [](int) {};
    g_platform.program_path = [](std::string& out) {
      out = s_program;
      return true;
    };
    g_platform.current_directory = [](std::string& out) {
      out = s_current;
      return true;
    };
    g_platform.get_environment = [](const char* name, std::string& out) {
      for (const auto& [n, v] : s_environment) {
        if (n == name) {
          out = v;
          return true;
        }
      }
      return false;
    };
    g_platform.stdin_is_terminal = [] { return s_terminal; };
    g_platform.is_terminal = [](std::FILE* stream) { return stream == stderr && s_error_terminal; };
    g_platform.read_key = [] {
      ++s_keys_read;
      return static_cast<int>('x');
    };
  }
};

void start_settings() {
  create_run_settings();
  clear_path_lists();
  g_settings->width = 32;
}

// A tree with a current directory "cwd" and the program "bin/Sift.exe".
void place_program(const temp_tree& tree) {
  tree.make_dir("cwd");
  tree.make_dir("bin");
  s_program = tree.path("bin/Sift.exe");
  s_current = tree.path("cwd");
}

int width_after_reading(const std::vector<std::string>& args = {"prog"}) {
  start_settings();
  read_ini_settings(args);
  return g_settings->width;
}

}  // namespace

TEST(ini_settings, the_first_file_found_is_read) {
  ini_test_platform fake;
  struct file {
    const char* name;
    const char* text;
  };
  const file files[] = {
      {"cwd/Sift.ini", "WIDTH=11\n"},
      {"bin/Sift.ini", "WIDTH=12\n"},
      {"cwd/TOLVERIN.INI", "[SIFT]\nWIDTH=13\n"},
      {"bin/TOLVERIN.INI", "[SIFT]\nWIDTH=14\n"},
      {"cwd/MAILSIFT.ini", "WIDTH=15\n"},
      {"bin/MAILSIFT.ini", "WIDTH=16\n"},
  };
  struct row {
    unsigned present;  // bit i: files[i] exists
    int width;
  };
  const row rows[] = {
      {0x00, 32}, {0x3F, 11}, {0x05, 11}, {0x02, 12}, {0x06, 12}, {0x0C, 13},
      {0x08, 14}, {0x30, 15}, {0x20, 16}, {0x12, 12}, {0x28, 14},
  };
  for (const row& r : rows) {
    temp_tree tree;
    place_program(tree);
    for (unsigned i = 0; i < 6; ++i) {
      if (r.present & (1u << i)) tree.write(files[i].name, files[i].text);
    }
    EXPECT_EQ(width_after_reading(), r.width) << std::hex << r.present;
  }
}

TEST(ini_settings, the_shared_file_gives_only_the_program_section) {
  ini_test_platform fake;
  struct row {
    const char* text;
    int width;
    int append;
  };
  const row rows[] = {
      {"[OTHER]\nWIDTH=1\n[SIFT]\nWIDTH=2\n[NEXT]\nWIDTH=3\nAPPEND\n", 2, 0},
      {"WIDTH=1\n[OTHER]\nAPPEND\n", 32, 0},
      {"[sift]\nwidth=4\n", 4, 0},
      {"[SIFT] ; tools of the site\nWIDTH=5\n;[OTHER]\nAPPEND\n", 5, 1},
      // A line naming the header again ends the section.
      {"[SIFT]\nWIDTH=6\nCOMMENT=SEE [SIFT]\nAPPEND\n", 6, 0},
      {"[SIFTER]\nWIDTH=7\n", 32, 0},
      {"[SIFT]\r\nWIDTH=8\r\nAPPEND\r\n", 8, 1},
  };
  for (const row& r : rows) {
    temp_tree tree;
    place_program(tree);
    tree.write("cwd/TOLVERIN.INI", r.text);
    EXPECT_EQ(width_after_reading(), r.width) << r.text;
    EXPECT_EQ(g_settings->append_output, r.append) << r.text;
  }
}

TEST(ini_settings, the_own_file_is_read_whole) {
  ini_test_platform fake;
  temp_tree tree;
  place_program(tree);
  // A piece of 259 characters ends a read; the rest of the line is read as a line.
  std::string long_comment = ";" + std::string(258, 'x') + "APPEND";
  tree.write("cwd/Sift.ini",
             "[OTHER]\nWIDTH=8\n[SIFT]\r\nOUTPUT=out.txt\r\n" + long_comment + "\n\nSILENT=YES");
  EXPECT_EQ(width_after_reading(), 8);
  EXPECT_EQ(g_settings->append_output, 1);
  EXPECT_EQ(g_settings->silent, 1);
  std::string expected;
  g_platform.full_path(k_windows ? "OUT.TXT" : "out.txt", expected);
  EXPECT_EQ(g_output_name, expected);
}

TEST(ini_settings, the_word_dash_ini_anywhere_skips_the_file) {
  ini_test_platform fake;
  temp_tree tree;
  place_program(tree);
  tree.write("cwd/Sift.ini", "WIDTH=9\n");
  struct row {
    std::vector<std::string> args;
    int width;
  };
  const row rows[] = {
      {{"prog", "-.ini"}, 32},     {{"prog", "-r", "-.ini", "mail"}, 32},
      {{"prog", "-r", "mail"}, 9}, {{"prog", "-.INI"}, 9},
      {{"prog", "x-.ini"}, 9},
  };
  for (const row& r : rows) {
    EXPECT_EQ(width_after_reading(r.args), r.width) << r.args[1];
  }
}

TEST(ini_settings, an_unopened_file_waits_for_a_key_only_at_a_terminal) {
  ini_test_platform fake;
  g_platform.open_regular_stream = [](const std::string&, const char*) -> std::FILE* {
    return nullptr;
  };
  temp_tree tree;
  place_program(tree);
  tree.write("cwd/Sift.ini", "WIDTH=9\n");
  // Both standard input and standard error must be terminals: a person must see the
  // message and be able to answer it.
  struct {
    bool input_terminal, error_terminal;
    int keys;
  } cases[] = {{false, false, 0}, {false, true, 0}, {true, false, 0}, {true, true, 1}};
  for (const auto& c : cases) {
    s_terminal = c.input_terminal;
    s_error_terminal = c.error_terminal;
    s_keys_read = 0;
    testing::internal::CaptureStdout();
    EXPECT_EQ(width_after_reading(), 32);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "\nCouldn't open .ini file\n");
    EXPECT_EQ(s_keys_read, c.keys) << c.input_terminal << c.error_terminal;
  }
}

TEST(ini_settings, environment_delimiter_skips_one_leading_quote) {
  ini_test_platform fake;
  struct row {
    const char* value;
    char delimiter;
    const char* screen;
  };
  const row rows[] = {
      {"\";", ';', "env points to :;:"},
      {";", ';', "env points to :;:"},
      {"\"\"x", '"', "env points to :\"x:"},
      {"\t", '\t', "env points to :\t:"},
      // Nothing after the quote keeps the delimiter rather than making it NUL.
      {"\"", '|', "env points to ::"},
      // The delimiter is one byte: the low 8 bits of the first character.
      {"\xC2\xA7", '\xA7', "env points to :\xC2\xA7:"},
  };
  for (const row& r : rows) {
    start_settings();
    s_environment = {{"DELIMETER", r.value}};
    testing::internal::CaptureStdout();
    read_environment();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), r.screen) << r.value;
    EXPECT_EQ(g_delimiter, r.delimiter) << r.value;
    EXPECT_EQ(g_acct_file, nullptr);
  }
}

TEST(ini_settings, env_contains_ignores_case_and_finds_the_word_anywhere) {
  ini_test_platform fake;
  s_environment = {{"RESET", "NONE"}, {"SILENT", "on"}, {"OTHER", "off"}, {"EMPTY", ""}};
  EXPECT_TRUE(env_contains("ON", "RESET"));
  EXPECT_TRUE(env_contains("ON", "SILENT"));
  EXPECT_FALSE(env_contains("ON", "OTHER"));
  EXPECT_FALSE(env_contains("ON", "EMPTY"));
  EXPECT_FALSE(env_contains("ON", "UNSET"));
}

TEST(ini_settings, environment_acct_opens_the_log_at_once) {
  ini_test_platform fake;
  temp_tree tree;
  start_settings();
  s_environment = {{"ACCT", tree.path("env.log")}};
  read_environment();
  ASSERT_NE(g_acct_file, nullptr);
  std::fclose(g_acct_file);
  g_acct_file = nullptr;
  EXPECT_EQ(normalise_line_ends(tree.read("env.log")),
            "\n****************************************\n");
  EXPECT_EQ(g_settings->accounting, 0);
  EXPECT_EQ(g_acct_name, "");

  s_environment = {{"ACCT", ""}};
  read_environment();
  EXPECT_EQ(g_acct_file, nullptr);
}
