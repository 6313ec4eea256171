#include "listing/record/record.h"

#include <gtest/gtest.h>

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
  fields->from.assign("(#1:) From: Ann Lee  ");
  fields->to.assign(c.to);
  fields->subject.assign(c.subject);
  fields->date.assign("(#1:) Date: Mon, 12 Mar 2012 14:05:33 -0400  ");
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
  write_record_prefix(writer, stream, c.path, 123456, dates);
  write_record_end(writer, stream, *fields, hashes);
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
    create_run_settings();
    g_delimiter = c.delimiter;
    g_settings->quote_fields = c.quoted;
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
