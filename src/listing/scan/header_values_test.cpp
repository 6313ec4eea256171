#include "listing/scan/header_values.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <limits>
#include <memory>
#include <string>

#include "listing/record/record.h"
#include "settings/run_settings.h"

namespace {

constexpr std::size_t k_none = std::string_view::npos;

std::unique_ptr<field_text> field_of(std::string_view text) {
  auto field = std::make_unique<field_text>();
  field->assign(text);
  return field;
}

}  // namespace

TEST(find_text, ignores_case_and_never_finds_a_literal_at_the_very_end) {
  struct {
    std::string_view text;
    std::string_view literal;
    std::size_t found;
  } cases[] = {
      {"Attachment:", "Attachment:", k_none},
      {"Attachment: a.doc", "Attachment:", 0},
      {"x attachment: a.doc", "Attachment:", 2},
      {"see Attachment:", "Attachment:", k_none},
      {"see Attachment:.", "Attachment:", 4},
      {"Attach", "Attachment:", k_none},
      {"", "x", k_none},
      // The first match wins, also when an earlier anchor character fails.
      {"a: b=c Mapi-Hasattach: x Mapi-Hasattach: y", "Mapi-Hasattach:", 7},
      {"filename=\"a\" filename=\"b\"", "filename=", 0},
      {"CHARSET=x", "charset", 0},
      {"xcharse charset", "charset", k_none},
      {"xcharse charset;", "charset", 8},
      {"Mapi-Message-Flags: 1 (Read)", "(read", 22},
      {"Flags: 1 (Read", "(read", k_none},
      {"Flags: unread x", " read", k_none},
      {"Flags: 1 read x", " read", 8},
      {"Date: x<br>y", "<BR>", 7},
      {"Date: x<br>", "<BR>", k_none},
      // A literal without ':' or '=' that has several letters to try.
      {"Mon, 12 mar 2012", "Mar", 8},
      {"Mon, 12 Ma", "Mar", k_none},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(find_text(c.text, c.literal), c.found) << c.text << " / " << c.literal;
  }
}

TEST(strip_quote_marks, removes_marks_and_one_space_from_lines_of_ten_or_more) {
  struct {
    std::string_view line;
    std::string_view after;
    bool removed;
  } cases[] = {
      {">>> From: Bob", "From: Bob", true},      {"> short", "> short", false},
      {">12345678", ">12345678", false},         {">123456789", "123456789", true},
      {"*>*> To: a@b", "To: a@b", true},         {">\tFrom: a@b", "From: a@b", true},
      {">  two spaces", " two spaces", true},    {">>>>>>>>>>", "", true},
      {"From: > x y z", "From: > x y z", false},
  };
  for (const auto& c : cases) {
    auto line = field_of(c.line);
    EXPECT_EQ(strip_quote_marks(*line), c.removed) << c.line;
    EXPECT_EQ(line->view(), c.after) << c.line;
  }
}

TEST(append_entry, numbers_each_entry_and_advances_the_counter) {
  auto field = std::make_unique<entry_field>();
  int counter = 1;
  append_entry(*field, counter, "From: a");
  append_entry_head(*field, counter, true);
  field->text.append("From: b");
  append_entry(*field, counter, "From: c");
  EXPECT_EQ(field->view(), "(#1:) From: a  (#body:) From: b(#3:) From: c  ");
  EXPECT_EQ(counter, 4);
  counter = 10;
  clear_entries(*field);
  append_entry(*field, counter, "");
  EXPECT_EQ(field->view(), "(#10:)   ");
}

TEST(append_entry, drops_what_would_pass_the_field_capacity) {
  auto field = std::make_unique<entry_field>();
  field->text.assign(std::string(k_field_capacity - 8, 'x'));
  int counter = 7;
  append_entry(*field, counter, "abcdef");
  EXPECT_EQ(field->text.size(), k_field_capacity);
  EXPECT_EQ(field->view().substr(k_field_capacity - 8), "(#7:) ab");
  EXPECT_EQ(counter, 8);
}

