// Mailbox files one record per message (--MBOX), and the sent-date bounds, through
// the built program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/digest.h"
#include "platform/platform.h"
#include "test_util.h"

namespace {

const std::string k_plain_header =
    "Filename|Size|File-(MOD)Date|From|To|CC|Bcc|Date|Date-Time|Forward Date|Subject|"
    "Message Read|Attachment Info|Recent IP";

// One record of a --MBOX listing, cut into what the tests look at.
struct mailbox_record {
  std::string file;
  long long size = 0;
  std::vector<std::string> message_fields;  // fields 4-14
  long long number = 0;
  long long offset = 0;
  std::vector<std::string> digests;
};

std::vector<mailbox_record> mailbox_records(const std::string& listing, char delimiter = '|') {
  std::vector<mailbox_record> out;
  for (const std::string& line : listing_records(normalise_line_ends(listing))) {
    std::vector<std::string> fields = split(line, delimiter);
    if (fields.size() < 16) {
      ADD_FAILURE() << "short record: " << line;
      continue;
    }
    mailbox_record r;
    r.file = fields[0];
    r.size = std::stoll(fields[1]);
    r.message_fields.assign(fields.begin() + 3, fields.begin() + 14);
    r.number = std::stoll(fields[14]);
    r.offset = std::stoll(fields[15]);
    r.digests.assign(fields.begin() + 16, fields.end());
    out.push_back(r);
  }
  return out;
}

std::string hex_digest(digest_kind kind, std::string_view bytes) {
  digest_state* state = nullptr;
  digest_value value;
  EXPECT_EQ(digest_start(state, kind), digest_start_result::started);
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

std::string separator(const std::string& sender, int day) {
  return std::string("From ") + sender + " Mon Jan " + (day < 10 ? " " : "") + std::to_string(day) +
         " 10:00:00 2024\n";
}

// The line ends of `text` made `end` (CR LF, or a bare CR as old Mac files have).
std::string with_line_ends(const std::string& text, std::string_view end) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out += end;
    } else {
      out += c;
    }
  }
  return out;
}

// Each line that begins with "From " after any number of '>' gains one more '>',
// as mboxrd writes a body.
std::string mboxrd_escaped(const std::string& message) {
  std::string out;
  std::size_t start = 0;
  while (start < message.size()) {
    std::size_t end = message.find('\n', start);
    std::size_t stop = end == std::string::npos ? message.size() : end + 1;
    std::string_view line(message.data() + start, stop - start);
    std::size_t quotes = line.find_first_not_of('>');
    if (quotes != std::string_view::npos && line.substr(quotes, 5) == "From ") out += '>';
    out += line;
    start = stop;
  }
  return out;
}

struct split_case {
  const char* name;
  std::string content;
  // Where each message starts; a file that is no mailbox has {0} and one record
  // of the whole file.
  std::vector<long long> offsets;
  std::vector<std::string> subjects;
};

std::vector<split_case> split_cases() {
  std::string one = separator("ann@example.org", 1) + "From: Ann\nSubject: one\n\nbody\n\n";
  std::string two = separator("bob@example.org", 2) + "From: Bob\nSubject: two\n\n";
  std::string body_from = separator("ann@example.org", 1) +
                          "Subject: one\n\nFrom here on, at 10:00, the plan\n\n"
                          "From the desk of Ann\n>From quoted\n\n";
  std::string rd = separator("ann@example.org", 1) +
                   mboxrd_escaped(
                       "Subject: rd\n\nFrom Mon Jan 1 10:00:00 2024 looks real\n"
                       ">From once quoted\n\n");
  std::string last = separator("ann@example.org", 1) + "Subject: one\n\n";
  std::string empty = separator("ann@example.org", 1) + "\n";
  return {
      {"mboxo", one + two, {0, static_cast<long long>(one.size())}, {"one", "two"}},
      {"crlf",
       with_line_ends(one + two, "\r\n"),
       {0, static_cast<long long>(with_line_ends(one, "\r\n").size())},
       {"one", "two"}},
      {"bare_cr",
       with_line_ends(body_from + two, "\r"),
       {0, static_cast<long long>(body_from.size())},
       {"one", "two"}},
      {"body_from_lines",
       body_from + two,
       {0, static_cast<long long>(body_from.size())},
       {"one", "two"}},
      {"mboxrd", rd + two, {0, static_cast<long long>(rd.size())}, {"rd", "two"}},
      {"separator_last_line",
       last + "From carol Wed Jan  3 01:00:00 2024\n",
       {0, static_cast<long long>(last.size())},
       {"one", ""}},
      {"separator_last_line_without_line_end",
       last + "From carol Wed Jan  3 01:00:00 2024",
       {0, static_cast<long long>(last.size())},
       {"one", ""}},
      {"empty_message", empty + two, {0, static_cast<long long>(empty.size())}, {"", "two"}},
      {"one_message", one, {0}, {"one"}},
      {"no_stamp_is_no_mailbox",
       "From ann\nSubject: plain\n\nFrom bob 10:00 2024\n",
       {0},
       {"plain"}},
      {"not_a_mailbox", std::string("Subject: plain\n\n") + two, {0}, {"plain"}},
  };
}

