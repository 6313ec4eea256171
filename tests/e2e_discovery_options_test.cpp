// The walk and the file selection as the options drive them, through the built
// program: recursion, depth, patterns, excludes, age, date and size bounds,
// attribute changes and the counting pass.
#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "test_util.h"

namespace {

using names = std::vector<std::string>;

std::string summary_line(int directories, int files) {
  return numbered(
      numbered("\n  ", directories, directories == 1 ? " directory, " : " directories, "), files,
      " files\n");
}

// m/a.eml, m/s/b.eml and m/s/t/c.eml.
void make_nested_tree(const temp_tree& tree) {
  tree.write("m/a.eml", "Subject: a\n");
  tree.write("m/s/b.eml", "Subject: b\n");
  tree.write("m/s/t/c.eml", "Subject: c\n");
}

}  // namespace

TEST(discovery_options, recursion_and_the_directory_count) {
  temp_tree tree;
  temp_tree scratch;
  make_nested_tree(tree);
  struct {
    std::vector<std::string> options;
    names files;
    std::string summary;
  } cases[] = {
      {{}, {"m/s/t/c.eml", "m/s/b.eml", "m/a.eml"}, summary_line(2, 3)},
      {{"-r"}, {"m/a.eml"}, summary_line(1, 1)},
      {{"-r", "-r"}, {"m/s/t/c.eml", "m/s/b.eml", "m/a.eml"}, summary_line(2, 3)},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"-p", tree.path("m"), "-o", scratch.path("out.txt")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    run_result r = run_mailsift(args);
    ASSERT_EQ(r.status, 0) << r.err;
    names expected;
    for (const std::string& file : c.files) expected.push_back(tree.path(file));
    EXPECT_EQ(listed_files(normalise_line_ends(scratch.read("out.txt"))), expected);
    EXPECT_NE(r.err.find(c.summary), std::string::npos) << r.err;
  }
}

// --LEV=n walks down to depth n (the starting directory is depth 1); the
// directory one level beyond is counted but not entered. The option also asks
// for directories only, so no file is listed.
TEST(discovery_options, depth_limit_shows_in_the_directory_count) {
  temp_tree tree;
  temp_tree scratch;
  make_nested_tree(tree);
  tree.write("m/s/t/u/d.eml", "Subject: d\n");
  struct {
    const char* option;
    int directories;
  } cases[] = {{"--LEV=0", 0}, {"--LEV=1", 1}, {"--LEV=2", 2}, {"--LEV=3", 3}, {"--LEV=9", 3}};
  for (const auto& c : cases) {
    run_result r = run_mailsift({"-p", tree.path("m"), "-o", scratch.path("out.txt"), c.option});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find(summary_line(c.directories, 0)), std::string::npos) << c.option << "\n"
                                                                             << r.err;
    EXPECT_TRUE(listed_files(normalise_line_ends(scratch.read("out.txt"))).empty());
  }
}

TEST(discovery_options, a_file_matching_two_patterns_is_listed_twice) {
  temp_tree tree;
  tree.write("a1.eml", "x");
  tree.write("b.eml", "x");
  tree.write("c.txt", "x");
  run_result r = run_mailsift({"-p", tree.root(), "-f", "*.eml", "a*.eml"});
  ASSERT_EQ(r.status, 0) << r.err;
  names got = listed_files(r.out);
  ASSERT_EQ(got.size(), 3u) << r.out;
  EXPECT_EQ(got[2], tree.path("a1.eml"));
  EXPECT_EQ(sorted({got[0], got[1]}), sorted({tree.path("a1.eml"), tree.path("b.eml")}));
}

TEST(discovery_options, excludes_match_without_regard_to_case) {
  temp_tree tree;
  tree.write("B.bak", "x");
  tree.write("C.BAK", "x");
  tree.write("d.eml", "x");
  run_result r = run_mailsift({"-p", tree.root(), "-x", "*.bak"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listed_files(r.out), (names{tree.path("d.eml")}));
}

TEST(discovery_options, a_path_given_twice_is_walked_once) {
  temp_tree tree;
  tree.write("m/a.eml", "x");
  run_result r = run_mailsift({"-p", tree.path("m"), tree.path("m") + k_path_separator});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listed_files(r.out), (names{tree.path("m/a.eml")}));
}

