// The command line through the built program: the ways an option ends the run.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "INCLUDE_U/dates.h"
#include "test_util.h"

namespace {

const char* const k_option_reason =
    "\nAbnormal termination. Reason: ILLEGAL or INCOMPLETE OPTION\n\n";

bool ends_with(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

run_options in_tree(const temp_tree& tree) {
  run_options options;
  options.cwd = tree.root();
  return options;
}

}  // namespace

TEST(option_errors, illegal_letter_names_the_rest_of_the_word) {
  temp_tree tree;
  run_result r = run_mailsift({"-rkz"}, in_tree(tree));
  EXPECT_EQ(r.status, 6);
  // With the listing on standard output, the settings' messages go to standard error.
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "\nIllegal option kz\n" + std::string(k_option_reason));
}

TEST(option_errors, missing_values_end_the_run_without_a_message) {
  temp_tree tree;
  std::vector<std::vector<std::string>> cases = {
      {"-o"}, {"-O"}, {"-d"},       {"-G"},       {"-L"},       {"-t"},  {"-T"},
      {"-w"}, {"-W"}, {"-o", "-r"}, {"-d", "-5"}, {"-G", "-1"}, {"-rL"},
  };
  for (const auto& words : cases) {
    run_options options = in_tree(tree);
    options.no_ini_word = false;
    run_result r = run_mailsift(words, options);
    EXPECT_EQ(r.status, 6) << describe(words);
    EXPECT_EQ(r.out, "") << describe(words);
    EXPECT_EQ(r.err, k_option_reason) << describe(words);
  }
}

TEST(option_errors, missing_values_of_some_letters_show_the_help_screen) {
  temp_tree tree;
  std::vector<std::vector<std::string>> cases = {
      {"-1"}, {"-1", "-r"}, {"-C"}, {"-C", "-x"}, {"-g"}, {"-l"}, {"-x"}, {"-x", "-r"}, {"-?"},
  };
  for (const auto& words : cases) {
    run_options options = in_tree(tree);
    options.no_ini_word = false;
    // Enough answers for every page of the help screen.
    options.input = std::string(40, '\n');
    run_result r = run_mailsift(words, options);
    EXPECT_EQ(r.status, 6) << describe(words);
    EXPECT_NE(r.err.find("MAILSIFT"), std::string::npos) << describe(words);
    EXPECT_TRUE(ends_with(r.err, k_option_reason)) << describe(words) << r.err;
  }
}

TEST(option_errors, rejected_long_option_is_named) {
  temp_tree tree;
  struct {
    std::string word;
    std::string out;
  } cases[] = {
      {"--recurse=no", "\nIllegal option: recurse=no"},
      {"--OUT", "\nIllegal option: OUT"},
      {"+-WID=", "\nIllegal option: WID="},
  };
  for (const auto& c : cases) {
    run_result r = run_mailsift({c.word}, in_tree(tree));
    EXPECT_EQ(r.status, 6) << c.word;
    EXPECT_EQ(r.out, "") << c.word;
    EXPECT_EQ(r.err, c.out + k_option_reason) << c.word;
  }
}

TEST(option_errors, extra_word_after_the_options) {
  temp_tree tree;
  run_result r = run_mailsift({"-r", "extra"}, in_tree(tree));
  EXPECT_EQ(r.status, 6);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, std::string("\nThere appears to be an extra or eroneous item \"extra\"\n"
                               "at the end of the command line\n"
                               "Please check your syntax, and correct to problem.\n") +
                       k_option_reason);
}

TEST(option_errors, backslash_in_a_file_type) {
  temp_tree tree;
  run_result r = run_mailsift({"-f", "*.eml", "mail\\*.eml"}, in_tree(tree));
  EXPECT_EQ(r.status, 6);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, std::string("Can't have a \\ in the file type option\n") + k_option_reason);
}

TEST(option_errors, more_than_80_excludes) {
  temp_tree tree;
  const std::string too_many =
      "\nYou have too many -eXclude file types.\nMax exclude types is 80\n";
  std::vector<std::string> listed{"-x"};
  std::vector<std::string> long_form;
  for (int i = 0; i < 80; ++i) {
    listed.push_back("*." + std::to_string(i));
    long_form.push_back("--EXC=*." + std::to_string(i));
  }
  run_result r = run_mailsift(listed, in_tree(tree));
  EXPECT_EQ(r.status, 0) << r.out;

  listed.push_back("*.x");
  r = run_mailsift(listed, in_tree(tree));
  EXPECT_EQ(r.status, 6);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, too_many + k_option_reason);

  long_form.push_back("--EXC=*.x");
  r = run_mailsift(long_form, in_tree(tree));
  EXPECT_EQ(r.status, 6);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, too_many + k_option_reason);
}

TEST(option_errors, source_list_that_cannot_be_opened_ends_with_status_3) {
  temp_tree tree;
  std::string name = tree.path("missing.txt");
  run_result r = run_mailsift({"--SOURCE=" + name}, in_tree(tree));
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err, "\nCannot find/open " + name + ": No such file or directory\n");
}