std::string subject_of(const mailbox_record& r) {
  const std::string& field = r.message_fields[7];
  const std::string prefix = "(#1:) Subject: ";
  if (field.rfind(prefix, 0) != 0) return "";
  return field.substr(prefix.size(), field.find("  ") - prefix.size());
}

TEST(mailbox_split, each_message_is_a_record_at_its_offset_and_size) {
  for (const split_case& c : split_cases()) {
    temp_tree tree;
    tree.write("m/box", c.content);
    run_result r = run_mailsift({"-p", tree.path("m"), "--MBOX", "--SHA2", "--MD5"});
    ASSERT_EQ(r.status, 0) << c.name << r.err;
    std::vector<mailbox_record> records = mailbox_records(r.out);
    ASSERT_EQ(records.size(), c.offsets.size()) << c.name << r.out;
    long long total = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
      const mailbox_record& m = records[i];
      EXPECT_EQ(m.number, static_cast<long long>(i + 1)) << c.name;
      EXPECT_EQ(m.offset, c.offsets[i]) << c.name;
      long long end =
          i + 1 < c.offsets.size() ? c.offsets[i + 1] : static_cast<long long>(c.content.size());
      EXPECT_EQ(m.size, end - m.offset) << c.name << " message " << i + 1;
      EXPECT_EQ(subject_of(m), c.subjects[i]) << c.name << " message " << i + 1;
      // The hash columns are the digests of the bytes Offset and Size cut out.
      std::string bytes =
          c.content.substr(static_cast<std::size_t>(m.offset), static_cast<std::size_t>(m.size));
      ASSERT_EQ(m.digests.size(), 2u) << c.name;
      EXPECT_EQ(m.digests[0], hex_digest(digest_kind::md5, bytes)) << c.name << i;
      EXPECT_EQ(m.digests[1], hex_digest(digest_kind::sha256, bytes)) << c.name << i;
      total += m.size;
    }
    EXPECT_EQ(total, static_cast<long long>(c.content.size())) << c.name;
    // One progress line per file, whatever the messages.
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.name << r.err;
  }
}

