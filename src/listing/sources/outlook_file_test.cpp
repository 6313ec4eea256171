#include "listing/sources/outlook_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "test_util.h"

namespace {

std::string shared_pst(const std::string& name) { return source_path("../shared/pst/" + name); }

struct collected {
  outlook_walk_result result;
  std::vector<outlook_item> items;
  std::vector<std::string> reasons;
};

collected collect(const std::string& path, bool recover, const outlook_bounds& bounds = {}) {
  collected c;
  outlook_visitor visitor;
  visitor.context = &c;
  visitor.item = [](void* context, const outlook_item& item) {
    static_cast<collected*>(context)->items.push_back(item);
    return true;
  };
  visitor.failure = [](void* context, const outlook_failure& failure) {
    static_cast<collected*>(context)->reasons.push_back(failure.reason);
  };
  c.result = walk_outlook_file(path, recover, visitor, bounds);
  return c;
}

std::string last_part(const std::string& folder) { return folder.substr(folder.rfind('/') + 1); }

// Messages per folder, "Inbox=10 Sent Items=2" (folders by their last name, as
// readpst writes them), in name order.
std::string counts_text(const std::map<std::string, int>& counts) {
  std::string text;
  for (const auto& [folder, count] : counts) {
    if (count == 0) continue;
    if (!text.empty()) text += ' ';
    text += folder + "=" + std::to_string(count);
  }
  return text;
}

// What readpst (pst-utils) says of the file: messages per folder, and the text of
// each folder's mbox. False when readpst is not there (Windows; Debian without it).
bool readpst_facts(const std::string& file, const temp_tree& tree, std::map<std::string, int>& counts,
                   std::map<std::string, std::string>& texts) {
#ifdef _WIN32
  (void)file, (void)tree, (void)counts, (void)texts;
  return false;
#else
  if (std::system("command -v readpst >/dev/null 2>&1") != 0) return false;
  std::string out = tree.path("readpst");
  tree.make_dir("readpst");
  std::string command = "readpst -D -q -r -o '" + out + "' '" + file + "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return false;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(out)) {
    if (!entry.is_regular_file() || entry.path().filename() != "mbox") continue;
    std::string text = file_bytes(entry.path().string());
    std::string folder = entry.path().parent_path().filename().string();
    int messages = 0;
    for (std::size_t at = 0; (at = text.find("From ", at)) != std::string::npos; at += 5)
      if (at == 0 || text[at - 1] == '\n') ++messages;
    counts[folder] += messages;
    texts[folder] += text;
  }
  return true;
#endif
}

}  // namespace

