#include "settings/ini_keys.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "INCLUDE_U/dates.h"
#include "INCLUDE_U/text.h"
#include "runlog/run_log.h"
#include "settings/defaults.h"
#include "settings/path_lists.h"
#include "settings/run_settings.h"
#include "test_util.h"

namespace {

int s_slept_ms = 0;

// The settings as start-up leaves them before the INI file is read.
void start_settings() {
  create_run_settings();
  clear_path_lists();
  set_default_settings();
}

void apply_lines(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) apply_ini_line(line);
}

struct ini_test_platform {
  scoped_platform swap;
  ini_test_platform() {
    s_slept_ms = 0;
    g_platform.is_terminal = [](std::FILE*) { return true; };
    g_platform.sleep_milliseconds = [](int ms) { s_slept_ms += ms; };
  }
};

std::string full(const std::string& name) {
  std::string out;
  return g_platform.full_path(name, out) ? out : name;
}

}  // namespace

TEST(ini_keys, switches_take_on_yes_and_off_with_off_winning) {
  ini_test_platform fake;
  using field = int32_t run_settings::*;
  struct row {
    std::vector<std::string> lines;
    field target;
    int32_t preset;
    int32_t expected;
  };
  const row rows[] = {
      {{"APPEND"}, &run_settings::append_output, 0, 1},
      {{"APPEND=OFF"}, &run_settings::append_output, 1, 0},
      {{"APPEND=NONE"}, &run_settings::append_output, 0, 1},
      {{"append=yes"}, &run_settings::append_output, 0, 1},
      {{"APPEND=MAYBE"}, &run_settings::append_output, 0, 1},
      {{"APPEND=ONOFF"}, &run_settings::append_output, 0, 0},
      {{"AUTO"}, &run_settings::auto_width, 0, 1},
      {{"CRC=OFF"}, &run_settings::crc, 1, 0},
      {{"HASH"}, &run_settings::hash, 0, 1},
      {{"NAMEONLY=ON"}, &run_settings::name_only, 0, 1},
      {{"PPATHONLY=OFF"}, &run_settings::path_only, 1, 0},
      {{"SHA"}, &run_settings::sha1, 0, 1},
      {{"IMMEDIATE=OFF"}, &run_settings::no_count, 1, 0},
      {{"NO_COUNT"}, &run_settings::no_count, 0, 1},
      {{"SKIP_IMMEDIATE=ON"}, &run_settings::no_count, 0, 1},
      {{"PAUSE=YES"}, &run_settings::pause, 0, 1},
      {{"THE_PAUSE"}, &run_settings::pause, 0, 1},
      {{"RESET"}, &run_settings::reset, 0, 1},
      {{"MILITARY=OFF"}, &run_settings::military, 1, 0},
      {{"MILITARY"}, &run_settings::military, 0, 0},
      {{"MILITARY=12"}, &run_settings::military, 0, 0},
      {{"RECURSE=OFF"}, &run_settings::recurse, 1, 0},
      {{"RECURSE=MAYBE"}, &run_settings::recurse, 0, 0},
      {{"MAX_RECURSE=ON"}, &run_settings::recurse, 0, 1},
      // SILENT is first set to 0, so the bare key turns silence off.
      {{"SILENT"}, &run_settings::silent, 1, 0},
      {{"SILENT=YES"}, &run_settings::silent, 0, 1},
      {{"SILENT=QUIET"}, &run_settings::silent, 1, 0},
      {{"VERBOSE=OFF"}, &run_settings::silent, 1, 0},
      {{"STREAM"}, &run_settings::stream, 1, 0},
      {{"STREAM=ON"}, &run_settings::stream, 0, 1},
      {{"REVERSE"}, &run_settings::reverse, 0, 1},
      {{"REVERSE=NO"}, &run_settings::reverse, 1, 0},
      {{"REVERSE=NONE"}, &run_settings::reverse, 1, 0},
      {{"REVERSE=ON"}, &run_settings::reverse, 0, 1},
      {{"ZULU=ON"}, &run_settings::zulu, 0, 1},
      {{"ZULU=OFF"}, &run_settings::zulu, 1, 0},
      {{"EXT"}, &run_settings::ext, 0, 1},
      {{"EXT"}, &run_settings::ext_mode, 0, 2},
      {{"VAR"}, &run_settings::variable_width, 0, 1},
      {{"8.3"}, &run_settings::name_form, 0, 1},
      {{"LFN=ON"}, &run_settings::name_form, 0, 2},
      {{"LFN=ON", "LFN=OFF"}, &run_settings::name_form, 0, 0},
      {{"LFN"}, &run_settings::name_form, 1, 0},
      {{"WIDTH=40"}, &run_settings::width, 32, 40},
      // An '=' with nothing after it is the bare key.
      {{"APPEND="}, &run_settings::append_output, 0, 1},
      {{"WIDTH="}, &run_settings::width, 32, 32},
      {{"; APPEND"}, &run_settings::append_output, 0, 0},
      {{"#APPEND"}, &run_settings::append_output, 0, 0},
      {{" APPEND"}, &run_settings::append_output, 0, 0},
      {{"UNKNOWN=ON"}, &run_settings::append_output, 0, 0},
  };
  testing::internal::CaptureStdout();
  for (const row& r : rows) {
    start_settings();
    g_settings->*r.target = r.preset;
    apply_lines(r.lines);
    EXPECT_EQ(g_settings->*r.target, r.expected) << r.lines.back();
  }
  testing::internal::GetCapturedStdout();
}