TEST(mailbox_split, the_columns_stand_before_the_digests_in_every_form) {
  temp_tree tree;
  std::string first = separator("a", 1) + "Subject: one\n\n";
  std::string offset = std::to_string(first.size());
  tree.write("m/a.eml", "Subject: plain\n");
  tree.write("m/b.mbox", first + separator("bob@example.org", 2) + "Subject: two\n");
  struct form {
    std::vector<std::string> args;
    char delimiter;
    std::string header_tail;
    std::vector<std::string> record_tails;  // the fields after Recent IP, sorted
  } forms[] = {
      {{"--MBOX"}, '|', "|Recent IP|Message|Offset", {"1|0", "1|0", std::string("2|") + offset}},
      {{"--MBOX", "--SHA1"},
       '|',
       "|Recent IP|Message|Offset|SHA-1",
       {"1|0|", "1|0|", std::string("2|") + offset + "|"}},
      {{"--MBOX", "-d", ","},
       ',',
       "\"Recent IP\",\"Message\",\"Offset\"",
       {"\"1\",\"0\"", "\"1\",\"0\"", std::string("\"2\",\"") + offset + "\""}},
      {{"--MBOX=OFF"}, '|', "|Recent IP", {"", ""}},
  };
  for (const form& f : forms) {
    std::vector<std::string> args = {"-p", tree.path("m")};
    args.insert(args.end(), f.args.begin(), f.args.end());
    run_result r = run_mailsift(args);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> lines = split(normalise_line_ends(r.out), '\n');
    ASSERT_EQ(lines.size(), f.record_tails.size() + 1) << r.out;
    std::string header = lines[0];
    EXPECT_EQ(header.substr(header.size() - f.header_tail.size()), f.header_tail) << header;
    std::vector<std::string> tails;
    for (std::size_t i = 1; i < lines.size(); ++i) {
      std::vector<std::string> fields = split(lines[i], f.delimiter);
      ASSERT_GE(fields.size(), 14u) << lines[i];
      std::string tail;
      for (std::size_t k = 14; k < fields.size(); ++k) {
        // A digest is checked for its form only: hex, 40 digits.
        std::string field = fields[k];
        if (field.size() == 40) {
          EXPECT_EQ(field.find_first_not_of("0123456789abcdef"), std::string::npos);
          field.clear();
        }
        tail += (k == 14 ? "" : std::string(1, f.delimiter)) + field;
      }
      tails.push_back(tail);
    }
    std::sort(tails.begin(), tails.end());
    EXPECT_EQ(tails, f.record_tails) << f.args.back();
  }
}