TEST(doubled_quotes, doubles_every_quote) {
  auto work = std::make_unique<field_text>();
  struct {
    std::string_view text;
    std::string_view after;
  } cases[] = {
      {"Subject: \"Hi\" there", "Subject: \"\"Hi\"\" there"},
      {"\"", "\"\""},
      {"no quotes", "no quotes"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(doubled_quotes(c.text, *work), c.after) << c.text;
  }
  // The capacity is odd: the last pair that fits ends one byte short of it.
  std::string full(k_field_capacity - 1, '"');
  EXPECT_EQ(doubled_quotes(full, *work), full);
  // What does not fit is dropped where it would reach beyond the capacity, but
  // never between the two quotes of a pair: a CSV reader would end the field there.
  std::string near_full = std::string(k_field_capacity - 4, 'x') + "a\"b\"c";
  struct {
    std::size_t cut;
    std::string_view tail;
  } cut_cases[] = {{0, "a\"\"b"}, {1, "a\"\"b"}, {2, "a\"\"b\"\""}, {3, "a\"\"b\"\"c"}};
  for (const auto& c : cut_cases) {
    std::string want = near_full.substr(c.cut, k_field_capacity - 4 - c.cut);
    want += c.tail;
    EXPECT_EQ(doubled_quotes(near_full.substr(c.cut), *work), want) << c.cut;
  }
}

TEST(parse_date_line, reads_day_month_year_and_time_in_line_order) {
  struct {
    std::string_view line;
    int year, month, day;
    std::string_view time;
  } cases[] = {
      {"Date: Mon, 12 Mar 2012 14:05:33 -0400", 2012, 3, 12, "14:05:33 -0400"},
      // 07 comes after the day; the year search finds nothing above 1990 and
      // keeps the last number it read.
      {"Date: Tue, 5 Jun 07 09:15:00 +0100", 0, 6, 5, "09:15:00 +0100"},
      {"Date: 12 Mar 99 10:00:00", 1999, 3, 12, "10:00:00"},
      {"Date: Wed, 1 Aug 2012 14:05:33 -0400 (Eastern Daylight Time)", 2012, 8, 1,
       "14:05:33 -0400 (Eas"},
      // A single-digit hour after a skipped number is caught at its space.
      {"Date: Tue, 5 Jun 07 9:15:00", 0, 6, 5, " 9:15:00"},
      // A year after the time is found by the second search.
      {"Sent: Fri Dec 21 11:30:00 2012", 2012, 12, 21, "11:30:00 2012"},
      // 32 is neither a day nor a year, 1900 not a year; a number that is
      // neither is passed over whole, never read again from its second digit.
      {"Date: 32 Jan x", 0, 1, 0, ""},
      {"Date: 7 1900 x", 0, 0, 7, ""},
      {"Date: 7 Jan 1900 10:00:00", 0, 1, 7, "10:00:00"},
      {"Date: 5 Jan 2011 123:45", 2011, 1, 5, ""},
      // A month name that ends the line is not found.
      {"Date: 5 2011 Dec", 2011, 0, 5, ""},
      {"Date: 5 2011 Decx", 2011, 12, 5, ""},
      // The month table's order decides, not the line's; names match in any case.
      {"Date: 5 Dec Jan 2011 x", 2011, 1, 5, ""},
      {"Date: 5 NOV 2011 x", 2011, 11, 5, ""},
      {"Date: 5 sEp 2011 x", 2011, 9, 5, ""},
      {"Date: 5 Ju 2011 x", 2011, 0, 5, ""},
      {"Date:12-2012", 0, 0, 0, ""},
      {"Date: ", 0, 0, 0, ""},
      {"Date: Monday", 0, 0, 0, ""},
  };
  for (const auto& c : cases) {
    parsed_date date;
    parse_date_line(c.line, date);
    EXPECT_EQ(date.year, c.year) << c.line;
    EXPECT_EQ(date.month, c.month) << c.line;
    EXPECT_EQ(date.day, c.day) << c.line;
    EXPECT_EQ(date.time_text.view(), c.time) << c.line;
  }
}

TEST(parse_date_line, never_reads_past_the_end_of_the_line) {
  // The text after the line (in a larger buffer) must not change the result.
  std::string buffer = "Date: 1 Jan 2012 12:33";
  parsed_date date;
  parse_date_line(std::string_view(buffer).substr(0, 19), date);
  EXPECT_EQ(date.day, 1);
  EXPECT_EQ(date.year, 2012);
  EXPECT_EQ(date.time_text.view(), "");
}

// The record's numbers are written without printf; they must read as printf's.
TEST(append_number, writes_what_printf_writes) {
  const long long values[] = {0,
                              1,
                              -1,
                              7,
                              -7,
                              42,
                              -42,
                              9,
                              10,
                              99,
                              100,
                              999,
                              1000,
                              2012,
                              -2012,
                              1980,
                              2147483648,
                              -400,
                              123456789012LL,
                              std::numeric_limits<long long>::min(),
                              std::numeric_limits<long long>::max()};
  for (long long value : values) {
    for (int width : {0, 2, 4, 11}) {
      for (char pad : {' ', '0'}) {
        char expected[64];
        std::snprintf(expected, sizeof expected, pad == '0' ? "%0*lld" : "%*lld", width, value);
        bounded_text<64> text;
        append_number(text, value, width, pad);
        EXPECT_EQ(text.view(), std::string_view(expected))
            << value << " " << width << " '" << pad << "'";
      }
    }
  }
  // A number that does not fit keeps what does.
  bounded_text<3> nearly_full;
  nearly_full.assign("ab");
  append_number(nearly_full, 5, 2, '0');
  EXPECT_EQ(nearly_full.view(), "ab0");
}
