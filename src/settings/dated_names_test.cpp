#include "settings/dated_names.h"

#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

namespace {

// The injected clock: local and UTC readings differ by the hour, so a result shows
// which one was used.
calendar_time s_local;
calendar_time s_utc;
const char* s_computer = "OFFICE7";

int64_t fixed_now() { return 1376487005; }

bool fixed_calendar(int64_t, bool local, calendar_time& out) {
  out = local ? s_local : s_utc;
  return true;
}

bool fixed_computer(std::string& out) {
  if (!s_computer) return false;
  out = s_computer;
  return true;
}

calendar_time at(int year, int month, int day, int hour, int minute, int second) {
  calendar_time t;
  t.year = year;
  t.month = month;
  t.day = day;
  t.hour = hour;
  t.minute = minute;
  t.second = second;
  return t;
}

// A name written with '/' in this platform's form: a drive and '\' on Windows.
std::string native(std::string_view name) {
  std::string out = k_windows ? "C:" : "";
  for (char c : name) out += c == '/' ? k_path_separator : c;
  return out;
}

struct fake_clock {
  scoped_platform saved;
  fake_clock(calendar_time local, calendar_time utc, const char* computer = "OFFICE7") {
    s_local = local;
    s_utc = utc;
    s_computer = computer;
    g_platform.current_time = fixed_now;
    g_platform.seconds_to_calendar = fixed_calendar;
    g_platform.computer_name = fixed_computer;
  }
};

struct expansion_case {
  const char* name;
  const char* expanded;
};

void expect_expansions(const expansion_case* cases, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    std::string name = native(cases[i].name);
    EXPECT_EQ(expand_dated_name(name), 0);
    EXPECT_EQ(name, native(cases[i].expanded)) << cases[i].name;
  }
}

}  // namespace

TEST(dated_names, masks_expand_with_the_local_date_and_time) {
  fake_clock clock(at(2013, 8, 14, 9, 30, 5), at(2013, 8, 14, 13, 30, 5));
  const expansion_case cases[] = {
      {"/out/YYMMDD.txt", "/out/130814.txt"},
      {"/out/YYYYMMDDHHmmss.csv", "/out/20130814_093005.csv"},
      {"/out/YYMMDD=run", "/out/130814run"},
      {"/out/YYMMDD:run", "/out/130814run"},
      {"/out/COMPUTERNAME.txt", "/out/OFFICE7.txt"},
      {"/out/COMPUTERNAME", "/out/OFFICE7"},
      {"/out/report-COMPUTERNAME-YY.txt", "/out/report-OFFICE713.txt"},
      {"/out/YYMMDD_COMPUTERNAME.txt", "/out/130814OFFICE7.txt"},
      // Month and minutes differ by case only; the hour takes any case.
      {"/out/YYmmMM.txt", "/out/133008.txt"},
      {"/out/YYhh.txt", "/out/13_09.txt"},
      {"/out/YYHh.txt", "/out/13_09.txt"},
      {"/out/YYhH.txt", "/out/13_09.txt"},
      {"/out/YYSSss.txt", "/out/1305.txt"},
      {"/out/YYMMDD=LOWERg", "/out/130814LOWERg"},
      {"/out/YYMMDDhh=log", "/out/130814_09log"},
  };
  expect_expansions(cases, std::size(cases));
}

TEST(dated_names, odd_results_that_stored_names_rely_on_are_kept) {
  fake_clock clock(at(2013, 8, 14, 9, 30, 5), at(2013, 8, 14, 13, 30, 5));
  const expansion_case cases[] = {
      // Only the mask's own words survive, then the tail from the first ".".
      {"/YYYY/list.txt", "/2013.txt"},
      {"/out/YYMMDD_x.txt", "/out/130814.txt"},
      {"/out/YYMMDD=run.txt", "/out/130814run.txt.txt"},
      {"/my.dir/YYMMDD.txt", "/my.dir/130814.dir/YYMMDD.txt"},
      // MMDD is looked for before YY, so an earlier YY directory stays as it is.
      {"/YY/MMDD.txt", "/YY/0814.txt"},
      {"/out/MMDDYY.txt", "/out/081413.txt"},
      // The literal starts after the first "=", and a ":" counts only without one.
      {"/out/YY=a:b=c", "/out/13a:b=c"},
      {"/out/YY:a=b", "/out/13b"},
  };
  expect_expansions(cases, std::size(cases));
}