// The corpus's single messages, put in one mboxrd file: each message's fields are
// those of the same bytes listed as a file of their own.
TEST(mailbox_split, messages_of_a_built_mailbox_list_as_their_own_files_do) {
  std::string corpus = source_path("../shared/corpus");
  if (!g_platform.is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  temp_tree tree;
  run_result names = run_mailsift({"-p", corpus, "-f", "*.eml"});
  ASSERT_EQ(names.status, 0);
  std::string mailbox;
  int taken = 0;
  for (const std::string& name : listed_files(normalise_line_ends(names.out))) {
    std::FILE* f = std::fopen(name.c_str(), "rb");
    if (!f) continue;
    std::string message;
    char buffer[8192];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
      message.append(buffer, n);
    std::fclose(f);
    message = mboxrd_escaped(normalise_line_ends(message));
    if (!message.empty() && message.back() != '\n') message += '\n';
    mailbox += separator("corpus@example.org", 1 + taken % 28) + message + "\n";
    ++taken;
  }
  ASSERT_GT(taken, 10);
  tree.write("box/all.mbox", mailbox);
  // A delimiter no header of the corpus holds.
  const char delimiter = '\x01';
  run_result whole = run_mailsift({"-p", tree.path("box"), "--MBOX", "--SHA2", "--DEL=01"});
  ASSERT_EQ(whole.status, 0) << whole.err;
  std::vector<mailbox_record> records = mailbox_records(whole.out, delimiter);
  ASSERT_EQ(records.size(), static_cast<std::size_t>(taken));
  for (const mailbox_record& m : records) {
    std::string own = numbered("own/m", m.number, ".eml");
    tree.write(
        own, mailbox.substr(static_cast<std::size_t>(m.offset), static_cast<std::size_t>(m.size)));
  }
  run_result alone = run_mailsift({"-p", tree.path("own"), "--SHA2", "--SCANNERS=1", "--DEL=01"});
  ASSERT_EQ(alone.status, 0) << alone.err;
  std::vector<std::string> own_records = listing_records(normalise_line_ends(alone.out));
  ASSERT_EQ(own_records.size(), records.size());
  for (const std::string& line : own_records) {
    std::vector<std::string> fields = split(line, delimiter);
    ASSERT_EQ(fields.size(), 15u) << line;
    std::string file = fields[0];
    long long number = std::stoll(file.substr(file.find_last_of("/\\") + 2));
    const mailbox_record& m = records[static_cast<std::size_t>(number - 1)];
    std::vector<std::string> own_fields(fields.begin() + 3, fields.begin() + 14);
    EXPECT_EQ(own_fields, m.message_fields) << "message " << number;
    EXPECT_EQ(std::stoll(fields[1]), m.size) << "message " << number;
    EXPECT_EQ(fields[14], m.digests.at(0)) << "message " << number;
  }
}

// The reader takes a file 64 KB at a time: a separator, or the empty line before
// it, may fall on either side of a chunk's end, in LF, CR LF and bare-CR files alike.
TEST(mailbox_split, separators_split_right_wherever_a_chunk_ends) {
  temp_tree tree;
  const std::size_t chunk = 65536;
  std::vector<std::string> contents;
  for (std::string end : {"\n", "\r\n", "\r"}) {
    for (int shift = -12; shift <= 12; ++shift) {
      std::string head = with_line_ends(separator("a@example.org", 1) + "Subject: one\n\n", end);
      std::string tail =
          with_line_ends(std::string("\n") + separator("b@example.org", 2) + "Subject: two\n\n" +
                             separator("c@example.org", 3) + "Subject: three\n",
                         end);
      // Body lines up to where the empty line before the second separator starts.
      std::size_t before = chunk + static_cast<std::size_t>(shift + 12) - 12 - end.size();
      std::string body;
      while (head.size() + body.size() + 80 + end.size() < before) {
        body += std::string(79, 'x') + end;
      }
      body += std::string(before - head.size() - body.size() - end.size(), 'y') + end;
      contents.push_back(head + body + tail);
    }
  }
  for (std::size_t i = 0; i < contents.size(); ++i) {
    tree.write(numbered("m/box", static_cast<long long>(i)), contents[i]);
  }
  run_result r = run_mailsift({"-p", tree.path("m"), "--MBOX", "--SHA2"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<mailbox_record> records = mailbox_records(r.out);
  ASSERT_EQ(records.size(), 3 * contents.size());
  for (const mailbox_record& m : records) {
    std::size_t index =
        static_cast<std::size_t>(std::stoll(m.file.substr(m.file.rfind("box") + 3)));
    const std::string& content = contents[index];
    std::string bytes =
        content.substr(static_cast<std::size_t>(m.offset), static_cast<std::size_t>(m.size));
    EXPECT_EQ(bytes.rfind("From ", 0), 0u) << m.file << " message " << m.number;
    if (m.number == 2) {
      long long shift = static_cast<long long>(index % 25) - 12;
      EXPECT_EQ(m.offset, static_cast<long long>(chunk) + shift) << m.file;
    }
    EXPECT_EQ(subject_of(m), m.number == 1 ? "one" : m.number == 2 ? "two" : "three") << m.file;
    EXPECT_EQ(m.digests.at(0), hex_digest(digest_kind::sha256, bytes)) << m.file;
  }
}

// A mailbox of small messages around one of 100,000 lines, beside plain files.
void write_mixed_tree(const temp_tree& tree) {
  std::string big = separator("big@example.org", 2) + "Subject: big\n\n";
  for (int i = 0; i < 100000; ++i) big += numbered("line ", i, " of the long message\n");
  big += "\n";
  std::string small = separator("s@example.org", 1) + "Subject: small\nDate: 1 Jan 2024\n\n";
  tree.write("m/a/big.mbox", small + big + small);
  for (int i = 0; i < 40; ++i) {
    std::string box;
    for (int j = 0; j <= i % 5; ++j) box += small;
    tree.write(numbered("m/b/box", i, ".mbox"), box);
    tree.write(numbered("m/b/plain", i, ".eml"), numbered("Subject: plain ", i, "\n"));
  }
}

TEST(mailbox_split, scanners_give_the_records_of_one_scanner) {
  temp_tree tree;
  write_mixed_tree(tree);
  run_result one = run_mailsift({"-p", tree.path("m"), "--MBOX", "--SHA2", "--SCANNERS=1"});
  ASSERT_EQ(one.status, 0) << one.err;
  std::vector<mailbox_record> records = mailbox_records(one.out);
  auto big = std::find_if(records.begin(), records.end(), [](const mailbox_record& m) {
    return m.number == 2 && m.size > 1000000;
  });
  ASSERT_NE(big, records.end());
  EXPECT_EQ(subject_of(*big), "big");
  for (const char* scanners : {"--SCANNERS=2", "--SCANNERS=16"}) {
    run_result many = run_mailsift({"-p", tree.path("m"), "--MBOX", "--SHA2", scanners});
    EXPECT_EQ(many.status, 0);
    EXPECT_EQ(many.out, one.out) << scanners;
    EXPECT_EQ(many.err, one.err) << scanners;
  }
}

TEST(mailbox_split, a_source_list_splits_the_same_way) {
  temp_tree tree;
  write_mixed_tree(tree);
  std::string list =
      tree.path("m/a/big.mbox") + std::string("\n") + tree.path("m/b/box3.mbox") + "\n";
  tree.write("list.txt", list);
  run_result walked = run_mailsift({"-p", tree.path("m/a"), "--MBOX"});
  run_result listed = run_mailsift({std::string("--SOUR=") + tree.path("list.txt"), "--MBOX"});
  ASSERT_EQ(listed.status, 0) << listed.err;
  std::vector<std::string> records = listing_records(normalise_line_ends(listed.out));
  std::vector<std::string> walked_records = listing_records(normalise_line_ends(walked.out));
  ASSERT_EQ(records.size(), 3u + 4u);
  EXPECT_EQ(std::vector<std::string>(records.begin(), records.begin() + 3), walked_records);
}

TEST(mailbox_split, an_interrupt_mid_mailbox_leaves_whole_records) {
  if (!can_interrupt_children()) GTEST_SKIP() << "interrupts cannot be sent here";
  temp_tree tree;
  std::string box;
  for (int i = 0; i < 500; ++i) box += separator("s@example.org", 1) + "Subject: s\n\n";
  box += separator("hole@example.org", 2) + "Subject: the hole\n\n";
  tree.write("m/huge.mbox", box);
  // A hole far larger than the test will wait for, in the last message.
  ASSERT_TRUE(g_platform.truncate_file(tree.path("m/huge.mbox"), int64_t{1} << 40));
  spawned_program program =
      start_mailsift({"-p", tree.path("m"), "--MBOX", "-o", tree.path("out.txt")});
  g_platform.sleep_milliseconds(1000);
  send_interrupt(program);
  run_result r = wait_for(program, 60);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 2) << r.err;
  std::vector<mailbox_record> records = mailbox_records(tree.read("out.txt"));
  // The message cut short has no record; those before it are whole.
  ASSERT_EQ(records.size(), 500u);
  EXPECT_EQ(records.back().number, 500);
  for (const mailbox_record& m : records) EXPECT_EQ(m.digests.size(), 0u);
}

TEST(mailbox_split, a_failed_write_leaves_the_whole_records_it_counts) {
  if (k_windows) GTEST_SKIP() << "needs a file size limit";
  temp_tree tree;
  std::string box;
  for (int i = 0; i < 2000; ++i) box += separator("s@example.org", 1) + "Subject: s\n\n";
  tree.write("m/box.mbox", box);
  for (const char* scanners : {"--SCANNERS=1", "--SCANNERS=4"}) {
    run_options options;
    options.file_size_limit = 20000;
    run_result r = run_mailsift(
        {"-p", tree.path("m"), "--MBOX", scanners, "-o", tree.path("out.txt")}, options);
    EXPECT_EQ(r.status, 9) << r.err;
    std::string listing = tree.read("out.txt");
    std::vector<mailbox_record> records = mailbox_records(listing);
    EXPECT_GT(records.size(), 10u);
    EXPECT_NE(
        r.err.find(std::string("the listing holds ") + std::to_string(records.size()) + " records"),
        std::string::npos)
        << scanners << r.err;
  }
}

TEST(mailbox_split, without_the_setting_a_mailbox_is_one_record_as_before) {
  temp_tree tree;
  tree.write("m/box", separator("a", 1) + std::string("Subject: one\n\n") + separator("b", 2) +
                          "Subject: two\n");
  run_result r = run_mailsift({"-p", tree.path("m")});
  ASSERT_EQ(r.status, 0);
  std::vector<std::string> lines = split(normalise_line_ends(r.out), '\n');
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], k_plain_header);
  EXPECT_NE(lines[1].find("|(#1:) Subject: one  (#2:) Subject: two  |"), std::string::npos)
      << lines[1];
}