// Every shared file against what the peers say of it (pffexport and readpst, run
// by hand for the table; readpst again here where it is installed): messages per
// folder, and the first message's subject, sender, date and Message-ID.
TEST(outlook_file, shared_files_list_as_the_peers_do) {
  struct expected {
    const char* file;
    const char* counts;  // messages per folder
    int64_t not_messages;
    const char* folder;  // of the first message
    const char* subject;
    const char* sender;
    int64_t date;
    const char* message_id;
    const char* attachments;  // of the first message, joined by '|'
    bool internet_headers;
  } table[] = {
      {"sample1.pst", "Sample1=1", 0, "Top of Outlook data file/Sample1", "Here is a sample message",
       "terrymah@microsoft.com", 1268673125,
       "<B2FDDB8BE384C94794441DB4A7F3D8B804AE624B@TK5EX14MBXC114.redmond.corp.microsoft.com>",
       "leah_thumper.jpg", true},
      {"sample2.pst", "Sample2=1", 0, "Top of Outlook data file/Sample2", "Here is a sample message",
       "terrymah@microsoft.com", 1268673125,
       "<B2FDDB8BE384C94794441DB4A7F3D8B804AE624B@TK5EX14MBXC114.redmond.corp.microsoft.com>",
       "leah_thumper.jpg", true},
      {"submessage.pst", "submessage=1", 0, "Top of Outlook data file/submessage",
       "This is a message which has an embedded message attached", "terrymah@microsoft.com",
       1268866929,
       "<B2FDDB8BE384C94794441DB4A7F3D8B804AF79BC@TK5EX14MBXC114.redmond.corp.microsoft.com>",
       "This is an embedded message", true},
      {"test_ansi.pst", "", 1, "", "", "", 0, "", "", false},
      {"test_unicode.pst", "", 2, "", "", "", 0, "", "", false},
      {"dist-list.pst", "", 4, "", "", "", 0, "", "", false},
      {"passworded.pst", "", 3, "", "", "", 0, "", "", false},
      {"test-account.ost", "Deleted Items=1 Inbox=10 Sent Items=2 Sync Issues=1", 169,
       "Root - Mailbox/IPM_SUBTREE/Deleted Items",
       "Invitation: meeting from Ed @ Fri Aug 13, 2021 4pm - 4:30pm (MDT) "
       "(pstextractortest@outlook.com)",
       "calendar-notification@google.com", 1628800313, "<00000000000012adde05c962a0da@google.com>",
       "invite.ics", true},
      {"test-account-pdf.ost", "Inbox=2", 160, "Root - Mailbox/IPM_SUBTREE/Inbox", "single PDF",
       "epfromer@gmail.com", 1628957584, "<BDAEEF64-BED1-49C3-85BA-CD75484F2456@hxcore.ol>",
       "Clinometer Usage.pdf", true},
  };
  if (!g_platform.is_directory(shared_pst(""))) GTEST_SKIP() << "no Outlook files at " << shared_pst("");
  for (const expected& e : table) {
    SCOPED_TRACE(e.file);
    collected walk = collect(shared_pst(e.file), false);
    ASSERT_TRUE(walk.result.opened) << walk.result.reason;
    EXPECT_EQ(walk.result.failures, 0) << (walk.reasons.empty() ? "" : walk.reasons[0]);
    std::map<std::string, int> counts;
    std::vector<const outlook_item*> messages;
    for (const outlook_item& item : walk.items) {
      if (!item.is_message) continue;
      ++counts[last_part(item.folder)];
      messages.push_back(&item);
    }
    EXPECT_EQ(counts_text(counts), e.counts);
    EXPECT_EQ(walk.result.messages, static_cast<int64_t>(messages.size()));
    EXPECT_EQ(walk.result.not_messages, e.not_messages);
    if (!messages.empty()) {
      const outlook_item& first = *messages[0];
      EXPECT_EQ(first.folder, e.folder);
      EXPECT_EQ(first.subject, e.subject);
      EXPECT_EQ(first.sender_address, e.sender);
      EXPECT_EQ(first.date_seconds, e.date);
      EXPECT_EQ(first.message_id, e.message_id);
      std::string names;
      for (const std::string& name : first.attachments) names += (names.empty() ? "" : "|") + name;
      EXPECT_EQ(names, e.attachments);
      EXPECT_EQ(!first.transport_headers.empty(), e.internet_headers);
      EXPECT_GT(first.size, 0u);
      EXPECT_NE(first.identifier, 0u);
    }
    temp_tree tree;
    std::map<std::string, int> peer_counts;
    std::map<std::string, std::string> peer_texts;
    if (!readpst_facts(shared_pst(e.file), tree, peer_counts, peer_texts)) continue;
    EXPECT_EQ(counts_text(peer_counts), e.counts) << "readpst";
    for (const outlook_item* m : messages) {
      if (m->message_id.empty()) continue;
      EXPECT_NE(peer_texts[last_part(m->folder)].find(m->message_id), std::string::npos)
          << m->message_id << " not in readpst's " << last_part(m->folder);
    }
  }
}

// Recovery lists what libpff finds in deleted and orphan data after the rest.
TEST(outlook_file, recovered_items_follow_the_rest) {
  if (!g_platform.is_directory(shared_pst(""))) GTEST_SKIP() << "no Outlook files at " << shared_pst("");
  collected walk = collect(shared_pst("sample1.pst"), true);
  ASSERT_TRUE(walk.result.opened);
  ASSERT_GE(walk.items.size(), 2u);
  EXPECT_EQ(walk.items[0].folder, "Top of Outlook data file/Sample1");
  for (std::size_t i = 1; i < walk.items.size(); ++i) EXPECT_EQ(walk.items[i].folder, "(recovered)");
}
// An item is never held past its bounds, and an item cut at one says so; the
// default bounds cut none of the shared files' messages.
TEST(outlook_file, an_item_over_its_bounds_is_cut_and_marked) {
  if (!g_platform.is_directory(shared_pst(""))) GTEST_SKIP() << "no Outlook files at " << shared_pst("");
  const std::string file = shared_pst("test-account.ost");
  collected whole = collect(file, false);
  struct bound_case {
    const char* name;
    outlook_bounds bounds;
  } cases[] = {
      {"strings", {8, 1024 * 1024, 16 * 1024 * 1024, 4096}},
      {"headers", {64 * 1024, 16, 16 * 1024 * 1024, 4096}},
      {"body left out", {64 * 1024, 1024 * 1024, 4, 4096}},
      {"tables", {64 * 1024, 1024 * 1024, 16 * 1024 * 1024, 0}},
  };
  for (const bound_case& c : cases) {
    collected cut = collect(file, false, c.bounds);
    ASSERT_EQ(cut.items.size(), whole.items.size()) << c.name;
    int marked = 0;
    for (std::size_t i = 0; i < cut.items.size(); ++i) {
      const outlook_item& item = cut.items[i];
      EXPECT_FALSE(whole.items[i].truncated) << i;
      EXPECT_LE(item.subject.size(), c.bounds.string) << c.name;
      EXPECT_LE(item.transport_headers.size(), c.bounds.headers) << c.name;
      EXPECT_LE(item.body.size(), c.bounds.body) << c.name;
      EXPECT_LE(item.recipients.size() + item.attachments.size(), 2 * c.bounds.table) << c.name;
      marked += item.truncated;
    }
    EXPECT_GT(marked, 0) << c.name;
  }
}

