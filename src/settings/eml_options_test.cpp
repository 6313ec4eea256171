#include "settings/eml_options.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "INCLUDE_U/clock.h"
#include "INCLUDE_U/dates.h"
#include "platform/platform.h"
#include "runlog/run_log.h"
#include "options_test_support.h"
#include "settings/path_lists.h"
#include "settings/run_settings.h"
#include "settings/setters.h"
#include "test_util.h"

using options_test::calendar_routines_ready;
using options_test::parse_words;
using options_test::run_cases;
using options_test::start_fresh_run;
using options_test::stored_path;

TEST(command_line, delimiter_value_is_a_character_or_a_code) {
  run_cases({
      {{"-d", "9"}, {{"delimiter", '9'}, {"delimiter_set", 1}, {"quote_fields", 0}}},
      {{"-d", "09"}, {{"delimiter", 9}, {"quote_fields", 0}}},
      {{"-d", ","}, {{"delimiter", ','}, {"quote_fields", 1}}},
      {{"-d", "44"}, {{"delimiter", ','}, {"quote_fields", 1}}},
      {{"-d;"}, {{"delimiter", ';'}}},
      {{"-d=;"}, {{"delimiter", ';'}}},
      {{"-d=09"}, {{"delimiter", 9}}},
      {{"-d", "300"}, {{"delimiter", 300 & 0xFF}}},
      {{"-d", "xy"}, {{"delimiter", 0}}},
      {{"-d", "\xC2\xA7"}, {{"delimiter", 0xA7}}},
      {{"-d,", "-d;"}, {{"delimiter", ';'}, {"quote_fields", 1}}},
  });
}

TEST(command_line, time_letter_takes_one_character) {
  run_cases({
      {{"-tc"}, {{"time_type", 'c'}, {"time_letter_given", 0}, {"military", 1}}},
      {{"-tC"}, {{"time_type", 'c'}, {"time_letter_given", 1}}},
      {{"-t", "Access"}, {{"time_type", 'a'}, {"time_letter_given", 1}}},
      {{"-tcr"}, {{"time_type", 'c'}, {"recurse", 0}}},
      {{"-t3"}, {{"time_type", '3'}, {"all_times", 1}}},
      {{"-Z", "-m", "-t0"}, {{"time_type", '0'}, {"zulu", 0}, {"military", 0}, {"all_times", 0}}},
      {{"-tx"}, {{"time_type", 'x'}, {"time_letter_given", 0}}},
      {{"-TW"}, {{"time_type", 'w'}, {"time_letter_given", 1}, {"reverse", 1}}},
      {{"-tc", "+t"}, {{"time_type", 'w'}, {"military", 0}}},
      {{"+Tc"}, {{"time_type", 'w'}, {"military", 0}, {"reverse", 0}, {"crc", 1}}},
  });
}

TEST(command_line, width_letters_count_and_take_a_number) {
  run_cases({
      {{"-w40"}, {{"width", 40}, {"width_letters", 1}, {"variable_width", 0}}},
      {{"-w=40"}, {{"width", 40}, {"width_letters", 1}}},
      {{"-w", "40"}, {{"width", 40}, {"width_letters", 1}}},
      {{"-W", "40"}, {{"width", 40}, {"width_letters", 2}}},
      {{"+w"}, {{"width", 32}, {"width_letters", 1}}},
      {{"-w", "abc"}, {{"width", 0}}},
      {{"-w", "99999999999"}, {{"width", INT_MAX}}},
  });
}

TEST(command_line, size_bounds_read_64_bit_numbers) {
  run_cases({
      {{"-G", "100"}, {{"size_greater", 1}, {"greater_size", 100}, {"size_less", 0}}},
      {{"-L5000000000"}, {{"size_less", 1}, {"less_size", 5000000000LL}}},
      {{"-G", "12kb"}, {{"greater_size", 12}}},
      {{"-G", "kb"}, {{"greater_size", 0}}},
      {{"-G", "99999999999999999999"}, {{"greater_size", INT64_MAX}}},
  });
}

