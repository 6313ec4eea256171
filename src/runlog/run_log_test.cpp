#include "runlog/run_log.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "INCLUDE_U/clock.h"
#include "INCLUDE_U/unreadable.h"
#include "discovery/walk.h"
#include "listing/eml_program.h"
#include "runlog/last_access.h"
#include "settings/path_lists.h"
#include "settings/run_settings.h"
#include "test_util.h"

namespace {

// The zone the fake platform reports, and the milliseconds it was asked to sleep.
zone_state s_zone;
bool s_zone_known = true;
int s_slept_ms = 0;

// Wed Aug 14 13:30:21 2013 UTC; the fake local clock runs four hours behind it
// (daylight time in a zone five hours west), whatever TZ the test runs under.
constexpr int64_t k_now = 1376487021;

void use_fake_clock_and_zone() {
  g_platform.current_time = [] { return k_now; };
  g_platform.seconds_to_calendar = [](int64_t seconds, bool local, calendar_time& out) {
    return native_platform().seconds_to_calendar(local ? seconds - 4 * 3600 : seconds, false, out);
  };
  g_platform.time_zone = [](zone_state& out) {
    out = s_zone;
    return s_zone_known;
  };
  g_platform.is_terminal = [](std::FILE*) { return true; };
  g_platform.sleep_milliseconds = [](int ms) { s_slept_ms += ms; };
}

// What `action` writes into the run log.
std::string logged(const std::function<void()>& action) {
  temp_tree tree;
  std::string path = tree.path("log.txt");
  g_acct_file = std::fopen(path.c_str(), "wb");
  action();
  std::fclose(g_acct_file);
  g_acct_file = nullptr;
  return tree.read("log.txt");
}

}  // namespace

TEST(run_log, zone_abbreviations_take_the_initials_of_later_words) {
  struct row {
    const char* name;
    bool upper;
    const char* abbreviation;
  };
  const row rows[] = {
      {"Eastern Standard Time", true, "EST"},
      {"Eastern Daylight Time", false, "EDT"},
      {"Central Europe Standard Time", true, "CES"},
      {"AUS Eastern Standard Time", true, "AES"},
      {"GMT Standard Time", true, "GST"},
      {"EST", true, "EST"},
      {"cet", true, "CET"},
      {"cest", false, "ces"},
      {"Pacific time", false, "Ptc"},
      {"UT", true, "UT"},
      {"", true, ""},
      // A trailing space has no initial after it: the abbreviation ends there.
      {"X ", true, "X"},
  };
  for (const row& r : rows) {
    EXPECT_EQ(zone_abbreviation(r.name, r.upper), r.abbreviation) << r.name;
  }
}

TEST(run_log, start_stamp_shows_the_zone_facts) {
  scoped_platform swap;
  use_fake_clock_and_zone();
  create_run_settings();
  struct row {
    zone_state zone;
    const char* stamp;
  };
  const row rows[] = {
      {{18000, true, "Eastern Standard Time", "Eastern Daylight Time"},
       "Wed Aug 14 13:30:21 2013 GMT, 09:30 Eastern Standard Time (EST/EDT:5)"},
      {{18000, true, "EST", "EDT"}, "Wed Aug 14 13:30:21 2013 GMT, 09:30 EST (EST/EDT:5)"},
      {{0, false, "UTC", "UTC"}, "Wed Aug 14 13:30:21 2013 GMT, 09:30 UTC (UTC/:0)"},
      {{18000, true, "EST", ""}, "Wed Aug 14 13:30:21 2013 GMT, 09:30 EST (EST/:5)"},
      {{-3600, true, "CET", "CEST"}, "Wed Aug 14 13:30:21 2013 GMT, 09:30 CET (CET/CES:-1)"},
      // Whole hours, truncated towards zero.
      {{-19800, false, "IST", ""}, "Wed Aug 14 13:30:21 2013 GMT, 09:30 IST (IST/:-5)"},
      {{12600, true, "NST", "NDT"}, "Wed Aug 14 13:30:21 2013 GMT, 09:30 NST (NST/NDT:3)"},
      {{0, false, "", ""}, "Wed Aug 14 09:30:21 2013 Local Time: "},
  };
  for (const row& r : rows) {
    s_zone = r.zone;
    std::string log = logged([] { write_run_log_header({"prog", "-1", "x.log"}); });
    EXPECT_EQ(log, std::string("\n Started ") + r.stamp + "\n Command Line: prog -1 x.log \n")
        << r.zone.standard_name;
  }
}

TEST(run_log, header_needs_an_output_file_or_a_run_that_is_not_silent) {
  scoped_platform swap;
  use_fake_clock_and_zone();
  s_zone = {18000, true, "EST", "EDT"};
  struct row {
    int output_mode;
    int silent;
    bool written;
  };
  const row rows[] = {{0, 0, true}, {1, 0, true}, {1, 1, true}, {0, 1, false}, {0, 2, false}};
  for (const row& r : rows) {
    create_run_settings();
    g_settings->output_mode = r.output_mode;
    g_settings->silent = r.silent;
    std::string log = logged([] { write_run_log_header({"prog"}); });
    EXPECT_EQ(!log.empty(), r.written) << r.output_mode << " " << r.silent;
  }
}