TEST(ini_keys, lines_are_taken_by_the_first_key_that_fits) {
  ini_test_platform fake;
  start_settings();
  apply_ini_line("LOGFILE_DELIM=;");
  EXPECT_EQ(g_settings->accounting, 1);
  EXPECT_EQ(g_acct_name, full(";"));
  EXPECT_EQ(g_delimiter, '|');

  start_settings();
  apply_ini_line("OUTPUT=C:\\DELIMS.TXT");
  EXPECT_EQ(g_delimiter, 'C');
  EXPECT_EQ(g_settings->delimiter_set, 1);
  EXPECT_EQ(g_settings->output_mode, 0);
  EXPECT_EQ(g_output_name, "");

  start_settings();
  apply_ini_line("ALL_TIMES=ON");
  EXPECT_EQ(g_settings->time_letter_given, 0) << "taken by TIME";
  EXPECT_EQ(g_settings->time_type, '3');
}

TEST(ini_keys, scanners_is_reached_by_its_own_key) {
  // The first key that fits takes the line, some of them found anywhere in it; a
  // key that starts the line is found in it too, so none but SCANNERS may be.
  for (std::string_view key : ini_key_names()) {
    if (key != "SCANNERS") {
      EXPECT_EQ(std::string_view("SCANNERS=16").find(key), std::string_view::npos) << key;
    }
  }
  ini_test_platform fake;
  for (const char* line : {"SCANNERS=16", "scanners=16", "SCANNERS = 16", "SCANNERS=16\r"}) {
    start_settings();
    apply_ini_line(line);
    EXPECT_EQ(g_settings->scanners, 16) << line;
  }
}

