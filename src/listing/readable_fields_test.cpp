#include "listing/readable_fields.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "listing/record.h"
#include "listing/record_json.h"

namespace {

std::string joined(const std::vector<field_entry>& entries) {
  std::string out;
  for (const field_entry& e : entries) {
    out.append(e.head);
    out.append(e.text);
    out.append(e.padding);
  }
  return out;
}

std::vector<field_entry> entries_of(std::string_view field) {
  std::vector<field_entry> out;
  for_each_entry(field, [&](const field_entry& e) { out.push_back(e); });
  return out;
}

}  // namespace

TEST(readable_fields, a_field_splits_into_its_entries_and_joins_back_whole) {
  struct split_case {
    const char* field;
    std::vector<std::string> labels;
    std::vector<std::string> texts;
  } cases[] = {
      {"", {}, {}},
      {"(#1:) From: a  ", {"1"}, {"From: a"}},
      {"(#1:) From: a  (#body:) From: b  (#3:) From: c  ", {"1", "body", "3"},
       {"From: a", "From: b", "From: c"}},
      // Text that looks like a head without its padding before it stays text.
      {"(#1:) Subject: see (#2:) here  ", {"1"}, {"Subject: see (#2:) here"}},
      {"(#1:)   (#2:) x  ", {"1", "2"}, {"", "x"}},
      // A field cut at its cap ends without padding, even inside a head.
      {"(#1:) To: a  (#2:) To: b", {"1", "2"}, {"To: a", "To: b"}},
      {"(#1:) To: a  (#2", {"1"}, {"To: a  (#2"}},
      {" Unknown  ", {""}, {" Unknown"}},
      {"(#1:)  YES ", {"1"}, {" YES "}},
      {"(#12:) x  (#x:) y  ", {"12"}, {"x  (#x:) y"}},
  };
  for (const split_case& c : cases) {
    std::vector<field_entry> entries = entries_of(c.field);
    ASSERT_EQ(entries.size(), c.labels.size()) << c.field;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(entries[i].label, c.labels[i]) << c.field;
      EXPECT_EQ(entries[i].text, c.texts[i]) << c.field;
    }
    EXPECT_EQ(joined(entries), c.field);
  }
}

TEST(readable_fields, json_strings_escape_what_rfc_8259_asks_and_every_control) {
  struct escape_case {
    std::string text;
    std::string json;
  } cases[] = {
      {"plain", "\"plain\""},
      {"a \"quote\" and \\", "\"a \\\"quote\\\" and \\\\\""},
      {std::string("\x01\t\n\x1f\x7f", 5), "\"\\u0001\\u0009\\u000a\\u001f\\u007f\""},
      {"caf\xC3\xA9 \xE2\x82\xAC", "\"caf\xC3\xA9 \xE2\x82\xAC\""},
      // C1 controls, which a terminal may act on, as escapes too.
      {"\xC2\x9B" "2J \xC2\xA0", "\"\\u009b2J \xC2\xA0\""},
      {"/", "\"/\""},
  };
  for (const escape_case& c : cases) {
    std::string out;
    append_json_string(out, c.text);
    EXPECT_EQ(out, c.json) << c.text;
  }
}

TEST(readable_fields, sent_utc_is_written_from_the_whole_date_header) {
  struct sent_case {
    const char* sent_text;
    const char* utc;  // empty: none
  } cases[] = {
      {" Tue, 2 Jan 2024 23:30:00 -0500", "2024-01-03T04:30:00Z"},
      {" Mon, 1 Jan 2024 00:10 +0130", "2023-12-31T22:40:00Z"},
      {" Fri, 1 Mar 2024 01:00:00 PDT", "2024-03-01T08:00:00Z"},
      {" Fri, 1 Mar 2024", ""},
      {"", ""},
  };
  for (const sent_case& c : cases) {
    parsed_date date;
    date.sent_text.assign(c.sent_text);
    std::string out;
    EXPECT_EQ(append_sent_utc(out, date), *c.utc != '\0') << c.sent_text;
    EXPECT_EQ(out, c.utc) << c.sent_text;
  }
}

TEST(readable_fields, decoding_keeps_heads_and_padding_and_cuts_between_characters) {
  auto fields = std::make_unique<message_fields>();
  reset_message_fields(*fields);
  fields->subject.assign("(#1:) Subject: =?UTF-8?Q?caf=C3=A9?=  (#2:) Subject: plain  ");
  fields->from.assign("(#1:) From: J=?x?");
  fields->recent_ip.assign("(#1:) [10.0.0.\xE9]  ");
  // A full field whose every byte becomes two: the cut falls between characters.
  fields->charset.assign("iso-8859-1");
  fields->to.assign("(#1:) " + std::string(field_text::capacity - 6, '\xE9'));
  std::string work;
  readable_work decoding;
  make_fields_readable(*fields, work, decoding);
  EXPECT_EQ(fields->subject.view(), "(#1:) Subject: caf\xC3\xA9  (#2:) Subject: plain  ");
  EXPECT_EQ(fields->from.view(), "(#1:) From: J=?x?");
  EXPECT_EQ(fields->recent_ip.view(), "(#1:) [10.0.0.\xEF\xBF\xBD]  ");
  EXPECT_EQ(fields->message_read.view(), " Unknown  ");
  std::string_view to = fields->to.view();
  ASSERT_TRUE(to.starts_with("(#1:) \xC3\xA9\xC3\xA9"));
  EXPECT_EQ((to.size() - 6) % 2, 0u) << to.size();
  EXPECT_GE(to.size(), field_text::capacity - 1);
  EXPECT_EQ(to.find_first_not_of("\xC3\xA9", 6), std::string_view::npos);
}