// Damaged copies of a shared file, built here: every one ends with a named reason
// (the file refused, or the walk's failures named) and neither crashes nor hangs.
TEST(outlook_file, damaged_copies_end_with_a_named_reason) {
  std::string original_path = shared_pst("sample1.pst");
  if (!g_platform.path_exists(original_path)) GTEST_SKIP() << "no Outlook files at " << original_path;
  temp_tree tree;
  const std::string original = file_bytes(original_path);
  const std::size_t size = original.size();
  struct damaged {
    std::string name;
    std::string bytes;
    int64_t extend_to = 0;  // a sparse tail up to this size
  };
  std::vector<damaged> copies = {
      {"empty.pst", ""},
      {"signature_only.pst", "!BDN"},
      {"header_zeroed.pst", std::string(512, '\0') + original.substr(512)},
      {"sparse_4gb.pst", original.substr(0, 4096), int64_t{4} << 30},
  };
  for (std::size_t length : {std::size_t{100}, std::size_t{511}, std::size_t{4096}, size / 4, size / 2,
                             size - 1}) {
    copies.push_back({"truncated_" + std::to_string(length) + ".pst", original.substr(0, length)});
  }
  // Each 16 KB of the file zeroed in turn: among them the folder tables.
  for (std::size_t start = 512; start < size; start += 16384) {
    std::string bytes = original;
    std::fill(bytes.begin() + start, bytes.begin() + std::min(size, start + 16384), '\0');
    copies.push_back({"zeroed_at_" + std::to_string(start) + ".pst", bytes});
  }
  int64_t lost_somewhere = 0;
  for (const damaged& copy : copies) {
    SCOPED_TRACE(copy.name);
    tree.write(copy.name, copy.bytes);
    if (copy.extend_to) {
      ASSERT_TRUE(g_platform.truncate_file(tree.path(copy.name), copy.extend_to));
    }
    collected walk = collect(tree.path(copy.name), true);
    if (!walk.result.opened) {
      EXPECT_FALSE(walk.result.reason.empty());
      EXPECT_TRUE(walk.items.empty());
    }
    for (const std::string& reason : walk.reasons) EXPECT_FALSE(reason.empty());
    EXPECT_EQ(walk.result.failures, static_cast<int64_t>(walk.reasons.size()));
    if (!walk.result.opened || walk.result.failures > 0) ++lost_somewhere;
    tree.remove(copy.name);
  }
  EXPECT_GT(lost_somewhere, 4) << "the damage went unnoticed";
}

TEST(outlook_file, header_block_of_a_message_without_internet_headers) {
  outlook_item item;
  item.sender_name = "Ann Lee";
  item.sender_address = "ann@example.com";
  item.recipients = {{outlook_recipient_type::to, "Bo", "bo@example.com"},
                     {outlook_recipient_type::cc, "", "cy@example.com"},
                     {outlook_recipient_type::to, "Di Wu", "di@example.com"},
                     {outlook_recipient_type::bcc, "Ed", ""}};
  item.has_date = true;
  item.date_seconds = 1268673125;  // 15 March 2010 17:12:05 UTC
  item.subject = "Two\nlines";
  item.message_id = "<1@example.com>";
  item.body = "Hello\n";
  EXPECT_EQ(outlook_header_block(item),
            "From: Ann Lee <ann@example.com>\n"
            "To: Bo <bo@example.com>, Di Wu <di@example.com>\n"
            "Cc: <cy@example.com>\n"
            "Bcc: Ed\n"
            "Date: Mon, 15 Mar 2010 17:12:05 +0000\n"
            "Subject: Two lines\n"
            "Message-ID: <1@example.com>\n"
            "\n"
            "Hello\n");
  EXPECT_EQ(outlook_header_block(outlook_item{}), "\n");
  EXPECT_EQ(outlook_path_part("a/b"), "a//b");
}