TEST(ini_keys, mailboxes_and_sent_dates_are_reached_by_their_own_keys) {
  // No key before these starts their lines (the end-to-end INI test covers the
  // keys found anywhere).
  for (std::string_view line : {"MBOX=ON", "SENT_AFTER=2024-01-02", "SENT_BEFORE=01-02-2024",
                                "UTF=ON", "MSGID=ON", "SENT_UTC=ON", "JSON=ON", "PST_RECOVER=ON",
                                "PST=ON"}) {
    for (std::string_view key : ini_key_names()) {
      if (line.substr(0, line.find('=')) == key) break;
      EXPECT_FALSE(line.starts_with(key)) << key;
    }
  }
  ini_test_platform fake;
  struct {
    const char* line;
    int32_t run_settings::*field;
    int32_t value;
  } cases[] = {
      {"MBOX=ON", &run_settings::mbox, 1},      {"mbox=yes", &run_settings::mbox, 1},
      {"MBOX=OFF", &run_settings::mbox, 0},     {"MBOX", &run_settings::mbox, 0},
      {"SENT_AFTER=2024-01-02", &run_settings::sent_after_set, 1},
      {"SENT_BEFORE=01-02-2024", &run_settings::sent_before_set, 1},
      {"SENT_BEFORE", &run_settings::sent_before_set, 0},
      {"UTF=ON", &run_settings::utf, 1},        {"utf=off", &run_settings::utf, 0},
      {"MSGID=YES", &run_settings::msgid, 1},   {"MSGID=NO", &run_settings::msgid, 0},
      {"SENT_UTC=ON", &run_settings::sent_utc, 1},
      {"JSON=ON", &run_settings::json, 1},      {"JSON=OFF", &run_settings::json, 0},
      {"PST=ON", &run_settings::pst, 1},        {"PST=OFF", &run_settings::pst, 0},
      {"PST_RECOVER=ON", &run_settings::pst_recover, 1},
      {"PST_RECOVER=ON", &run_settings::pst, 0},
  };
  for (const auto& c : cases) {
    start_settings();
    apply_ini_line(c.line);
    EXPECT_EQ(g_settings->*c.field, c.value) << c.line;
  }
  start_settings();
  apply_ini_line("SENT_BEFORE=01-02-2024");
  EXPECT_EQ(g_sent_before, 1704153600);
}

TEST(ini_keys, values_arrive_upper_cased) {
  ini_test_platform fake;
  start_settings();
  apply_lines(
      {"comment=Case 12", "delim=;", "time=c", "sort=n-", "exc=*.tmp", "x=*.Bak", "file=*.eml"});
  EXPECT_EQ(g_settings->comment, 1);
  EXPECT_EQ(g_comment_text, "CASE 12");
  EXPECT_EQ(g_comment_width, 0);
  EXPECT_EQ(g_delimiter, ';');
  EXPECT_EQ(g_settings->quote_fields, 0);
  EXPECT_EQ(g_settings->time_type, 'C');
  EXPECT_EQ(g_settings->time_letter_given, 1);
  EXPECT_EQ(g_sort_key, 'N');
  EXPECT_TRUE(g_sort_descending);
  EXPECT_EQ(g_settings->exclude, 1);
  EXPECT_EQ(g_excludes, (std::vector<std::string>{"*.TMP", "*.BAK"}));
  EXPECT_EQ(g_filetypes, (std::vector<std::string>{"*.EML"}));

  start_settings();
  apply_ini_line("DELIM=,");
  EXPECT_EQ(g_delimiter, ',');
  EXPECT_EQ(g_settings->quote_fields, 0);
}

TEST(ini_keys, numbers_sizes_and_offsets) {
  ini_test_platform fake;
  start_settings();
  apply_lines({"GREATER=5000", "SMALLER=7000000000", "DISPLACE=1024", "SPLIT=5", "LFN=40"});
  EXPECT_EQ(g_settings->size_greater, 1);
  EXPECT_EQ(g_greater_than_size, 5000);
  EXPECT_EQ(g_settings->size_less, 1);
  EXPECT_EQ(g_less_than_size, 7000000000LL);
  EXPECT_EQ(g_begin_offset, 1024);
  EXPECT_EQ(g_settings->silent, 1);
  EXPECT_EQ(g_settings->split, 1);
  EXPECT_EQ(g_split_count, 5);
  EXPECT_EQ(g_name_width, 40);

  apply_lines({"DISPLACE=OFF", "FDI=ON", "MIN_BIGGER=9", "LESSTHAN=12"});
  EXPECT_EQ(g_begin_offset, 512);
  EXPECT_EQ(g_settings->fdi, 1);
  EXPECT_EQ(g_greater_than_size, 9);
  EXPECT_EQ(g_less_than_size, 12);
  apply_ini_line("FDI=OFF");
  EXPECT_EQ(g_begin_offset, 0);
  EXPECT_EQ(g_settings->fdi, 0);
}