TEST(command_line, toggles_flip_what_earlier_sources_left_and_plus_undoes) {
  run_cases({
      {{"-r"}, {{"recurse", 0}}},
      {{"-r", "-r"}, {{"recurse", 1}}},
      {{"-rr"}, {{"recurse", 1}}},
      {{"-r", "+r"}, {{"recurse", 1}}},
      {{"-m"}, {{"military", 0}}},
      {{"-m", "+m"}, {{"military", 1}}},
      {{"-n"}, {{"name_only", 1}}},
      {{"-n", "+n"}, {{"name_only", 0}}},
      {{"-N"}, {{"name_only", 1}, {"path_only", 1}}},
      {{"-NN"}, {{"name_only", 1}, {"path_only", 0}}},
      {{"-N", "+N"}, {{"name_only", 1}, {"path_only", 0}}},
      {{"-P"}, {{"pause", 1}}},
      {{"-PP"}, {{"pause", 0}}},
      {{"-ra"}, {{"recurse", 0}, {"append_output", 1}}},
      {{"-a", "+a"}, {{"append_output", 0}}},
      {{"-z"}, {{"zulu", 1}}},
      {{"+Z"}, {{"zulu", 1}}},
      {{"+R"}, {{"reset", 1}}},
      {{"-c"}, {{"crc", 1}, {"sha1", 0}, {"hash", 0}}},
  });
}

TEST(command_line, attribute_letters_fill_the_masks) {
  run_cases({
      {{"-q-0"}, {{"change_attributes", 1}, {"clear_mask", 0x4023}, {"set_mask", 0}}},
      {{"-q+0R"}, {{"set_mask", 0x1}, {"clear_mask", 0x4023}}},
      {{"-qr"}, {{"change_attributes", 1}, {"recurse", 0}, {"set_mask", 0}, {"clear_mask", 0}}},
      {{"-q+ahes"}, {{"set_mask", 0x4026}, {"clear_mask", 0}}},
      {{"-q-R", "-q+H"}, {{"clear_mask", 0x1}, {"set_mask", 0x2}}},
      {{"-q+R", "-q+n"}, {{"set_mask", 0}, {"clear_mask", 0x4023}}},
      {{"-q-Sxyz"}, {{"clear_mask", 0x4}, {"recurse", 1}}},
      {{"-q-"}, {{"change_attributes", 1}, {"clear_mask", 0}}},
  });
}

TEST(command_line, comment_text_and_width) {
  std::string long_text(200, 'x');
  std::string kept(127, 'x');
  run_cases({
      {{"-C", "COMPUTERNAME:20"},
       {{"comment", 1}, {"comment_width", 20}},
       {{"comment_text", "COMPUTERNAME"}}},
      {{"-C", "computername=5"}, {{"comment_width", 5}}, {{"comment_text", "computername"}}},
      {{"-C", "COMPUTERNAME20"}, {{"comment_width", 20}}, {{"comment_text", "COMPUTERNAME"}}},
      {{"-C", "COMPUTERNAME"}, {{"comment_width", 12}}, {{"comment_text", "COMPUTERNAME"}}},
      {{"-C", "hello=3"}, {{"comment_width", 7}}, {{"comment_text", "hello"}}},
      {{"-C", "hello=30"}, {{"comment_width", 30}}, {{"comment_text", "hello"}}},
      {{"-C", "case:12"}, {{"comment_width", 12}}, {{"comment_text", "case"}}},
      {{"-C", "a=b:40"}, {{"comment_width", 6}}, {{"comment_text", "a"}}},
      {{"-C", "hello="}, {{"comment_width", 6}}, {{"comment_text", "hello="}}},
      {{"-Chello"}, {{"comment_width", 5}}, {{"comment_text", "hello"}}},
      {{"-C", "\xC3\xA9t\xC3\xA9"},
       {{"comment_width", 3}},
       {{"comment_text", "\xC3\xA9t\xC3\xA9"}}},
      {{"-C", long_text}, {{"comment_width", 200}}, {{"comment_text", kept}}},
  });
}

TEST(command_line, comment_keeps_whole_characters_at_its_limit) {
  std::string text(126, 'x');
  text += "\xC3\xA9\xC3\xA9";
  run_cases({{{"-C", text}, {{"comment_width", 128}}, {{"comment_text", text.substr(0, 128)}}}});
}

