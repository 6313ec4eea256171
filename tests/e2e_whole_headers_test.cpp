// Whole headers in the readable listing (folded lines joined), through the built
// program, each beside the plain listing of the same message, which stays as it
// was; and mailboxes that begin with a byte-order mark or empty lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "platform/digest.h"
#include "test_util.h"

namespace {

std::vector<std::string> only_record_fields(const std::string& listing) {
  std::vector<std::string> records = listing_records(normalise_line_ends(listing));
  if (records.size() != 1) {
    ADD_FAILURE() << "not one record: " << listing;
    return {};
  }
  return split(records[0], '|');
}

struct folding_case {
  const char* name;
  std::string headers;
  std::size_t field;     // the field that differs: 3 From, 4 To, 5 CC, 7 Date, 10 Subject
  std::string readable;  // with --UTF
  std::string plain;     // without: as before
};

std::vector<folding_case> folding_cases() {
  const std::string hagstrom = "=?utf-8?q?Andreas_Hagstr=C3=B6m_via_USRP-users?=";
  return {
      {"a folded subject", "Subject: plain first\n\tsecond part\n", 10,
       "(#1:) Subject: plain first second part  ", "(#1:) Subject: plain first  "},
      {"encoded words on both sides of the fold",
       "Subject: =?utf-8?b?0JrQsNC6INGC0Ysg0L/QvtC2?=\n =?utf-8?b?0LDQu9GD0LnRgdGC0LA=?=\n", 10,
       "(#1:) Subject: Как ты пожалуйста  ",
       "(#1:) Subject: =?utf-8?b?0JrQsNC6INGC0Ysg0L/QvtC2?=  "},
      {"a subject folded three times, a rule's literal on a fold",
       "Subject: see\n the file\n filename=\"x.pdf\"\n  end\n", 10,
       "(#1:) Subject: see the file filename=\"x.pdf\"  ", "(#1:) Subject: see  "},
      {"a From line ending an encoded word is no soft line break",
       "From: " + hagstrom + "\n <usrp-users@lists.ettus.com>\n", 3,
       "(#1:) From: Andreas Hagström via USRP-users <usrp-users@lists.ettus.com>  ",
       "(#1:) From: =?utf-8?q?Andreas_Hagstr=C3=B6m_via_USRP-users? "
       "<usrp-users@lists.ettus.com>  "},
      {"a From folded inside its quoted name", "From: \"Leong,\n Ann\" <ann@x.example>\n", 3,
       "(#1:) From: \"Leong, Ann\" <ann@x.example>  ", "(#1:) From: \"Leong,  "},
      {"a soft line break in From stays one", "From: Someone Longer <a@b.exa=\nmple>\n", 3,
       "(#1:) From: Someone Longer <a@b.example>  ", "(#1:) From: Someone Longer <a@b.example>  "},
      {"folded To keeps its commas", "To: a@b.example,\n c@d.example,\n\te@f.example\n", 4,
       "(#1:) To: a@b.example, c@d.example, e@f.example  ",
       "(#1:) To: a@b.example c@d.example e@f.example  "},
      {"folded Cc with encoded words",
       "Cc: =?utf-8?q?Zo=C3=AB?= <z@x.example>,\n =?utf-8?q?J=C3=BCrgen?= <j@x.example>\n", 5,
       "(#1:) Cc: Zoë <z@x.example>, Jürgen <j@x.example>  ",
       "(#1:) Cc: =?utf-8?q?Zo=C3=AB?= <z@x.example> =?utf-8?q?J=C3=BCrgen?= <j@x.example>  "},
      {"a folded Date", "Date: Mon, 1 Jan 2024\n 10:00:00 +0200\n", 7,
       "(#1:) Date: Mon, 1 Jan 2024 10:00:00 +0200  ", "(#1:) Date: Mon, 1 Jan 2024  "},
  };
}

std::string sha256_hex(std::string_view bytes) {
  digest_state* state = nullptr;
  digest_value value;
  EXPECT_EQ(digest_start(state, digest_kind::sha256), digest_start_result::started);
  digest_add(state, bytes.data(), bytes.size());
  digest_finish(state, value);
  digest_free(state);
  std::string hex;
  char pair[3];
  for (std::size_t i = 0; i < value.size; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", value.bytes[i]);
    hex += pair;
  }
  return hex;
}

}  // namespace

