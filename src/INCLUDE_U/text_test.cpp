#include "INCLUDE_U/text.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

TEST(bounded_text, append_keeps_what_fits_and_stays_terminated) {
  bounded_text<5> t;
  EXPECT_TRUE(t.append("abc"));
  EXPECT_FALSE(t.append("defg"));
  EXPECT_EQ(t.view(), "abcde");
  EXPECT_STREQ(t.c_str(), "abcde");
  EXPECT_FALSE(t.push_back('x'));
  t.drop_last();
  EXPECT_EQ(t.view(), "abcd");
  t.truncate(10);
  EXPECT_EQ(t.size(), 4u);
  t.clear();
  EXPECT_TRUE(t.empty());
  EXPECT_STREQ(t.c_str(), "");
}

TEST(bounded_text, append_format_clamps_to_capacity) {
  bounded_text<8> t;
  append_format(t, "%d-%s", 12345, "abcdef");
  EXPECT_EQ(t.view(), "12345-ab");
}

TEST(leading_number, reads_like_atoi_and_saturates) {
  struct {
    const char* text;
    int64_t value;
  } cases[] = {{"", 0},
               {"abc", 0},
               {"  42x", 42},
               {"\t-7", -7},
               {"+15", 15},
               {"0001", 1},
               {"8000", 8000},
               {"12a3", 12},
               {"- 5", 0},
               {"99999999999999999999", INT64_MAX},
               {"-99999999999999999999", INT64_MIN},
               {"-9223372036854775808", INT64_MIN}};
  for (const auto& c : cases) EXPECT_EQ(leading_number(c.text), c.value) << c.text;
  EXPECT_EQ(leading_int("99999999999"), INT_MAX);
  EXPECT_EQ(leading_int("-99999999999"), INT_MIN);
}

TEST(ascii_helpers, case_folds_only_ascii_letters) {
  EXPECT_TRUE(ascii_iequal("Subject:", "SUBJECT:"));
  EXPECT_FALSE(ascii_iequal("\xc3\xa9", "\xc3\x89"));
  EXPECT_TRUE(ascii_istarts_with("received: from x", "Received: from"));
  EXPECT_FALSE(ascii_istarts_with("Rec", "Received"));
  EXPECT_EQ(ascii_ifind("a b ReCeIvEd", "received"), 4u);
  EXPECT_EQ(ascii_ifind("abc", "abcd"), std::string_view::npos);
  EXPECT_EQ(ascii_upper_copy("a*.tmp\xc3\xa9"), "A*.TMP\xc3\xa9");
}

namespace {

std::string shown(std::string_view text, bool on_terminal) {
  std::FILE* f = std::tmpfile();
  write_untrusted_text(f, text, on_terminal);
  std::rewind(f);
  std::string out;
  int c;
  while ((c = std::fgetc(f)) != EOF) out += static_cast<char>(c);
  std::fclose(f);
  return out;
}

}  // namespace

TEST(untrusted_text, controls_are_shown_as_question_marks_only_on_a_terminal) {
  struct {
    std::string text;
    std::string on_terminal;
  } cases[] = {
      {"plain \t text", "plain \t text"},
      {"\x1b]0;owned\x07title", "?]0;owned?title"},
      {"cr\rlf\nnul" + std::string(1, '\0') + "end", "cr?lf?nul?end"},
      {"del\x7f", "del?"},
      {"csi \xc2\x9b"
       "31m",
       "csi ?31m"},                                              // C1 control written as UTF-8
      {"caf\xc3\xa9 \xc2\xa0nbsp", "caf\xc3\xa9 \xc2\xa0nbsp"},  // printable text stays
      {"ends in \xc2", "ends in \xc2"},
      // A lone byte 0x80-0x9F is a C1 control to an 8-bit terminal (0x9B: CSI).
      {"raw \x9b"
       "31m \x80\x9f",
       "raw ?31m ??"},
      {"stray \xa0\xff", "stray \xa0\xff"},
      // Inside a well-formed sequence the same bytes are text.
      {"\xe2\x80\x9cq\xe2\x80\x9d \xf0\x9f\x98\x80", "\xe2\x80\x9cq\xe2\x80\x9d \xf0\x9f\x98\x80"},
      // Overlong, surrogate and cut sequences are not: their 0x80-0x9F bytes are shown as '?'.
      {"\xe0\x9b\x80", "\xe0??"},
      {"\xed\xa0\x80", "\xed\xa0?"},
      {"\xe2\x80", "\xe2?"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(shown(c.text, true), c.on_terminal);
    EXPECT_EQ(shown(c.text, false), c.text);
  }
}

TEST(utf8_reading, measures_by_shape_and_takes_stray_bytes_alone) {
  struct {
    const char* what;
    std::string text;
    std::size_t length;
    char32_t code;
  } cases[] = {
      {"ASCII", "a", 1, U'a'},
      {"two bytes", "\xC2\xA7x", 2, 0xA7},
      {"three bytes", "\xE2\x82\xAC", 3, 0x20AC},
      {"four bytes", "\xF0\x9F\x93\xA7", 4, 0x1F4E7},
      {"surrogate as WTF-8", "\xED\xA0\x80", 3, 0xD800},
      {"stray continuation byte", "\x80", 1, 0x80},
      {"lead without its continuation", "\xE9t", 1, 0xE9},
      {"cut short at the end", "\xE2\x82", 1, 0xE2},
      {"lead of no sequence", "\xF8\x80", 1, 0xF8},
  };
  for (const auto& c : cases) {
    std::size_t length = utf8_sequence_length(c.text);
    EXPECT_EQ(length, c.length) << c.what;
    EXPECT_EQ(utf8_code(c.text, 0, length), c.code) << c.what;
  }
  EXPECT_EQ(utf8_sequence_length("x\xC2\xA7", 1), 2u);
}
