// The listing through the built program: records, output file, append mode,
// write errors and interrupts.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "test_util.h"

namespace {

const char k_plain_header[] =
    "Filename|Size|File-(MOD)Date|From|To|CC|Bcc|Date|Date-Time|Forward Date|Subject|"
    "Message Read|Attachment Info|Recent IP";

std::string example_message(const char* line_end) {
  std::string text;
  for (const char* line :
       {"Received: from mx (mx [10.0.0.1])", "\tby mx.example.com", "From: Ann Lee", "To: Bob Roe",
        "Date: Mon, 12 Mar 2012 14:05:33 -0400", "Subject: Hello", "X-Mozilla-Status: 0001"}) {
    text += std::string(line) + line_end;
  }
  return text;
}

// Writes a message file last written on 2012-03-12 14:07 local time.
void write_message(const temp_tree& tree, const std::string& relative, const std::string& text) {
  tree.write(relative, text);
  int64_t written = eastern_seconds(2012, 3, 12, 14, 7, 0);
  tree.set_times(relative, written, written);
}

std::string example_record(const std::string& path, std::size_t size) {
  return std::string("\n") + path + "|" + std::to_string(size) +
         "|'2012-03-12 14:07|(#1:) From: Ann Lee  |(#1:) To: Bob Roe  |||"
         "(#1:) Date: Mon, 12 Mar 2012 14:05:33 -0400  |'2012-03-12 14:05:33 -0400||"
         "(#1:) Subject: Hello  |(#1:)  YES ||(#1:) [10.0.0.1]  ";
}

std::size_t count_of(const std::string& text, char c) {
  std::size_t n = 0;
  for (char x : text) n += x == c;
  return n;
}

}  // namespace