TEST(command_line, age_in_days) {
  run_cases({
      {{"-g", "5"},
       {{"age_filter", 1}, {"older_than_set", 1}, {"older_days", 5}, {"newer_than_set", 0}}},
      {{"-l30"}, {{"age_filter", 1}, {"newer_than_set", 1}, {"newer_days", 30}}},
      {{"-g", "5", "-l", "10"}, {{"older_days", 5}, {"newer_days", 10}}},
  });
}

// Each bound remembers how it was last given: the selection tests a day bound in
// days, a date by its time, and a newer bound only when one was given.
TEST(command_line, age_bounds_remember_their_form) {
  if (!calendar_routines_ready()) GTEST_SKIP() << "calendar routines not available";
  using form = bound_form;
  struct {
    std::vector<std::string> words;
    form older, newer;
    bool written_by_default;
  } cases[] = {
      {{"-g", "30"}, form::days, form::none, false},
      {{"-l", "8000"}, form::none, form::days, false},
      {{"-g", "12-05-2005"}, form::date, form::none, true},
      {{"-g", "12-05-2005w"}, form::date, form::none, false},
      {{"-l", "12-05-2005", "-l", "30"}, form::none, form::days, true},
      {{"--OLD=30", "--NEW=10-01-2005a"}, form::days, form::date, false},
  };
  for (const auto& c : cases) {
    scoped_platform platform;
    start_fresh_run();
    parse_words(c.words);
    EXPECT_EQ(g_age_bound_forms.older, c.older) << describe(c.words);
    EXPECT_EQ(g_age_bound_forms.newer, c.newer) << describe(c.words);
    EXPECT_EQ(g_age_times.written_by_default, c.written_by_default) << describe(c.words);
  }
}

TEST(command_line, time_letters_set_flags_and_end_the_date) {
  struct {
    const char* value;
    const char* date;
    bool access, creation, written;
  } cases[] = {
      {"12-05-2005wc", "12-05-2005", false, true, true},
      {"12-05-2005A", "12-05-2005", true, false, false},
      {"12-05-2005", "12-05-2005", false, false, false},
      {"12-05-2005xw", "12-05-2005x", false, false, true},
      {"12-05-2005acwACW", "12-05-2005", true, true, true},
  };
  for (const auto& c : cases) {
    start_fresh_run();
    std::string value = c.value;
    take_time_letters(value);
    EXPECT_EQ(value, c.date) << c.value;
    EXPECT_EQ(g_age_times.access, c.access) << c.value;
    EXPECT_EQ(g_age_times.creation, c.creation) << c.value;
    EXPECT_EQ(g_age_times.written, c.written) << c.value;
  }
}

TEST(command_line, date_values_set_the_bounds) {
  if (!calendar_routines_ready()) GTEST_SKIP() << "calendar routines not available";
  struct {
    std::vector<std::string> words;
    const char* date;
    bool older;
    int year, month, day;
  } cases[] = {
      {{"-g", "12-05-2005wc"}, "12-05-2005", true, 2005, 12, 5},
      {{"-l", "10/20/2005a"}, "10/20/2005", false, 2005, 10, 20},
      {{"-g02-29-2004"}, "02-29-2004", true, 2004, 2, 29},
      {{"--BEFORE=12-31-1999"}, "12-31-1999", true, 1999, 12, 31},
      {{"--YOUNGER=01-02-2003c"}, "01-02-2003", false, 2003, 1, 2},
      // A two-digit year names the same year in the bound as in the age in days.
      {{"-l", "10-20-05w"}, "10-20-05", false, 2005, 10, 20},
      {{"-g", "10-20-95"}, "10-20-95", true, 1995, 10, 20},
      {{"-l", "02-29-00"}, "02-29-00", false, 2000, 2, 29},
      {{"--NEWER=10-20-05w"}, "10-20-05", false, 2005, 10, 20},
      {{"--OLDER=10/20/10"}, "10/20/10", true, 1910, 10, 20},
  };
  for (const auto& c : cases) {
    scoped_platform platform;
    start_fresh_run();
    parse_words(c.words);
    file_ticks want = to_file_time(make_local_time(c.year, c.month, c.day, 0, 0, 0));
    EXPECT_EQ(c.older ? g_older_than_time : g_newer_than_time, want) << describe(c.words);
    EXPECT_EQ(c.older ? g_settings->older_than_set : g_settings->newer_than_set, 1);
    EXPECT_EQ(g_settings->age_filter, 1);
    EXPECT_EQ(c.older ? g_older_than_days : g_newer_than_days, days_since_date(c.date))
        << describe(c.words);
  }
}

