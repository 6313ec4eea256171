// Hostile trees and files: collections copied from other machines and mail from
// anyone. Each case gives one well-formed record per file, or is skipped as the
// rules say, and the run ends with its proper status.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "discovery/walk.h"
#include "listing/eml_program.h"
#include "listing/scanners/scanners.h"
#include "platform/platform.h"
#include "settings/path_lists.h"
#include "settings/run_settings.h"
#include "test_util.h"

#ifndef _WIN32
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

constexpr std::size_t k_fields = 14;

std::size_t field_count(const std::string& record, char delimiter = '|') {
  std::size_t n = 1;
  for (char c : record) n += c == delimiter;
  return n;
}

// Every record has the 14 fields of the header line.
void expect_whole_records(const std::string& listing, std::size_t expected) {
  std::vector<std::string> all = listing_records(listing);
  ASSERT_EQ(all.size(), expected) << listing.substr(0, 2000);
  for (const std::string& record : all) {
    EXPECT_EQ(field_count(record), k_fields) << record.substr(0, 500);
  }
}

// Deletes the file before the real call, as another process might between the
// walk and the scan.
platform_table s_real;
const temp_tree* s_tree = nullptr;

bool lookup_after_deletion(const std::string& path, dir_entry& entry) {
  if (path.find("gone") != std::string::npos) s_tree->remove("m/gone.eml");
  return s_real.lookup_file(path, entry);
}

read_handle open_after_deletion(const std::string& path) {
  if (path.find("gone") != std::string::npos) s_tree->remove("m/gone.eml");
  return s_real.open_for_reading(path);
}

read_handle open_and_look_up_after_deletion(const std::string& path, dir_entry& entry) {
  if (path.find("gone") != std::string::npos) s_tree->remove("m/gone.eml");
  return s_real.open_and_look_up(path, entry);
}

// An open that fails for a file still there hands it to the look-up by name.
read_handle open_and_look_up_failing(const std::string&, dir_entry&) { return k_no_file; }

// Walks the tree's "m" directory in-process and returns the listing it wrote.
std::string walk_in_process(const temp_tree& tree) {
  create_run_settings();
  clear_path_lists();
  g_settings->recurse = 1;
  add_filetype("*.*");
  std::FILE* out = std::tmpfile();
  g_out_file = out;
  g_file_count = 0;
  const file_sink to_listing = {.make_room_to_open = make_room_to_open,
                                .take_file = list_selected_file};
  walk_directory(tree.path("m") + k_path_separator, selecting_visitor(to_listing));
  std::rewind(out);
  std::string listing;
  int c;
  while ((c = std::fgetc(out)) != EOF) listing += static_cast<char>(c);
  std::fclose(out);
  g_out_file = stdout;
  return listing;
}

}  // namespace

TEST(hostile_files, a_file_deleted_between_walk_and_scan_is_skipped_or_listed_whole) {
  scoped_platform swap;
  s_real = g_platform;
  enum class gone { at_first_open, at_look_up, at_open };
  for (gone when : {gone::at_first_open, gone::at_look_up, gone::at_open}) {
    bool at_open = when == gone::at_open;
    temp_tree tree;
    s_tree = &tree;
    tree.write("m/gone.eml", "Subject: never read\n");
    tree.write("m/kept.eml", "Subject: kept\n");
    g_platform = s_real;
    if (when == gone::at_first_open) {
      g_platform.open_and_look_up = open_and_look_up_after_deletion;
    } else {
      g_platform.open_and_look_up = open_and_look_up_failing;
      if (at_open) {
        g_platform.open_for_reading = open_after_deletion;
      } else {
        g_platform.lookup_file = lookup_after_deletion;
      }
    }
    std::string listing = walk_in_process(tree);
    EXPECT_NE(listing.find("(#1:) Subject: kept  "), std::string::npos) << listing;
    EXPECT_EQ(listing.find("never read"), std::string::npos) << listing;
    // Gone before its look-up: skipped. Gone after it: its record is whole, from
    // the start values.
    std::string gone = "\n";
    gone += tree.path("m/gone.eml") + "|";
    EXPECT_EQ(listing.find(gone) != std::string::npos, at_open) << listing;
    if (at_open) {
      std::size_t at = listing.find(gone);
      std::string record = listing.substr(at + 1, listing.find('\n', at + 1) - at - 1);
      EXPECT_EQ(field_count(record), k_fields) << record;
      EXPECT_NE(record.find("|'0000-00-00 ||| Unknown  ||"), std::string::npos) << record;
    }
  }
}