TEST(listing_e2e, the_example_record_goes_to_standard_output_byte_for_byte) {
  temp_tree tree;
  for (const char* line_end : {"\n", "\r\n"}) {
    std::string text = example_message(line_end);
    write_message(tree, "mail/a.eml", text);
    run_result r = run_mailsift({tree.path("mail")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, k_plain_header + example_record(tree.path("mail/a.eml"), text.size()));
    char progress[64];
    std::snprintf(progress, sizeof progress, "   %11zu Bytes", text.size());
    EXPECT_EQ(r.err, std::string("\n") + tree.path("mail/a.eml") + progress);
  }
}

TEST(listing_e2e, the_output_file_holds_the_listing_and_the_screen_the_progress) {
  temp_tree tree;
  std::string text(1234567, 'x');
  write_message(tree, "mail/big.eml", text);
  run_result r = run_mailsift({tree.path("mail"), "-o", tree.path("out.txt")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find(std::string("\n") + tree.path("mail/big.eml") + "     1,234,567 Bytes"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(normalise_line_ends(tree.read("out.txt")),
            std::string(k_plain_header) + std::string("\n") + tree.path("mail/big.eml") +
                "|1234567|'2012-03-12 14:07||||||'0000-00-00 ||| Unknown  ||");
}

TEST(listing_e2e, quoted_forms_of_the_header_and_the_record) {
  temp_tree tree;
  write_message(tree, "mail/q.eml", "Subject: say \"hi\"\n");
  std::string name = tree.path("mail/q.eml");
  struct {
    std::vector<std::string> options;
    std::string expected;
  } cases[] = {
      {{"-d", ","},
       "\"Filename\",\"Size\",\"File-(MOD)Date\",\"From\",\"To\",\"CC\",\"Bcc\",\"Date\","
       "\"Date-Time\",\"Forward Date\",\"Subject\",\"Message Read\",\"Attachment Info\","
       "\"Recent IP\"\n\"" +
           name +
           "\",\"18\",\"'2012-03-12 14:07\",\"\",\"\",\"\",\"\",\"\",\"'   0-00-00 \",\"\","
           "\"(#1:) Subject: say \"\"hi\"\"  \",\" Unknown  \",\"\",\"\""},
      {{"--QUOTE"},
       "\"Filename\"|\"Size\"|\"File-(MOD)Date\"|\"From\"|\"To\"|\"CC\"|\"Bcc\"|\"Date\"|"
       "\"Date-Time\"|\"Forward Date\"|\"Subject\"|\"Message Read\"|\"Attachment Info\"|"
       "\"Recent IP\"\n\"" +
           name +
           "\"|\"18\"|\"'2012-03-12 14:07\"|\"\"|\"\"|\"\"|\"\"|\"\"|\"'   0-00-00 \"|\"\"|"
           "\"(#1:) Subject: say \"\"hi\"\"  \"|\" Unknown  \"|\"\"|\"\""},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {tree.path("mail")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    run_result r = run_mailsift(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, c.expected);
  }
}

TEST(listing_e2e, append_mode_starts_the_new_header_on_a_line_of_its_own) {
  temp_tree tree;
  std::string text = example_message("\n");
  write_message(tree, "mail/a.eml", text);
  std::string record = example_record(tree.path("mail/a.eml"), text.size());
  for (int run = 0; run < 2; ++run) {
    run_result r = run_mailsift({tree.path("mail"), "-a", "-o", tree.path("out.txt")});
    EXPECT_EQ(r.status, 0) << r.err;
  }
  // The last record has no line end of its own: one comes before the next header.
  EXPECT_EQ(normalise_line_ends(tree.read("out.txt")),
            k_plain_header + record + "\n" + k_plain_header + record);
  // A file that is empty, or whose last line is ended, gets nothing added.
  for (const char* before : {"", "earlier line\n", "earlier line\r\n"}) {
    tree.write("kept.txt", before);
    run_result r = run_mailsift({tree.path("mail"), "-a", "-o", tree.path("kept.txt")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(normalise_line_ends(tree.read("kept.txt")),
              normalise_line_ends(before) + k_plain_header + record)
        << before;
  }
  // Without -a the file starts afresh.
  run_result r = run_mailsift({tree.path("mail"), "-o", tree.path("out.txt")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(normalise_line_ends(tree.read("out.txt")), k_plain_header + record);
}

// The fields of the one record of a listing, split at the pipes.
std::vector<std::string> record_fields(const std::string& listing) {
  std::vector<std::string> records = listing_records(listing);
  std::vector<std::string> fields;
  if (records.size() != 1) return fields;
  std::size_t start = 0;
  for (std::size_t bar = records[0].find('|'); bar != std::string::npos;
       bar = records[0].find('|', start)) {
    fields.push_back(records[0].substr(start, bar - start));
    start = bar + 1;
  }
  fields.push_back(records[0].substr(start));
  return fields;
}

TEST(listing_e2e, headers_after_a_short_from_or_a_received_line_keep_their_own_entries) {
  temp_tree tree;
  struct {
    std::string message;
    std::string from, to, subject, recent_ip;
  } cases[] = {
      {"From: Bob\nTo: x@y\nSubject: s\n", "(#1:) From: Bob  ", "(#1:) To: x@y  ",
       "(#1:) Subject: s  ", ""},
      // A folded address is still joined to its short From line.
      {"From: Bob\n <bob@example.com>\nTo: x@y\n", "(#1:) From: Bob <bob@example.com>  ",
       "(#1:) To: x@y  ", "", ""},
      {"Received: from a [10.0.0.1]\nReceived: from b [10.0.0.2]\n", "", "", "",
       "(#1:) [10.0.0.1]  (#2:) [10.0.0.2]  "},
      // A continuation's bracket still joins its Received line.
      {"Received: from a (helo\n\t[10.0.0.3]) by b\nReceived: from c (d [10.0.0.4])\n\tby e\n", "",
       "", "", "(#1:) [10.0.0.4]  "},
      {"Received: from a [10.0.0.1]\n\t(b [10.0.0.2])\n", "", "", "",
       "(#1:) [10.0.0.1][10.0.0.2]  "},
      // Old Mac line ends: bare CRs.
      {"From: Ann Lee\rTo: x@y\rSubject: s\r\rbody\r", "(#1:) From: Ann Lee  ", "(#1:) To: x@y  ",
       "(#1:) Subject: s  ", ""},
  };
  for (const auto& c : cases) {
    write_message(tree, "mail/m.eml", c.message);
    run_result r = run_mailsift({tree.path("mail")});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> fields = record_fields(r.out);
    ASSERT_EQ(fields.size(), 14u) << r.out;
    EXPECT_EQ(fields[3], c.from) << c.message;
    EXPECT_EQ(fields[4], c.to) << c.message;
    EXPECT_EQ(fields[10], c.subject) << c.message;
    EXPECT_EQ(fields[13], c.recent_ip) << c.message;
  }
}

TEST(listing_e2e, a_comma_separated_field_at_the_cap_keeps_its_quotes_in_pairs) {
  temp_tree tree;
  // A Subject line of 32,766 characters is cut to the field's 32,767 after the
  // entry's "(#1:) ": its character 32,760 ends the field.
  const std::size_t capacity = 32767;
  const std::size_t last_kept = capacity - 7;
  struct {
    std::size_t quote_at;
    std::string field_end;
  } cases[] = {
      // The pair would pass the cap by one: it is left out whole.
      {last_kept, "xxx"},
      {last_kept - 1, "x\"\""},
      {last_kept - 2, "\"\"x"},
  };
  for (const auto& c : cases) {
    const std::size_t quote_at = c.quote_at;
    std::string line = "Subject: " + std::string(capacity - 1 - 9, 'x');
    line[quote_at] = '"';
    write_message(tree, "mail/m.eml", line + "\n");
    run_result r = run_mailsift({tree.path("mail"), "-d", ","});
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<std::string> records = listing_records(r.out);
    ASSERT_EQ(records.size(), 1u);
    // Every field is in quotes, and a quote inside one is doubled: a lone quote
    // would end the field early for a CSV reader.
    EXPECT_EQ(count_of(records[0], '"') % 2, 0u) << quote_at;
    std::size_t subject_end = records[0].find("\",\" Unknown  \"");
    ASSERT_NE(subject_end, std::string::npos);
    std::string tail = records[0].substr(subject_end - 3, 3);
    EXPECT_EQ(tail, c.field_end) << quote_at;
  }
}

// Each refusal says why, in the system's words.
TEST(listing_e2e, an_output_file_that_cannot_be_opened_ends_with_status_4) {
  temp_tree tree;
  write_message(tree, "mail/a.eml", "Subject: s\n");
  tree.make_dir("a-directory");
  tree.make_dir("closed");
  std::string missing = tree.path("no-such-dir/out.txt");
  std::string directory = tree.path("a-directory");
  std::string closed = tree.path("closed/out.txt");
  // Windows opens no directory as a file and says that access is denied.
  std::string is_a_directory = k_windows ? "Permission denied" : "Is a directory";
  struct {
    std::vector<std::string> options;
    std::string err;
    bool unprivileged;
  } cases[] = {
      {{"-o", missing},
       "\ncan't create output file " + missing +
           ": No such file or directory\nFILE: .\\eml_program, LINE 845\n",
       false},
      {{"-a", "-o", missing},
       "\ncan't open output file " + missing +
           ": No such file or directory\nFILE: .\\eml_program, LINE 835\n",
       false},
      {{"-o", directory},
       "\ncan't create output file " + directory + ": " + is_a_directory +
           "\nFILE: .\\eml_program, LINE 845\n",
       false},
      {{"-o", closed},
       "\ncan't create output file " + closed +
           ": Permission denied\nFILE: .\\eml_program, LINE 845\n",
       true},
  };
#ifndef _WIN32
  // Everyone may enter the tree and the directory; only its owner may write there.
  chmod(tree.root().c_str(), 0755);
  chmod(tree.path("closed").c_str(), 0555);
#endif
  for (const auto& c : cases) {
    if (c.unprivileged && (k_windows || !why_no_unprivileged_runs().empty())) continue;
    run_options options;
    options.unprivileged = c.unprivileged;
    std::vector<std::string> args = {tree.path("mail")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    run_result r = run_mailsift(args, options);
    EXPECT_EQ(r.status, 4) << c.options.back();
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
  }
}

TEST(listing_e2e, append_without_an_output_file_is_an_option_error) {
  temp_tree tree;
  run_result r = run_mailsift({tree.root(), "-a"});
  EXPECT_EQ(r.status, 6);
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(r.err.find("\n\tNeed output file name if -a is chosen\n"), 0u) << r.err;
  EXPECT_NE(r.err.find("Abnormal termination. Reason: ILLEGAL or INCOMPLETE OPTION"),
            std::string::npos);
}

TEST(listing_e2e, a_file_of_random_bytes_gives_one_whole_record) {
  temp_tree tree;
  std::mt19937 random(12345);
  // Header pieces mixed into the noise, so that the rules see odd lines too.
  const std::string fragments[] = {"From:",
                                   "To: ",
                                   "Cc:",
                                   "Date: ",
                                   "Sent: ",
                                   "Received: from ",
                                   "Received: by ",
                                   "[",
                                   "]",
                                   "Content-Type: message",
                                   "=",
                                   "Mapi-Hasattach: 1\n",
                                   "Content-Type:",
                                   "name=",
                                   "\t",
                                   ">",
                                   "\r",
                                   "\n",
                                   "\r\n",
                                   ",",
                                   "|",
                                   "\"",
                                   std::string(1, '\0')};
  for (int file = 0; file < 8; ++file) {
    std::string bytes;
    while (bytes.size() < 200000) {
      if (random() % 3 == 0) {
        bytes += fragments[random() % std::size(fragments)];
      } else {
        bytes += static_cast<char>(random() % 256);
      }
    }
    tree.write("mail/r" + std::to_string(file) + ".eml", bytes);
  }
  run_result r = run_mailsift({tree.path("mail"), "-o", tree.path("out.txt")});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string listing = tree.read("out.txt");
  // Fields never hold a line end, so records and line ends correspond.
  EXPECT_EQ(count_of(normalise_line_ends(listing), '\n'), 8u);
  EXPECT_EQ(listing.find('\0'), std::string::npos);
}

TEST(listing_e2e, a_write_error_on_the_listing_ends_with_reason_9) {
  if (k_windows) GTEST_SKIP() << "no full device here";
  temp_tree tree;
  write_message(tree, "mail/a.eml", "Subject: s\n");
  run_result r = run_mailsift({tree.path("mail"), "-o", "/dev/full"});
  EXPECT_EQ(r.status, 9);
  EXPECT_NE(r.err.find("\nError writing output file /dev/full: "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Abnormal termination. Reason: WRITE_ERROR"), std::string::npos);
}

TEST(listing_e2e, an_interrupt_during_a_long_file_ends_with_a_whole_record) {
  if (!can_interrupt_children()) GTEST_SKIP() << "interrupts cannot be sent here";
  temp_tree tree;
  tree.write("mail/a.eml", "From: Ann Lee\n");
  tree.write("mail/huge.eml", "");
  // A sparse file far larger than the test will wait for.
  ASSERT_TRUE(g_platform.truncate_file(tree.path("mail/huge.eml"), int64_t{1} << 40));
  spawned_program program = start_mailsift({tree.path("mail"), "-o", tree.path("out.txt")});
  g_platform.sleep_milliseconds(1000);
  send_interrupt(program);
  run_result r = wait_for(program, 60);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("Abnormal termination. Reason: USER_ABORTED"), std::string::npos) << r.err;
  std::string listing = normalise_line_ends(tree.read("out.txt"));
  std::string huge = tree.path("mail/huge.eml");
  std::size_t at = listing.find(std::string("\n") + huge + "|");
  ASSERT_NE(at, std::string::npos) << listing;
  std::string record = listing.substr(at + 1);
  EXPECT_EQ(record.find('\n'), std::string::npos);
  EXPECT_EQ(count_of(record, '|'), 13u) << record;
}

TEST(listing_e2e, a_closed_pipe_ends_the_run_quietly_with_reason_9) {
  if (k_windows) GTEST_SKIP() << "needs a POSIX shell";
  temp_tree tree;
  // Far more output than the stream buffer and the pipe hold together.
  for (int i = 0; i < 12; ++i) {
    write_message(tree, "mail/m" + std::to_string(i) + ".eml",
                  "Subject: " + std::string(30000, 'x') + "\n");
  }
  std::string command = "(unset ACCT DELIMETER RESET SILENT; TZ=EST5EDT '" + mailsift_binary() +
                        "' '" + tree.path("mail") + "' -.ini 2>'" + tree.path("err.txt") +
                        "'; echo $? >'" + tree.path("status.txt") + "') | head -c 10 >/dev/null";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(tree.read("status.txt"), "9\n");
  std::string err = tree.read("err.txt");
  EXPECT_EQ(err.find("Abnormal termination"), std::string::npos) << err;
  EXPECT_EQ(err.find("Error writing"), std::string::npos) << err;
}

TEST(listing_e2e, every_file_of_the_mail_corpus_gives_exactly_one_record) {
  std::string corpus = source_path("../shared/corpus");
  if (!g_platform.is_directory(corpus)) GTEST_SKIP() << "no corpus at " << corpus;
  temp_tree tree;
  run_options options;
  options.timeout_seconds = 600;
  run_result r = run_mailsift({corpus, "-o", tree.path("out.txt")}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  std::string listing = normalise_line_ends(tree.read("out.txt"));
  std::size_t files_at = r.err.rfind(" files\n");
  ASSERT_NE(files_at, std::string::npos) << r.err;
  std::size_t number_at = r.err.rfind(' ', files_at - 1) + 1;
  std::size_t files = std::stoul(r.err.substr(number_at, files_at - number_at));
  EXPECT_GE(files, 388u);
  EXPECT_EQ(count_of(listing, '\n'), files);
  EXPECT_EQ(listing.find('\0'), std::string::npos);
}