TEST(option_errors, impossible_date_or_unreadable_age_is_refused) {
  int year = 0, month = 0, day = 0;
  split_date_text("12-05-2005", year, month, day);
  if (year != 2005) GTEST_SKIP() << "calendar routines not available";
  temp_tree tree;
  struct {
    std::vector<std::string> words;
    std::string out;
  } cases[] = {
      {{"-g", "02-30-2005"}, "2/30/2005 is not a valid date\n"},
      {{"-l", "02-29-2005w"}, "2/29/2005 is not a valid date\n"},
      {{"--OLDER=13-01-2005"}, "13/1/2005 is not a valid date\n"},
      {{"--NEWER=04-31-2005"}, "4/31/2005 is not a valid date\n"},
      // A value that is neither would count as 0 days and list nothing without a word.
      {{"-l", "abc"}, "abc is neither a number of days nor a date\n"},
      {{"-g", "x30"}, "x30 is neither a number of days nor a date\n"},
      {{"-lw"}, "w is neither a number of days nor a date\n"},
      {{"--NEW=abc"}, "abc is neither a number of days nor a date\n"},
      {{"--OLD=a-b-c"}, "a-b-c is neither a number of days nor a date\n"},
      {{"--BEFORE=/12/2005"}, "/12/2005 is neither a number of days nor a date\n"},
  };
  for (const auto& c : cases) {
    run_result r = run_mailsift(c.words, in_tree(tree));
    EXPECT_EQ(r.status, 6) << describe(c.words);
    EXPECT_EQ(r.out, "") << describe(c.words);
    EXPECT_EQ(r.err, c.out + k_option_reason) << describe(c.words);
  }
}

// Neighbours of the refused values: a number of days, however odd, still selects.
TEST(options, age_values_that_begin_with_a_digit_are_taken) {
  temp_tree tree;
  tree.write("m/a.eml", "x");
  for (std::vector<std::string> words :
       {std::vector<std::string>{"-l", "0"}, {"-l", "+0"}, {"-l", "0abc"}, {"--NEW=0"}}) {
    words.insert(words.begin(), tree.path("m"));
    run_result r = run_mailsift(words, in_tree(tree));
    EXPECT_EQ(r.status, 0) << describe(words) << r.err;
    // Today's file is 0 days old, not less than 0.
    EXPECT_EQ(listing_records(r.out).size(), 0u) << describe(words);
    EXPECT_EQ(r.out.rfind("Filename|", 0), 0u) << describe(words);
  }
  run_result r = run_mailsift({tree.path("m"), "-l", "1"}, in_tree(tree));
  EXPECT_EQ(listed_files(r.out), std::vector<std::string>{tree.path("m/a.eml")});
}

TEST(options, unknown_long_option_warns_waits_and_goes_on) {
  temp_tree tree;
  const std::string warning =
      "\nIllegal or incomplete minusminus option of \"--hashes\" IGNORED\n"
      "Please check the option compatability and rerun if necessary\n";
  // A listing on standard output starts with its header, the warning going to
  // standard error; with an output file the warning stays on standard output.
  run_result r = run_mailsift({tree.root(), "--hashes"}, in_tree(tree));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out.substr(0, 9), "Filename|");
  EXPECT_EQ(r.err.substr(0, warning.size()), warning);
  EXPECT_EQ(r.err.find("Abnormal termination"), std::string::npos) << r.err;

  r = run_mailsift({tree.root(), "--hashes", "-o", tree.path("out.txt")}, in_tree(tree));
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, warning);
  EXPECT_EQ(r.err.find(warning), std::string::npos) << r.err;
}

TEST(options, absolute_bare_word_is_a_starting_path) {
  temp_tree tree;
  tree.write("box/a.eml", "Subject: hi\n\nbody\n");
  temp_tree elsewhere;
  run_result r = run_mailsift({tree.path("box")}, in_tree(elsewhere));
  EXPECT_EQ(r.status, 0) << r.out;
  // Records begin with a line end and the file's full path.
  std::string record = tree.path("box/a.eml");
  record.insert(record.begin(), '\n');
  EXPECT_NE(r.out.find(record), std::string::npos) << r.out;
}

namespace {

// The screen summary of a run of a second or less.
bool ends_with_summary(const std::string& err, const std::string& counts) {
  for (const char* seconds : {"0", "1"}) {
    std::string summary = counts + "  Elapsed:  0 hrs. 0 mins. " + seconds + " secs.\n\n\n";
    if (ends_with(err, summary)) return true;
  }
  return false;
}

}  // namespace