TEST(sent_dates, the_count_reaches_the_screen_and_the_run_log_in_every_mode) {
  temp_tree tree;
  tree.write("d/a.mbox", separator("a", 1) + std::string("Subject: none\n\n") + separator("b", 2) +
                             std::string("Date: 2 Jan 2024 10:00 +0000\n\n") + separator("c", 3) +
                             "Date: whenever\n");
  const std::string count_line = "  2 messages left out: no date could be read\n";
  // Without a summary the line still ends standard error.
  run_result bare = run_mailsift({"-p", tree.path("d"), "--MBOX", "--SENT-AFTER=2000-01-01"});
  ASSERT_EQ(bare.status, 0);
  EXPECT_EQ(listing_records(normalise_line_ends(bare.out)).size(), 1u);
  EXPECT_EQ(bare.err.substr(bare.err.size() - count_line.size() - 1),
            std::string("\n") + count_line);
  tree.write("list.txt", tree.path("d/a.mbox") + "\n");
  run_result listed = run_mailsift(
      {std::string("--SOUR=") + tree.path("list.txt"), "--MBOX", "--SENT-BEFORE=2100-01-01"});
  EXPECT_EQ(listed.err.substr(listed.err.size() - count_line.size()), count_line);
  run_result logged = run_mailsift({"-p", tree.path("d"), "--MBOX", "--SENT-AFTER=2000-01-01", "-1",
                                    tree.path("run.log"), "-o", tree.path("out.txt")});
  ASSERT_EQ(logged.status, 0);
  EXPECT_NE(normalise_line_ends(tree.read("run.log"))
                .find(std::string("message in 1 file\n") + count_line),
            std::string::npos)
      << tree.read("run.log");
  // Without a bound nothing is counted or said.
  run_result unbounded = run_mailsift({"-p", tree.path("d"), "--MBOX"});
  EXPECT_EQ(unbounded.err.find("left out"), std::string::npos);
}

