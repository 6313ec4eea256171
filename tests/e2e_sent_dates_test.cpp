// The sent-date bounds and the Sent (UTC) column through the built program: the
// forms of Date and Sent lines, folded headers, and the bounds' own forms.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

// Sent dates: each file holds one message with the Date (or Sent) line given.
struct dated_message {
  const char* name;
  const char* header;
};

const dated_message k_dated[] = {
    {"late_new_york", "Date: Mon, 1 Jan 2024 23:30:00 -0500\n"},  // 2 Jan 04:30 UTC
    {"early_athens", "Date: Tue, 2 Jan 2024 01:00:00 +0200\n"},   // 1 Jan 23:00 UTC
    {"midnight_gmt", "Date: Tue, 2 Jan 2024 00:00:00 GMT\n"},     // 2 Jan 00:00 UTC
    {"pacific_name", "Date: Wed, 3 Jan 2024 16:30:00 PST\n"},     // 4 Jan 00:30 UTC
    {"military_letter", "Date: Wed, 3 Jan 2024 23:59:59 Q\n"},    // counts as UTC
    {"no_zone", "Date: 3 Jan 2024 12:00\n"},
    {"sent_only", "Sent: Thursday, January 4, 2024 9:15 AM\n"},
    {"no_date", "From: x\n"},
    {"unreadable_date", "Date: sometime soon\n"},
};