TEST(run_summary, shown_with_an_output_file) {
  temp_tree tree;
  tree.write("box/a.eml", "Subject: a\n");
  tree.write("box/b.eml", "Subject: b\n");
  tree.write("box/sub/c.eml", "Subject: c\n");
  tree.make_dir("box/sub2");
  tree.make_dir("empty");
  // The walk counts the subdirectories it finds, and the starting directories
  // only when it does not recurse.
  struct {
    std::vector<std::string> words;
    std::string counts;
  } cases[] = {
      {{tree.path("box"), "-r", "-o", tree.path("out.txt")}, "\n  1 directory, 2 files\n"},
      {{tree.path("box"), "-o", tree.path("out.txt")}, "\n  2 directories, 3 files\n"},
      {{tree.path("empty"), "-o", tree.path("out.txt")}, "\n  0 directories, 0 files\n"},
  };
  for (const auto& c : cases) {
    run_result r = run_mailsift(c.words, in_tree(tree));
    EXPECT_EQ(r.status, 0) << describe(c.words);
    EXPECT_TRUE(ends_with_summary(r.err, c.counts)) << describe(c.words) << r.err;
  }
}

TEST(run_summary, an_option_error_after_o_reports_zero_counts) {
  temp_tree tree;
  run_result r = run_mailsift({"-o", tree.path("out.txt"), "extra"}, in_tree(tree));
  EXPECT_EQ(r.status, 6);
  EXPECT_EQ(r.err.find(k_option_reason), 0u) << r.err;
  EXPECT_TRUE(ends_with_summary(r.err, "\n  0 directories, 0 files\n")) << r.err;
}

TEST(run_summary, not_shown_without_output_file_or_when_silent) {
  temp_tree tree;
  tree.write("box/a.eml", "Subject: a\n");
  struct {
    std::vector<std::string> words;
    bool silent_environment;
  } cases[] = {
      {{tree.path("box")}, false},
      {{tree.path("box"), "-o", tree.path("out.txt"), "--VERBOSE"}, false},
      {{tree.path("box"), "-o", tree.path("out.txt")}, true},
  };
  for (const auto& c : cases) {
    run_options options = in_tree(tree);
    if (c.silent_environment) options.env.push_back({"SILENT", "on"});
    run_result r = run_mailsift(c.words, options);
    EXPECT_EQ(r.status, 0) << describe(c.words);
    EXPECT_EQ(r.err.find("Elapsed:"), std::string::npos) << describe(c.words) << r.err;
    EXPECT_EQ(r.err.find("director"), std::string::npos) << describe(c.words) << r.err;
  }
}

namespace {

const std::string k_log_separator = "\n" + std::string(40, '*') + "\n";

}  // namespace

TEST(run_log_options, a_log_opened_from_acct_is_replaced_with_a_note) {
  temp_tree tree;
  tree.make_dir("box");
  std::string old_log = tree.path("old.log");
  std::string new_log = tree.path("new.log");
  struct {
    std::vector<std::string> words;
    std::string note;
    bool new_log_written;
  } cases[] = {
      {{tree.path("box"), "-1", new_log},
       "This file closed.\nAccounting file overridden by option -1 file pointing to " + new_log +
           "\n",
       true},
      {{tree.path("box"), "--LOGFILE=" + new_log},
       "Previous log closed, and " + new_log + " opened\n",
       true},
      {{tree.path("box"), "+1"}, "", false},
  };
  for (const auto& c : cases) {
    tree.remove("old.log");
    if (tree.exists("new.log")) tree.remove("new.log");
    run_options options = in_tree(tree);
    options.env.push_back({"ACCT", old_log});
    run_result r = run_mailsift(c.words, options);
    EXPECT_EQ(r.status, 0) << describe(c.words) << r.out;
    // The old log keeps its separator and the note, and gets no trailer.
    EXPECT_EQ(normalise_line_ends(tree.read("old.log")), k_log_separator + c.note)
        << describe(c.words);
    EXPECT_EQ(tree.exists("new.log"), c.new_log_written) << describe(c.words);
    if (c.new_log_written) {
      std::string log = normalise_line_ends(tree.read("new.log"));
      EXPECT_EQ(log.find(k_log_separator), 0u) << log;
      EXPECT_NE(log.find("Finished:"), std::string::npos) << log;
    }
  }
}

TEST(run_log_options, split_names_the_log_after_the_output_file) {
  temp_tree tree;
  tree.write("box/a.eml", "Subject: a\n");
  tree.write("mailsift.ini", "SPLIT=5\n");
  run_options options = in_tree(tree);
  options.no_ini_word = false;
  run_result r = run_mailsift({tree.path("box"), "-o", tree.path("out.txt")}, options);
  EXPECT_EQ(r.status, 0) << r.out;
  ASSERT_TRUE(tree.exists("out.txt.log"));
  std::string log = normalise_line_ends(tree.read("out.txt.log"));
  EXPECT_EQ(log.find(k_log_separator), 0u) << log;
  EXPECT_NE(log.find("1 files"), std::string::npos) << log;
  // SPLIT also makes the run silent.
  EXPECT_EQ(r.err.find("Elapsed:"), std::string::npos) << r.err;
}