TEST(hostile_files, awkward_contents_give_one_whole_record_each) {
  temp_tree tree;
  const std::vector<odd_file> rows = awkward_message_files();
  for (const odd_file& r : rows) tree.write("m/" + r.name, r.content);
  run_result r = run_mailsift({tree.path("m")});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_FALSE(r.timed_out);
  expect_whole_records(r.out, rows.size());
  EXPECT_EQ(r.out.find('\0'), std::string::npos) << "a NUL byte reached the listing";
  // The field keeps what fits; the line after the long one is still read.
  EXPECT_NE(r.out.find("(#1:) Subject: " + std::string(100, 'x')), std::string::npos);
  EXPECT_NE(r.out.find("(#1:) To: later@example.org  "), std::string::npos);
  EXPECT_NE(r.out.find("(#1:) Subject: after  "), std::string::npos);
  EXPECT_NE(r.out.find("(#1:) Subject: after the mark  "), std::string::npos);
  EXPECT_NE(r.out.find("(#1:) Subject: after 40 KB  "), std::string::npos);
  EXPECT_NE(r.out.find("(#1:) Subject: after 70 KB  "), std::string::npos);
}

#ifndef _WIN32
TEST(hostile_trees, awkward_names_are_listed_once_each) {
  temp_tree tree;
  const std::vector<std::string> names = awkward_file_names();
  for (const std::string& name : names) tree.write("m/" + name, "Subject: named\n");
  for (const char* delimiter : {",", "|"}) {
    run_result r = run_mailsift({tree.path("m"), "-d", delimiter});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> got = listing_records(r.out);
    ASSERT_EQ(got.size(), names.size()) << r.out;
    bool quoted = delimiter[0] == ',';
    for (const std::string& name : names) {
      // Line ends in a name are shown as '?' so the record stays on one line.
      std::string shown;
      for (char c : tree.path("m/" + name)) {
        if (c == '\n' || c == '\r') c = '?';
        if (c == '"' && quoted) shown += '"';
        shown += c;
      }
      std::string start = quoted ? "\n\"" + shown + "\"," : "\n" + shown + "|";
      EXPECT_NE(r.out.find(start), std::string::npos) << name;
    }
  }
}

TEST(hostile_trees, a_tree_200_levels_deep_is_walked_to_the_bottom) {
  temp_tree tree;
  std::string path = "top";
  for (int level = 1; level < 200; ++level) path += "/d" + std::to_string(level);
  tree.write(path + "/deep.eml", "Subject: at the bottom\n");
  tree.write("top/shallow.eml", "Subject: at the top\n");
  run_result r = run_mailsift({tree.path("top"), "-o", tree.path("list.txt")});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string listing = normalise_line_ends(tree.read("list.txt"));
  expect_whole_records(listing, 2);
  EXPECT_EQ(listing.find("\n" + tree.path(path + "/deep.eml") + "|"), listing.find('\n'));
  EXPECT_NE(r.err.find("  199 directories, 2 files\n"), std::string::npos) << r.err;
}

TEST(hostile_faults, a_run_log_in_a_read_only_directory_does_not_cost_the_listing) {
  if (std::string why = why_no_unprivileged_runs(); !why.empty()) GTEST_SKIP() << why;
  temp_tree tree;
  tree.write("m/a.eml", "Subject: kept\n");
  tree.make_dir("locked");
  tree.make_dir("out");
  chmod(tree.root().c_str(), 0755);
  chmod(tree.path("locked").c_str(), 0555);
  chmod(tree.path("out").c_str(), 0777);
  run_options options;
  options.unprivileged = true;
  options.cwd = tree.root();
  run_result r = run_mailsift(
      {tree.path("m"), "-1", tree.path("locked/run.log"), "-o", tree.path("out/list.txt")},
      options);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.out.find("\nAccounting file not opened\n"), std::string::npos) << r.out;
  EXPECT_NE(tree.read("out/list.txt").find("(#1:) Subject: kept  "), std::string::npos);
}

