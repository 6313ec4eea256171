#include "listing/new_do_eml.h"

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
#include "listing/settled_options.h"
#include "settings/run_settings.h"
#include "test_util.h"

TEST(listing_record, display_name_drops_the_long_path_prefix_only) {
  struct {
    std::string_view path;
    std::string_view shown;
  } cases[] = {
      {"\\\\?\\C:\\mail\\a.eml", "C:\\mail\\a.eml"},
      {"\\\\?\\UNC\\srv\\a.eml", "UNC\\srv\\a.eml"},
      {"/home/ann/mail/a.eml", "/home/ann/mail/a.eml"},
      {"C:\\a.eml", "C:\\a.eml"},
      {"\\\\?\\\\?x", "\\\\?\\\\?x"},
      {"?\\", "?\\"},
      {"", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(display_name(c.path), c.shown) << c.path;
}

namespace {

struct listing_run {
  char delimiter = '|';
  bool quoted = false;
  int64_t size = 2048;   // the size the file was found to have
  bool digests = false;  // MD5, SHA-1 and SHA-256 columns
};

// Runs scan_message on one file with the listing going to a file, and returns
// the listing (line ends as "\n").
std::string listing_of(const temp_tree& tree, const std::string& message_path,
                       const listing_run& run) {
  create_run_settings();
  g_delimiter = run.delimiter;
  g_settings->quote_fields = run.quoted;
  g_settings->hash = g_settings->sha1 = g_settings->sha2 = run.digests;
  std::FILE* saved = g_out_file;
  g_out_file = g_platform.open_stream(tree.path("listing.txt"), "w");
  EXPECT_NE(g_out_file, nullptr);
  if (!g_out_file) return "";
  file_dates dates;
  dates.write_time = {.year = 2012, .month = 3, .day = 12, .hour = 14, .minute = 7};
  settle_scan_options();
  write_listing_header(g_out_file, settled_scan_options());
  scan_message(message_path, run.size, dates);
  std::fclose(g_out_file);
  g_out_file = saved;
  create_run_settings();
  settle_scan_options();
  return normalise_line_ends(tree.read("listing.txt"));
}

const char* const k_example_lines[] = {"Received: from mx (mx [10.0.0.1])",
                                       "\tby mx.example.com",
                                       "From: Ann Lee",
                                       "To: Bob Roe",
                                       "Date: Mon, 12 Mar 2012 14:05:33 -0400",
                                       "Subject: Hello",
                                       "X-Mozilla-Status: 0001"};

const char k_plain_header[] =
    "Filename|Size|File-(MOD)Date|From|To|CC|Bcc|Date|Date-Time|Forward Date|Subject|"
    "Message Read|Attachment Info|Recent IP";

}  // namespace

TEST(listing_record, the_progress_line_comes_out_whole_for_names_of_any_length) {
  temp_tree tree;
  for (std::size_t length :
       {std::size_t{1}, std::size_t{4060}, std::size_t{4100}, k_field_capacity}) {
    // The file need not exist: its record and progress line are written anyway.
    std::string path = "/nowhere/" + std::string(length, 'n') + ".eml";
    testing::internal::CaptureStderr();
    listing_of(tree, path, {});
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "\n" + path + "         2,048 Bytes")
        << length;
  }
}

TEST(listing_record, the_example_record_comes_out_byte_for_byte) {
  temp_tree tree;
  for (const char* line_end : {"\n", "\r\n"}) {
    std::string content;
    for (const char* line : k_example_lines) content += std::string(line) + line_end;
    tree.write("a.eml", content);
    std::string expected = std::string(k_plain_header) + std::string("\n") + tree.path("a.eml") +
                           "|2048|'2012-03-12 14:07|(#1:) From: Ann Lee  |(#1:) To: Bob Roe  |||"
                           "(#1:) Date: Mon, 12 Mar 2012 14:05:33 -0400  |'2012-03-12 14:05:33 "
                           "-0400||(#1:) Subject: Hello  |(#1:)  YES ||(#1:) [10.0.0.1]  ";
    EXPECT_EQ(listing_of(tree, k_long_path_prefix + tree.path("a.eml"), {}), expected);
  }
}

TEST(listing_record, empty_unopenable_and_dateless_files_give_whole_records) {
  temp_tree tree;
  tree.write("empty.eml", "");
  tree.write("nodate.eml", "Subject: s\n");
  tree.make_dir("dir.eml");
  std::string empty = tree.path("empty.eml");
  std::string nodate = tree.path("nodate.eml");
  std::string missing = tree.path("missing.eml");
  std::string dir = tree.path("dir.eml");
  const std::string quoted_header =
      "\"Filename\",\"Size\",\"File-(MOD)Date\",\"From\",\"To\",\"CC\",\"Bcc\",\"Date\","
      "\"Date-Time\",\"Forward Date\",\"Subject\",\"Message Read\",\"Attachment Info\","
      "\"Recent IP\"";
  struct {
    std::string path;
    listing_run run;
    std::string expected;
  } cases[] = {
      {empty,
       {},
       std::string("\n") + empty + "|2048|'2012-03-12 14:07||||||'0000-00-00 ||| Unknown  ||"},
      {missing,
       {},
       std::string("\n") + missing + "|2048|'2012-03-12 14:07||||||'0000-00-00 ||| Unknown  ||"},
      {dir,
       {},
       std::string("\n") + dir + "|2048|'2012-03-12 14:07||||||'0000-00-00 ||| Unknown  ||"},
      {nodate,
       {},
       std::string("\n") + nodate +
           "|2048|'2012-03-12 14:07||||||'0000-00-00 ||(#1:) Subject: s  | Unknown  ||"},
      {nodate,
       {',', true},
       std::string("\n\"") + nodate +
           "\",\"2048\",\"'2012-03-12 14:07\",\"\",\"\",\"\",\"\",\"\",\"'   0-00-00 \",\"\","
           "\"(#1:) Subject: s  \",\" Unknown  \",\"\",\"\""},
  };
  for (const auto& c : cases) {
    std::string header = c.run.quoted ? quoted_header : std::string(k_plain_header);
    EXPECT_EQ(listing_of(tree, c.path, c.run), header + c.expected) << c.path;
  }
}

// A quoted field doubles its quotes whatever the delimiter: a reader of the quoted
// form ends a field at a lone quote. Bare fields keep their quotes as they are.
TEST(listing_record, quoted_mode_doubles_quotes_with_any_delimiter) {
  if (k_windows) GTEST_SKIP() << "file names cannot hold a double quote here";
  temp_tree tree;
  tree.write("q\"x.eml", "Subject: say \"hi\"\nDate: 1 Jan 2012 10:00:00 \"Z\"\n");
  std::string path = tree.path("q\"x.eml");
  std::string doubled_path = path;
  for (std::size_t at = doubled_path.find('"'); at != std::string::npos;
       at = doubled_path.find('"', at + 2)) {
    doubled_path.insert(at, "\"");
  }
  auto quoted_record = [&](char d) {
    std::string sep(1, d);
    return std::string("\n\"") + doubled_path + "\"" + sep + "\"2048\"" + sep +
           "\"'2012-03-12 14:07\"" + sep + "\"\"" + sep + "\"\"" + sep + "\"\"" + sep + "\"\"" +
           sep + "\"(#1:) Date: 1 Jan 2012 10:00:00 \"\"Z\"\"  \"" + sep +
           "\"'2012-01-01 10:00:00 \"\"Z\"\"\"" + sep + "\"\"" + sep +
           "\"(#1:) Subject: say \"\"hi\"\"  \"" + sep + "\" Unknown  \"" + sep + "\"\"" + sep +
           "\"\"";
  };
  struct {
    listing_run run;
    std::string record;
  } cases[] = {
      {{',', true}, quoted_record(',')},
      {{';', true}, quoted_record(';')},
      {{'|', true}, quoted_record('|')},
      {{';', false},
       std::string("\n") + path +
           ";2048;'2012-03-12 14:07;;;;;(#1:) Date: 1 Jan 2012 10:00:00 \"Z\"  ;"
           "'2012-01-01 10:00:00 \"Z\";;(#1:) Subject: say \"hi\"  ; Unknown  ;;"},
  };
  for (const auto& c : cases) {
    std::string listing = listing_of(tree, path, c.run);
    std::string record = listing.substr(listing.find('\n'));
    EXPECT_EQ(record, c.record) << c.run.delimiter << c.run.quoted;
  }
}

namespace {

int64_t (*s_real_read)(read_handle, void*, int64_t) = nullptr;
int64_t s_bytes_before_trouble = 0;
int64_t s_trouble = -1;  // what reads give after those bytes: -1 an error, 0 an early end

int64_t read_then_stop(read_handle file, void* buffer, int64_t size) {
  if (s_bytes_before_trouble <= 0) return s_trouble;
  int64_t got = s_real_read(file, buffer, std::min(size, s_bytes_before_trouble));
  if (got > 0) s_bytes_before_trouble -= got;
  return got;
}

}  // namespace

TEST(listing_record, digests_only_of_files_read_to_their_end) {
  temp_tree tree;
  std::string content = "Subject: cut\r\n";
  for (int i = 0; i < 700; ++i) content += std::string(99, 'y') + "\r\n";
  tree.write("m.eml", content);
  const int64_t size = static_cast<int64_t>(content.size());
  const std::string whole =
      "|(#1:) Subject: cut  | Unknown  |||54934347c1c72ccd6b0184d0344f7eaf|"
      "ee75ebe16f635931318a1b8f2410fe20eed1bea2|"
      "cea43fcf71723eab335635a3661f25d68adc798393430ca5c8239f0f024eba68";
  const std::string none = "|(#1:) Subject: cut  | Unknown  |||||";
  struct row {
    const char* what;
    int64_t read_limit;  // bytes per read
    int64_t good_bytes;  // bytes read before the trouble
    int64_t trouble;
    int64_t size;
    std::string tail;
  };
  const row rows[] = {
      {"whole", int64_t{1} << 30, size, 0, size, whole},
      // Three bytes a read: CRs held back at every chunk end are hashed once.
      {"short reads", 3, size, 0, size, whole},
      {"read error after the first chunk", int64_t{1} << 30, 65536, -1, size, none},
      {"cut short after the first chunk", int64_t{1} << 30, 65536, 0, size, none},
      {"found larger than it is", int64_t{1} << 30, size, 0, size + 1, none},
  };
  for (const row& r : rows) {
    scoped_short_reads reads(r.read_limit);
    s_real_read = g_platform.read_bytes;
    g_platform.read_bytes = read_then_stop;
    s_bytes_before_trouble = r.good_bytes;
    s_trouble = r.trouble;
    std::string listing = listing_of(tree, tree.path("m.eml"), {'|', false, r.size, true});
    EXPECT_TRUE(listing.ends_with(r.tail)) << r.what << "\n" << listing;
  }
  // A file that cannot be opened has no digest either.
  std::string listing = listing_of(tree, tree.path("missing.eml"), {'|', false, 0, true});
  EXPECT_TRUE(listing.ends_with("| Unknown  |||||")) << listing;
  EXPECT_TRUE(listing.starts_with(std::string(k_plain_header) + "|MD5|SHA-1|SHA-256\n")) << listing;
}

// Each scan keeps its own reader, fields and record: a second scan between two
// files of the first leaves what the first read alone, and each record is whole.
TEST(message_scan, two_scans_keep_their_own_state) {
  temp_tree tree;
  tree.write("a.eml", "From: Ann Lee\nSubject: one\n");
  tree.write("b.eml", "From: Bob Roe\nSubject: two\n");
  create_run_settings();
  std::FILE* saved = g_out_file;
  g_out_file = g_platform.open_stream(tree.path("listing.txt"), "w");
  ASSERT_NE(g_out_file, nullptr);
  auto first = std::make_unique<message_scan>();
  auto second = std::make_unique<message_scan>();
  file_dates dates;
  for (auto [scan, name] : {std::pair{first.get(), "a.eml"}, std::pair{second.get(), "b.eml"}}) {
    std::string path = tree.path(name);
    read_handle file = g_platform.open_for_reading(path);
    EXPECT_EQ(scan_opened_message(*scan, path, file, 27, dates), stop_reason::go_on) << name;
  }
  std::fclose(g_out_file);
  g_out_file = saved;
  EXPECT_EQ(first->fields.from.view(), "(#1:) From: Ann Lee  ");
  EXPECT_EQ(second->fields.from.view(), "(#1:) From: Bob Roe  ");
  std::string listing = normalise_line_ends(tree.read("listing.txt"));
  std::size_t ann = listing.find("|(#1:) Subject: one  |");
  EXPECT_NE(ann, std::string::npos) << listing;
  EXPECT_NE(listing.find("|(#1:) Subject: two  |", ann), std::string::npos) << listing;
  create_run_settings();
}

// A scan whose pages went back to the system after a wide file lists the next
// file exactly as a scan that never read the wide one.
TEST(listing_record, a_scan_that_gave_back_its_pages_lists_the_next_file_alike) {
  create_run_settings();
  temp_tree tree;
  std::string wide;
  for (int i = 0; i < 3000; ++i) wide += "To: person" + std::to_string(i) + "@example.com\n";
  tree.write("wide.eml", wide + "Subject: wide\n");
  tree.write("small.eml", "From: a@example.com\nTo: b@example.com\nSubject: small\n");
  auto record_of = [&](message_scan& scan, const char* name) {
    std::string record;
    scan.record.held = &record;
    std::string path = tree.path(name);
    int64_t size = 0;
    EXPECT_TRUE(g_platform.file_size(path, size));
    EXPECT_EQ(scan_into_record(scan, path, g_platform.open_for_reading(path), size, file_dates{}),
              scan_result::done);
    return record;
  };
  auto used = std::make_unique_for_overwrite<message_scan>();
  auto fresh = std::make_unique_for_overwrite<message_scan>();
  EXPECT_GT(record_of(*used, "wide.eml").size(), 8000u);
  give_back_scan_pages(*used);
  EXPECT_EQ(record_of(*used, "small.eml"), record_of(*fresh, "small.eml"));
}
