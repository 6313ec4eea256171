// The help screen and its pager, through the built program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/help_screen.h"
#include "test_util.h"

namespace {

const std::string k_prompt = "\n" + std::string(23, ' ') + "RETURN TO CONTINUE, ^C or x==exit";

std::size_t count_of(const std::string& text, const std::string& piece) {
  std::size_t n = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
    ++n;
  }
  return n;
}

std::string banner() { return help_banner(version_text(build_date(), build_time())); }

std::string build_stamps() {
  std::string when = std::string(build_date()) + " " + build_time();
  return "   eml_base.cpp last updated: " + when + "\n" + "eml_program.cpp last updated: " + when +
         "\n" + "." + k_path_separator + "new_do_eml.cpp last updated: " + when + "\n\n";
}

run_result run_help(const std::vector<std::string>& args, const std::string& input) {
  run_options options;
  options.no_ini_word = false;
  options.input = input;
  return run_mailsift(args, options);
}

}  // namespace

TEST(help_pages, without_arguments_five_pages_and_the_build_stamps_end_with_status_0) {
  // Any key but x, Escape and Ctrl-C goes on: Enter, a space, a digit.
  for (const char* keys : {"\n\n\n\n", " 1\n ", "\r\r\r\r"}) {
    run_result r = run_help({}, keys);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 0) << keys;
    EXPECT_EQ(count_of(r.err, banner()), 5u);
    EXPECT_EQ(count_of(r.err, k_prompt), 4u);
    std::string stamps = build_stamps();
    ASSERT_GE(r.err.size(), stamps.size());
    EXPECT_EQ(r.err.substr(r.err.size() - stamps.size()), stamps);
    EXPECT_EQ(r.err.find("Abnormal termination"), std::string::npos);
    EXPECT_EQ(r.out, "");
  }
}

TEST(help_pages, leaving_at_a_prompt_ends_at_once_with_status_6) {
  struct {
    std::string keys;
    std::size_t pages;
  } cases[] = {
      {"x", 1}, {"X", 1}, {"\x1b", 1}, {"\x03", 1}, {"", 1}, {"\n\nx", 3}, {"\n\n\n", 4},
  };
  for (const auto& c : cases) {
    run_result r = run_help({}, c.keys);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 6) << c.keys;
    EXPECT_EQ(count_of(r.err, banner()), c.pages) << c.keys;
    EXPECT_EQ(count_of(r.err, k_prompt), c.pages) << c.keys;
    // The prompt is the last thing written: no summary, no build stamps.
    ASSERT_GE(r.err.size(), k_prompt.size());
    EXPECT_EQ(r.err.substr(r.err.size() - k_prompt.size()), k_prompt) << c.keys;
  }
}

TEST(help_pages, question_mark_shows_the_pages_then_ends_with_reason_6) {
  run_options options;
  options.input = "\n\n\n\n";
  run_result r = run_mailsift({"-?"}, options);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 6);
  EXPECT_EQ(count_of(r.err, banner()), 5u);
  EXPECT_EQ(count_of(r.err, k_prompt), 4u);
  std::string end =
      build_stamps() + "\nAbnormal termination. Reason: ILLEGAL or INCOMPLETE OPTION\n\n";
  ASSERT_GE(r.err.size(), end.size());
  EXPECT_EQ(r.err.substr(r.err.size() - end.size()), end);
}

TEST(help_pages, at_sign_shows_only_the_code_notice_with_status_6) {
  run_result r = run_mailsift({"-@"});
  EXPECT_EQ(r.status, 6);
  // The notice names the digest code the build carries, and its licence.
  for (const char* part :
       k_windows ? std::vector<const char*>{"operating system's own cryptography", "CNG"}
                 : std::vector<const char*>{"OpenSSL's", "Apache License 2.0"}) {
    EXPECT_NE(r.out.find(part), std::string::npos) << part << "\n" << r.out;
  }
  EXPECT_EQ(r.err.find("MAILSIFT"), std::string::npos) << r.err;
  EXPECT_EQ(count_of(r.out, k_prompt) + count_of(r.err, k_prompt), 0u);
}
