// Site settings through the built program: the INI file and the environment.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "INCLUDE_U/dates.h"
#include "test_util.h"

namespace {

// The program's own INI file beside the working directory (the program file is
// "mailsift"), the fixed name, and the shared file.
constexpr const char* k_own_ini = "mailsift.ini";
constexpr const char* k_fixed_ini = "MAILSIFT.ini";
constexpr const char* k_shared_ini = "TOLVERIN.INI";

run_options in_tree(const temp_tree& tree) {
  run_options options;
  options.cwd = tree.root();
  options.no_ini_word = false;
  return options;
}

// The listing's column header line begins "Filename" and its delimiter.
char header_delimiter(const std::string& out) {
  std::size_t at = out.find("Filename");
  return at == std::string::npos || at + 8 >= out.size() ? '\0' : out[at + 8];
}

}  // namespace

TEST(ini_e2e, the_own_file_or_the_program_section_of_the_shared_file) {
  struct row {
    const char* own;
    const char* fixed;
    const char* shared;
    char delimiter;
  };
  const row rows[] = {
      {"DELIM=;\n", nullptr, nullptr, ';'},
      {nullptr, nullptr, "[OTHER]\nDELIM=#\n[MAILSIFT]\nDELIM=;\n[NEXT]\nDELIM=#\n", ';'},
      {"DELIM=;\n", nullptr, "[MAILSIFT]\nDELIM=#\n", ';'},
      {nullptr, nullptr, "[OTHER]\nDELIM=#\n", '|'},
      {nullptr, "delim=;\n", nullptr, ';'},
      {nullptr, nullptr, nullptr, '|'},
  };
  for (const row& r : rows) {
    temp_tree tree;
    tree.make_dir("mail");
    if (r.own) tree.write(k_own_ini, r.own);
    if (r.fixed) tree.write(k_fixed_ini, r.fixed);
    if (r.shared) tree.write(k_shared_ini, r.shared);
    run_result result = run_mailsift({tree.path("mail")}, in_tree(tree));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(header_delimiter(result.out), r.delimiter)
        << (r.own ? r.own : "") << (r.fixed ? r.fixed : "") << (r.shared ? r.shared : "");
  }
}

TEST(ini_e2e, the_word_dash_ini_anywhere_skips_the_file) {
  temp_tree tree;
  tree.make_dir("mail");
  tree.write(k_own_ini, "DELIM=;\n");
  struct row {
    std::vector<std::string> args;
    char delimiter;
  };
  const row rows[] = {
      {{tree.path("mail")}, ';'},
      {{tree.path("mail"), "-.ini"}, '|'},
      {{tree.path("mail"), "-.ini", "-r"}, '|'},
      {{tree.path("mail"), "-r", "-.ini", "-r"}, '|'},
  };
  for (const row& r : rows) {
    run_result result = run_mailsift(r.args, in_tree(tree));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(header_delimiter(result.out), r.delimiter) << r.args.size();
  }
}

TEST(ini_e2e, keys_found_anywhere_take_lines_meant_for_later_keys) {
  temp_tree tree;
  tree.write("mail/a.eml", "From: a\n\n");
  tree.write("mail/sub/b.eml", "From: b\n\n");
  // OUTPUT=... holds DELIM; LOGFILE_DELIM=; starts with LOG; MAX_RECURSE holds RECURSE.
  tree.write(k_own_ini, "OUTPUT=C:\\DELIMS.TXT\nLOGFILE_DELIM=;\nMAX_RECURSE=OFF\n");
  run_result r = run_mailsift({tree.path("mail")}, in_tree(tree));
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(header_delimiter(r.out), 'C');
  // The delimiter may stand in the paths too: look for the names instead.
  std::string record = tree.path("mail/a.eml");
  record += 'C';
  EXPECT_NE(r.out.find(record), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("b.eml"), std::string::npos) << r.out;
  EXPECT_TRUE(tree.exists(";"));
  EXPECT_FALSE(tree.exists("DELIMS.TXT"));
}

