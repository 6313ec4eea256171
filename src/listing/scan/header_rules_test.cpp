// The header rules, through the scan of whole message files.
#include "listing/scan/header_rules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "INCLUDE_U/unreadable.h"
#include "listing/eml_program.h"
#include "listing/new_do_eml.h"
#include "settings/run_settings.h"
#include "test_util.h"

namespace {

using field_member = entry_field message_fields::*;

std::string with_crlf(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

// Scans `content` as a message file and returns its fields.
std::unique_ptr<message_fields> scan_content(const temp_tree& tree, std::string_view content) {
  tree.write("m.eml", content);
  auto fields = std::make_unique<message_fields>();
  reset_message_fields(*fields);
  EXPECT_EQ(read_message_fields(tree.path("m.eml"), *fields), scan_result::done);
  return fields;
}

struct rule_case {
  std::string content;  // lines with "\n" ends; each case also runs with "\r\n"
  field_member field;
  std::string expected;
};

// Runs each case with LF and with CR LF line ends, and with reads of the whole
// file, of 3 bytes and of 1: all must give the same field.
void check_rule_cases(const std::vector<rule_case>& cases) {
  create_run_settings();
  temp_tree tree;
  scoped_short_reads reads(1);
  for (int64_t limit : {int64_t{1} << 30, int64_t{3}, int64_t{1}}) {
    reads.set_limit(limit);
    for (const rule_case& c : cases) {
      EXPECT_EQ((scan_content(tree, c.content).get()->*c.field).view(), c.expected)
          << "read limit " << limit << ": " << c.content;
      EXPECT_EQ((scan_content(tree, with_crlf(c.content)).get()->*c.field).view(), c.expected)
          << "read limit " << limit << ", CR LF: " << c.content;
    }
  }
}

}  // namespace

TEST(header_rules, from_lines_are_numbered_joined_and_marked_body) {
  const field_member from = &message_fields::from;
  check_rule_cases({
      {"From: Ann Lee\n", from, "(#1:) From: Ann Lee  "},
      {"FROM: Ann Lee\nfrom: Bob Roe\n", from, "(#1:) FROM: Ann Lee  (#2:) from: Bob Roe  "},
      {"From:|Ann Lee\n", from, "(#1:) From: Ann Lee  "},
      // After the Subject, a From line is marked body only when one came before.
      {"From: Ann Lee\nSubject: s\nFrom: Bob Roe\n", from,
       "(#1:) From: Ann Lee  (#body:) From: Bob Roe  "},
      {"Subject: s\nFrom: Bob Roe\nFrom: Cy Poe\n", from,
       "(#1:) From: Bob Roe  (#body:) From: Cy Poe  "},
      // A short From line is joined whole with the next line, tabs made spaces.
      {"From: Bob\n\t<bob@example.com>\n", from, "(#1:) From: Bob <bob@example.com>  "},
      {"From: Bob\n a@b\nFrom: Cy Poe\n", from, "(#1:) From: Bob a@b  (#2:) From: Cy Poe  "},
      // A soft line break loses its "=" only.
      {"From: Ann Lee <ann=\n@example.com>\n", from, "(#1:) From: Ann Lee <ann@example.com>  "},
      {"From: Bob\n", from, "(#1:) From: Bob  "},
      {"From: Bob", from, "(#1:) From: Bob  "},
      // A header after a short From line is not joined, but read as its own line.
      {"From: Bob\nFrom: Cy Poe\n", from, "(#1:) From: Bob  (#2:) From: Cy Poe  "},
      {"From: Bob\nX-Mailer: m\n", from, "(#1:) From: Bob  "},
      // Only a header's shape stops the join: a name, no white space, a colon.
      {"From: Bob\n<bob@example.com>\n", from, "(#1:) From: Bob<bob@example.com>  "},
      {"From: Bob\nbob at x: y\n", from, "(#1:) From: Bobbob at x: y  "},
      {"From: Bob\nX: y\n", from, "(#1:) From: BobX: y  "},
      {"From: Bob\n:x\n", from, "(#1:) From: Bob:x  "},
      {"From: Bob\n\n", from, "(#1:) From: Bob  "},
      // A soft line break joins whatever follows, a header too.
      {"From: Ann Lee <ann=\nTo: x@y\n", from, "(#1:) From: Ann Lee <annTo: x@y  "},
      // Quote marks go before the rules look at the line.
      {"> From: Ann Lee\n", from, "(#1:) From: Ann Lee  "},
      {">>From: Ann\n", from, "(#1:) From: Ann  "},
      {"Reply-From: Ann Lee\n", from, ""},
  });
}

TEST(header_rules, address_lines_fold_their_continuations) {
  const field_member to = &message_fields::to;
  const field_member cc = &message_fields::cc;
  const field_member bcc = &message_fields::bcc;
  check_rule_cases({
      {"To: a,\n bobby\n", to, "(#1:) To: a bobby  "},
      {"To: a@x,\n\tb@y,\n\tc@z\nSubject: s\n", to, "(#1:) To: a@x b@y c@z  "},
      {"To: a@x,\n> b@y\n", to, "(#1:) To: a@x> b@y  "},
      {"To: a@x,\n>b@y.example\n", to, "(#1:) To: a@x,  "},
      // A quoted message's next header is a line of its own; a quoted fold joins.
      {"> To: a@x.example\n> User-Agent: m\n> X-Spam-Status: No\n", to, "(#1:) To: a@x.example  "},
      {"> Cc: a@x.example\n> Subject: s\n", cc, "(#1:) Cc: a@x.example  "},
      {"> Bcc: a@x.example\n> Xy: z\n", bcc, "(#1:) Bcc: a@x.example  "},
      // The shape of a header, as for a short From line: one character is no name.
      {"> Bcc: a@x.example\n> X: y\n", bcc, "(#1:) Bcc: a@x.example> X: y  "},
      {"> To: a@x.example,\n>  b@y.example\n> Date: d\n", to,
       "(#1:) To: a@x.example>  b@y.example  "},
      {"> To: a@x.example,\n> \tb@y.example\n", to, "(#1:) To: a@x.example> \tb@y.example  "},
      {"> To: a@x.example\n> and b at y: z\n", to, "(#1:) To: a@x.example> and b at y: z  "},
      // Three characters or fewer, line end included, end the fold.
      {"To: a,\n b\n c@d\n", to, "(#1:) To: a,  "},
      {"To: a,\n bc\n", to, "(#1:) To: a bc  "},
      {"To: a@x\n", to, "(#1:) To: a@x  "},
      {"To: a@x", to, "(#1:) To: a@x  "},
      {"To: a,\n b@c", to, "(#1:) To: a b@c  "},
      {"To:|a@x\n", to, "(#1:) To: a@x  "},
      {"To: |a@x\n", to, "(#1:) To: |a@x  "},
      {"TO: a\nSubject: s\nto: b\n", to, "(#1:) TO: a  (#body:) to: b  "},
      {"Subject: s\nTo: b\n", to, "(#1:) To: b  "},
      {"Cc: c\nSubject: s\nCc: d\n", cc, "(#1:) Cc: c  (#body:) Cc: d  "},
      {"Subject: s\nCC: d\n", cc, "(#body:) CC: d  "},
      {"Bcc:|x\nbcc: y\n", bcc, "(#1:) Bcc: x  (#2:) bcc: y  "},
  });
}

TEST(header_rules, the_line_after_a_fold_is_still_tested) {
  const field_member subject = &message_fields::subject;
  const field_member from = &message_fields::from;
  const field_member to = &message_fields::to;
  const field_member ip = &message_fields::recent_ip;
  check_rule_cases({
      {"From: Bob\nTo: x@y\n", to, "(#1:) To: x@y  "},
      {"From: Bob\nSubject: s\n", subject, "(#1:) Subject: s  "},
      {"From: Bob\n\tb@x\nTo: x@y\n", to, "(#1:) To: x@y  "},
      {"Received: from a [1]\nReceived: from b [2]\n", ip, "(#1:) [1]  (#2:) [2]  "},
      {"Received: from a [1]\nX-Originating-IP: [2]\n", ip, "(#1:) [1]  (#2:) [2]  "},
      {"Received: from a [1]\nx [2]\n", ip, "(#1:) [1]  "},
      {"Received: from a [1]\n [2]\nReceived: from b [3]\n", ip, "(#1:) [1][2]  (#2:) [3]  "},
      {"To: a@x,\n\tb@y\nSubject: s\n", subject, "(#1:) Subject: s  "},
      {"> To: a@x.example\n> Subject: s.example\n", subject, "(#1:) Subject: s.example  "},
      {"Cc: a@x\nFrom: Ann Lee\n", from, "(#1:) From: Ann Lee  "},
      {"Bcc: a@x,\n b@y\nFrom: Ann Lee\n", from, "(#1:) From: Ann Lee  "},
  });
}

TEST(header_rules, date_and_sent_are_exact_case_and_fill_their_fields) {
  const field_member date = &message_fields::date;
  const field_member forward = &message_fields::forward_date;
  check_rule_cases({
      {"Date: Mon, 12 Mar 2012 14:05:33 -0400\n", date,
       "(#1:) Date: Mon, 12 Mar 2012 14:05:33 -0400  "},
      {"date: Mon, 12 Mar 2012\nDATE: Mon\n", date, ""},
      {"Date:\tMon, 1 Jan 2001\n", date, "(#1:) Date: Mon, 1 Jan 2001  "},
      {"Date:|Mon\n", date, "(#1:) Date: Mon  "},
      {"Date: Mon<br>junk\n", date, "(#1:) Date: Mon  "},
      {"Date: a 1\nSent: b 2\n", date, "(#1:) Date: a 1  "},
      {"Date: a 1\nSent: b 2\n", forward, "(#1:) Sent: b 2  "},
      {"Sent: b 2\nDate: a 1\n", date, "(#1:) Sent: b 2  (#2:) Date: a 1  "},
      {"Sent: b 2\nSent: c 3\n", forward, "(#1:) Sent: b 2  (#2:) Sent: c 3  "},
      {"Sent: b 2\nSent: c 3\n", date, "(#1:) Sent: b 2  "},
      {"sent: b 2\n", forward, ""},
  });
}

TEST(header_rules, the_first_date_or_sent_line_gives_the_parsed_date) {
  create_run_settings();
  temp_tree tree;
  struct {
    std::string content;
    int year, month, day;
    std::string time;
  } cases[] = {
      {"Date: Mon, 12 Mar 2012 14:05:33 -0400\nDate: Tue, 1 Jan 2013 01:00:00\n", 2012, 3, 12,
       "14:05:33 -0400"},
      {"Sent: Fri Dec 21 11:30:00 2012\nDate: Mon, 12 Mar 2012 14:05:33\n", 2012, 12, 21,
       "11:30:00 2012"},
      {"Date: Mon, 12 Mar 2012 14:05:33 -0400<BR>x\n", 2012, 3, 12, "14:05:33 -0400"},
      {"Subject: no date\n", 0, 0, 0, ""},
  };
  for (const auto& c : cases) {
    auto fields = scan_content(tree, c.content);
    EXPECT_EQ(fields->date_time.year, c.year) << c.content;
    EXPECT_EQ(fields->date_time.month, c.month) << c.content;
    EXPECT_EQ(fields->date_time.day, c.day) << c.content;
    EXPECT_EQ(fields->date_time.time_text.view(), c.time) << c.content;
  }
}

TEST(header_rules, subject_ends_the_header_phase_and_keeps_the_delimiter) {
  const field_member subject = &message_fields::subject;
  check_rule_cases({
      {"Subject: a|b\n", subject, "(#1:) Subject: a|b  "},
      {"SUBJECT: x\nsubject: y\n", subject, "(#1:) SUBJECT: x  (#2:) subject: y  "},
      // The text of a line ends at a NUL byte.
      {std::string("Subject: a\0b\n", 13), subject, "(#1:) Subject: a  "},
  });
}

TEST(header_rules, read_flags_replace_message_read_and_share_one_counter) {
  const field_member read = &message_fields::message_read;
  check_rule_cases({
      {"Subject: s\n", read, " Unknown  "},
      {"X-Mozilla-Status: 0001\n", read, "(#1:)  YES "},
      {"X-Mozilla-Status: 8000\n", read, "(#1:)  NO/Unknown "},
      // The value's last character stays on a last line without a line end.
      {"X-Mozilla-Status: 0001", read, "(#1:)  YES "},
      {"X-Mozilla-Status: 00a1\n", read, "(#1:)  NO/Unknown "},
      {"x-mozilla-status: 0001\n", read, " Unknown  "},
      {"X-Mozilla-Status: 0003\nX-Mozilla-Status: 0000\n", read, "(#2:)  NO/Unknown "},
      {"Mapi-Message-Flags: 1 (read)\n", read, "(#1:)  YES "},
      {"X-Mapi-Message-Flags: was read x\n", read, "(#1:)  YES "},
      {"Mapi-Message-Flags: 0 (unsent)\n", read, ""},
      {"X-Mapi-Message-Flags:\n", read, " Unknown  "},
      {"X-Mozilla-Status: 0001\nMapi-Message-Flags: x (read)\n", read, "(#2:)  YES "},
  });
}

TEST(header_rules, attachment_rules_collect_names_with_two_counters) {
  const field_member info = &message_fields::attachment_info;
  check_rule_cases({
      // A literal that ends the line is not found.
      {"Attachment:\n", info, ""},
      {"See the Attachment:\n", info, ""},
      {"See the Attachment: \n", info, "(#1:) Attachment info: See the Attachment:   "},
      {"Attachment: a.doc\n", info, "(#1:) Attachment info: Attachment: a.doc  "},
      {"Content-Disposition: attachment;\tfilename=\"a b.doc\"; size=5\n", info,
       "(#1:) Attachment info: filename=\"a b.doc\"  "},
      {"X-Attachments: c:\\a.doc; d.doc\n", info,
       "(#1:) Attachment info: X-Attachments: c:\\a.doc  "},
      // The forwarded message's name is on the next line, which keeps its last character.
      {"Content-Type: message/rfc822\n\tname=\"fwd.eml\"\n", info,
       "(#1:) Attachment info: name=\"fwd.eml\"  "},
      {"Content-Type: message/rfc822\nname=abc", info, "(#1:) Attachment info: name=abc  "},
      {"Content-Type: message/rfc822\n", info, ""},
      // The Content-Type name rule waits for a Mapi-Hasattach line without "True".
      {"Content-Type: text/plain; name=b.txt\n", info, ""},
      {"Mapi-Hasattach: True\nContent-Type: text/plain; name=b.txt\n", info, ""},
      {"Mapi-Hasattach: 1\nContent-Type: text/plain; name=b.txt; charset=us-ascii\n", info,
       "(#1:) Attachment info: name=b.txt;   "},
      {"Mapi-Hasattach: 1\nContent-type: text/plain; name=b.txt\n", info, ""},
      {"Mapi-Hasattach: 1\nContent-Type: application/pdf;\n\tname=\"a.pdf\"\n", info,
       "(#1:) Attachment info:  name=\"a.pdf\"  "},
      {"Attachment: a\nMapi-Hasattach: 1\nContent-Type: text/plain; name=b.txt\n"
       "Content-Type: message/x\nname=c\n",
       info,
       "(#1:) Attachment info: Attachment: a  (#1:) Attachment info: name=b.txt  "
       "(#2:) Attachment info: name=c  "},
  });
}

TEST(header_rules, literals_match_in_any_case_whatever_their_length_and_the_line_s) {
  const field_member cc = &message_fields::cc;
  const field_member bcc = &message_fields::bcc;
  const field_member subject = &message_fields::subject;
  const field_member info = &message_fields::attachment_info;
  const field_member ip = &message_fields::recent_ip;
  check_rule_cases({
      // Lines shorter than a load, and literals shorter than one.
      {"cC:x\n", cc, "(#1:) cC:x  "},
      {"cC:\n", cc, "(#1:) cC:  "},
      {"BCC: Ann\n", bcc, "(#1:) BCC: Ann  "},
      {"Bcd: Ann\nBxc: Bob\n", bcc, ""},
      // A literal of exactly one load, and lines that differ in one byte of it.
      {"SUBJECT:\n", subject, "(#1:) SUBJECT:  "},
      {"sUbJeCt: Hi\n", subject, "(#1:) sUbJeCt: Hi  "},
      {"Subzect: Hi\nSubjecT; Hi\nXubject: Hi\n", subject, ""},
      // Literals of two and three loads, in other cases and cut short.
      {"received: FROM a [10.0.0.1]\n", ip, "(#1:) [10.0.0.1]  "},
      {"X-ORIGINATING-IP: [10.0.0.2]\n", ip, "(#1:) [10.0.0.2]  "},
      {"Received: fro\nReceived: fron a [10.0.0.3]\n", ip, ""},
      {"ATTACHMENT CONVERTED: c:\\a.doc\n", info,
       "(#1:) Attachment info: ATTACHMENT CONVERTED: c:\\a.doc  "},
      {"Attachment Conv3rted: c:\\a.doc\nAttachment Converted? x\n", info, ""},
      {"see CONTENT-TYPE: MESSAGE/rfc822\n\tname=\"f.eml\"\n", info,
       "(#1:) Attachment info: name=\"f.eml\"  "},
      {"Content-Type: messagE\n\tname=\"g.eml\"\n", info, ""},
  });
}

TEST(header_rules, lines_consumed_by_a_rule_are_not_tested_again) {
  const field_member from = &message_fields::from;
  const field_member ip = &message_fields::recent_ip;
  check_rule_cases({
      {"Content-Type: message/rfc822\nFrom: Ann Lee\n", from, ""},
      // The line after a nameless Content-Type line goes on to the Recent IP rules only.
      {"Mapi-Hasattach: 1\nContent-Type: text/plain;\nReceived: from a [10.0.0.9]\nFrom: Ann Lee\n",
       ip, "(#1:) [10.0.0.9]  "},
      {"Mapi-Hasattach: 1\nContent-Type: text/plain;\nReceived: from a [10.0.0.9]\nFrom: Ann Lee\n",
       from, "(#1:) From: Ann Lee  "},
      {"Mapi-Hasattach: 1\nContent-Type: text/plain;\nReceived: by mx.example.com [x]\n", ip,
       "(#1:) mx.example.com  "},
      {"Mapi-Hasattach: 1\nContent-Type: text/plain;\nFrom: Ann Lee\n", from, ""},
  });
}

TEST(header_rules, received_lines_collect_addresses_and_hosts) {
  const field_member ip = &message_fields::recent_ip;
  const field_member from = &message_fields::from;
  check_rule_cases({
      {"Received: from mx (mx [10.0.0.1])\n\tby host\n", ip, "(#1:) [10.0.0.1]  "},
      {"Received: from mx (mx [10.0.0.1])\nFrom: Ann Lee\n", from, "(#1:) From: Ann Lee  "},
      {"Received: from mx (helo\n\t[10.0.0.2]) by y\n", ip, ""},
      {"Received: from mx (helo [10.0.0.1])\n\t(x [10.0.0.2]) by y\n", ip,
       "(#1:) [10.0.0.1][10.0.0.2]  "},
      {"Received: from a [1]\n [2 x\n", ip, "(#1:) [1][2 x  "},
      {"Received: from mx [10.0.0.1\n", ip, "(#1:) [10.0.0.1  "},
      {"Received: from mx (mx)\n", ip, ""},
      {"RECEIVED: FROM a [1]\n", ip, "(#1:) [1]  "},
      {"X-Originating-IP: [192.0.2.7]\n", ip, "(#1:) [192.0.2.7]  "},
      {"Received: from a ]x[1] y\n", ip, "(#1:) [1]  "},
      {"Received: by mail.example.com (Postfix) id [x]\n", ip, "(#1:) mail.example.com  "},
      {"Received: by mail.example.com\n", ip, ""},
      {"X-Originating-IP: [1]\nx\nReceived: by h [2]\nx\nReceived: from a [3]\n", ip,
       "(#1:) [1]  (#2:) h  (#3:) [3]  "},
  });
}

TEST(header_rules, a_line_longer_than_a_field_is_cut_and_the_next_line_still_read) {
  create_run_settings();
  temp_tree tree;
  for (std::size_t length : {std::size_t{40000}, k_field_capacity + 1}) {
    auto fields = scan_content(tree, "Subject: " + std::string(length, 'x') + "\nTo: b@c\n");
    EXPECT_EQ(fields->subject.text.size(), k_field_capacity);
    EXPECT_EQ(fields->subject.view().substr(0, 20), "(#1:) Subject: xxxxx");
    EXPECT_EQ(fields->to.view(), "(#1:) To: b@c  ");
  }
}

TEST(header_rules, an_interrupt_stops_the_read_and_keeps_what_was_found) {
  create_run_settings();
  temp_tree tree;
  std::string content = "From: Ann Lee\n";
  for (int i = 0; i < 10000; ++i) content += "body line\n";
  content += "Subject: never seen\n";
  tree.write("m.eml", content);
  scoped_platform swap;
  g_platform.interrupt_requested = [] { return true; };
  auto fields = std::make_unique<message_fields>();
  reset_message_fields(*fields);
  EXPECT_EQ(read_message_fields(tree.path("m.eml"), *fields), scan_result::interrupted);
  EXPECT_EQ(fields->from.view(), "(#1:) From: Ann Lee  ");
  EXPECT_EQ(fields->subject.view(), "");
}
