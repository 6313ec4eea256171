// Outlook data files one record per message (--PST), through the built program:
// the shared PSTs and OSTs against facts their peers give, damaged copies, the
// settings --PST combines with, scanners and interrupts.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "test_util.h"

namespace {

std::string shared_pst_dir() { return source_path("../shared/pst"); }

#define SKIP_WITHOUT_SHARED_PST()                                                     \
  if (!g_platform.is_directory(shared_pst_dir()))                                     \
  GTEST_SKIP() << "no Outlook data files at " << shared_pst_dir() << ": test skipped"

// A delimited listing cut into its header line's names and its records' cells.
struct listing_table {
  std::vector<std::string> names;
  std::vector<std::vector<std::string>> rows;

  std::size_t column(const std::string& name) const {
    auto at = std::find(names.begin(), names.end(), name);
    EXPECT_NE(at, names.end()) << "no column " << name;
    return static_cast<std::size_t>(at - names.begin());
  }
  std::string cell(std::size_t row, const std::string& name) const {
    std::size_t at = column(name);
    return at < rows[row].size() ? rows[row][at] : std::string();
  }
};

listing_table table_of(const std::string& listing) {
  listing_table table;
  std::string text = normalise_line_ends(listing);
  table.names = split(text.substr(0, text.find('\n')), '|');
  for (const std::string& line : listing_records(text)) {
    table.rows.push_back(split(line, '|'));
    EXPECT_EQ(table.rows.back().size(), table.names.size()) << "not a whole record: " << line;
  }
  return table;
}

// Messages per folder, by the folder's last name: "Inbox=10 Sent Items=2".
std::string folder_counts(const listing_table& table) {
  std::map<std::string, int> counts;
  for (std::size_t row = 0; row < table.rows.size(); ++row) {
    std::string folder = table.cell(row, "Folder");
    ++counts[folder.substr(folder.rfind('/') + 1)];
  }
  std::string text;
  for (const auto& [folder, count] : counts) {
    text += (text.empty() ? "" : " ") + folder + "=" + std::to_string(count);
  }
  return text;
}

run_result list_pst(const temp_tree& tree, const std::string& dir, const std::string& pattern,
                    std::vector<std::string> more = {}) {
  std::vector<std::string> args = {"-p", dir, "-f", pattern, "--PST", "-o", tree.path("out.txt")};
  args.insert(args.end(), more.begin(), more.end());
  return run_mailsift(args);
}

}  // namespace

