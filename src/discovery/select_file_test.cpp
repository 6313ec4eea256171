#include "discovery/select_file.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "INCLUDE_U/dates.h"
#include "dates_test_support.h"
#include "discovery_test_support.h"

namespace {

int64_t s_now = 0;
int64_t fixed_now() { return s_now; }

// A look-up that finds each file once: the file vanishes right after it.
std::vector<std::string> s_seen;
bool vanishing_lookup(const std::string& path, dir_entry& entry) {
  for (const std::string& seen : s_seen) {
    if (seen == path) return false;
  }
  s_seen.push_back(path);
  return native_platform().lookup_file(path, entry);
}

bool failing_lookup(const std::string&, dir_entry&) { return false; }

class select_file_test : public discovery_test {
 protected:
  void SetUp() override {
    discovery_test::SetUp();
    // Today is 20 August 2013, 12:00 local time.
    s_now = make_local_time(2013, 8, 20, 13, 1, 1);
    g_platform.current_time = fixed_now;
  }
  // Writes a file whose chosen times lie `write_days` and `access_days` days back.
  void write_aged(const std::string& name, int write_days, int access_days) {
    tree.write(name, "x");
    tree.set_times(name, s_now - write_days * 86400LL, s_now - access_days * 86400LL);
  }
  // True when select_file lists the file (counts it and hands it on).
  bool selects(const std::string& name) {
    int before = g_file_count;
    select_file(k_listing_sink, dir(), name);
    return g_file_count == before + 1;
  }
  bool is_read_only(const std::string& name) {
    uint32_t attributes = 0;
    EXPECT_TRUE(g_platform.get_attributes(file(name), attributes));
    return (attributes & k_attr_readonly) != 0;
  }
};

}  // namespace

TEST_F(select_file_test, dot_entries_and_missing_files_are_skipped) {
  EXPECT_FALSE(selects("."));
  EXPECT_FALSE(selects(".."));
  EXPECT_TRUE(g_looked_up.empty());
  EXPECT_FALSE(selects("missing.eml"));
  tree.write("a.eml", "x");
  EXPECT_TRUE(selects("a.eml"));
}

// -l n: younger than n days; -g n: at least n days old, of any age beyond unless
// a newer bound was given too. Only calendar dates count, not times of day.
TEST_F(select_file_test, age_in_days_boundaries) {
  constexpr int k_not_given = -1;
  struct {
    int older_days;  // -g
    int newer_days;  // -l
    int age;
    bool selected;
  } cases[] = {
      {k_not_given, 5, 0, true},    {k_not_given, 5, 4, true},    {k_not_given, 5, 5, false},
      {k_not_given, 5, -1, false},  {5, k_not_given, 5, true},    {5, k_not_given, 4, false},
      {5, k_not_given, 7999, true}, {5, k_not_given, 8000, true}, {5, k_not_given, 9000, true},
      {0, k_not_given, 0, true},    {5, 8000, 7999, true},        {5, 8000, 8000, false},
  };
  for (const auto& c : cases) {
    create_run_settings();
    g_settings->age_filter = 1;
    g_settings->time_type = 'w';
    if (c.older_days != k_not_given) {
      g_settings->older_than_set = 1;
      g_older_than_days = c.older_days;
      g_age_bound_forms.older = bound_form::days;
    }
    if (c.newer_days != k_not_given) {
      g_settings->newer_than_set = 1;
      g_newer_than_days = c.newer_days;
      g_age_bound_forms.newer = bound_form::days;
    }
    std::string name = numbered("age", c.age, ".eml");
    write_aged(name, c.age, 0);
    EXPECT_EQ(selects(name), c.selected)
        << "-g " << c.older_days << " -l " << c.newer_days << ", age " << c.age;
  }
}

TEST_F(select_file_test, age_counts_calendar_days_not_hours) {
  s_now = make_local_time(2013, 8, 20, 1, 2, 1);  // 00:01
  tree.write("late.eml", "x");
  int64_t yesterday_2359 = make_local_time(2013, 8, 19, 24, 60, 1);
  tree.set_times("late.eml", yesterday_2359, yesterday_2359);
  int64_t age = -1;
  ASSERT_TRUE(file_age_days(file("late.eml"), 'w', age));
  EXPECT_EQ(age, 1);
}