TEST(run_log_death, header_ends_with_status_7_without_zone_facts) {
  scoped_platform swap;
  use_fake_clock_and_zone();
  s_zone_known = false;
  create_run_settings();
  // The dying child never reaches a temporary tree's clean-up, so it writes
  // where nothing is left behind.
  EXPECT_EXIT(
      {
        g_acct_file = std::fopen(k_windows ? "NUL" : "/dev/null", "wb");
        write_run_log_header({"prog"});
      },
      testing::ExitedWithCode(7), "Can't get timezone information");
  s_zone_known = true;
}

TEST(run_log, a_lone_bar_is_quoted_in_the_echo_only) {
  scoped_platform swap;
  use_fake_clock_and_zone();
  s_zone = {18000, true, "EST", "EDT"};
  create_run_settings();
  const std::vector<std::string> args = {"prog", "|", "a|b", "\"|\"", "-1"};
  EXPECT_EQ(logged([&] { write_command_echo(args); }), " prog \"|\" a|b \"|\" -1\n");
  std::string header = logged([&] { write_run_log_header(args); });
  EXPECT_NE(header.find("\n Command Line: prog | a|b \"|\" -1 \n"), std::string::npos) << header;
}

TEST(run_log, initial_directory_drops_the_long_path_prefix) {
  clear_path_lists();
  std::string shown = std::string(1, k_path_separator) + "mail" + k_path_separator + "box";
  g_paths.push_back(std::string(k_long_path_prefix) + shown);
  g_paths.push_back(std::string(k_long_path_prefix) + "other");
  EXPECT_EQ(logged([] { write_initial_directory(); }), " Initial directory: " + shown + "\n");
  clear_path_lists();
  EXPECT_EQ(logged([] { write_initial_directory(); }), "");
}

namespace {
// What the fake platform says of kept last-access dates.
access_time_counts s_not_kept;
}  // namespace

TEST(run_log, trailer_reports_reason_counts_times_and_last_access) {
  scoped_platform swap;
  use_fake_clock_and_zone();
  g_platform.access_times_not_kept = [] { return s_not_kept; };
  struct row {
    int reason;
    int32_t directories;
    int32_t files;
    int64_t elapsed;
    int last_access;
    access_time_counts not_kept;
    std::string text;
  };
  const std::string finished = "\n\n  Finished: Wed Aug 14 09:30:21 2013\n";
  const std::string on = "    Last Access Date UPDATE is turned ON\n";
  const std::string kept = std::string("    Last Access Dates of the ") +
                           (k_windows ? "message files" : "message files and directories") +
                           " read: left unchanged\n";
  const std::string not_kept = std::string("    Last Access Dates could not be kept for 3 files ") +
                               "and 1 directory read: " + k_access_time_refusal + "\n";
  const row rows[] = {
      {0,
       1,
       12,
       3725,
       0,
       {},
       "\n  1 directory, 12 files\n" + finished + "  Elapsed:  1 hrs. 2 mins. 5 secs.\n" + on +
           kept + "\n"},
      {2,
       0,
       0,
       59,
       1,
       {3, 1},
       "\n Abnormal termination. Reason: USER_ABORTED\n  0 directories, 0 files\n" + finished +
           "  Elapsed:  0 hrs. 0 mins. 59 secs.\n" +
           "    Last Access Date UPDATE is turned ***** OFF *****\n" + not_kept + "\n"},
      {6,
       2,
       3,
       86400,
       0,
       {},
       "\n Abnormal termination. Reason: ILLEGAL or INCOMPLETE OPTION\n  2 directories, 3 "
       "files\n" +
           finished + "  Elapsed:  24 hrs. 0 mins. 0 secs.\n" + on + kept + "\n"},
      // A setting of no known meaning leaves the report's line open: it is ended
      // before the line on this run.
      {0,
       1,
       1,
       1,
       7,
       {},
       "\n  1 directory, 1 files\n" + finished + "  Elapsed:  0 hrs. 0 mins. 1 secs.\n" +
           "    Last Access Date UPDATE is \n" + kept + "\n"},
  };
  // Counts an earlier test of the same process left would add their lines.
  g_unreadable_count = 0;
  g_undated_count = 0;
  g_changed_count = 0;
  for (const row& r : rows) {
    g_end_time = k_now;
    g_start_time = k_now - r.elapsed;
    g_walk.dir_count = r.directories;
    g_file_count = r.files;
    g_last_access_setting = r.last_access;
    s_not_kept = r.not_kept;
    testing::internal::CaptureStdout();
    EXPECT_EQ(logged([&] { write_run_log_trailer(r.reason); }), r.text) << r.reason;
    testing::internal::GetCapturedStdout();
  }
  g_start_time = g_end_time = 0;
  g_walk.dir_count = g_file_count = 0;
  g_last_access_setting = -1;
}