// A 2 GB mbox, mostly a hole of zeros, with messages at both ends: the scan keeps
// its memory constant and still reaches the far end.
TEST(hostile_files, a_2_gb_mbox_is_scanned_in_constant_memory) {
  temp_tree tree;
  tree.write("m/huge.mbox", "From: first@example.org\nSubject: at the start\n");
  const int64_t size = 2LL * 1024 * 1024 * 1024;
  const std::string tail = "\nFrom: last@example.org\nSubject: at the end\n";
  ASSERT_EQ(truncate(tree.path("m/huge.mbox").c_str(), size - static_cast<int64_t>(tail.size())),
            0);
  FILE* f = fopen(tree.path("m/huge.mbox").c_str(), "ab");
  ASSERT_NE(f, nullptr);
  fwrite(tail.data(), 1, tail.size(), f);
  fclose(f);
  tree.write("s/small.eml", "From: first@example.org\nSubject: small\n");
  // A child's peak counts the test process it was forked from as well, so the
  // run of a small file is the measure the large one is held to.
  run_result small = run_mailsift({tree.path("s")});
  run_result r = run_mailsift({tree.path("m")});
  ASSERT_EQ(r.status, 0) << r.err;
  expect_whole_records(r.out, 1);
  EXPECT_NE(r.out.find("(#1:) Subject: at the start  (#2:) Subject: at the end  "),
            std::string::npos);
  EXPECT_NE(r.out.find("|2147483648|"), std::string::npos);
  ASSERT_GT(r.peak_rss_kb, 0);
  ASSERT_GT(small.peak_rss_kb, 0);
  EXPECT_LT(r.peak_rss_kb - small.peak_rss_kb, 8 * 1024) << "peak resident memory in KB";
#ifndef __SANITIZE_ADDRESS__
  // The sanitizers' own memory makes the test process itself near this size.
  EXPECT_LT(r.peak_rss_kb, 32 * 1024) << "peak resident memory in KB";
#endif
  RecordProperty("peak_rss_kb", static_cast<int>(r.peak_rss_kb));
}

// SIGINT or SIGTERM in the middle of a large run: every record in the output file is
// whole, and the run log has its trailer with the reason.
TEST(hostile_faults, an_interrupt_or_terminate_leaves_whole_records_and_a_log_trailer) {
  for (bool terminate : {false, true}) {
    temp_tree tree;
    for (int d = 0; d < 20; ++d) {
      for (int f = 0; f < 200; ++f) {
        tree.write("m/d" + std::to_string(d) + "/message-" + std::to_string(f) + ".eml",
                   "From: someone@example.com\nTo: other@example.com\nSubject: signal " +
                       std::to_string(f) + "\n\nbody text\n");
      }
    }
    spawned_program program =
        start_mailsift({tree.path("m"), "-o", tree.path("list.txt"), "-1", tree.path("run.log")});
    struct pollfd fds[1] = {{program.err_fd, POLLIN, 0}};
    ASSERT_GT(poll(fds, 1, 30000), 0) << "no progress from the program";
    if (terminate) {
      send_terminate(program);
    } else {
      send_interrupt(program);
    }
    run_result r = wait_for(program);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 2) << r.err;
    std::string listing = normalise_line_ends(tree.read("list.txt"));
    std::vector<std::string> all = listing_records(listing);
    EXPECT_LT(all.size(), 4000u);
    for (const std::string& record : all) {
      EXPECT_EQ(field_count(record), k_fields) << record;
      EXPECT_NE(record.find("(#1:) Subject: signal"), std::string::npos) << record;
    }
    std::string log = normalise_line_ends(tree.read("run.log"));
    EXPECT_NE(log.find("\n Abnormal termination. Reason: USER_ABORTED"), std::string::npos) << log;
    EXPECT_NE(log.find("  Finished: "), std::string::npos) << log;
  }
}
#endif