TEST(dated_names, a_capital_g_after_the_mask_start_switches_to_utc) {
  fake_clock clock(at(2013, 8, 14, 22, 30, 5), at(2013, 8, 15, 2, 30, 5));
  const expansion_case cases[] = {
      {"/out/YYMMDDHH=LOG", "/out/130815_02LOG"},
      {"/out/YYMMDDHH.LOG", "/out/130815_02.LOG"},
      {"/out/YYMMDDHH.log", "/out/130814_22.log"},
      // A G before the mask start does not count.
      {"/LOGS/YYMMDDHH.txt", "/LOGS/130814_22.txt"},
  };
  expect_expansions(cases, std::size(cases));
}

TEST(dated_names, years_before_2000_give_a_negative_short_year) {
  fake_clock clock(at(1999, 12, 31, 23, 59, 58), at(2000, 1, 1, 4, 59, 58));
  const expansion_case cases[] = {
      {"/out/YYMMDD.txt", "/out/-11231.txt"},
      {"/out/YYYYMMDD.txt", "/out/19991231.txt"},
  };
  expect_expansions(cases, std::size(cases));
}

TEST(dated_names, a_failed_computer_name_contributes_nothing) {
  fake_clock clock(at(2013, 8, 14, 9, 30, 5), at(2013, 8, 14, 13, 30, 5), nullptr);
  const expansion_case cases[] = {
      {"/out/COMPUTERNAME.txt", "/out/.txt"},
      {"/out/YYCOMPUTERNAME.txt", "/out/13.txt"},
  };
  expect_expansions(cases, std::size(cases));
  std::string out = "x";
  EXPECT_EQ(computer_name_into(out), 0);
  EXPECT_EQ(out, "x");
}

TEST(dated_names, computer_name_is_appended_and_counted) {
  fake_clock clock(at(2013, 8, 14, 9, 30, 5), at(2013, 8, 14, 13, 30, 5));
  std::string out = "at ";
  EXPECT_EQ(computer_name_into(out), 7);
  EXPECT_EQ(out, "at OFFICE7");
}

TEST(dated_names, the_real_computer_name_is_found) {
  std::string out;
  EXPECT_GT(computer_name_into(out), 0);
  EXPECT_FALSE(out.empty());
}

TEST(dated_names, a_mask_needs_a_separator_before_the_date_words) {
  struct {
    const char* name;
    bool masked;
  } cases[] = {
      {"/out/YYMMDD.txt", true},  {"/out/MMDD.txt", true},      {"/out/YYYY", true},
      {"/out/YY.txt", true},      {"/out/COMPUTERNAME", true},  {"/out/x-COMPUTERNAME.txt", true},
      {"/out/list.txt", false},   {"/out/myYYMMDD.txt", false}, {"/out/computername.txt", false},
      {"/out/yymmdd.txt", false}, {"/out/DDMM.txt", false},     {"/out/HHmmss.txt", false},
  };
  for (const auto& c : cases) EXPECT_EQ(has_dated_mask(native(c.name)), c.masked) << c.name;
}

TEST(dated_names, a_name_without_a_mask_is_left_alone) {
  fake_clock clock(at(2013, 8, 14, 9, 30, 5), at(2013, 8, 14, 13, 30, 5));
  std::string name = native("/out/list.txt");
  EXPECT_EQ(expand_dated_name(name), 0);
  EXPECT_EQ(name, native("/out/list.txt"));
}
