#include "listing/eml_program.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "listing/record/record.h"
#include "listing/settled_options.h"
#include "settings/defaults.h"
#include "settings/run_settings.h"
#include "test_util.h"

namespace {

// Points the listing at a file of the tree for one test; standard output after.
struct listing_to_file {
  explicit listing_to_file(const temp_tree& tree) : saved(g_out_file) {
    g_out_file = g_platform.open_stream(tree.path("listing.txt"), "w");
  }
  ~listing_to_file() {
    if (g_out_file) std::fclose(g_out_file);
    g_out_file = saved;
  }
  std::FILE* saved;
};

}  // namespace

TEST(start_listing, follows_the_settled_settings) {
  temp_tree tree;
  struct {
    int no_count, time_letter_given, time_type, nameafter, nameafter_count;
    int want_counting_pass, want_width, want_nameafter_count;
  } cases[] = {
      {0, 0, 'w', 0, -1, 0, 32, -1}, {1, 0, 'w', 0, -1, 1, 32, -1}, {0, 1, 'a', 0, -1, 0, 29, -1},
      {0, 0, '3', 0, -1, 0, 29, -1}, {0, 1, '3', 0, -1, 0, 29, -1}, {0, 0, 'w', 1, -1, 0, 32, 50},
      {0, 0, 'w', 1, 7, 0, 32, 7},
  };
  for (const auto& c : cases) {
    create_run_settings();
    listing_to_file listing(tree);
    g_settings->width = 32;
    g_settings->no_count = c.no_count;
    g_settings->time_letter_given = c.time_letter_given;
    g_settings->time_type = c.time_type;
    g_settings->nameafter = c.nameafter;
    g_nameafter_count = c.nameafter_count;
    settle_settings();
    start_listing();
    EXPECT_EQ(g_settings->counting_pass, c.want_counting_pass);
    EXPECT_EQ(g_settings->no_count, c.no_count);  // as read: nothing rewrites it
    EXPECT_EQ(g_settings->width, c.want_width);
    EXPECT_EQ(g_nameafter_count, c.want_nameafter_count);
  }
  create_run_settings();
}

TEST(start_listing, writes_the_header_line_without_a_line_end) {
  temp_tree tree;
  struct {
    char delimiter;
    bool quoted;
    std::string header;
  } cases[] = {
      {'|', false,
       "Filename|Size|File-(MOD)Date|From|To|CC|Bcc|Date|Date-Time|Forward Date|Subject|"
       "Message Read|Attachment Info|Recent IP"},
      {'\t', false,
       "Filename\tSize\tFile-(MOD)Date\tFrom\tTo\tCC\tBcc\tDate\tDate-Time\tForward Date\t"
       "Subject\tMessage Read\tAttachment Info\tRecent IP"},
      {';', true,
       "\"Filename\";\"Size\";\"File-(MOD)Date\";\"From\";\"To\";\"CC\";\"Bcc\";\"Date\";"
       "\"Date-Time\";\"Forward Date\";\"Subject\";\"Message Read\";\"Attachment Info\";"
       "\"Recent IP\""},
  };
  for (const auto& c : cases) {
    create_run_settings();
    g_delimiter = c.delimiter;
    g_settings->quote_fields = c.quoted;
    settle_scan_options();
    {
      listing_to_file listing(tree);
      start_listing();
    }
    EXPECT_EQ(tree.read("listing.txt"), c.header);
  }
  create_run_settings();
  settle_scan_options();
}

TEST(open_output_file, creates_or_appends_in_text_mode) {
  temp_tree tree;
  struct {
    bool append;
    std::string after;
  } cases[] = {
      {false, "new\n"},
      {true, "old\nnew\n"},
  };
  for (const auto& c : cases) {
    create_run_settings();
    tree.write("out.txt", "old\n");
    g_output_name = tree.path("out.txt");
    g_settings->output_mode = 1;
    g_settings->append_output = c.append;
    std::FILE* saved = g_out_file;
    open_output_file();
    ASSERT_NE(g_out_file, saved);
    std::fputs("new\n", g_out_file);
    EXPECT_EQ(flush_listing_output(), flush_result::ok);
    EXPECT_FALSE(listing_write_failed());
    std::fclose(g_out_file);
    g_out_file = saved;
    EXPECT_EQ(normalise_line_ends(tree.read("out.txt")), c.after);
  }
  create_run_settings();
}

TEST(open_output_file, leaves_the_listing_on_standard_output_without_a_name) {
  create_run_settings();
  std::FILE* saved = g_out_file;
  g_out_file = stdout;
  open_output_file();
  EXPECT_EQ(g_out_file, stdout);
  g_out_file = saved;
}

// A failed write leaves some prefix of the listing on the disk; the file is cut back
// to the last whole record in it, however many records came before.
TEST(cut_listing_to_whole_records, keeps_only_whole_records_and_counts_them) {
  constexpr int k_records = 10000;                   // more than the record ends kept
  const int64_t record_bytes = k_windows ? 11 : 10;  // "\nabcdefghi", CR LF on Windows
  auto end_of_record = [&](int64_t records) { return 1 + records * record_bytes; };
  struct row {
    int64_t disk_size;
    int64_t want_size;
    int32_t want_files;
    const char* want_message;
  };
  const row rows[] = {
      {end_of_record(9000) + 3, end_of_record(9000), 9000, "holds 9000 records"},
      {end_of_record(9500), end_of_record(9500), 9500, "holds 9500 records"},
      {end_of_record(k_records), end_of_record(k_records), k_records, "holds 10000 records"},
      // Less than stdio could ever have held back: no record end is known there, and
      // nothing is cut or recounted.
      {end_of_record(100) + 5, end_of_record(100) + 5, k_records, "could not be cut back"},
  };
  int32_t saved_files = g_file_count;
  for (const row& r : rows) {
    temp_tree tree;
    create_run_settings();
    g_settings->output_mode = 1;
    g_output_name = tree.path("listing.txt");
    open_output_file();
    write_listing_text(g_out_file, "H");
    note_whole_record();
    for (int i = 0; i < k_records; ++i) {
      write_listing_text(g_out_file, "\nabcdefghi");
      g_file_count = i + 1;
      note_whole_record();
    }
    std::fclose(g_out_file);
    g_out_file = stdout;
    ASSERT_TRUE(g_platform.truncate_file(g_output_name, r.disk_size));
    testing::internal::CaptureStderr();
    cut_listing_to_whole_records();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(r.want_message), std::string::npos) << err;
    int64_t size = -1;
    ASSERT_TRUE(g_platform.file_size(g_output_name, size));
    EXPECT_EQ(size, r.want_size);
    EXPECT_EQ(g_file_count, r.want_files);
  }
  g_file_count = saved_files;
  g_output_name.clear();
  create_run_settings();
}