TEST(ini_keys, age_values_in_days_and_dates) {
  ini_test_platform fake;
  start_settings();
  apply_lines({"NEWER=30", "OLDER=7"});
  EXPECT_EQ(g_settings->age_filter, 1);
  EXPECT_EQ(g_newer_than_days, 30);
  EXPECT_EQ(g_older_than_days, 7);
  EXPECT_EQ(g_settings->newer_than_set, 0);
  EXPECT_EQ(g_settings->older_than_set, 0);

  start_settings();
  apply_lines({"YOUNGER=01-15-2020", "OLDER=12/05/2005wc"});
  EXPECT_EQ(g_settings->age_filter, 1);
  EXPECT_EQ(g_settings->newer_than_set, 1);
  EXPECT_EQ(g_settings->older_than_set, 1);
  int64_t midnight = 0;
  ASSERT_TRUE(g_platform.local_calendar_to_seconds(2020, 1, 15, 0, 0, 0, midnight));
  EXPECT_EQ(g_newer_than_time, to_file_time(midnight));
  ASSERT_TRUE(g_platform.local_calendar_to_seconds(2005, 12, 5, 0, 0, 0, midnight));
  EXPECT_EQ(g_older_than_time, to_file_time(midnight));
  EXPECT_TRUE(g_age_times.written);
  EXPECT_TRUE(g_age_times.creation);
  EXPECT_FALSE(g_age_times.access);
  EXPECT_GT(g_older_than_days, 5000);

  // A two-digit year is the same year in the bound as in the days.
  start_settings();
  apply_lines({"YOUNGER=10-20-05w", "OLDER=10-20-95"});
  ASSERT_TRUE(g_platform.local_calendar_to_seconds(2005, 10, 20, 0, 0, 0, midnight));
  EXPECT_EQ(g_newer_than_time, to_file_time(midnight));
  EXPECT_EQ(g_newer_than_days, days_since_date("10-20-2005"));
  ASSERT_TRUE(g_platform.local_calendar_to_seconds(1995, 10, 20, 0, 0, 0, midnight));
  EXPECT_EQ(g_older_than_time, to_file_time(midnight));
}

TEST(ini_keys, names_become_full_paths) {
  ini_test_platform fake;
  temp_tree tree;
  start_settings();
  // File names keep their case where the file system minds it.
  std::string written = tree.path("Mail");
  apply_lines({"OUTPUT=out.Txt", "ACCOUNT=Run.Log", "PATH=" + written});
  EXPECT_EQ(g_settings->output_mode, 1);
  EXPECT_EQ(g_output_name, full(k_windows ? "OUT.TXT" : "out.Txt"));
  EXPECT_EQ(g_settings->accounting, 1);
  EXPECT_EQ(g_acct_name, full(k_windows ? "RUN.LOG" : "Run.Log"));
  ASSERT_EQ(g_paths.size(), 1u);
  EXPECT_EQ(g_paths[0],
            std::string(k_long_path_prefix) + (k_windows ? ascii_upper_copy(written) : written));

  // A value containing OFF anywhere turns the log off, even inside a name.
  apply_ini_line("ACCT=C:\\OFFICE\\RUN.LOG");
  EXPECT_EQ(g_settings->accounting, 0);
  apply_ini_line("LOG=run2.log");
  EXPECT_EQ(g_settings->accounting, 1);
  apply_ini_line("LOG=OFF");
  EXPECT_EQ(g_settings->accounting, 0);
}

TEST(ini_keys, an_ini_log_closes_the_log_opened_from_the_environment) {
  ini_test_platform fake;
  temp_tree tree;
  start_settings();
  g_acct_file = std::fopen(tree.path("env.log").c_str(), "wb");
  apply_ini_line("LOG=" + tree.path("ini.log"));
  EXPECT_EQ(g_acct_file, nullptr);
  std::string name = k_windows ? ascii_upper_copy(tree.path("ini.log")) : tree.path("ini.log");
  EXPECT_EQ(
      tree.read("env.log"),
      "This file closed.\nAccounting file overridden by .ini file pointing to " + name + "\n");
  EXPECT_EQ(g_acct_name, name);
}

