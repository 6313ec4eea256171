#include "settings/long_options.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "INCLUDE_U/text.h"
#include "platform/platform.h"
#include "options_test_support.h"
#include "settings/path_lists.h"
#include "settings/run_settings.h"
#include "test_util.h"

using options_test::g_slept_milliseconds;
using options_test::run_cases;
using options_test::start_fresh_run;

TEST(long_options, delimiter_is_a_character_pipe_or_a_code) {
  run_cases({
      {{"--delimeter=pipe"}, {{"delimiter", '|'}, {"delimiter_set", 0}}},
      {{"--delimeter=PIPE"}, {{"delimiter", 0}}},
      {{"--delimeter=;"}, {{"delimiter", ';'}}},
      {{"--delimeter=9"}, {{"delimiter", '9'}}},
      // A comma quotes the fields, whichever option made it the delimiter.
      {{"--delimeter=44"}, {{"delimiter", ','}, {"quote_fields", 1}}},
      {{"--DEL=09"}, {{"delimiter", 9}}},
      {{"--del=a=b"}, {{"delimiter", 0}}},
  });
}

TEST(long_options, scanners_is_reached_by_its_own_keyword) {
  // Keywords are tried in order, by prefix: an earlier one that starts the option
  // would take it.
  for (std::string_view keyword : long_option_keywords()) {
    if (keyword != "SCANNERS") {
      EXPECT_FALSE(ascii_istarts_with("SCANNERS=16", keyword)) << keyword;
    }
  }
  run_cases({
      {{"--SCANNERS=16"}, {{"scanners", 16}}},
      {{"--scanners=1"}, {{"scanners", 1}}},
      {{"--SCANNERS=64"}, {{"scanners", 64}}},
      {{"--SCANNERS=04"}, {{"scanners", 4}}},
      {{"--SCANNERS=0004"}, {{"scanners", 4}}},
      {{"--SCANNERS= 4 "}, {{"scanners", 4}}},
      {{"--SCANNERS=2", "--SCANNERS=3"}, {{"scanners", 3}}},
  });
}

TEST(long_options, mailboxes_sent_dates_and_readable_listings) {
  // Keywords are tried in order, by prefix: none before them may take these.
  for (std::string_view option : {"MBOX", "SENT-AFTER=2024-01-02", "SENT-BEFORE=2024-01-02",
                                  "SENT-UTC", "MSGID", "JSON", "UTF", "PST-RECOVER", "PST"}) {
    for (std::string_view keyword : long_option_keywords()) {
      if (!option.starts_with(keyword)) {
        EXPECT_FALSE(ascii_istarts_with(option, keyword)) << keyword;
      } else {
        break;
      }
    }
  }
  run_cases({
      {{"--MBOX"}, {{"mbox", 1}}},
      {{"--mbox=off"}, {{"mbox", 0}}},
      {{"--MBOX", "--Mbox=OFF"}, {{"mbox", 0}}},
      {{"--SENT-AFTER=2024-01-02"}, {{"sent_after_set", 1}, {"sent_after", 1704153600}}},
      {{"--sent-after=01-02-2024"}, {{"sent_after_set", 1}, {"sent_after", 1704153600}}},
      {{"--SENT-BEFORE=1970-01-02"},
       {{"sent_before_set", 1}, {"sent_before", 86400}, {"sent_after_set", 0}}},
      {{"--UTF"}, {{"utf", 1}, {"json", 0}}},
      {{"--MSGID"}, {{"msgid", 1}, {"sent_utc", 0}}},
      {{"--msgid=off"}, {{"msgid", 0}}},
      {{"--SENT-UTC"}, {{"sent_utc", 1}, {"sent_after_set", 0}}},
      {{"--Sent-Utc=ON", "--SENT-UTC=OFF"}, {{"sent_utc", 0}}},
      {{"--JSON"}, {{"json", 1}}},
      {{"--json=off"}, {{"json", 0}, {"utf", 0}}},
      {{"--PST"}, {{"pst", 1}, {"pst_recover", 0}}},
      {{"--pst", "--PST=OFF"}, {{"pst", 0}}},
      {{"--PST-RECOVER"}, {{"pst_recover", 1}, {"pst", 0}}},
      {{"--PST-RECOVER=ON", "--pst-recover=off"}, {{"pst_recover", 0}}},
  });
}