std::vector<std::string> listed_names(const std::string& out) {
  std::vector<std::string> names;
  for (const std::string& file : listed_files(normalise_line_ends(out))) {
    names.push_back(file.substr(file.find_last_of("/\\") + 1));
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(sent_dates, bounds_select_by_the_utc_sent_time) {
  temp_tree tree;
  for (const dated_message& m : k_dated) {
    tree.write(std::string("d/") + m.name, std::string(m.header) + "Subject: s\n");
  }
  struct bound_case {
    std::vector<std::string> args;
    std::vector<std::string> listed;
  } cases[] = {
      {{"--SENT-AFTER=2024-01-02"},
       {"late_new_york", "midnight_gmt", "military_letter", "no_zone", "pacific_name",
        "sent_only"}},
      {{"--SENT-AFTER=01-02-2024"},
       {"late_new_york", "midnight_gmt", "military_letter", "no_zone", "pacific_name",
        "sent_only"}},
      {{"--SENT-BEFORE=2024-01-02"}, {"early_athens"}},
      {{"--SENT-AFTER=2024-01-02", "--SENT-BEFORE=2024-01-04"},
       {"late_new_york", "midnight_gmt", "military_letter", "no_zone"}},
      {{"--sent-after=2024-01-04", "--sent-before=01-05-2024"}, {"pacific_name", "sent_only"}},
  };
  for (const bound_case& c : cases) {
    std::vector<std::string> args = {"-p", tree.path("d"), "-o", tree.path("out.txt")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    run_result r = run_mailsift(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(listed_names(tree.read("out.txt")), c.listed) << c.args[0];
    // Both files without a date that can be read are counted in the summary.
    EXPECT_NE(r.err.find("\n  2 messages left out: no date could be read\n  Elapsed:"),
              std::string::npos)
        << r.err;
  }
}

TEST(sent_dates, a_bound_that_is_no_date_or_crosses_the_other_ends_the_run_with_reason_6) {
  temp_tree tree;
  tree.write("d/a.eml", "Subject: s\n");
  const std::string not_a_date =
      " is not a date (yyyy-mm-dd, mm-dd-yyyy, optionally Thh:mm[:ss] and a zone)\n";
  struct refused {
    std::vector<std::string> options;
    std::string ini;  // the INI file's lines; none when empty
    std::string message;
  } cases[] = {
      {{"--SENT-AFTER=2024-1-1"}, "", "mailsift: 2024-1-1" + not_a_date},
      {{"--SENT-AFTER=abc"}, "", "mailsift: abc" + not_a_date},
      {{"--SENT-AFTER=2024-01-01x"}, "", "mailsift: 2024-01-01x" + not_a_date},
      {{"--SENT-BEFORE=2024-01-01 junk"}, "", "mailsift: 2024-01-01 junk" + not_a_date},
      {{"--SENT-BEFORE=2024-01-01T12"}, "", "mailsift: 2024-01-01T12" + not_a_date},
      {{"--SENT-AFTER=2024-02-30"}, "", "mailsift: 2024-02-30" + not_a_date},
      {{"--SENT-BEFORE=13-01-2024"}, "", "mailsift: 13-01-2024" + not_a_date},
      {{}, "SENT_AFTER=2024/01/01\n", "mailsift: 2024/01/01" + not_a_date},
      {{"--SENT-AFTER=2024-01-02", "--SENT-BEFORE=2024-01-01"}, "",
       "mailsift: --SENT-AFTER=2024-01-02 is not before --SENT-BEFORE=2024-01-01\n"},
      {{"--SENT-AFTER=2024-01-01T10:00+01:00", "--SENT-BEFORE=2024-01-01T09:00Z"}, "",
       "mailsift: --SENT-AFTER=2024-01-01T10:00+01:00 is not before "
       "--SENT-BEFORE=2024-01-01T09:00Z\n"},
      {{"--SENT-BEFORE=2024-01-01"}, "SENT_AFTER=01-01-2024\n",
       "mailsift: SENT_AFTER=01-01-2024 is not before --SENT-BEFORE=2024-01-01\n"},
  };
  for (const refused& c : cases) {
    std::vector<std::string> args = {"-p", tree.path("d")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    run_options options;
    if (!c.ini.empty()) {
      tree.write("mailsift.ini", "[MAILSIFT]\n" + c.ini);
      options.no_ini_word = false;
      options.cwd = tree.root();
    }
    run_result r = run_mailsift(args, options);
    EXPECT_EQ(r.status, 6) << c.message;
    EXPECT_NE((r.out + r.err).find("\n" + c.message), std::string::npos) << r.out << r.err;
    EXPECT_NE(r.err.find("ILLEGAL or INCOMPLETE OPTION"), std::string::npos) << r.err;
  }
}

// Each date form as Sent (UTC) shows it; the plain listing of the same file is the
// record without that column, its Date-Time column as ever.
TEST(sent_dates, every_date_form_gives_its_utc_time_and_leaves_the_plain_record_alone) {
  struct form_case {
    const char* header;
    const char* sent_utc;  // empty: none
  } cases[] = {
      {"Date: Mon, 1 Jan 2024\n 10:00:00 +0200\n", "2024-01-01T08:00:00Z"},
      {"Date: Mon, 1 Jan 2024\r\n\t01:00:00\r\n  +0200\r\n", "2023-12-31T23:00:00Z"},
      {"Date: Tue, 2 Jan 2024 1:15:00 +0300\n", "2024-01-01T22:15:00Z"},
      {"Sent: Tuesday, January 2, 2024 10:15 PM\n", "2024-01-02T22:15:00Z"},
      {"Sent: Tuesday, January 2, 2024 12:05 AM\n", "2024-01-02T00:05:00Z"},
      {"Date: 1 Jan 24 10:00 +0000\n", "2024-01-01T10:00:00Z"},
      {"Date: 1 Jan 99 10:00 +0000\n", "1999-01-01T10:00:00Z"},
      {"Date: Tue, 2 Jan 2024 10:00:00 +9999\n", "2024-01-02T10:00:00Z"},
      {"Date: Tue, 2 Jan 2024 10:00:00 -2400\n", "2024-01-02T10:00:00Z"},
      {"Date: Tue, 2 Jan 2024\n", ""},
      {"Date: Tue, 2 Jan 2024 25:00\n", ""},
  };
  temp_tree tree;
  std::size_t n = 0;
  for (const form_case& c : cases) {
    tree.write("d/" + std::to_string(10 + n++) + ".eml",
               std::string(c.header) + "Subject: s\n\nbody\n");
  }
  run_result plain = run_mailsift({"-p", tree.path("d")});
  run_result sent = run_mailsift({"-p", tree.path("d"), "--SENT-UTC"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  ASSERT_EQ(sent.status, 0) << sent.err;
  std::vector<std::string> plain_records = listing_records(normalise_line_ends(plain.out));
  std::vector<std::string> sent_records = listing_records(normalise_line_ends(sent.out));
  ASSERT_EQ(plain_records.size(), std::size(cases));
  ASSERT_EQ(sent_records.size(), std::size(cases));
  // The walk's order is the directory's: records are matched by their file's number.
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const std::string& record = sent_records[i];
    std::size_t at = record.find(".eml|");
    ASSERT_NE(at, std::string::npos) << record;
    const form_case& c = cases[std::stoul(record.substr(at - 2, 2)) - 10];
    EXPECT_EQ(record.substr(0, record.rfind('|')), plain_records[i]) << c.header;
    EXPECT_EQ(record.substr(record.rfind('|') + 1), c.sent_utc) << c.header;
  }
}

TEST(sent_dates, a_folded_date_header_is_bounded_by_its_whole_time) {
  temp_tree tree;
  // 2023-12-31T23:00:00Z; its first line alone would read as midnight of 1 January.
  tree.write("d/folded.eml", "Date: Mon, 1 Jan 2024\n 01:00:00 +0200\nSubject: s\n\nbody\n");
  tree.write("d/dateless.eml", "Date: Mon, 1 Jan 2024\nSubject: s\n\nbody\n");
  struct bound_case {
    std::string bound;
    bool listed;
  } cases[] = {
      {"--SENT-AFTER=2024-01-01", false},
      {"--SENT-BEFORE=2024-01-01", true},
      {"--SENT-AFTER=2023-12-31T23:00Z", true},
      {"--SENT-AFTER=2023-12-31T23:00:01Z", false},
      {"--SENT-BEFORE=2024-01-01T01:00+02:00", false},
      {"--SENT-BEFORE=2024-01-01T01:00:01+0200", true},
  };
  for (const bound_case& c : cases) {
    run_result r = run_mailsift({"-p", tree.path("d"), c.bound});
    ASSERT_EQ(r.status, 0) << c.bound << r.err;
    EXPECT_EQ(listed_names(r.out), c.listed ? std::vector<std::string>{"folded.eml"}
                                            : std::vector<std::string>{})
        << c.bound;
    // A date without a time of day is left out, and said so.
    EXPECT_NE(r.err.find("  1 message left out: no date could be read\n"), std::string::npos)
        << c.bound << r.err;
  }
}

}  // namespace
