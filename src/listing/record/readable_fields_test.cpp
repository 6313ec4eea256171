#include "listing/record/readable_fields.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "listing/record/columns.h"
#include "listing/record/record_json.h"

namespace {

struct seen_entry {
  bool numbered;
  int32_t number;
  std::string text;
};

std::vector<seen_entry> entries_of(entries_view field) {
  std::vector<seen_entry> out;
  std::string joined;
  visit_entries(field, [&](const field_entry& e) {
    out.push_back({e.numbered, e.number, std::string(e.text)});
    joined.append(e.head).append(e.text).append(e.padding);
  });
  EXPECT_EQ(joined, field.text) << "head, text and padding are the field";
  return out;
}

}  // namespace

// Entries are where the scan put them: text that looks like a head is text, and a
// head cut at the field's capacity is text of the entry before it.
TEST(message_fields, entries_are_kept_where_they_were_added) {
  auto field = std::make_unique<entry_field>();
  int counter = 1;
  append_entry(*field, counter, "Subject: see (#7:) here  (#8:) too");
  append_entry_head(*field, counter, true);
  field->text.append("From: b");
  field->text.append("  ");
  std::vector<seen_entry> seen = entries_of(view_of(*field));
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].number, 1);
  EXPECT_EQ(seen[0].text, "Subject: see (#7:) here  (#8:) too");
  EXPECT_EQ(seen[1].number, k_body_entry);
  EXPECT_EQ(seen[1].text, "From: b");
  EXPECT_EQ(counter, 3);

  clear_entries(*field);
  field->text.append(std::string(field_text::capacity - 6, 'x'));
  field->text.append("  ");
  append_entry(*field, counter, "To: c");
  seen = entries_of(view_of(*field));
  ASSERT_EQ(seen.size(), 1u) << "a head that does not fit whole starts no entry";
  EXPECT_FALSE(seen[0].numbered);
  EXPECT_TRUE(seen[0].text.ends_with("x  (#3:"));
  EXPECT_EQ(counter, 4) << "the count goes on";

  auto fields = std::make_unique<message_fields>();
  reset_message_fields(*fields);
  seen = entries_of(view_of(fields->message_read));
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_FALSE(seen[0].numbered) << "the start value has no head";
  EXPECT_EQ(seen[0].text, " Unknown");
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
    cell_room out;
    EXPECT_EQ(sent_utc_text(date, out), *c.utc != '\0') << c.sent_text;
    EXPECT_EQ(out.view(), c.utc) << c.sent_text;
  }
}

TEST(readable_fields, decoding_keeps_heads_and_padding_and_cuts_between_characters) {
  auto fields = std::make_unique<message_fields>();
  reset_message_fields(*fields);
  int counter = 1;
  append_entry(fields->subject, counter, "Subject: =?UTF-8?Q?caf=C3=A9?=");
  append_entry(fields->subject, counter, "Subject: plain");
  counter = 1;
  append_entry_head(fields->from, counter, false);
  fields->from.text.append("From: J=?x?");
  counter = 1;
  append_entry(fields->recent_ip, counter, "[10.0.0.\xE9]");
  // A full field whose every byte becomes two: the cut falls between characters.
  counter = 1;
  append_entry_head(fields->to, counter, false);
  fields->to.text.append(std::string(field_text::capacity - 6, '\xE9'));
  std::string_view charset = "iso-8859-1";
  auto room = std::make_unique<readable_entries>();
  readable_work decoding;
  auto shown = [&](const entry_field& field, readable_form form) {
    return std::string(readable_entries_of(field, form, charset, *room, decoding).text);
  };
  EXPECT_EQ(shown(fields->subject, readable_form::decoded),
            "(#1:) Subject: caf\xC3\xA9  (#2:) Subject: plain  ");
  EXPECT_EQ(fields->subject.view(), "(#1:) Subject: =?UTF-8?Q?caf=C3=A9?=  (#2:) Subject: plain  ")
      << "the message's own field stays";
  EXPECT_EQ(entries_of(readable_entries_of(fields->subject, readable_form::decoded, charset, *room,
                                           decoding))
                .size(),
            2u);
  EXPECT_EQ(shown(fields->from, readable_form::decoded), "(#1:) From: J=?x?");
  EXPECT_EQ(shown(fields->recent_ip, readable_form::made_valid), "(#1:) [10.0.0.\xEF\xBF\xBD]  ");
  EXPECT_EQ(shown(fields->message_read, readable_form::made_valid), " Unknown  ");
  std::string to = shown(fields->to, readable_form::decoded);
  ASSERT_TRUE(to.starts_with("(#1:) \xC3\xA9\xC3\xA9"));
  EXPECT_EQ((to.size() - 6) % 2, 0u) << to.size();
  EXPECT_GE(to.size(), field_text::capacity - 1);
  EXPECT_EQ(to.find_first_not_of("\xC3\xA9", 6), std::string_view::npos);
  std::string text_room;
  EXPECT_EQ(readable_text_of("<a\xE9\xE9@b>", 6, text_room), "<a\xEF\xBF\xBD");
}
