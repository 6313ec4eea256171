// Source-list mode through the built program: the files named in a list are
// listed instead of walking directories.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

const char* const k_message_a =
    "From: Ann <ann@example.com>\nTo: Bob <bob@example.com>\nSubject: first\n"
    "Date: Wed, 14 Aug 2013 09:30:21 -0400\n\nbody\n";
const char* const k_message_b =
    "From: Cy <cy@example.com>\nTo: Dee <dee@example.com>\nSubject: second\n"
    "Date: Thu, 15 Aug 2013 10:00:00 -0400\n\nbody\n";

// A small collection with fixed times, so that two runs list the same facts.
void make_collection(const temp_tree& tree) {
  tree.write("mail/a.eml", k_message_a);
  tree.write("mail/sub/b.eml", k_message_b);
  int64_t when = eastern_seconds(2013, 8, 14, 9, 30, 0);
  tree.set_times("mail/a.eml", when, when);
  tree.set_times("mail/sub/b.eml", when + 3600, when + 3600);
}

run_result run_in(const temp_tree& tree, const std::vector<std::string>& args) {
  run_options options;
  options.cwd = tree.root();
  return run_mailsift(args, options);
}

run_result run_list(const temp_tree& tree, const std::string& list) {
  tree.write("list.txt", list);
  return run_in(tree, {"--SOUR=" + tree.path("list.txt")});
}

// The records of a listing: each begins with "\n"; the header line comes first.
std::vector<std::string> records_of(const std::string& listing) {
  std::vector<std::string> records;
  std::size_t at = listing.find('\n');
  while (at != std::string::npos) {
    std::size_t next = listing.find('\n', at + 1);
    records.push_back(listing.substr(at, next == std::string::npos ? next : next - at));
    at = next;
  }
  return records;
}

}  // namespace

TEST(source_list_mode, an_earlier_listing_fed_back_gives_the_same_records) {
  temp_tree tree;
  make_collection(tree);
  run_result walked = run_in(tree, {tree.path("mail")});
  ASSERT_EQ(walked.status, 0) << walked.err;
  ASSERT_EQ(records_of(walked.out).size(), 2u) << walked.out;
  // The whole listing, header line included: "Filename" names nothing and is skipped.
  for (const std::string& list :
       {walked.out + "\n", walked.out.substr(walked.out.find('\n') + 1)}) {
    run_result listed = run_list(tree, list);
    EXPECT_EQ(listed.status, 0) << listed.err;
    // No header line: the output is the records alone.
    EXPECT_EQ(listed.out, walked.out.substr(walked.out.find('\n')));
    EXPECT_EQ(listed.err.find("Abnormal termination"), std::string::npos) << listed.err;
  }
}

TEST(source_list_mode, lines_are_trimmed_and_an_empty_line_ends_the_list) {
  temp_tree tree;
  make_collection(tree);
  std::string a = tree.path("mail/a.eml");
  std::string b = tree.path("mail/sub/b.eml");
  run_result walked = run_in(tree, {tree.path("mail")});
  std::vector<std::string> records = records_of(walked.out);
  ASSERT_EQ(records.size(), 2u) << walked.out;
  std::string record_a = records[0].find("a.eml") != std::string::npos ? records[0] : records[1];
  std::string record_b = records[0].find("a.eml") != std::string::npos ? records[1] : records[0];
  struct {
    std::string list;
    std::string listing;
  } cases[] = {
      {a + "   \n" + b + "  \r\n", record_a + record_b},
      {b + "\n\n" + a + "\n", record_b},
      {b + "\r\n\r\n" + a + "\r\n", record_b},
      {tree.path("mail/missing.eml") + "\n" + a, record_a},
      {"mail" + std::string(1, k_path_separator) + "a.eml|1|2\n", record_a},
      {"\n" + a + "\n", ""},
      // A Ctrl-Z byte is a character like any other, not the end of the list.
      {b + "\n\x1a\n" + a + "\n", record_b + record_a},
  };
  for (const auto& c : cases) {
    run_result r = run_list(tree, c.list);
    EXPECT_EQ(r.status, 0) << c.list;
    EXPECT_EQ(r.out, c.listing) << c.list;
  }
}

TEST(source_list_mode, a_line_whose_path_is_too_long_is_reported_and_skipped) {
  temp_tree tree;
  make_collection(tree);
  std::string a = tree.path("mail/a.eml");
  run_result r = run_list(tree, std::string(40000, 'x') + "\n" + a + "\n");
  EXPECT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("\nSource list line 1 skipped: the path is too long\n"), std::string::npos)
      << r.err;
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << r.out;
  EXPECT_NE(r.out.find(a), std::string::npos) << r.out;
}

TEST(source_list_mode, a_line_that_is_not_utf8_is_read_in_the_ansi_code_page) {
  temp_tree tree;
  // Windows takes the byte E9 in its ANSI code page; POSIX keeps the bytes as the name.
  std::string name;
  ASSERT_TRUE(g_platform.ansi_text_to_utf8("caf\xE9.eml", name));
  tree.write("mail/" + name, k_message_a);
  std::string list = tree.path("mail") + k_path_separator + "caf\xE9.eml|1\n";
  run_result r = run_list(tree, list);
  EXPECT_EQ(r.status, 0) << r.err;
  std::string record_start = "\n";
  record_start += tree.path("mail/" + name);
  record_start += '|';
  EXPECT_EQ(r.out.rfind(record_start, 0), 0u) << r.out;
}