// Counts per folder as readpst -D gives them (it leaves Deleted Items out without
// -D); subjects, Message-IDs and dates as readpst and pffexport show them.
TEST(outlook_e2e, every_shared_file_lists_its_messages_folder_by_folder) {
  SKIP_WITHOUT_SHARED_PST();
  struct shared_file {
    const char* name;
    const char* counts;
    const char* first_subject;
    const char* first_message_id;
    const char* first_sent_utc;
    const char* summary;
  };
  const shared_file files[] = {
      {"sample1.pst", "Sample1=1", "Here is a sample message",
       "<B2FDDB8BE384C94794441DB4A7F3D8B804AE624B@TK5EX14MBXC114.redmond.corp.microsoft.com>",
       "2010-03-15T17:12:05Z", "1 Outlook data file read: 1 message listed\n"},
      {"sample2.pst", "Sample2=1", "Here is a sample message",
       "<B2FDDB8BE384C94794441DB4A7F3D8B804AE624B@TK5EX14MBXC114.redmond.corp.microsoft.com>",
       "2010-03-15T17:12:05Z", "1 Outlook data file read: 1 message listed\n"},
      {"submessage.pst", "submessage=1",
       "This is a message which has an embedded message attached",
       "<B2FDDB8BE384C94794441DB4A7F3D8B804AF79BC@TK5EX14MBXC114.redmond.corp.microsoft.com>",
       "2010-03-17T23:02:09Z", "1 Outlook data file read: 1 message listed\n"},
      {"test-account.ost", "Deleted Items=1 Inbox=10 Sent Items=2 Sync Issues=1",
       "Invitation: meeting from Ed @ Fri Aug 13, 2021 4pm - 4:30pm (MDT) "
       "(pstextractortest@outlook.com)",
       "<00000000000012adde05c962a0da@google.com>", "2021-08-12T20:31:53Z",
       "1 Outlook data file read: 14 messages listed, 169 items that are not messages left out"},
      {"test-account-pdf.ost", "Inbox=2", "single PDF",
       "<BDAEEF64-BED1-49C3-85BA-CD75484F2456@hxcore.ol>", "2021-08-14T16:13:04Z",
       "1 Outlook data file read: 2 messages listed, 160 items that are not messages left out"},
      {"test_ansi.pst", "", "", "", "",
       "1 Outlook data file read: 0 messages listed, 1 item that is not a message left out"},
      {"test_unicode.pst", "", "", "", "",
       "1 Outlook data file read: 0 messages listed, 2 items that are not messages left out"},
      {"dist-list.pst", "", "", "", "",
       "1 Outlook data file read: 0 messages listed, 4 items that are not messages left out"},
      {"passworded.pst", "", "", "", "",
       "1 Outlook data file read: 0 messages listed, 3 items that are not messages left out"},
  };
  for (const shared_file& f : files) {
    SCOPED_TRACE(f.name);
    temp_tree tree;
    run_result r = list_pst(tree, shared_pst_dir(), f.name, {"--MSGID", "--SENT-UTC"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(f.summary), std::string::npos) << r.err;
    listing_table table = table_of(tree.read("out.txt"));
    EXPECT_EQ(folder_counts(table), f.counts);
    for (std::size_t row = 0; row < table.rows.size(); ++row) {
      EXPECT_EQ(table.cell(row, "Message"), std::to_string(row + 1));
      EXPECT_TRUE(table.cell(row, "Filename").ends_with(f.name));
    }
    if (table.rows.empty()) continue;
    EXPECT_EQ(table.cell(0, "Subject"), std::string("(#1:) Subject: ") + f.first_subject + "  ");
    EXPECT_EQ(table.cell(0, "Message-ID"), f.first_message_id);
    EXPECT_EQ(table.cell(0, "Sent (UTC)"), f.first_sent_utc);
  }
}

// The store's own facts in the scan's shapes: the read flag, the attachment table,
// the folder from the store's top folder, the item identifier as the offset.
TEST(outlook_e2e, read_flag_attachments_folder_and_identifier_come_from_the_store) {
  SKIP_WITHOUT_SHARED_PST();
  temp_tree tree;
  run_result r = list_pst(tree, shared_pst_dir(), "test-account*.ost");
  ASSERT_EQ(r.status, 0) << r.err;
  listing_table table = table_of(tree.read("out.txt"));
  std::map<std::string, std::vector<std::string>> by_subject;
  for (std::size_t row = 0; row < table.rows.size(); ++row) {
    by_subject[table.cell(row, "Subject")] = {table.cell(row, "Message Read"),
                                              table.cell(row, "Attachment Info"),
                                              table.cell(row, "Folder"), table.cell(row, "Offset"),
                                              table.cell(row, "Size")};
  }
  const std::vector<std::string> text_jpg_pdf = {
      "(#1:)  YES ",
      "(#1:) Attachment info: filename=\"Clinometer Usage.pdf\"  (#2:) Attachment info: "
      "filename=\"primoz-roglic-of-slovenia-and-team-jumbo-visma-red-leader-news-photo-"
      "1628610563.jpg\"  (#3:) Attachment info: filename=\"text.txt\"  ",
      "Root - Mailbox/IPM_SUBTREE/Inbox", "2104516", "217060"};
  EXPECT_EQ(by_subject["(#1:) Subject: text, jpg, pdf attachments  "], text_jpg_pdf);
  const std::vector<std::string> sync_log = {"(#1:)  NO/Unknown ", "",
                                             "Root - Mailbox/IPM_SUBTREE/Sync Issues", "2108228",
                                             "2236"};
  EXPECT_EQ(by_subject["(#1:) Subject: Synchronization Log:   "], sync_log);
}

// Every damaged form ends in whole records and a named reason: a file libpff
// cannot open is one record of the file, after the line that says why.
TEST(outlook_e2e, damaged_copies_end_in_whole_records_and_a_named_reason) {
  SKIP_WITHOUT_SHARED_PST();
  const std::string pst = file_bytes(shared_pst_dir() + "/sample1.pst");
  const std::string ost = file_bytes(shared_pst_dir() + "/test-account.ost");
  ASSERT_GT(pst.size(), 200000u);
  ASSERT_GT(ost.size(), 8000000u);
  auto zeroed = [](std::string bytes, std::size_t from, std::size_t count) {
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(from), count, '\0');
    return bytes;
  };
  struct damaged {
    const char* name;
    std::string bytes;
    const char* says;  // on standard error
  };
  const damaged forms[] = {
      {"empty.pst", "", nullptr},
      {"cut4.pst", pst.substr(0, 4), "as an Outlook data file: libpff_io_handle_read_file_header"},
      {"cut512.pst", pst.substr(0, 512), "as an Outlook data file: "},
      {"cut4096.pst", pst.substr(0, 4096), "cannot read folder / of "},
      {"cut65536.pst", pst.substr(0, 65536), "as an Outlook data file: "},
      {"cut150000.pst", pst.substr(0, 150000), "as an Outlook data file: "},
      {"cut1000000.ost", ost.substr(0, 1000000), "cannot read folder / of "},
      {"header.pst", zeroed(pst, 4, 508), "as an Outlook data file: "},
      {"table.pst", zeroed(pst, 0x28000, 0x4000), "cannot read message 1 of "},
      {"folders.ost", zeroed(ost, 0x100000, 0x10000), "cannot read folder Root - Mailbox/"},
  };
  for (const damaged& d : forms) {
    SCOPED_TRACE(d.name);
    temp_tree tree;
    tree.write(std::string("d/") + d.name, d.bytes);
    run_result r = list_pst(tree, tree.path("d"), "*.*st");
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 0) << r.err;
    listing_table table = table_of(tree.read("out.txt"));
    if (d.says) {
      EXPECT_NE(r.err.find(d.says), std::string::npos) << r.err;
    }
    bool not_opened = r.err.find("as an Outlook data file: ") != std::string::npos;
    // Not opened (or no signature at all): the one record of the file.
    if (not_opened || d.bytes.size() < 4) {
      EXPECT_EQ(table.rows.size(), 1u);
    }
  }
  // A 4 GB file with the signature and a whole header: read, not hung on.
  temp_tree tree;
  tree.write("d/sparse.pst", pst);
  ASSERT_TRUE(g_platform.truncate_file(tree.path("d/sparse.pst"), int64_t{4} << 30));
  run_result r = list_pst(tree, tree.path("d"), "*.pst");
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(table_of(tree.read("out.txt")).rows.size(), 1u);
}