// Ages count calendar days on the local clock: today is 0.
TEST(discovery_options, age_in_days_boundaries) {
  temp_tree tree;
  for (int age : {0, 4, 5, 6}) {
    std::string name = numbered("age", age, ".eml");
    tree.write(name, "x");
    tree.set_times(name, eastern_noon_days_back(age), eastern_noon_days_back(age));
  }
  struct {
    std::vector<std::string> options;
    names files;
  } cases[] = {
      {{"-l", "5"}, {"age0.eml", "age4.eml"}},
      {{"-g", "5"}, {"age5.eml", "age6.eml"}},
      {{"-g", "4", "-l", "6"}, {"age4.eml", "age5.eml"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"-p", tree.root()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    run_result r = run_mailsift(args);
    ASSERT_EQ(r.status, 0) << r.err;
    names expected;
    for (const std::string& file : c.files) expected.push_back(tree.path(file));
    EXPECT_EQ(sorted(listed_files(r.out)), expected) << c.options[0] << " " << c.options[1];
  }
}

// Both date bounds are exclusive: a file written at the bound's very second is
// not listed.
TEST(discovery_options, date_bounds_are_exclusive) {
  // Under wine every program takes the zone its wine server started with.
  zone_state zone;
  if (k_windows && !(g_platform.time_zone(zone) && zone.offset_seconds_west == 18000)) {
    GTEST_SKIP() << "the wine server runs in another zone";
  }
  temp_tree tree;
  struct {
    const char* name;
    int64_t written;
    bool listed;
  } files[] = {
      {"at_lower.eml", eastern_seconds(2013, 8, 1, 0, 0, 0), false},
      {"after_lower.eml", eastern_seconds(2013, 8, 1, 0, 0, 1), true},
      {"before_upper.eml", eastern_seconds(2013, 8, 9, 23, 59, 59), true},
      {"at_upper.eml", eastern_seconds(2013, 8, 10, 0, 0, 0), false},
      {"winter.eml", eastern_seconds(2013, 1, 5, 12, 0, 0), false},
  };
  names expected;
  for (const auto& f : files) {
    tree.write(f.name, "x");
    tree.set_times(f.name, f.written, f.written);
    if (f.listed) expected.push_back(tree.path(f.name));
  }
  run_result r = run_mailsift({"-p", tree.root(), "-l", "08-01-2013w", "-g", "08-10-2013w"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(sorted(listed_files(r.out)), sorted(expected));
}

TEST(discovery_options, a_two_digit_year_names_the_same_year_in_both_date_forms) {
  temp_tree tree;
  tree.write("2004.eml", "x");
  tree.set_times("2004.eml", eastern_seconds(2004, 6, 1, 12, 0, 0),
                 eastern_seconds(2004, 6, 1, 12, 0, 0));
  tree.write("2006.eml", "x");
  tree.set_times("2006.eml", eastern_seconds(2006, 6, 1, 12, 0, 0),
                 eastern_seconds(2006, 6, 1, 12, 0, 0));
  // 05 is 2005 with or without a time letter; a four-digit year stays as given.
  for (const char* bound : {"01-01-05w", "01-01-05", "01-01-2005w"}) {
    run_result r = run_mailsift({"-p", tree.root(), "-l", bound});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(listed_files(r.out), names{tree.path("2006.eml")}) << bound;
  }
  run_result r = run_mailsift({"-p", tree.root(), "--OLDER=01-01-05w"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listed_files(r.out), names{tree.path("2004.eml")});
}

TEST(discovery_options, size_bounds_are_inclusive) {
  temp_tree tree;
  tree.write("empty.eml", "");
  tree.write("s100.eml", std::string(100, 'x'));
  tree.write("s101.eml", std::string(101, 'x'));
  struct {
    std::vector<std::string> options;
    names files;
  } cases[] = {
      {{"-G", "100"}, {"s100.eml", "s101.eml"}},
      {{"-L", "100"}, {"empty.eml", "s100.eml"}},
      {{"-G", "101"}, {"s101.eml"}},
      {{"-L", "0"}, {"empty.eml"}},
      {{"-G", "100", "-L", "100"}, {"s100.eml"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {"-p", tree.root()};
    args.insert(args.end(), c.options.begin(), c.options.end());
    run_result r = run_mailsift(args);
    ASSERT_EQ(r.status, 0) << r.err;
    names expected;
    for (const std::string& file : c.files) expected.push_back(tree.path(file));
    EXPECT_EQ(sorted(listed_files(r.out)), expected) << c.options[0] << " " << c.options[1];
  }
}

TEST(discovery_options, read_only_is_set_on_listed_files_only) {
  temp_tree tree;
  tree.write("small.eml", "x");
  tree.write("large.eml", std::string(200, 'x'));
  run_result r = run_mailsift({"-p", tree.root(), "-L", "100", "-q+R"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listed_files(r.out), (names{tree.path("small.eml")}));
  uint32_t attributes = 0;
  ASSERT_TRUE(g_platform.get_attributes(tree.path("small.eml"), attributes));
  EXPECT_NE(attributes & k_attr_readonly, 0u);
  ASSERT_TRUE(g_platform.get_attributes(tree.path("large.eml"), attributes));
  EXPECT_EQ(attributes & k_attr_readonly, 0u);
  // -q-R gives write permission back.
  r = run_mailsift({"-p", tree.root(), "-q-R"});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_TRUE(g_platform.get_attributes(tree.path("small.eml"), attributes));
  EXPECT_EQ(attributes & k_attr_readonly, 0u);
}

// The counting pass runs with an output file and --IM; excludes and filters do
// not apply to it.
TEST(discovery_options, counting_pass_totals) {
  temp_tree tree;
  temp_tree scratch;
  tree.write("m/a.eml", std::string(1000, 'x'));
  tree.write("m/s/b.eml", std::string(234, 'x'));
  tree.write("m/s/c.bak", std::string(1, 'x'));
  run_result r = run_mailsift(
      {"-p", tree.path("m"), "-o", scratch.path("out.txt"), "--IM", "-x", "*.bak", "-G", "500"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("\nCounting files: \r         3 files to process, 1,235 bytes\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(listed_files(normalise_line_ends(scratch.read("out.txt"))),
            (names{tree.path("m/a.eml")}));
}