TEST(ini_e2e, command_line_toggles_flip_what_the_ini_file_left) {
  temp_tree tree;
  tree.write("mail/a.eml", "From: a\n\n");
  tree.write("mail/sub/b.eml", "From: b\n\n");
  tree.write(k_own_ini, "RECURSE=OFF\nOUTPUT=" + tree.path("out.txt") + "\n");
  struct row {
    std::vector<std::string> args;
    bool output_file;
    std::vector<std::string> listed;
  };
  const row rows[] = {
      {{tree.path("mail"), "+o"}, false, {tree.path("mail/a.eml")}},
      {{tree.path("mail"), "+o", "-r"},
       false,
       {tree.path("mail/sub/b.eml"), tree.path("mail/a.eml")}},
      {{tree.path("mail")}, true, {}},
  };
  for (const row& r : rows) {
    tree.remove("out.txt");
    run_result result = run_mailsift(r.args, in_tree(tree));
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(tree.exists("out.txt"), r.output_file) << r.args.size();
    if (r.output_file) {
      EXPECT_EQ(result.out, "");
    } else {
      EXPECT_EQ(listed_files(result.out), r.listed) << r.args.size();
    }
  }
}

TEST(ini_e2e, silent_comes_from_the_environment_and_the_ini_file_in_order) {
  struct row {
    const char* environment;  // SILENT, or null
    const char* ini;
    bool summary;
  };
  const row rows[] = {
      {nullptr, "", true},
      {nullptr, "SILENT=YES\n", false},
      {"ON", "", false},
      // The bare key sets silent to 0, overriding the environment.
      {"ON", "SILENT\n", true},
      {nullptr, "SPLIT=5\n", false},
  };
  for (const row& r : rows) {
    temp_tree tree;
    tree.make_dir("mail");
    tree.write(k_own_ini, r.ini);
    run_options options = in_tree(tree);
    if (r.environment) options.env = {{"SILENT", r.environment}};
    run_result result = run_mailsift({tree.path("mail"), "-o", tree.path("out.txt")}, options);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err.find("Elapsed:") != std::string::npos, r.summary)
        << (r.environment ? r.environment : "-") << " " << r.ini << result.err;
  }
}

TEST(ini_e2e, a_missing_value_is_reported_and_the_run_goes_on) {
  temp_tree tree;
  tree.make_dir("mail");
  tree.write(k_own_ini, "width\nDELIM=;\n");
  run_result r = run_mailsift({tree.path("mail"), "-o", tree.path("out.txt")}, in_tree(tree));
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "\nMissing ini file modifier at: WIDTH");
  EXPECT_EQ(tree.read("out.txt").substr(0, 13), "Filename;Size");
}

TEST(ini_e2e, environment_delimiter_with_a_leading_quote) {
  temp_tree tree;
  tree.make_dir("mail");
  run_options options;
  options.cwd = tree.root();
  options.env = {{"DELIMETER", "\";"}};
  run_result r = run_mailsift({tree.path("mail")}, options);
  ASSERT_EQ(r.status, 0) << r.err;
  // The note goes where it cannot spoil a listing on standard output.
  EXPECT_EQ(r.out.substr(0, 13), "Filename;Size");
  EXPECT_EQ(r.err.substr(0, 17), "env points to :;:");
  r = run_mailsift({tree.path("mail"), "-o", tree.path("out.txt")}, options);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "env points to :;:");
  EXPECT_EQ(tree.read("out.txt").substr(0, 13), "Filename;Size");
}

// An impossible date bound would select the wrong files: the INI file refuses it as
// the command line does.
TEST(ini_e2e, an_impossible_date_bound_ends_the_run_as_on_the_command_line) {
  int year = 0, month = 0, day = 0;
  split_date_text("12-05-2005", year, month, day);
  if (year != 2005) GTEST_SKIP() << "calendar routines not available";
  const char* const lines[] = {"OLDER=02-30-2005\n", "YOUNGER=04-31-2005w\n", "NEWER=ABC\n",
                               "OLDER=X\n"};
  const char* const messages[] = {
      "2/30/2005 is not a valid date\n", "4/31/2005 is not a valid date\n",
      "ABC is neither a number of days nor a date\n", "X is neither a number of days nor a date\n"};
  for (int i = 0; i < 4; ++i) {
    temp_tree tree;
    tree.make_dir("mail");
    tree.write(k_own_ini, lines[i]);
    run_result r = run_mailsift({tree.path("mail")}, in_tree(tree));
    EXPECT_EQ(r.status, 6) << lines[i];
    EXPECT_EQ(r.out, "") << lines[i];
    EXPECT_EQ(r.err.substr(0, std::string(messages[i]).size()), messages[i]) << r.err;
  }
}