// The Folder column in every record whenever --PST is given; the settings it
// combines with apply to its records as to any other.
TEST(outlook_e2e, combines_with_mailboxes_readable_listing_and_sent_dates) {
  SKIP_WITHOUT_SHARED_PST();
  temp_tree tree;
  tree.write("m/a.pst", file_bytes(shared_pst_dir() + "/sample1.pst"));
  tree.write("m/b.mbox",
             "From a@example.org Mon Jan  1 00:00:00 2001\nSubject: one\n\n"
             "From b@example.org Mon Jan  1 00:00:00 2001\nSubject: two\n\n");
  tree.write("m/c.eml", "Subject: plain\n\nbody\n");
  run_result r = list_pst(tree, tree.path("m"), "*.*", {"--MBOX", "--SCANNERS=1"});
  ASSERT_EQ(r.status, 0) << r.err;
  listing_table table = table_of(tree.read("out.txt"));
  ASSERT_EQ(table.rows.size(), 4u);
  EXPECT_EQ(table.names.back(), "Folder");
  EXPECT_EQ(table.names[table.names.size() - 2], "Offset");
  std::vector<std::string> folders;
  for (std::size_t row = 0; row < table.rows.size(); ++row)
    folders.push_back(table.cell(row, "Folder"));
  EXPECT_EQ(sorted(folders), (std::vector<std::string>{"", "", "", "Top of Outlook data file/Sample1"}));

  struct combination {
    std::vector<std::string> args;
    std::string wanted;  // in the listing
    std::size_t records;
  };
  const combination combinations[] = {
      {{"--JSON"}, "\"offset\":2097188,\"folder\":\"Top of Outlook data file/Sample1\"}", 1},
      {{"--UTF"}, "|(#1:) Subject: Here is a sample message  |", 1},
      {{"--SHA2"}, "|Top of Outlook data file/Sample1|", 1},
      {{"--SENT-AFTER=2010-03-16"}, "Filename|", 0},
      {{"--SENT-BEFORE=2010-03-16", "--SENT-UTC"}, "|2010-03-15T17:12:05Z", 1},
      // libpff finds the message twice more among the deleted and orphan data.
      {{"--PST-RECOVER"}, "|(#1:)  YES |||2|32910|(recovered)\n", 3},
  };
  for (const combination& c : combinations) {
    SCOPED_TRACE(describe(c.args));
    std::vector<std::string> args = c.args;
    args.push_back("--SCANNERS=1");
    run_result one = list_pst(tree, tree.path("m"), "a.pst", args);
    ASSERT_EQ(one.status, 0) << one.err;
    std::string listing = normalise_line_ends(tree.read("out.txt"));
    EXPECT_NE(listing.find(c.wanted), std::string::npos) << listing;
    EXPECT_TRUE(is_strict_utf8(listing));
    std::size_t lines = static_cast<std::size_t>(std::count(listing.begin(), listing.end(), '\n'));
    // A delimited record starts with its line end, a JSON one ends with it.
    EXPECT_EQ(lines, c.records) << listing;
  }
}