// Every other field is the same with and without --UTF (the messages are ASCII
// elsewhere): the entries, their numbers and fields stay; only the text grows.
TEST(whole_headers, readable_entries_take_the_folded_lines_and_the_plain_listing_stays) {
  temp_tree tree;
  for (const folding_case& c : folding_cases()) {
    std::string message = "Message-ID: <m@x.example>\n" + c.headers +
                          "X-Other: one\nAttachment: a.txt\n\nbody\n From: not a header\n";
    tree.write("d/m.eml", message);
    run_result plain = run_mailsift({"-p", tree.path("d")});
    ASSERT_EQ(plain.status, 0) << c.name << plain.err;
    std::vector<std::string> plain_fields = only_record_fields(plain.out);
    ASSERT_EQ(plain_fields.size(), 14u) << c.name << plain.out;
    EXPECT_EQ(plain_fields[c.field], c.plain) << c.name;
    // --SENT-UTC reads the Date header's folds for its own column as well.
    for (const char* also : {"--SCANNERS=1", "--SCANNERS=4", "--SENT-UTC"}) {
      run_result readable = run_mailsift({"-p", tree.path("d"), "--UTF", also});
      ASSERT_EQ(readable.status, 0) << c.name << readable.err;
      std::vector<std::string> fields = only_record_fields(readable.out);
      ASSERT_GE(fields.size(), 14u) << c.name << readable.out;
      EXPECT_EQ(fields[c.field], c.readable) << c.name << " " << also;
      for (std::size_t i = 3; i < 14; ++i) {
        if (i != c.field) {
          EXPECT_EQ(fields[i], plain_fields[i]) << c.name << " field " << i;
        }
      }
    }
  }
}

TEST(whole_headers, a_mailbox_after_a_byte_order_mark_or_empty_lines_splits_at_its_separator) {
  const std::string messages =
      "From a@b.example Mon Jan  1 00:00:00 2024\nSubject: one\n\nbody\n\n"
      "From c@d.example Mon Jan  1 00:00:00 2024\nSubject: two\n\nbody\n";
  struct lead_case {
    const char* name;
    std::string lead;
    const char* note;
  };
  const lead_case cases[] = {
      {"empty lines", "\n\r\n\n", "mailsift: 4 bytes before the first message of "},
      {"a byte-order mark", "\xEF\xBB\xBF", "mailsift: 3 bytes before the first message of "},
      {"a byte-order mark and an empty line", "\xEF\xBB\xBF\n",
       "mailsift: 4 bytes before the first message of "},
  };
  for (const lead_case& c : cases) {
    temp_tree tree;
    std::string content = c.lead + messages;
    tree.write("m/box", content);
    run_result r = run_mailsift({"-p", tree.path("m"), "--MBOX", "--SHA2"});
    ASSERT_EQ(r.status, 0) << c.name << r.err;
    std::vector<std::string> records = listing_records(r.out);
    ASSERT_EQ(records.size(), 2u) << c.name << r.out;
    std::size_t second = content.find("From c@");
    const std::size_t offsets[] = {c.lead.size(), second, content.size()};
    for (std::size_t i = 0; i < 2; ++i) {
      std::vector<std::string> fields = split(records[i], '|');
      ASSERT_EQ(fields.size(), 17u) << c.name << records[i];
      EXPECT_EQ(fields[14], std::to_string(i + 1)) << c.name;
      EXPECT_EQ(fields[15], std::to_string(offsets[i])) << c.name;
      EXPECT_EQ(fields[1], std::to_string(offsets[i + 1] - offsets[i])) << c.name;
      EXPECT_EQ(fields[16], sha256_hex(content.substr(offsets[i], offsets[i + 1] - offsets[i])))
          << c.name << " message " << i + 1;
    }
    EXPECT_NE(r.err.find(std::string(c.note) + tree.path("m/box") + " belong to no message"),
              std::string::npos)
        << c.name << r.err;
    // The summary (written with an output file) and the run log count the messages.
    run_result counted = run_mailsift(
        {"-p", tree.path("m"), "--MBOX", "-o", tree.path("l.txt"), "-1", tree.path("log.txt")});
    ASSERT_EQ(counted.status, 0) << c.name;
    const std::string count_line = "\n  0 directories, 2 messages in 1 file\n";
    EXPECT_NE(counted.err.find(count_line), std::string::npos) << counted.err;
    EXPECT_NE(normalise_line_ends(tree.read("log.txt")).find(count_line), std::string::npos)
        << tree.read("log.txt");
    // Without --MBOX the file is one record, its summary counts files, as before.
    run_result whole = run_mailsift({"-p", tree.path("m"), "-o", tree.path("l.txt")});
    ASSERT_EQ(whole.status, 0) << c.name;
    ASSERT_EQ(listing_records(tree.read("l.txt")).size(), 1u) << c.name;
    EXPECT_EQ(whole.err.find("belong"), std::string::npos) << whole.err;
    EXPECT_EQ(summary_file_count(whole.err), 1) << whole.err;
  }
}
