// The run log through the built program: one block per run, in order.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <regex>
#include <string>
#include <vector>

#include "INCLUDE_U/text.h"
#include "runlog/last_access.h"
#include "test_util.h"

namespace {

const std::string k_separator = "\n****************************************\n";
// The trailer's line after the last-access report when the run kept every
// last-access date of what it read.
const std::string k_access_times_kept =
    std::string("    Last Access Dates of the ") +
    (k_windows ? "message files" : "message files and directories") + " read: left unchanged\n";

// The report body for a last-access value, as the program writes it.
std::string last_access_body(int value) {
  temp_tree tree;
  std::FILE* file = std::fopen(tree.path("report").c_str(), "wb");
  report_last_access(file, value);
  std::fclose(file);
  std::string text = tree.read("report");
  text = text.substr(std::string("    Last Access Date UPDATE is ").size());
  // A report that ends its line ends it as the unfinished one is ended after it.
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// Times, counts and the last-access report vary from run to run and machine to
// machine; they become fixed marks so that whole blocks can be compared.
std::string mask_run_log(const std::string& raw) {
  std::string text = std::regex_replace(
      mask_run_times(raw), std::regex(R"(\n  \d+ director(y|ies), \d+ files\n)"), "\n  <counts>\n");
  // Each report is followed by a line end and the line on what the run did to
  // last-access dates.
  for (uint32_t value : {0xFFFFFFFFu, 0u, 1u, 0x80000000u, 0x80000001u}) {
    std::string report =
        "UPDATE is " + normalise_line_ends(last_access_body(static_cast<int>(value)));
    for (std::size_t at = text.find(report); at != std::string::npos; at = text.find(report, at)) {
      text.replace(at, report.size(), "UPDATE is <last access>");
    }
  }
  return text;
}

std::string joined(const std::vector<std::string>& args, const char* between) {
  std::string out;
  for (const std::string& arg : args) out += arg + between;
  return out;
}

// The block of a run whose arguments were `args` (the trailing "-.ini" included).
std::string expected_block(const std::vector<std::string>& args, const std::string& directory,
                           bool header) {
  std::string program = mailsift_binary();
  std::string zone = k_windows ? "Eastern Standard Time" : "EST";
  std::string echo = " " + program;
  for (const std::string& arg : args) echo += arg == "|" ? " \"|\"" : " " + arg;
  std::string block = k_separator + echo + "\n";
  if (header) {
    block += "\n Started <utc> GMT, <hh:mm> " + zone + " (EST/EDT:5)\n";
    block += " Command Line: " + program + " " + joined(args, " ") + "\n";
  }
  block += " Initial directory: " + directory + "\n";
  block += "\n  <counts>\n\n\n  Finished: <local>\n  Elapsed: <elapsed>\n";
  block += "    Last Access Date UPDATE is <last access>\n" + k_access_times_kept + "\n";
  return block;
}

void make_mail_tree(const temp_tree& tree) { tree.write("mail/a.eml", "From: a@b\n\nbody\n"); }

}  // namespace

TEST(run_log_e2e, each_run_appends_its_whole_block) {
  temp_tree tree;
  make_mail_tree(tree);
  run_options options;
  options.cwd = tree.root();
  std::vector<std::string> args = {tree.path("mail"), "-o", tree.path("out.txt"), "-1",
                                   tree.path("run.log")};
  for (int run = 0; run < 2; ++run) {
    run_result r = run_mailsift(args, options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "");
  }
  args.push_back("-.ini");
  std::string block = expected_block(args, tree.path("mail"), true);
  EXPECT_EQ(mask_run_log(tree.read("run.log")), block + block);
}

TEST(run_log_e2e, a_silent_run_without_output_file_has_no_header) {
  temp_tree tree;
  make_mail_tree(tree);
  run_options options;
  options.cwd = tree.root();
  options.env = {{"SILENT", "on"}};
  std::vector<std::string> args = {tree.path("mail"), "-1", tree.path("run.log")};
  run_result r = run_mailsift(args, options);
  ASSERT_EQ(r.status, 0) << r.err;
  args.push_back("-.ini");
  EXPECT_EQ(mask_run_log(tree.read("run.log")), expected_block(args, tree.path("mail"), false));
}

TEST(run_log_e2e, an_aborted_run_gets_the_reason_in_its_trailer) {
  temp_tree tree;
  run_options options;
  options.cwd = tree.root();
  options.env = {{"ACCT", tree.path("run.log")}};
  run_result r = run_mailsift({"-j"}, options);
  ASSERT_EQ(r.status, 6) << r.err;
  // The log opened from the environment before the command line failed; the echo
  // and the header never came.
  EXPECT_EQ(mask_run_log(tree.read("run.log")),
            k_separator +
                "\n Abnormal termination. Reason: ILLEGAL or INCOMPLETE OPTION\n  <counts>\n"
                "\n\n  Finished: <local>\n  Elapsed: <elapsed>\n"
                "    Last Access Date UPDATE is <last access>\n" +
                k_access_times_kept + "\n");
}

TEST(run_log_e2e, a_lone_bar_is_quoted_in_the_echo_and_bare_in_the_command_line) {
  temp_tree tree;
  make_mail_tree(tree);
  run_options options;
  options.cwd = tree.root();
  std::vector<std::string> args = {tree.path("mail"), "|", "-1", tree.path("run.log")};
  run_result r = run_mailsift(args, options);
  ASSERT_EQ(r.status, 0) << r.err;
  std::string log = normalise_line_ends(tree.read("run.log"));
  std::string program = mailsift_binary();
  std::string mail = tree.path("mail");
  std::string log_name = tree.path("run.log");
  EXPECT_EQ(
      log.find(k_separator + " " + program + " " + mail + " \"|\" -1 " + log_name + " -.ini\n"), 0u)
      << log;
  EXPECT_NE(log.find(" Command Line: " + program + " " + mail + " | -1 " + log_name + " -.ini \n"),
            std::string::npos)
      << log;
}

TEST(run_log_e2e, a_later_log_closes_the_environment_log_with_a_note) {
  struct row {
    const char* source;
    std::vector<std::string> args;
    std::string ini;
    std::string note;
  };
  temp_tree tree;
  make_mail_tree(tree);
  // The INI file hands its values over upper-cased; only POSIX names keep their case.
  std::string ini_name = k_windows ? ascii_upper_copy(tree.path("new.log")) : tree.path("new.log");
  const row rows[] = {
      {"ini",
       {tree.path("mail")},
       "LOG=" + tree.path("new.log") + "\n",
       "This file closed.\nAccounting file overridden by .ini file pointing to " + ini_name + "\n"},
      {"-1",
       {tree.path("mail"), "-1", tree.path("new.log"), "-.ini"},
       "",
       "This file closed.\nAccounting file overridden by option -1 file pointing to " +
           tree.path("new.log") + "\n"},
  };
  for (const row& r : rows) {
    tree.remove("env.log");
    tree.remove("new.log");
    tree.remove("mailsift.ini");
    if (!r.ini.empty()) tree.write("mailsift.ini", r.ini);
    run_options options;
    options.cwd = tree.root();
    options.no_ini_word = false;
    options.env = {{"ACCT", tree.path("env.log")}};
    run_result r2 = run_mailsift(r.args, options);
    ASSERT_EQ(r2.status, 0) << r.source << r2.err;
    EXPECT_EQ(normalise_line_ends(tree.read("env.log")), k_separator + r.note) << r.source;
    EXPECT_EQ(mask_run_log(tree.read("new.log")), expected_block(r.args, tree.path("mail"), true))
        << r.source;
  }
}

TEST(run_log_e2e, missing_log_directories_are_created) {
  temp_tree tree;
  make_mail_tree(tree);
  run_options options;
  options.cwd = tree.root();
  run_result r = run_mailsift(
      {tree.path("mail"), "-o", tree.path("out.txt"), "-1", tree.path("logs/daily/run.log")},
      options);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "Creating (log\\error) directory:  " + tree.path("logs") +
                       "\nCreating (log) directory:  " + tree.path("logs/daily") + "\n");
  EXPECT_EQ(normalise_line_ends(tree.read("logs/daily/run.log")).find(k_separator), 0u);
}