TEST(ini_keys, missing_values_print_and_wait) {
  ini_test_platform fake;
  struct row {
    const char* line;
    const char* screen;
    int wait_ms;
  };
  const row rows[] = {
      {"LOG", "\nMissing ini file modifier at: LOG=", 2000},
      {"ALL_HT", "\nMissing ini file modifier at: ALL_HT", 2000},
      {"DELIM", "\nMissing ini file directive DELIM", 2000},
      {"DISPLACE", "\nMissing ini file directive: DISPLACE", 0},
      {"EXC", "\nMissing/illegal ini file directive EXC", 2000},
      {"FILE", "\nMissing/Illegal ini file directive FILE", 2000},
      {"FDI", "\nMissing/Illegal ini file directive FDI", 2000},
      {"GREATER", "\nMissing ini file modifier at: GREATER\nGREATER size option turned OFF", 3000},
      {"smaller", "\nIllegal ini file directive SMALLER\nLESSTHAN size option turned OFF", 3000},
      {"NEWER", "\nMissing ini modifier at: NEWER\nAging modifier turned off", 2000},
      {"OLDER", "\nMissing ini file modifier at: OLDER\nAging modifier turned off", 2000},
      // The two texts follow each other without a line break.
      {"OUTPUT", "\nMissing ini file modifier at: OUTPUTOutput set to NOne\n", 3000},
      {"PATH", "\nMissing/Illegal ini file directive PATH", 2000},
      {"RECURSE", "\nMissing ini file directive at: RECURSE", 2000},
      {"SPLIT", "\nIllegal ini file directive SPLIT", 2000},
      {"STREAM", "\nIllegal ini file directive STREAM", 2000},
      {"TIME", "\nIllegal ini file directive TIME", 2000},
      {"WIDTH", "\nMissing ini file modifier at: WIDTH", 2000},
      {"ZULU", "\nIllegal ini file directive ZULU", 2000},
      {"SCANNERS", "\nMissing ini file modifier at: SCANNERS", 2000},
      {"APPEND", "", 0},
      {"COMMENT", "", 0},
  };
  for (const row& r : rows) {
    start_settings();
    s_slept_ms = 0;
    testing::internal::CaptureStdout();
    apply_ini_line(r.line);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), r.screen) << r.line;
    EXPECT_EQ(s_slept_ms, r.wait_ms) << r.line;
  }
}

TEST(ini_keys, missing_values_leave_the_settings_as_documented) {
  ini_test_platform fake;
  testing::internal::CaptureStdout();
  start_settings();
  g_settings->accounting = 1;
  g_settings->delimiter_set = 1;
  g_settings->size_greater = 1;
  g_settings->size_less = 1;
  g_settings->age_filter = 1;
  g_settings->output_mode = 1;
  g_begin_offset = 99;
  apply_lines({"ACCT", "DELIM", "BIGGER", "LESSTHAN", "OUTPUT", "DISPLACE", "EXC", "SPLIT"});
  EXPECT_EQ(g_settings->accounting, 0);
  EXPECT_EQ(g_settings->delimiter_set, 0);
  EXPECT_EQ(g_settings->size_greater, 0);
  EXPECT_EQ(g_settings->size_less, 0);
  EXPECT_EQ(g_settings->output_mode, 0);
  EXPECT_EQ(g_begin_offset, 0);
  EXPECT_EQ(g_settings->exclude, 1);
  EXPECT_EQ(g_settings->silent, 1);
  EXPECT_EQ(g_settings->split, 0);
  apply_ini_line("YOUNGER");
  EXPECT_EQ(g_settings->age_filter, 0);

  start_settings();
  g_settings->military = 0;
  g_settings->time_type = 'a';
  apply_lines({"TIME", "ZULU"});
  EXPECT_EQ(g_settings->time_letter_given, 1);
  EXPECT_EQ(g_settings->time_type, 'w');
  EXPECT_EQ(g_settings->military, 1);
  testing::internal::GetCapturedStdout();
}
