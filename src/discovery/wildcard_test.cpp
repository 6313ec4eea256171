#include "discovery/wildcard.h"

#include <gtest/gtest.h>

#include <string>

#include "discovery/walk.h"
#include "settings/path_lists.h"

namespace {

struct match_case {
  const char* pattern;
  const char* name;
  bool matches;
};

void expect_cases(const match_case* begin, const match_case* end) {
  for (const match_case* c = begin; c != end; ++c) {
    EXPECT_EQ(wildcard_match(c->pattern, c->name), c->matches)
        << "pattern \"" << c->pattern << "\" name \"" << c->name << "\"";
  }
}

}  // namespace

TEST(wildcard_match, literals_question_marks_and_stars) {
  const match_case cases[] = {
      {"*.TMP", "A.TMP", true}, {"*.TMP", ".TMP", true},   {"*.TMP", "A.TMP.BAK", false},
      {"??", "AB", true},       {"??", "A", false},        {"??", "ABC", false},
      {"", "", true},           {"", "A", false},          {"A", "", false},
      {"ABC", "ABC", true},     {"ABC", "ABD", false},     {"ABC", "abc", false},
      {"*", "", true},          {"*", "ANYTHING", true},   {"A*", "A", true},
      {"*C", "ABC", true},      {"*C", "ABCD", false},     {"A*C*E", "ABCDE", true},
      {"A*C*E", "ACE", true},   {"A*C*E", "ABCDF", false}, {"*.*", "NODOT", false},
      {"*X*", "AXBXC", true},   {"*AB", "AAB", true},      {"*AB", "ABAB", true},
  };
  expect_cases(std::begin(cases), std::end(cases));
}

TEST(wildcard_match, sets_ranges_and_negation) {
  const match_case cases[] = {
      {"[!A-C]*", "DATA", true},
      {"[!A-C]*", "BODY", false},
      {"[^A-C]*", "BODY", false},
      {"[A-C]X", "BX", true},
      {"[A-C]X", "DX", false},
      {"[ABC]", "C", true},
      {"[ABC]", "D", false},
      {"[ABC]", "", false},
      {"[]]", "]", true},
      {"[]A]", "A", true},
      {"[!]]", "]", false},
      {"[!]]", "A", true},
      {"[A-]", "-", true},
      {"[A-]", "A", true},
      {"[A-]", "B", false},
      {"[Z-A]", "M", false},
      {"[0-9][0-9]", "42", true},
      {"[0-9][0-9]", "4X", false},
      {"[A-C", "A", false},
      {"[", "A", false},
      {"[!", "A", false},
      {"[A-", "A", false},
      {"*[0-9]", "FILE7", true},
      {"*[0-9]", "FILE", false},
      {"*[0-9].EML", "A1B2.EML", true},
  };
  expect_cases(std::begin(cases), std::end(cases));
}

TEST(wildcard_match, escapes_take_the_next_character_literally) {
  const match_case cases[] = {
      {"\\*X", "*X", true},   {"\\*X", "AX", false},  {"\\?", "?", true},
      {"\\?", "A", false},    {"\\[A]", "[A]", true}, {"\\[A]", "A", false},
      {"[\\]]", "]", true},   {"[A-\\]]", "B", true}, {"[\\!A]", "!", true},
      {"*\\*", "AB*", true},  {"*\\*", "AB", false},  {"*\\*X", "A*B*X", true},
      {"A\\\\", "A\\", true},
  };
  expect_cases(std::begin(cases), std::end(cases));
}

// A "*" followed by further "*" and "?" takes one character for each of them.
TEST(wildcard_match, runs_after_a_star_take_one_character_each) {
  const match_case cases[] = {
      {"*?", "A", true},   {"*?", "", false},     {"*??", "A", false},   {"*?X", "ABX", true},
      {"**X", "AX", true}, {"**X", "X", false},   {"**X", "ABX", true},  {"**", "AB", true},
      {"A*?", "A", false}, {"A*?C", "ABC", true}, {"A*?C", "AC", false}, {"A*?C", "ABBC", true},
  };
  expect_cases(std::begin(cases), std::end(cases));
}

// The two open cases must not read past either end; a further "*" at the end of
// the name takes nothing, and a lone "\" at the end escapes nothing.
TEST(wildcard_match, open_cases_stay_inside_both_texts) {
  const match_case cases[] = {
      {"A**", "A", true},    {"***", "", true}, {"A**B", "A", false}, {"A\\", "A", false},
      {"A\\", "A\\", false}, {"\\", "", false}, {"*\\", "AB", false}, {"[A-Z\\", "B", false},
  };
  expect_cases(std::begin(cases), std::end(cases));
  // A pattern cut short inside a larger buffer: nothing after its end is read.
  const std::string buffer = "A\\BC";
  EXPECT_FALSE(wildcard_match(std::string_view(buffer.data(), 2), "A"));
  const std::string name = "AB";
  EXPECT_TRUE(wildcard_match("A*", std::string_view(name.data(), 1)));
}

// Without giving up early, each further star would multiply the work by the
// name's length: this case would run for centuries.
TEST(wildcard_match, many_stars_take_little_time) {
  std::string pattern;
  for (int i = 0; i < 20; ++i) pattern += "*A";
  EXPECT_FALSE(wildcard_match(pattern + "*B", std::string(300, 'A')));
  EXPECT_TRUE(wildcard_match(pattern + "*B", std::string(300, 'A') + "B"));
  EXPECT_FALSE(wildcard_match(pattern + "?B", std::string(300, 'A') + "BC"));
}

TEST(wildcard_match, non_ascii_names_are_compared_by_character) {
  const match_case cases[] = {
      {"?.EML", "\xc3\xa9.EML", true},  // one character of two bytes
      {"??.EML", "\xc3\xa9.EML", false},
      {"[\xc3\xa0-\xc3\xbf]X", "\xc3\xa9X", true},  // U+00E0 to U+00FF
      {"[A-Z]X", "\xc3\xa9X", false},
      {"*\xc3\xa9", "AB\xc3\xa9", true},
      {"?", "\xff", true},  // a stray byte is one character
  };
  expect_cases(std::begin(cases), std::end(cases));
}

TEST(is_excluded, upper_cases_the_name_and_tries_each_pattern) {
  clear_path_lists();
  EXPECT_FALSE(is_excluded("B.bak"));  // an empty list excludes nothing
  add_exclude("*.bak");
  add_exclude("~*");
  struct {
    const char* name;
    bool excluded;
  } cases[] = {{"B.bak", true},   {"B.BAK", true},    {"b.Bak", true},
               {"B.baks", false}, {"~tmp.eml", true}, {"a.eml", false}};
  for (const auto& c : cases) EXPECT_EQ(is_excluded(c.name), c.excluded) << c.name;
  clear_path_lists();
}