TEST(run_log, trim_cuts_only_a_trailing_run_of_end_marks) {
  const std::string text(10000, 'x');
  struct row {
    std::string before;
    std::string after;
  };
  const row rows[] = {
      {"0123456789\x1a", "0123456789"},
      {std::string("line one\r\n\x1a\x1a\0\0", 14), "line one\r\n"},
      // A stray NUL or Ctrl-Z inside the text keeps everything after it.
      {std::string("01234\0 6789 more text\n", 22), std::string("01234\0 6789 more text\n", 22)},
      {"abc\x1a more text\n", "abc\x1a more text\n"},
      {std::string("12345\x1a\0 tail\x1a", 13), std::string("12345\x1a\0 tail", 12)},
      // Nine bytes or fewer are never touched.
      {"01234567\x1a", "01234567\x1a"},
      {"012345678\x1a", "012345678"},
      {std::string(20, '\0'), ""},
      {std::string(512, '\0'), ""},
      // Up to 512 marks are ours; a longer run is some other file's data, all kept.
      {text + std::string(511, '\0') + "\x1a", text},
      {text + std::string(512, '\0') + "\x1a", text + std::string(512, '\0') + "\x1a"},
      {text + std::string(10240, '\0'), text + std::string(10240, '\0')},
      {std::string(513, '\0'), std::string(513, '\0')},
      {text + "\n", text + "\n"},
  };
  for (const row& r : rows) {
    temp_tree tree;
    tree.write("run.log", r.before);
    trim_log_file(tree.path("run.log"));
    EXPECT_EQ(tree.read("run.log"), r.after) << r.before.substr(0, 20);
  }
}

TEST(run_log, trim_creates_a_missing_log_empty) {
  temp_tree tree;
  trim_log_file(tree.path("new.log"));
  ASSERT_TRUE(tree.exists("new.log"));
  EXPECT_EQ(tree.read("new.log"), "");
}

TEST(run_log, trim_reports_a_log_that_cannot_be_opened_or_created) {
  temp_tree tree;
  tree.make_dir("taken");
  testing::internal::CaptureStderr();
  EXPECT_FALSE(trim_log_file(tree.path("taken")));
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("error opening " + tree.path("taken")), std::string::npos) << err;
}

TEST(run_log, missing_directories_are_created_with_a_message_each) {
  scoped_platform swap;
  use_fake_clock_and_zone();
  temp_tree tree;
  tree.make_dir("have");
  struct row {
    std::string name;
    std::string screen;
    int slept_ms;
    bool result;
  };
  const row rows[] = {
      {tree.path("have/run.log"), "", 0, true},
      {tree.path("one/run.log"), "Creating (log) directory:  " + tree.path("one") + "\n", 1000,
       true},
      {tree.path("two/levels/run.log"),
       "Creating (log\\error) directory:  " + tree.path("two") +
           "\nCreating (log) directory:  " + tree.path("two/levels") + "\n",
       1000, true},
      // A bare name has no directory to test: the creation of "" fails, as it always did.
      {"ACCT-ING", "Creating (log) directory:  \n", 1000, false},
  };
  for (const row& r : rows) {
    s_slept_ms = 0;
    testing::internal::CaptureStdout();
    bool result = ensure_log_directory(r.name);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), r.screen) << r.name;
    EXPECT_EQ(result, r.result) << r.name;
    EXPECT_EQ(s_slept_ms, r.slept_ms) << r.name;
  }
  EXPECT_TRUE(tree.exists("two/levels"));
}

TEST(run_log, open_appends_the_separator_after_the_old_text) {
  scoped_platform swap;
  use_fake_clock_and_zone();
  temp_tree tree;
  tree.write("run.log", "old block line\n\x1a");
  std::FILE* log = open_run_log(tree.path("run.log"));
  ASSERT_NE(log, nullptr);
  std::fputs("next\n", log);
  std::fclose(log);
  EXPECT_EQ(normalise_line_ends(tree.read("run.log")),
            "old block line\n\n****************************************\nnext\n");
}

TEST(run_log, open_failure_is_reported_and_the_run_goes_on) {
  scoped_platform swap;
  use_fake_clock_and_zone();
  g_platform.open_regular_stream = [](const std::string& path, const char* mode) -> std::FILE* {
    if (std::string(mode) != "a+") return native_platform().open_regular_stream(path, mode);
    errno = EACCES;
    return nullptr;
  };
  temp_tree tree;
  std::string name = tree.path("run.log");
  testing::internal::CaptureStdout();
  EXPECT_EQ(open_run_log(name), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "Can't open accounting file " + name + ": " + std::strerror(EACCES) + "\n");
}
