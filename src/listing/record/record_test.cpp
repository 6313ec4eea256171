#include "listing/record/record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>

#include "listing/eml_program.h"
#include "platform/platform.h"
#include "settings/run_settings.h"
#include "test_util.h"

namespace {

struct record_case {
  const char* label;
  std::string path;
  std::string to;
  std::string subject;
  char delimiter = '|';
  bool quoted = false;
  bool digests = false;
  bool on_terminal = false;
};

// A file's fields as a scan leaves them; new for each record, since the quoted
// form doubles the quotes in place.
std::unique_ptr<message_fields> fields_of(const record_case& c) {
  auto fields = std::make_unique<message_fields>();
  reset_message_fields(*fields);
  fields->from.text.assign("(#1:) From: Ann Lee  ");
  fields->to.text.assign(c.to);
  fields->subject.text.assign(c.subject);
  fields->date.text.assign("(#1:) Date: Mon, 12 Mar 2012 14:05:33 -0400  ");
  fields->date_time.year = 2012;
  fields->date_time.month = 3;
  fields->date_time.day = 12;
  fields->date_time.time_text.assign("14:05:33 \"-0400\"");
  return fields;
}

file_hashes hashes_of(const record_case& c) {
  file_hashes hashes;
  choose_hash_columns(hashes, c.digests, false, c.digests);
  for (std::size_t i = 0; i < hashes.count; ++i) hashes.texts[i].assign("0123456789abcdef");
  return hashes;
}

// One record by `writer`, to `stream` or, when `held` is set, into it.
void write_one_record(record_writer& writer, std::FILE* stream, std::string* held,
                      const record_case& c) {
  writer.held = held;
  auto fields = fields_of(c);
  file_hashes hashes = hashes_of(c);
  file_dates dates;
  dates.write_time = calendar_time{.year = 2012, .month = 3, .day = 12, .hour = 14, .minute = 7};
  scan_options options;
  options.delimiter = c.delimiter;
  options.quoted = c.quoted;
  options.md5 = options.sha256 = c.digests;
  message_place place;
  write_record_prefix(writer, stream, options, c.path, 123456, dates);
  write_record_end(writer, stream, options, {fields.get(), &place, &hashes});
  writer.held = nullptr;
}

}  // namespace

// A scanner's record waits in a string for the writer; it must be the bytes the
// stream would have got, whatever the record holds.
TEST(listing_record, a_held_record_is_the_bytes_the_stream_gets) {
  const record_case cases[] = {
      {"short", "/m/a.eml", "(#1:) To: Bob Roe  ", "(#1:) Subject: Hello  "},
      // Fields far past the writer's own buffer go around it.
      {"wide", "/m/wide.eml", std::string(20000, 't'), std::string(k_field_capacity, 's')},
      {"quoted", "/m/q\"x.eml", "(#1:) To: \"Bob\"  ", "(#1:) Subject: say \"hi\"  ", ',', true},
      {"other delimiter", "/m/q\"x.eml", "", "(#1:) Subject: \"hi\"  ", ';', true},
      {"line ends in the name", "/m/new\nline\r.eml", "", "", '|', false},
      {"digests", "/m/a.eml", "", "(#1:) Subject: Hello  ", '|', false, true},
      {"terminal", "/m/term\x1b.eml", "(#1:) To: \x1b[31mred  ", "(#1:) Subject: \x07  ", '|',
       false, false, true},
  };
  temp_tree tree;
  scoped_platform swap;
  static bool s_terminal;
  g_platform.is_terminal = [](std::FILE*) { return s_terminal; };
  auto writer = std::make_unique<record_writer>();
  // The held record's stream is only asked whether it is a terminal. Streams
  // take turns, so that no answer about an earlier stream is reused.
  std::FILE* unused = g_platform.open_stream(tree.path("unused.txt"), "w");
  ASSERT_NE(unused, nullptr);
  for (const record_case& c : cases) {
    SCOPED_TRACE(c.label);
    s_terminal = c.on_terminal;
    std::string held;
    write_one_record(*writer, unused, &held, c);
    std::FILE* stream = g_platform.open_stream(tree.path("record.txt"), "wb");
    ASSERT_NE(stream, nullptr);
    write_one_record(*writer, stream, nullptr, c);
    std::fclose(stream);
    std::string written = tree.read("record.txt");
    EXPECT_EQ(held, written);
    EXPECT_EQ(held.find('\n', 1), std::string::npos) << "one line per record";
    if (c.on_terminal) {
      EXPECT_EQ(held.find('\x1b'), std::string::npos) << "shown as '?'";
    }
  }
  std::fclose(unused);
  EXPECT_EQ(tree.read("unused.txt"), "");
  create_run_settings();
}