TEST(long_options, on_off_values) {
  run_cases({
      {{"-r", "--recurse"}, {{"recurse", 1}}},
      {{"--recurse=off"}, {{"recurse", 0}}},
      {{"--REC=On"}, {{"recurse", 1}}},
      {{"--RESET=ON"}, {{"reset", 1}}},
      {{"-R", "--res=off"}, {{"reset", 0}}},
      {{"--STREAM=OFF"}, {{"stream", 0}}},
      {{"--VERBOSE"}, {{"silent", 1}}},
      {{"--VER=off"}, {{"silent", 0}}},
  });
}

TEST(long_options, keywords_match_by_prefix_in_table_order) {
  run_cases({
      {{"--FILE_ID=abc"}, {}, {{"filetypes", "abc"}}},
      {{"--files=*.eml", "--FILE=*.msg"}, {}, {{"filetypes", "*.eml,*.msg"}}},
      {{"--ACCESS"}, {{"access", 1}, {"accounting", 0}}},
      {{"--HASHSET=x"}, {{"hashset", 1}, {"hash", 0}}, {{"hashset_name", "x"}}},
      {{"--HASH"}, {{"hash", 1}}},
      {{"--md5"}, {{"hash", 1}}},
      {{"--SHA"}, {{"sha1", 1}, {"sha2", 0}}},
      {{"--sha1"}, {{"sha1", 1}}},
      {{"--SHA256"}, {{"sha2", 1}, {"sha1", 0}}},
      {{"--SHA384"}, {{"sha3", 1}}},
      {{"--SHA512"}, {{"sha5", 1}}},
      {{"--SHOWATTRIBUTES"}, {{"showat", 1}}},
      {{"--REVERSE"}, {{"reverse", 1}}},
      {{"--CRC"}, {{"crc", 1}, {"sha1", 0}, {"hash", 0}}},
      {{"--CREATE"}, {{"create", 1}, {"crc", 0}}},
      {{"--DIRSIZE"}, {{"dirsize", 1}, {"directory_mode", 1}}},
      {{"--EXTENSION"}, {{"ext", 1}, {"ext_mode", 2}, {"name_width", 32}}},
      {{"--IMMEDIATE"}, {{"no_count", 1}}},
      {{"--APPEND"}, {{"append_output", 1}}},
      {{"--PAUSE"}, {{"pause", 1}}},
      {{"--QUOTE"}, {{"quote_fields", 1}}},
      {{"--UTF=8"}, {{"utf", 1}}},
      {{"--VARIABLE"}, {{"variable_width", 1}}},
      {{"--WIDTH=50"}, {{"width", 50}}},
      {{"--ADS"}, {{"ads", 1}, {"reset", 1}}},
      {{"--ADS=x"}, {{"ads", 'x'}}},
      {{"--ADS:y"}, {{"ads", 'y'}}},
      {{"--ADS="}, {{"ads", 1}}},
  });
}

TEST(long_options, numbers_and_counts) {
  run_cases({
      {{"--BEGIN=-5", "--END=7"}, {{"begin_offset", -5}, {"end_offset", 7}}},
      {{"--GREATER=10"}, {{"size_greater", 1}, {"greater_size", 10}}},
      {{"--BIGGER=11"}, {{"size_greater", 1}, {"greater_size", 11}}},
      {{"--LESSTHAN=3"}, {{"size_less", 1}, {"less_size", 3}}},
      {{"--SMALLER=x"}, {{"size_less", 1}, {"less_size", 0}}},
      {{"--LEVELS=2"},
       {{"levels", 1}, {"directory_mode", 2}, {"change_attributes", 1}, {"level_depth", 3}}},
      {{"--LEV=99999999999"}, {{"level_depth", INT32_MAX}}},
      {{"--NAMEAFTER="}, {{"nameafter", 1}, {"nameafter_count", -1}}},
      {{"--NAMEAFTER30"}, {{"nameafter", 1}, {"nameafter_count", 30}}},
      {{"--NAMEAFTER=7"}, {{"nameafter_count", 7}}},
      {{"--NAMEAFTER"}, {{"nameafter", 1}, {"nameafter_count", -1}}},
      {{"--SEQ"}, {{"sequence", 1}, {"sequence_start", 1}}},
      {{"--SEQUENCE=5"}, {{"sequence", 1}, {"sequence_start", 5}}},
      {{"--NEWER=5"}, {{"age_filter", 1}, {"newer_than_set", 1}, {"newer_days", 5}}},
      {{"--YOUNGER=6"}, {{"newer_days", 6}}},
      {{"--OLDER=7"}, {{"older_than_set", 1}, {"older_days", 7}}},
      {{"--BEFORE=8"}, {{"older_days", 8}}},
  });
}