TEST_F(select_file_test, time_type_chooses_the_file_time_of_the_age) {
  write_aged("a.eml", 0, 10);  // written today, last read ten days ago
  struct {
    int letter;
    int64_t age;
  } cases[] = {{'w', 0}, {'a', 10}, {'A', 10}, {'3', 0}, {'W', 0}};
  for (const auto& c : cases) {
    int64_t age = -1;
    ASSERT_TRUE(file_age_days(file("a.eml"), c.letter, age));
    EXPECT_EQ(age, c.age) << static_cast<char>(c.letter);
  }
  g_settings->age_filter = 1;
  g_settings->older_than_set = 1;
  g_older_than_days = 5;
  g_settings->time_type = 'a';
  EXPECT_TRUE(selects("a.eml"));
  g_settings->time_type = 'w';
  EXPECT_FALSE(selects("a.eml"));
}

TEST_F(select_file_test, a_file_that_vanishes_before_its_age_test_is_skipped) {
  tree.write("gone.eml", "x");
  g_platform.lookup_file = vanishing_lookup;
  s_seen.clear();
  g_settings->age_filter = 1;
  g_settings->newer_than_set = 1;
  g_newer_than_days = 5;
  EXPECT_FALSE(selects("gone.eml"));
  int64_t age = 0;
  EXPECT_FALSE(file_age_days(file("gone.eml"), 'w', age));
}

// Date bounds are exclusive on both sides and compared on the raw times.
TEST_F(select_file_test, date_bounds_are_exclusive) {
  int64_t lower = make_local_time(2013, 8, 1, 0, 0, 0);
  int64_t upper = make_local_time(2013, 8, 10, 0, 0, 0);
  struct {
    int64_t written;
    bool selected;
  } cases[] = {{lower, false}, {lower + 1, true},      {upper - 1, true},
               {upper, false}, {lower - 86400, false}, {upper + 86400, false}};
  for (const auto& c : cases) {
    create_run_settings();
    g_settings->age_filter = 1;
    g_settings->newer_than_set = 1;
    g_settings->older_than_set = 1;
    g_age_times.written = true;
    g_newer_than_time = to_file_time(lower);
    g_older_than_time = to_file_time(upper);
    std::string name = numbered("w", c.written, ".eml");
    tree.write(name, "x");
    tree.set_times(name, c.written, c.written);
    EXPECT_EQ(selects(name), c.selected) << c.written - lower;
  }
}

TEST_F(select_file_test, any_chosen_time_within_the_bounds_passes) {
  int64_t lower = make_local_time(2013, 8, 1, 0, 0, 0);
  int64_t upper = make_local_time(2013, 8, 10, 0, 0, 0);
  tree.write("read.eml", "x");
  tree.set_times("read.eml", upper + 86400, lower + 86400);  // written after, read within
  g_settings->age_filter = 1;
  g_settings->older_than_set = 1;
  g_newer_than_time = to_file_time(lower);
  g_older_than_time = to_file_time(upper);
  g_age_times.access = true;
  g_age_times.creation = true;
  EXPECT_TRUE(selects("read.eml"));
  g_age_times = age_time_flags{};
  g_age_times.written = true;
  EXPECT_FALSE(selects("read.eml"));
  // Letters without a bound given: no age test at all.
  g_settings->older_than_set = 0;
  EXPECT_TRUE(selects("read.eml"));
}

TEST_F(select_file_test, size_bounds_are_inclusive) {
  tree.write("empty.eml", "");
  tree.write("s99.eml", std::string(99, 'x'));
  tree.write("s100.eml", std::string(100, 'x'));
  tree.write("s101.eml", std::string(101, 'x'));
  struct {
    bool greater;
    int64_t greater_than;
    bool less;
    int64_t less_than;
    const char* name;
    bool selected;
  } cases[] = {
      {true, 100, false, 0, "s100.eml", true},   {true, 100, false, 0, "s99.eml", false},
      {true, 101, false, 0, "s100.eml", false},  {false, 0, true, 100, "s100.eml", true},
      {false, 0, true, 100, "s101.eml", false},  {false, 0, true, 0, "empty.eml", true},
      {false, 0, true, 0, "s99.eml", false},     {true, 100, true, 100, "s100.eml", true},
      {true, 100, true, 100, "s101.eml", false},
  };
  for (const auto& c : cases) {
    g_settings->size_greater = c.greater;
    g_greater_than_size = c.greater_than;
    g_settings->size_less = c.less;
    g_less_than_size = c.less_than;
    EXPECT_EQ(selects(c.name), c.selected)
        << c.name << " -G " << c.greater_than << " -L " << c.less_than;
  }
}