// Each row of the column table is one column of both writers, in table order,
// present when its options say: the header line names it, a JSON record has its
// member, and a delimited record one field for it.
TEST(listing_record, each_row_of_the_column_table_is_one_column_of_both_writers) {
  // Wine may call any stream a terminal; this test is about the columns.
  scoped_platform swap;
  g_platform.is_terminal = [](std::FILE*) { return false; };
  temp_tree tree;
  std::FILE* unused = g_platform.open_stream(tree.path("unused.txt"), "w");
  ASSERT_NE(unused, nullptr);
  for (bool all : {false, true}) {
    SCOPED_TRACE(all ? "every optional column" : "no optional column");
    scan_options options;
    options.mailbox = options.outlook = options.message_id = options.sent_utc = all;
    options.md5 = options.sha1 = options.sha256 = all;
    std::string header = "Filename|Size|File-(MOD)Date";
    std::string members = "file size modified";
    std::size_t columns = 3;
    for (const field_column& column : k_field_columns) {
      if (!column_present(column, options)) continue;
      header.append("|").append(column.name);
      members.append(" ").append(column.json_member);
      ++columns;
    }
    auto writer = std::make_unique<record_writer>();
    std::string held;
    writer->held = &held;
    std::string written_header;
    static std::string* s_header;
    s_header = &written_header;
    write_listing_header(unused, options,
                         [](std::FILE*, std::string_view text) { s_header->append(text); });
    EXPECT_EQ(written_header, header);
    auto fields = std::make_unique<message_fields>();
    reset_message_fields(*fields);
    file_hashes hashes;
    choose_hash_columns(hashes, options.md5, options.sha1, options.sha256);
    message_place place;
    file_dates dates;
    for (bool json : {false, true}) {
      options.json = json;
      choose_record_form(options);
      held.clear();
      write_record_prefix(*writer, unused, options, "/m/a.eml", 1, dates);
      write_record_end(*writer, unused, options, {fields.get(), &place, &hashes});
      if (!json) {
        EXPECT_EQ(static_cast<std::size_t>(std::count(held.begin(), held.end(), '|')),
                  columns - 1);
        continue;
      }
      std::string seen;
      // The members stand at the top level, each after '{' or ',' outside strings
      // and arrays.
      int depth = 0;
      bool in_string = false;
      for (std::size_t i = 0; i < held.size(); ++i) {
        char c = held[i];
        if (in_string) {
          if (c == '\\') ++i;
          else if (c == '"') in_string = false;
          continue;
        }
        if (c == '[' || c == '{') ++depth;
        if (c == ']' || c == '}') --depth;
        if (c == '"') {
          bool member = depth == 1 && (held[i - 1] == '{' || held[i - 1] == ',');
          std::size_t end = held.find('"', i + 1);
          if (member) seen.append(seen.empty() ? "" : " ").append(held, i + 1, end - i - 1);
          in_string = !member;
          if (member) i = end;
        }
      }
      EXPECT_EQ(seen, members);
    }
  }
  std::fclose(unused);
}