TEST(sent_dates, ini_keys_set_the_mailbox_switch_and_the_bounds) {
  temp_tree tree;
  tree.write("d/a.mbox", separator("a", 1) + std::string("Date: 1 Jan 2024 10:00\n\n") +
                             separator("b", 2) + "Date: 3 Jan 2024 10:00\n");
  tree.write("mailsift.ini",
             "[MAILSIFT]\nMBOX=ON\nSENT_AFTER=2024-01-02\nSENT_BEFORE=2024-01-04\n");
  run_options options;
  options.no_ini_word = false;
  options.cwd = tree.root();
  run_result r = run_mailsift({"-p", tree.path("d")}, options);
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<mailbox_record> records = mailbox_records(r.out);
  ASSERT_EQ(records.size(), 1u) << r.out;
  EXPECT_EQ(records[0].number, 2);
}

}  // namespace

// A mailbox large enough to be read ahead on a thread of its own: every byte
// still reaches the message it belongs to.
TEST(mailbox_split, a_large_mailbox_read_ahead_splits_as_a_small_one) {
  temp_tree tree;
  std::string box;
  std::vector<long long> offsets;
  for (int i = 0; box.size() < (std::size_t{9} << 20); ++i) {
    offsets.push_back(static_cast<long long>(box.size()));
    // Appended piece by piece: a literal plus a temporary string trips a false
    // warning of one compiler.
    box += separator("s@example.org", 1 + i % 28);
    box += "Subject: message ";
    box += std::to_string(i);
    box += "\n";
    if (i % 50 == 0) {
      box += "\n>From quoted ";
      box.append(static_cast<std::size_t>(i % 3000), 'b');
    }
    box += "\n";
    box.append(static_cast<std::size_t>(i % 400), 'x');
    box += "\n\n";
  }
  tree.write("m/big.mbox", box);
  for (const char* scanners : {"--SCANNERS=1", "--SCANNERS=4"}) {
    run_result r = run_mailsift({"-p", tree.path("m"), "--MBOX", "--MD5", scanners});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<mailbox_record> records = mailbox_records(r.out);
    ASSERT_EQ(records.size(), offsets.size()) << scanners;
    for (std::size_t i = 0; i < records.size(); ++i) {
      const mailbox_record& m = records[i];
      ASSERT_EQ(m.offset, offsets[i]) << scanners << " message " << i + 1;
      std::string bytes =
          box.substr(static_cast<std::size_t>(m.offset), static_cast<std::size_t>(m.size));
      ASSERT_EQ(m.digests.size(), 1u);
      ASSERT_EQ(m.digests[0], hex_digest(digest_kind::md5, bytes)) << "message " << i + 1;
      EXPECT_EQ(subject_of(m), std::string("message ").append(std::to_string(i)));
    }
  }
}