TEST_F(select_file_test, attribute_change_applies_to_files_that_passed_the_filters) {
  tree.write("small.eml", "x");
  tree.write("large.eml", std::string(200, 'x'));
  g_settings->change_attributes = 1;
  g_attributes_to_set = k_attr_readonly;
  g_settings->size_less = 1;
  g_less_than_size = 100;
  EXPECT_TRUE(selects("small.eml"));
  EXPECT_TRUE(is_read_only("small.eml"));
  EXPECT_FALSE(selects("large.eml"));
  EXPECT_FALSE(is_read_only("large.eml"));  // rejected before the change

  // Clearing gives write permission back.
  g_attributes_to_set = 0;
  g_attributes_to_clear = k_attr_readonly;
  EXPECT_TRUE(selects("small.eml"));
  EXPECT_FALSE(is_read_only("small.eml"));

  // In directory mode no file passes, but its attributes have been changed.
  g_attributes_to_set = k_attr_readonly;
  g_attributes_to_clear = 0;
  g_settings->directory_mode = 2;
  EXPECT_FALSE(selects("small.eml"));
  EXPECT_TRUE(is_read_only("small.eml"));
}

TEST_F(select_file_test, times_never_set_show_as_1980) {
  scoped_eastern_zone zone;
  dir_entry entry;
  entry.create_ticks = 0;                                  // never set
  entry.access_ticks = 24ULL * 3600 * k_ticks_per_second;  // 2 January 1601
  // 1602-01-01 01:00 UTC is still 1601 on a clock west of Greenwich.
  entry.write_ticks = to_file_time(-k_seconds_1601_to_1970 + 365LL * 86400 + 3600);
  for (bool in_utc : {true, false}) {
    file_dates dates = convert_file_times(entry, in_utc);
    for (const calendar_time* parts : {&dates.create_time, &dates.access_time}) {
      EXPECT_EQ(parts->month, 0);
      EXPECT_EQ(parts->day, 0);
      EXPECT_EQ(parts->year, 1980);
      EXPECT_EQ(parts->hour, 0);
      EXPECT_EQ(parts->minute, 0);
      EXPECT_EQ(parts->second, 0);
    }
    EXPECT_EQ(dates.create_raw, 0u);
    EXPECT_EQ(dates.access_raw, entry.access_ticks);
  }
  if (scoped_eastern_zone::in_force()) {
    file_dates local = convert_file_times(entry, false);
    EXPECT_EQ(local.write_time.year, 1980);
    EXPECT_EQ(local.write_time.month, 0);
  }
}

// Each time is converted with the zone rules of its own date.
TEST_F(select_file_test, local_times_use_the_rules_of_their_date) {
  scoped_eastern_zone zone;
  if (!scoped_eastern_zone::in_force()) GTEST_SKIP() << "the local zone cannot be pinned here";
  dir_entry entry;
  entry.write_ticks = to_file_time(utc_seconds(2013, 7, 15, 18, 7, 30)) + 2500000;  // .250 s
  entry.access_ticks = to_file_time(utc_seconds(2013, 1, 15, 18, 7, 30));
  entry.create_ticks = entry.write_ticks;
  struct {
    bool in_utc;
    int write_hour, access_hour;
  } cases[] = {{true, 18, 18}, {false, 14, 13}};
  for (const auto& c : cases) {
    file_dates dates = convert_file_times(entry, c.in_utc);
    EXPECT_EQ(dates.write_time.month, 7);
    EXPECT_EQ(dates.write_time.day, 15);
    EXPECT_EQ(dates.write_time.year, 2013);
    EXPECT_EQ(dates.write_time.hour, c.write_hour) << c.in_utc;
    EXPECT_EQ(dates.write_time.minute, 7);
    EXPECT_EQ(dates.write_time.second, 30);
    EXPECT_EQ(dates.write_time.millisecond, 250);
    EXPECT_EQ(dates.access_time.hour, c.access_hour) << c.in_utc;
    EXPECT_EQ(dates.write_raw, entry.write_ticks);  // raw times stay UTC
  }
}