TEST(run_log_e2e, acct_on_names_a_log_in_the_current_directory) {
  temp_tree tree;
  make_mail_tree(tree);
  run_options options;
  options.cwd = tree.root();
  options.env = {{"ACCT", "on"}};
  run_result r = run_mailsift({tree.path("mail"), "-o", tree.path("out.txt")}, options);
  ASSERT_EQ(r.status, 0) << r.err;
  // A bare name has no directory: the creation of an empty one is tried and shown.
  EXPECT_EQ(r.out, "Creating (log) directory:  \n");
  std::string log = normalise_line_ends(tree.read("ACCT-ING"));
  EXPECT_EQ(log.find(k_separator + " " + mailsift_binary() + " "), 0u) << log;
}

TEST(run_log_e2e, only_end_marks_at_the_very_end_are_cut_before_appending) {
  struct row {
    std::string before;
    std::string kept;
  };
  const row rows[] = {
      {"previous block line\n\x1a", "previous block line\n"},
      {std::string("previous block line\n\x1a\0\0\x1a", 24), "previous block line\n"},
      {std::string("previous\0block line\n", 20), std::string("previous\0block line\n", 20)},
      {"previous\x1a block line\n", "previous\x1a block line\n"},
  };
  for (const row& r : rows) {
    temp_tree tree;
    tree.write("run.log", r.before);
    run_options options;
    options.cwd = tree.root();
    run_result result = run_mailsift({tree.root(), "-1", tree.path("run.log")}, options);
    ASSERT_EQ(result.status, 0) << result.err;
    std::string log = normalise_line_ends(tree.read("run.log"));
    EXPECT_EQ(log.substr(0, r.kept.size() + k_separator.size()), r.kept + k_separator) << r.before;
  }
}