TEST(command_line, date_bounds_default_to_1980_and_the_end_of_today) {
  scoped_platform platform;
  start_fresh_run();
  parse_words({});
  calendar_time today;
  ASSERT_TRUE(local_parts(current_time(), today));
  int64_t last_second = 0;
  ASSERT_TRUE(g_platform.local_calendar_to_seconds(today.year, today.month, today.day, 23, 59, 59,
                                                   last_second));
  EXPECT_EQ(g_older_than_time, to_file_time(last_second));
  if (calendar_routines_ready()) {
    EXPECT_EQ(g_newer_than_time, to_file_time(make_local_time(1980, 1, 1, 0, 0, 0)));
  }
  EXPECT_EQ(g_older_than_days, 0);
  EXPECT_EQ(g_newer_than_days, 8000);
}

TEST(command_line, file_types_and_excludes) {
  run_cases({
      {{}, {}, {{"filetypes", "*.*"}, {"excludes", ""}}},
      {{"-f", "*.eml", "*.msg"}, {}, {{"filetypes", "*.eml,*.msg"}}},
      {{"-f", "*.eml", "-f", "*.eml"}, {}, {{"filetypes", "*.eml"}}},
      {{"-fr", "*.eml"}, {{"recurse", 0}}, {{"filetypes", "*.eml"}}},
      {{"-f"}, {}, {{"filetypes", "*.*"}}},
      {{"-x", "*.tmp", "a*.Bak"}, {{"exclude", 1}}, {{"excludes", "*.TMP,A*.BAK"}}},
      {{"--EXC=*.old", "-x", "*.tmp"}, {{"exclude", 1}}, {{"excludes", "*.TMP"}}},
      {{"-x", "*.a", "-x", "*.b"}, {}, {{"excludes", "*.B"}}},
      {{"-x", "*.a", "--EXC=*.b"}, {}, {{"excludes", "*.A,*.B"}}},
      {{"-x", "*.a", "+r"}, {{"recurse", 1}}, {{"excludes", "*.A"}}},
  });
}

TEST(command_line, a_slash_word_ends_type_lists_only_where_slash_begins_options) {
  if (k_windows) {
    run_cases({{{"-f", "*.eml", "/r"}, {{"recurse", 0}}, {{"filetypes", "*.eml"}}}});
  } else {
    run_cases({{{"-f", "*.eml", "/r"}, {{"recurse", 1}}, {{"filetypes", "*.eml,/r"}}}});
  }
}

TEST(command_line, starting_paths_from_bare_words_and_path_lists) {
  temp_tree tree;
  tree.make_dir("a");
  tree.make_dir("b");
  struct {
    std::vector<std::string> words;
    std::vector<std::string> paths;
    int recurse;
  } cases[] = {
      {{tree.path("a")}, {tree.path("a")}, 1},
      {{tree.path("a"), tree.path("b"), "-r"}, {tree.path("a"), tree.path("b")}, 0},
      {{"-p", tree.path("a"), tree.path("b")}, {tree.path("a"), tree.path("b")}, 1},
      {{"-pr", tree.path("a")}, {tree.path("a")}, 0},
      {{"-p", tree.path("a"), "+r", "-p", tree.path("b")}, {tree.path("a"), tree.path("b")}, 1},
      // The -p list ends only at '-' or '+', so "/r" is a path on every platform.
      {{"-p", tree.path("a"), "/r"}, {tree.path("a"), "/r"}, 1},
      {{"--PATH=" + tree.path("b")}, {tree.path("b")}, 1},
  };
  for (const auto& c : cases) {
    scoped_platform platform;
    start_fresh_run();
    parse_words(c.words);
    std::vector<std::string> want;
    for (const std::string& p : c.paths) want.push_back(stored_path(p));
    EXPECT_EQ(g_paths, want) << describe(c.words);
    EXPECT_EQ(g_settings->recurse, c.recurse) << describe(c.words);
  }
}