TEST(outlook_e2e, without_the_setting_an_outlook_file_is_one_record_as_before) {
  SKIP_WITHOUT_SHARED_PST();
  temp_tree tree;
  tree.write("m/a.pst", file_bytes(shared_pst_dir() + "/sample1.pst"));
  run_result plain = run_mailsift({"-p", tree.path("m"), "-o", tree.path("plain.txt")});
  run_result off = run_mailsift({"-p", tree.path("m"), "--PST=OFF", "-o", tree.path("off.txt")});
  ASSERT_EQ(plain.status, 0);
  ASSERT_EQ(off.status, 0);
  EXPECT_EQ(tree.read("plain.txt"), tree.read("off.txt"));
  // Windows stores the listing's line ends as CR LF.
  std::string listing = normalise_line_ends(tree.read("plain.txt"));
  EXPECT_EQ(listing.substr(0, listing.find('\n')),
            "Filename|Size|File-(MOD)Date|From|To|CC|Bcc|Date|Date-Time|Forward Date|Subject|"
            "Message Read|Attachment Info|Recent IP");
  EXPECT_EQ(listing_records(listing).size(), 1u);
  EXPECT_EQ(plain.err.find("Outlook"), std::string::npos);
  EXPECT_EQ(mask_run_times(plain.err), mask_run_times(off.err));
}

// Outlook files read by scanners side by side, and one too large for a slot (a
// copy padded to 40 MB, which libpff reads as the file it was) on the walk's
// thread, among message files: one scanner and sixteen list the same bytes and
// counts.
TEST(outlook_e2e, one_scanner_and_sixteen_list_the_same_bytes) {
  SKIP_WITHOUT_SHARED_PST();
  temp_tree tree;
  const std::string ost = file_bytes(shared_pst_dir() + "/test-account.ost");
  for (int copy = 0; copy < 3; ++copy) {
    std::string dir = "m/" + std::to_string(copy) + "/";
    for (const char* name : {"sample1.pst", "sample2.pst", "test_ansi.pst"})
      tree.write(dir + name, file_bytes(shared_pst_dir() + "/" + name));
    tree.write(dir + "test-account.ost", ost);
    for (int i = 0; i < 20; ++i)
      tree.write(dir + "n" + std::to_string(i) + ".eml", "Subject: s" + std::to_string(i) + "\n\n");
  }
  tree.write("m/1/large.ost", ost + std::string(40 * 1024 * 1024 - ost.size(), '\0'));
  std::string first;
  std::string first_err;
  for (const char* scanners : {"--SCANNERS=1", "--SCANNERS=16"}) {
    run_result r = list_pst(tree, tree.path("m"), "*.*", {scanners, "--SHA2", "--MSGID"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string listing = tree.read("out.txt");
    EXPECT_EQ(table_of(listing).rows.size(), 62u + 60u);
    EXPECT_NE(r.err.find("13 Outlook data files read: 62 messages listed"), std::string::npos)
        << r.err;
    if (first.empty()) first = listing, first_err = mask_run_times(r.err);
    EXPECT_EQ(listing, first) << scanners;
    EXPECT_EQ(mask_run_times(r.err), first_err) << scanners;
  }
}

// An interrupt between two messages of an OST, read on the walk's thread or by a
// scanner: whole records numbered from 1, the reason and the counts. The test
// build sets the flag at its Nth look.
TEST(outlook_e2e, an_interrupt_inside_an_outlook_file_leaves_whole_records) {
  SKIP_WITHOUT_SHARED_PST();
  for (const char* scanners : {"--SCANNERS=1", "--SCANNERS=4"}) {
    bool met_the_middle = false;
    for (int looks : {16, 20, 24, 28}) {
      SCOPED_TRACE(std::string(scanners) + " " + std::to_string(looks));
      temp_tree tree;
      run_options options;
      options.program = faulty_binary();
      options.env = {{"MAILSIFT_FAULTS", "interrupt_after=" + std::to_string(looks)}};
      run_result r = run_mailsift({"-p", shared_pst_dir(), "-f", "test-account.ost", "--PST",
                                   scanners, "-o", tree.path("out.txt")},
                                  options);
      EXPECT_EQ(r.status, 2) << r.err;
      EXPECT_NE(r.err.find("Reason: USER_ABORTED"), std::string::npos) << r.err;
      listing_table table = table_of(tree.read("out.txt"));
      for (std::size_t row = 0; row < table.rows.size(); ++row)
        EXPECT_EQ(table.cell(row, "Message"), std::to_string(row + 1));
      met_the_middle |= !table.rows.empty() && table.rows.size() < 14;
    }
    EXPECT_TRUE(met_the_middle) << scanners;
  }
}