TEST(run_log_e2e, a_log_that_cannot_be_created_is_reported_and_the_listing_still_written) {
  temp_tree tree;
  tree.make_dir("taken");
  tree.write("mail/a.eml", "Subject: kept\n");
  run_options options;
  options.cwd = tree.root();
  run_result r = run_mailsift(
      {tree.path("mail"), "-1", tree.path("taken"), "-o", tree.path("list.txt")}, options);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.find("\nGeneric_u\n"), 0u) << r.err;
  EXPECT_NE(r.err.find("\nerror opening " + tree.path("taken") + "\n"), std::string::npos) << r.err;
  // Windows opens no directory as a file and says that access is denied.
  std::string reason = k_windows ? "Permission denied" : "Is a directory";
  EXPECT_NE(r.out.find("Can't open accounting file " + tree.path("taken") + ": " + reason + "\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("\nAccounting file not opened\n"), std::string::npos) << r.out;
  EXPECT_NE(tree.read("list.txt").find("(#1:) Subject: kept  "), std::string::npos);
}

TEST(run_log_e2e, the_header_names_the_zone_of_tz) {
  struct row {
    const char* tz;
    const char* zone;  // what follows the local hours and minutes
  };
  // Under wine the zone is the one the wine server started with, so only the pinned
  // EST5EDT is certain there.
  const std::vector<row> rows =
      k_windows ? std::vector<row>{{"EST5EDT", "Eastern Standard Time (EST/EDT:5)"}}
                : std::vector<row>{{"EST5EDT", "EST (EST/EDT:5)"},
                                   {"PST8PDT", "PST (PST/PDT:8)"},
                                   {"EST5", "EST (EST/:5)"},
                                   {"UTC0", "UTC (UTC/:0)"},
                                   {"CET-1CEST", "CET (CET/CES:-1)"}};
  for (const row& r : rows) {
    temp_tree tree;
    run_options options;
    options.cwd = tree.root();
    options.env = {{"TZ", r.tz}};
    run_result result = run_mailsift({tree.root(), "-1", tree.path("run.log")}, options);
    ASSERT_EQ(result.status, 0) << result.err;
    std::string log = mask_run_log(tree.read("run.log"));
    EXPECT_NE(log.find("\n Started <utc> GMT, <hh:mm> " + std::string(r.zone) + "\n"),
              std::string::npos)
        << r.tz << "\n"
        << log;
  }
}
