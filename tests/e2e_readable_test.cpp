// The readable listing through the built program: decoded UTF-8 text (--UTF), the
// byte-order mark, the Message-ID and Sent (UTC) columns, and JSON Lines.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_util.h"

namespace {

// The one record of a listing of one file, cut into its fields.
std::vector<std::string> only_record(const std::string& listing) {
  std::vector<std::string> records = listing_records(normalise_line_ends(listing));
  if (records.size() != 1) {
    ADD_FAILURE() << "not one record: " << listing;
    return {};
  }
  return split(records[0], '|');
}

struct decoding_case {
  const char* name;
  std::string message;
  std::string from;     // field 4, the From entries as the listing writes them
  std::string subject;  // field 11
};

// The decoding through the scan: every rule of the readable text that a record
// shows, with the message's own charset where it names one.
std::vector<decoding_case> decoding_cases() {
  return {
      {"base64 and quoted-printable words",
       "From: =?UTF-8?B?SsO8cmdlbiBNw7xsbGVy?= <j@example.de>\n"
       "Subject: =?iso-8859-1?q?R=E9sum=E9_attached?=\n\nbody\n",
       "(#1:) From: Jürgen Müller <j@example.de>  ", "(#1:) Subject: Résumé attached  "},
      {"adjacent words lose the space between them",
       "From: a@example.com\nSubject: =?UTF-8?Q?one?= =?UTF-8?Q?_two?=  =?utf-8?b?dGhyZWU=?=\n\n",
       "(#1:) From: a@example.com  ", "(#1:) Subject: one twothree  "},
      {"words touching text and inside quotes",
       "From: \"=?UTF-8?Q?Zo=C3=AB?=\" <z@example.com>\nSubject: Re:=?UTF-8?Q?caf=C3=A9?=!\n\n",
       "(#1:) From: \"Zoë\" <z@example.com>  ", "(#1:) Subject: Re:café!  "},
      {"8-bit Latin-1 with its declared charset",
       "From: Ren\xE9 <r@example.fr>\nSubject: Caf\xE9\n"
       "Content-Type: text/plain;\n\tcharset=\"ISO-8859-1\"\n\n",
       "(#1:) From: René <r@example.fr>  ", "(#1:) Subject: Café  "},
      {"8-bit without a charset is taken as windows-1252",
       "From: x@example.com\nSubject: \x93quoted\x94 \x80 5\n\n", "(#1:) From: x@example.com  ",
       "(#1:) Subject: \xE2\x80\x9Cquoted\xE2\x80\x9D \xE2\x82\xAC 5  "},
      {"GB2312 with its declared charset",
       "From: x@example.com\nSubject: \xC4\xE3\xBA\xC3\nContent-Type: text/plain; charset=gb2312\n\n",
       "(#1:) From: x@example.com  ", "(#1:) Subject: 你好  "},
      {"valid UTF-8 stays though a charset is declared",
       "From: x@example.com\nSubject: na\xC3\xAFve\nContent-Type: text/plain; charset=koi8-r\n\n",
       "(#1:) From: x@example.com  ", "(#1:) Subject: naïve  "},
      {"a word of an unknown charset and one of bad base64",
       "From: =?x-no-such?Q?plain?= <p@example.com>\nSubject: =?UTF-8?B?@@@?=\n\n",
       "(#1:) From: plain <p@example.com>  ", "(#1:) Subject: =?UTF-8?B?@@@?=  "},
      {"a decoded line end cannot split the record",
       "From: x@example.com\nSubject: =?UTF-8?Q?one=0D=0Atwo?=\n\n", "(#1:) From: x@example.com  ",
       "(#1:) Subject: one  two  "},
  };
}

}  // namespace