TEST_F(select_file_test, fallback_look_up_accepts_only_the_file_itself) {
  tree.write("caf\xc3\xa9.eml", "x");
  tree.write("tea.eml", "x");
  dir_entry entry;
  ASSERT_TRUE(find_by_wildcard(file("caf\xc3\xa9.eml"), "caf\xc3\xa9.eml", entry));
  EXPECT_EQ(entry.name, "caf\xc3\xa9.eml");
  // "te\xc3\xa4.eml" becomes "te?.eml", which fits tea.eml: a different file.
  EXPECT_FALSE(find_by_wildcard(file("te\xc3\xa4.eml"), "te\xc3\xa4.eml", entry));
  // The selection falls back on it when the direct look-up fails.
  g_platform.lookup_file = failing_lookup;
  EXPECT_TRUE(selects("caf\xc3\xa9.eml"));
  EXPECT_FALSE(selects("te\xc3\xa4.eml"));
  EXPECT_TRUE(selects("tea.eml"));  // the search finds plain names as they are
}

TEST_F(select_file_test, get_file_dates_reports_a_missing_file) {
  file_dates dates;
  EXPECT_FALSE(get_file_dates(file("missing.eml"), dates));
  tree.write("here.eml", "x");
  tree.set_times("here.eml", utc_seconds(2013, 7, 15, 18, 7, 30),
                 utc_seconds(2013, 7, 15, 18, 7, 30));
  ASSERT_TRUE(get_file_dates(file("here.eml"), dates));
  EXPECT_EQ(dates.write_raw, to_file_time(utc_seconds(2013, 7, 15, 18, 7, 30)));
  EXPECT_EQ(dates.write_time.year, 2013);
}

namespace {

// Whether the look-ups of the next test drop the identity from their entries, as
// a Windows directory search gives them; and the identity calls made.
bool s_forget_identity = false;
int s_identity_calls = 0;

bool shaped_lookup(const std::string& path, dir_entry& entry) {
  bool found = recording_lookup(path, entry);
  if (s_forget_identity) entry.identity_known = false;
  return found;
}
read_handle shaped_open_and_look_up(const std::string& path, dir_entry& entry) {
  read_handle file = recording_open_and_look_up(path, entry);
  if (s_forget_identity) entry.identity_known = false;
  return file;
}
bool counted_handle_identity(read_handle file, dir_identity& id) {
  ++s_identity_calls;
  return native_platform().read_handle_identity(file, id);
}
bool counted_path_identity(const std::string& path, dir_identity& id) {
  ++s_identity_calls;
  return native_platform().directory_identity(path, id);
}

}  // namespace

// The run's own output file and run log are left out by identity, under another
// name too, and a file that only looks like one of them (same bytes and times) is
// listed. Where the look-up gives the identity, no call asks for it; on both
// routes of the selection.
TEST_F(select_file_test, the_runs_own_files_are_left_out_by_identity_alone) {
  tree.write("run.log", "log");
  tree.write("same.txt", "log");
  for (const char* name : {"run.log", "same.txt"}) tree.set_times(name, s_now, s_now);
  if (!tree.hard_link("run.log", "alias.log")) GTEST_SKIP() << "no hard links here";
  std::FILE* listing = g_platform.open_stream(tree.path("list.txt"), "w");
  std::FILE* log = g_platform.open_stream(tree.path("run.log"), "a");
  ASSERT_TRUE(listing && log);
  leave_out_own_files(listing, log);
  g_platform.lookup_file = shaped_lookup;
  g_platform.open_and_look_up = shaped_open_and_look_up;
  g_platform.read_handle_identity = counted_handle_identity;
  g_platform.directory_identity = counted_path_identity;
  // A Windows search gives no identity: there every candidate costs the call.
  const int natural_calls = k_windows ? 1 : 0;
  struct {
    const char* name;
    bool forget_identity;
    bool listed;
    int identity_calls;
  } cases[] = {
      {"list.txt", false, false, natural_calls}, {"alias.log", false, false, natural_calls},
      {"same.txt", false, true, natural_calls},  {"list.txt", true, false, 1},
      {"alias.log", true, false, 1},             {"same.txt", true, true, 1},
  };
  for (const auto& c : cases) {
    for (bool walked : {false, true}) {
      s_forget_identity = c.forget_identity;
      s_identity_calls = 0;
      int before = g_file_count;
      dir_entry listed;
      listed.name = c.name;
      if (walked)
        select_walked_file(k_listing_sink, dir(), listed, 0);
      else
        select_file(k_listing_sink, dir(), c.name);
      std::string label = std::string(c.name) + (walked ? " walked" : " looked up") +
                          (c.forget_identity ? " without identity" : "");
      EXPECT_EQ(g_file_count == before + 1, c.listed) << label;
      EXPECT_EQ(s_identity_calls, c.identity_calls) << label;
    }
  }
  finish_scans();
  leave_out_own_files(nullptr, nullptr);
  std::fclose(listing);
  std::fclose(log);
}