TEST(long_options, comment_text_and_width) {
  run_cases({
      {{"--COM=Case1=20"}, {{"comment", 1}, {"comment_width", 20}}, {{"comment_text", "Case1"}}},
      {{"--COMMENT=12abc"}, {{"comment_width", 12}}, {{"comment_text", "12abc"}}},
      {{"--COM=40=20"}, {{"comment_width", 40}}, {{"comment_text", "40"}}},
      {{"--COM=x"}, {{"comment_width", 0}}, {{"comment_text", "x"}}},
      {{"--COM=" + std::string(130, 'y')}, {}, {{"comment_text", std::string(127, 'y')}}},
  });
}

TEST(long_options, exclude_entries_add_to_the_list) {
  run_cases({
      {{"--EXC=*.tmp", "--exclude=a.b"}, {{"exclude", 1}}, {{"excludes", "*.TMP,A.B"}}},
  });
}

TEST(long_options, required_and_on_off_values_reject_the_option) {
  const char* rejected[] = {"recurse=no", "REC=", "RES=1", "STR=yes", "VER=0", "ACC",  "LOG=",
                            "BEG",        "END=", "COM",   "DEL=",    "EXC",   "FILE", "HASHSET",
                            "GRE=",       "BIG",  "LES",   "SMA=",    "LEV",   "NEW",  "YOU=",
                            "OLD",        "BEF=", "OUT",   "PATH=",   "WID"};
  for (const char* option : rejected) {
    scoped_platform platform;
    start_fresh_run();
    EXPECT_NE(parse_long_option(option), 0) << option;
  }
}

TEST(long_options, unknown_keywords_are_ignored_after_a_warning_and_a_wait) {
  const char* ignored[] = {"hashes", "", "REV", "SHA-1", "HASH=ON", "x=1"};
  for (const char* option : ignored) {
    scoped_platform platform;
    start_fresh_run();
    testing::internal::CaptureStdout();
    EXPECT_EQ(parse_long_option(option), 0) << option;
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, std::string("\nIllegal or incomplete minusminus option of \"--") + option +
                       "\" IGNORED\nPlease check the option compatability and rerun if "
                       "necessary\n");
    EXPECT_EQ(g_slept_milliseconds, 3000) << option;
    EXPECT_EQ(g_settings->hash + g_settings->reverse + g_settings->sha1, 0) << option;
  }
}

TEST(long_options, each_occurrence_acts_again) {
  run_cases({
      {{"--WID=10", "--WID=20"}, {{"width", 20}}},
      {{"--REC=off", "--REC"}, {{"recurse", 1}}},
      {{"--OLD=3", "--OLD=4"}, {{"older_days", 4}}},
  });
}

TEST(long_options, source_list_opens_the_named_file) {
  temp_tree tree;
  tree.write("list.txt", "first\n");
  scoped_platform platform;
  start_fresh_run();
  EXPECT_EQ(parse_long_option("SOUR"), 0);
  EXPECT_EQ(g_settings->source_list, 0);
  EXPECT_EQ(parse_long_option("SOURCE="), 0);
  EXPECT_EQ(g_source_list_file, nullptr);
  EXPECT_EQ(parse_long_option("SOURCE=" + tree.path("list.txt")), 0);
  EXPECT_EQ(g_settings->source_list, 1);
  ASSERT_NE(g_source_list_file, nullptr);
  char line[16] = {};
  ASSERT_NE(std::fgets(line, sizeof line, g_source_list_file), nullptr);
  EXPECT_STREQ(line, "first\n");
  std::fclose(g_source_list_file);
  g_source_list_file = nullptr;
}

TEST(long_options, output_and_log_names_are_made_full) {
  struct {
    const char* option;
    std::string* name;
    const char* file;
  } cases[] = {
      {"OUTPUT=out.txt", &g_output_name, "out.txt"},
      {"ACCOUNTING=run.log", &g_acct_name, "run.log"},
      {"LOGFILE=run2.log", &g_acct_name, "run2.log"},
  };
  for (const auto& c : cases) {
    scoped_platform platform;
    start_fresh_run();
    ASSERT_EQ(parse_long_option(c.option), 0);
    std::string full;
    ASSERT_TRUE(g_platform.full_path(c.file, full));
    EXPECT_EQ(*c.name, full) << c.option;
  }
  EXPECT_EQ(g_settings->accounting, 1);
}