TEST(readable_listing, encoded_words_and_8_bit_text_become_utf8) {
  temp_tree tree;
  for (const decoding_case& c : decoding_cases()) {
    tree.write("d/m.eml", c.message);
    for (const char* scanners : {"--SCANNERS=1", "--SCANNERS=4"}) {
      run_result r = run_mailsift({"-p", tree.path("d"), "--UTF", scanners});
      ASSERT_EQ(r.status, 0) << c.name << r.err;
      std::vector<std::string> fields = only_record(r.out);
      ASSERT_EQ(fields.size(), 14u) << c.name << r.out;
      EXPECT_EQ(fields[3], c.from) << c.name;
      EXPECT_EQ(fields[10], c.subject) << c.name;
      EXPECT_TRUE(is_strict_utf8(r.out)) << c.name;
    }
    // Without the setting the bytes stay as stored.
    run_result plain = run_mailsift({"-p", tree.path("d")});
    EXPECT_NE(plain.out.find(c.message.substr(0, c.message.find('\n'))), std::string::npos)
        << c.name;
  }
}

TEST(readable_listing, names_and_every_field_are_valid_utf8_whatever_the_bytes) {
  temp_tree tree;
  std::string message = "From: \xFF\xFE <\x80@example.com>\nTo: a\xC0\xAF@example.com\n";
  message += "Date: Mon, 1 Jan 2024 10:00:00 +0000 (\xE9t\xE9)\nSubject: =?UTF-8?B?gICA?=\n";
  message += "Received: from x [10.0.0.\xE9]\nMessage-ID: <\xE9@example.com>\n\n";
  tree.write("d/m.eml", message);
#ifndef _WIN32
  // A POSIX name is bytes, which need not be UTF-8.
  tree.write("d/n\xE9.eml", message);
#endif
  run_result r = run_mailsift({"-p", tree.path("d"), "--UTF", "--MSGID", "--SENT-UTC"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(is_strict_utf8(r.out)) << r.out;
  run_result json = run_mailsift({"-p", tree.path("d"), "--JSON", "--MSGID"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_TRUE(is_strict_utf8(json.out)) << json.out;
}

TEST(readable_listing, a_byte_order_mark_only_where_a_spreadsheet_reads_the_file_from_its_start) {
  const std::string bom = "\xEF\xBB\xBF";
  struct bom_case {
    const char* name;
    std::vector<std::string> args;
    std::string before;  // what the output file holds before the run; "-" for none
    bool marked;
  } cases[] = {
      {"a new comma file", {"--UTF", "-d", ","}, "-", true},
      {"an overwritten comma file", {"--UTF", "-d", ","}, "old text\n", true},
      {"an empty file appended to", {"--UTF", "-d", ",", "-a"}, "", true},
      {"a file appended to", {"--UTF", "-d", ",", "-a"}, "old text\n", false},
      {"the bar delimiter", {"--UTF"}, "-", false},
      {"comma without --UTF", {"-d", ","}, "-", false},
      {"JSON Lines", {"--JSON", "-d", ","}, "-", false},
  };
  for (const bom_case& c : cases) {
    temp_tree tree;
    tree.write("d/m.eml", "From: a@example.com\nSubject: s\n\n");
    if (c.before != "-") tree.write("out.csv", c.before);
    std::vector<std::string> args = {"-p", tree.path("d"), "-o", tree.path("out.csv")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    run_result r = run_mailsift(args);
    ASSERT_EQ(r.status, 0) << c.name << r.err;
    std::string out = tree.read("out.csv");
    std::size_t after_old = c.args.back() == "-a" ? c.before.size() : 0;
    EXPECT_EQ(out.compare(after_old, bom.size(), bom) == 0, c.marked) << c.name << out;
    EXPECT_EQ(out.find(bom, c.marked ? after_old + 1 : 0), std::string::npos) << c.name;
  }
  // Standard output never gets one; a source list's listing does, as a walk's.
  temp_tree tree;
  tree.write("d/m.eml", "From: a@example.com\n\n");
  run_result r = run_mailsift({"-p", tree.path("d"), "--UTF", "-d", ","});
  EXPECT_EQ(r.out.find(bom), std::string::npos);
  tree.write("list.txt", tree.path("d/m.eml") + "\n");
  run_result listed = run_mailsift(
      {"--SOUR=" + tree.path("list.txt"), "--UTF", "-d", ",", "-o", tree.path("listed.csv")});
  ASSERT_EQ(listed.status, 0) << listed.err;
  std::string out = tree.read("listed.csv");
  EXPECT_EQ(out.rfind(bom, 0), 0u) << out;
  EXPECT_NE(out.find("a@example.com"), std::string::npos) << out;
}

TEST(readable_listing, message_id_and_sent_utc_columns) {
  struct column_case {
    const char* name;
    std::string message;
    std::string message_id;
    std::string sent_utc;
  } cases[] = {
      {"plain", "Message-ID: <a.1@example.com>\nDate: Tue, 2 Jan 2024 23:30:00 -0500\n\n",
       "<a.1@example.com>", "2024-01-03T04:30:00Z"},
      {"folded, any case, white space removed",
       "Date: Wed, 3 Jan 2024 01:15:00 +0200\nmessage-id:\n  <b.2@ex ample.com\n\t>\nTo: x\n\n",
       "<b.2@example.com>", "2024-01-02T23:15:00Z"},
      {"the first of two", "Message-Id: <first@x>\nMessage-Id: <second@x>\n\n", "<first@x>", ""},
      {"none in the header block, one in the body",
       "Subject: s\nDate: 1 Jan 2024 10:00 PST\n\nMessage-ID: <body@x>\n", "",
       "2024-01-01T18:00:00Z"},
      {"a message that starts with an empty line", "\nMessage-ID: <late@x>\n", "", ""},
      {"CR LF line ends", "Subject: s\r\n\r\nMessage-ID: <body@x>\r\n", "", ""},
      {"zone names and no zone", "Date: Sun, 31 Dec 2023 22:00:00 EDT\n\n", "",
       "2024-01-01T02:00:00Z"},
      {"no zone counts as UTC", "Date: 31 Dec 2023 23:59:59\n\n", "", "2023-12-31T23:59:59Z"},
  };
  for (const column_case& c : cases) {
    temp_tree tree;
    tree.write("d/m.eml", c.message);
    run_result r = run_mailsift({"-p", tree.path("d"), "--MSGID", "--SENT-UTC"});
    ASSERT_EQ(r.status, 0) << c.name << r.err;
    std::vector<std::string> fields = only_record(r.out);
    ASSERT_EQ(fields.size(), 16u) << c.name << r.out;
    EXPECT_EQ(fields[14], c.message_id) << c.name;
    EXPECT_EQ(fields[15], c.sent_utc) << c.name;
  }
}

// Comments around the identifier are no part of it: a duplicate must not hide
// behind one, nor behind white space before the header's colon.
TEST(readable_listing, the_message_id_column_leaves_comments_out) {
  const std::pair<const char*, const char*> cases[] = {
      {"Message-ID: <g@h> (comment)\n", "<g@h>"},
      {"Message-ID: (a (nested \\) one)) <g@h>\n", "<g@h>"},
      {"Message-ID: <g@h>\n (folded\n  comment)\n", "<g@h>"},
      {"Message-ID: <\"a(b)\\\"c\"@h>\n", "<\"a(b)\\\"c\"@h>"},
      {"Message-ID: <g(x)@h>\n", "<g(x)@h>"},
      {"Message-ID: (never closed <g@h>\n", ""},
      {"Message-ID : <g@h>\n", "<g@h>"},
      {"X-Note: n\nmessage-id\t \t: <g@h>\n", "<g@h>"},
      // After a short From line, which takes the line into its own column.
      {"From: Bob\nMessage-ID : <g@h>\n", "<g@h>"},
      {"Message-IDs: <g@h>\n", ""},
      {"X-Note: n\n\nMessage-ID : <body@h>\n", ""},
      // The short From line takes the empty line that ends the header.
      {"From: Bob\n\nMessage-ID: <body@h>\n", ""},
  };
  for (const auto& [header, expected] : cases) {
    temp_tree tree;
    tree.write("d/m.eml", std::string(header) + "Subject: s\n\n");
    run_result r = run_mailsift({"-p", tree.path("d"), "--MSGID"});
    ASSERT_EQ(r.status, 0) << header << r.err;
    std::vector<std::string> fields = only_record(r.out);
    ASSERT_EQ(fields.size(), 15u) << header << r.out;
    EXPECT_EQ(fields[14], expected) << header;
  }
}

TEST(readable_listing, optional_columns_keep_their_order_in_every_form) {
  temp_tree tree;
  tree.write("d/box", "From a Mon Jan  1 10:00:00 2024\nMessage-ID: <m1@x>\n"
                      "Date: Mon, 1 Jan 2024 10:00:00 +0000\n\n"
                      "From b Mon Jan  1 11:00:00 2024\nMessage-ID: <m2@x>\n\n");
  run_result r = run_mailsift(
      {"-p", tree.path("d"), "--SHA256", "--SENT-UTC", "--MD5", "--MSGID", "--SHA1", "--MBOX"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> lines = split(normalise_line_ends(r.out), '\n');
  ASSERT_EQ(lines.size(), 3u) << r.out;
  EXPECT_TRUE(lines[0].ends_with("|Recent IP|Message|Offset|Message-ID|Sent (UTC)|MD5|SHA-1|SHA-256"))
      << lines[0];
  std::vector<std::string> second = split(lines[2], '|');
  ASSERT_EQ(second.size(), 21u);
  EXPECT_EQ(second[14], "2");
  EXPECT_EQ(second[16], "<m2@x>");
  EXPECT_EQ(second[17], "");
  EXPECT_EQ(second[18].size(), 32u);
  // The quoted form quotes the new columns and doubles their quotes too.
  tree.write("q/m.eml", "Message-ID: <\"odd\"@x>\n\n");
  run_result quoted = run_mailsift({"-p", tree.path("q"), "--MSGID", "-d", ","});
  ASSERT_EQ(quoted.status, 0) << quoted.err;
  EXPECT_NE(quoted.out.find(",\"Message-ID\""), std::string::npos) << quoted.out;
  EXPECT_NE(quoted.out.find(",\"<\"\"odd\"\"@x>\""), std::string::npos) << quoted.out;
}

TEST(readable_listing, json_lines_one_object_per_record) {
  temp_tree tree;
  tree.write("d/a.eml",
             "From: \"A \\\"B\\\"\" <a@x>\nTo: t@x,\n  u@x\nSubject: =?UTF-8?Q?tab=09and_ctl=01?=\n"
             "X-Mozilla-Status: 0001\nMessage-ID: <a@x>\nDate: Mon, 1 Jan 2024 10:00:00 +0100\n\n"
             "From: quoted@x\n");
  run_result r = run_mailsift({"-p", tree.path("d"), "--JSON", "--MSGID", "--SENT-UTC", "--MD5"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string out = normalise_line_ends(r.out);
  ASSERT_TRUE(out.ends_with("}\n")) << out;
  ASSERT_EQ(out.find('\n'), out.size() - 1) << "one line: " << out;
  for (const char* member :
       {"{\"file\":\"", "\",\"size\":", ",\"modified\":\"",
        "\"from\":[{\"n\":1,\"text\":\"From: \\\"A \\\\\\\"B\\\\\\\"\\\" <a@x>\"},"
        "{\"n\":\"body\",\"text\":\"From: quoted@x\"}]",
        "\"to\":[{\"n\":1,\"text\":\"To: t@x,  u@x\"}]", "\"cc\":[],\"bcc\":[]",
        "\"date_time\":\"2024-01-01 10:00:00 +0100\"",
        "\"subject\":[{\"n\":1,\"text\":\"Subject: tab\\u0009and ctl\\u0001\"}]",
        "\"message_read\":\"YES\"", "\"message_id\":\"<a@x>\"",
        "\"sent_utc\":\"2024-01-01T09:00:00Z\",\"md5\":\""}) {
    EXPECT_NE(out.find(member), std::string::npos) << member << "\n" << out;
  }
  // No header line, and no member for a column that was not asked for.
  run_result bare = run_mailsift({"-p", tree.path("d"), "--JSON"});
  EXPECT_EQ(bare.out.find("message_id"), std::string::npos);
  EXPECT_EQ(bare.out.find("Filename"), std::string::npos);
  EXPECT_NE(bare.out.find("\"message_read\":\"YES\",\"attachment_info\":[],\"recent_ip\":[]}"),
            std::string::npos)
      << bare.out;
}

TEST(readable_listing, json_records_stay_whole_and_in_walk_order_with_scanners) {
  temp_tree tree;
  std::string box;
  for (int i = 1; i <= 40; ++i) {
    box += "From s Mon Jan  1 10:00:00 2024\nSubject: m" + std::to_string(i) + "\n";
    box += "Date: " + std::string(i % 3 ? "Mon, 1 Jan 2024" : "x") + " 10:00:00 +0000\n\n";
  }
  for (int f = 0; f < 12; ++f) tree.write("d/box" + std::to_string(f / 10) + std::to_string(f % 10), box);
  std::vector<std::string> args = {"-p", tree.path("d"), "--JSON", "--MBOX",
                                   "--SENT-AFTER=2023-12-31", "-o", tree.path("out.json")};
  run_result one = run_mailsift([&] {
    auto a = args;
    a.push_back("--SCANNERS=1");
    return a;
  }());
  ASSERT_EQ(one.status, 0) << one.err;
  std::string expected = tree.read("out.json");
  // 12 files, 40 messages each, a third of them without a date.
  EXPECT_EQ(std::count(expected.begin(), expected.end(), '\n'), 12 * 27) << expected.substr(0, 400);
  run_result many = run_mailsift([&] {
    auto a = args;
    a.push_back("--SCANNERS=4");
    return a;
  }());
  ASSERT_EQ(many.status, 0) << many.err;
  EXPECT_EQ(tree.read("out.json"), expected);
  EXPECT_EQ(expected.find("\n\n"), std::string::npos);
  EXPECT_EQ(expected.front(), '{');
}

TEST(readable_listing, without_the_new_settings_the_listing_is_unchanged) {
  // The readable settings, once off again, leave every byte as before.
  temp_tree tree;
  tree.write("d/m.eml", "From: =?UTF-8?Q?Zo=C3=AB?= <z@x>\nSubject: Caf\xE9\nMessage-ID: <m@x>\n\n");
  run_result plain = run_mailsift({"-p", tree.path("d"), "-d", ","});
  run_result off = run_mailsift(
      {"-p", tree.path("d"), "-d", ",", "--JSON=OFF", "--MSGID=OFF", "--SENT-UTC=OFF"});
  ASSERT_EQ(plain.status, 0);
  EXPECT_EQ(plain.out, off.out);
  EXPECT_NE(plain.out.find("=?UTF-8?Q?Zo=C3=AB?="), std::string::npos);
  EXPECT_NE(plain.out.find("Caf\xE9"), std::string::npos);
}

TEST(readable_listing, the_header_block_ends_at_its_first_empty_line_wherever_it_falls) {
  // One message per case in a mailbox: the empty line before the Message-ID
  // falls at every place of the blocks the header is searched by.
  for (const char* line_end : {"\n", "\r\n"}) {
    std::string box;
    std::vector<std::string> expected;
    for (int pad = 0; pad < 140; ++pad) {
      bool empty_line = pad % 2 == 1;
      std::string id = "<m" + std::to_string(pad) + "@x>";
      box += std::string("From s Mon Jan  1 10:00:00 2024") + line_end;
      box += "X-Pad: " + std::string(static_cast<std::size_t>(pad), 'p') + line_end;
      if (empty_line) box += line_end;
      box += "Message-ID: " + id + line_end + line_end;
      expected.push_back(empty_line ? "" : id);
    }
    temp_tree tree;
    tree.write("d/box", box);
    run_result r = run_mailsift({"-p", tree.path("d"), "--MBOX", "--MSGID"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> records = listing_records(normalise_line_ends(r.out));
    ASSERT_EQ(records.size(), expected.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
      EXPECT_EQ(split(records[i], '|')[16], expected[i]) << "pad " << i << " " << line_end[0];
    }
  }
}