TEST(command_line, output_file_letters) {
  temp_tree tree;
  std::string name = tree.path("out.txt");
  struct {
    std::vector<std::string> words;
    int output_mode, append_output;
    bool named;
  } cases[] = {
      {{"-o", name}, 1, 0, true},
      {{"-o" + name}, 1, 0, true},
      {{"-O", name}, 1, 1, true},
      {{"-a", "-o", name}, 1, 1, true},
      {{"-O", name, "+o"}, 0, 0, true},
      {{"--OUT=" + name}, 1, 0, true},
      {{"-a", "--OUT=" + name}, 1, 0, true},
      {{"--OUT=" + name, "+O"}, 0, 0, true},
      {{"+o"}, 0, 0, false},
  };
  for (const auto& c : cases) {
    scoped_platform platform;
    start_fresh_run();
    parse_words(c.words);
    EXPECT_EQ(g_settings->output_mode, c.output_mode) << describe(c.words);
    EXPECT_EQ(g_settings->append_output, c.append_output) << describe(c.words);
    EXPECT_EQ(g_output_name, c.named ? name : "") << describe(c.words);
  }
}

TEST(command_line, output_name_is_made_full) {
  scoped_platform platform;
  start_fresh_run();
  parse_words({"-o", "listing.txt"});
  std::string full;
  ASSERT_TRUE(g_platform.full_path("listing.txt", full));
  EXPECT_EQ(g_output_name, full);
}

TEST(command_line, ini_word_is_skipped_anywhere_among_options) {
  run_cases({
      {{"-.ini", "-r"}, {{"recurse", 0}}},
      {{"-r", "-.ini", "-a"}, {{"recurse", 0}, {"append_output", 1}}},
      {{"-", "+"}, {{"recurse", 1}}},
  });
}

TEST(command_line, run_log_override_notes_go_into_the_open_log) {
  temp_tree tree;
  tree.write("old.log", "");
  struct {
    std::vector<std::string> words;
    std::string note;
    int accounting;
  } cases[] = {
      {{"-1", tree.path("new.log")},
       "This file closed.\nAccounting file overridden by option -1 file pointing to " +
           tree.path("new.log") + "\n",
       1},
      {{"--LOGFILE=" + tree.path("new.log")},
       "Previous log closed, and " + tree.path("new.log") + " opened\n",
       1},
      {{"+1"}, "", 0},
  };
  for (const auto& c : cases) {
    scoped_platform platform;
    start_fresh_run();
    tree.write("old.log", "");
    g_acct_file = g_platform.open_stream(tree.path("old.log"), "a");
    ASSERT_NE(g_acct_file, nullptr);
    testing::internal::CaptureStdout();
    parse_words(c.words);
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(normalise_line_ends(tree.read("old.log")), c.note) << describe(c.words);
    EXPECT_EQ(g_settings->accounting, c.accounting) << describe(c.words);
    if (c.accounting) {
      EXPECT_EQ(g_acct_name, tree.path("new.log"));
    } else {
      EXPECT_EQ(g_acct_file, nullptr);
    }
    if (g_acct_file) std::fclose(g_acct_file);
    g_acct_file = nullptr;
  }
}

TEST(command_line, only_o_and_O_rewrite_dated_masks) {
  temp_tree tree;
  calendar_time today;
  ASSERT_TRUE(local_parts(current_time(), today));
  std::string year = std::to_string(today.year);
  struct {
    std::vector<std::string> words;
    std::string name;
  } cases[] = {
      {{"-o", tree.path("YYYY.txt")}, tree.path(year + ".txt")},
      {{"-O", tree.path("YYYY.txt")}, tree.path(year + ".txt")},
      {{"--OUT=" + tree.path("YYYY.txt")}, tree.path("YYYY.txt")},
      {{"-o", tree.path("yyyy.txt")}, tree.path("yyyy.txt")},
  };
  for (const auto& c : cases) {
    if (tree.root().find('.') != std::string::npos) GTEST_SKIP() << "a dot in " << tree.root();
    scoped_platform platform;
    start_fresh_run();
    parse_words(c.words);
    EXPECT_EQ(g_output_name, c.name) << describe(c.words);
  }
}
