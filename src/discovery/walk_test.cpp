#include "discovery/walk.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "discovery_test_support.h"
#include "settings/path_lists.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using names = std::vector<std::string>;

class walk_directory_test : public discovery_test {
 protected:
  // m/a.eml, m/s/b.eml, m/s/t/c.eml and a non-message file at each level.
  void make_nested_tree() {
    tree.write("m/a.eml", "a");
    tree.write("m/a.txt", "a");
    tree.write("m/s/b.eml", "b");
    tree.write("m/s/t/c.eml", "c");
  }
};

}  // namespace

TEST_F(walk_directory_test, files_below_come_before_the_directory_s_own) {
  make_nested_tree();
  add_filetype("*.eml");
  walk_directory(dir("m"), selecting_visitor(k_listing_sink));
  EXPECT_EQ(looked_up_relative(), (names{"m/s/t/c.eml", "m/s/b.eml", "m/a.eml"}));
  EXPECT_EQ(g_walk.dir_count, 2);  // s and t; the starting directory is not counted
  EXPECT_EQ(g_file_count, 3);
  EXPECT_EQ(g_walk.depth, 0);
}

TEST_F(walk_directory_test, recursion_off_lists_only_the_starting_directory) {
  make_nested_tree();
  add_filetype("*.eml");
  g_settings->recurse = 0;
  walk_directory(dir("m"), selecting_visitor(k_listing_sink));
  EXPECT_EQ(looked_up_relative(), (names{"m/a.eml"}));
  EXPECT_EQ(g_walk.dir_count, 1);  // the starting directory itself
}

// level_depth is the --LEV value plus one; a directory one level beyond the
// limit is counted but not entered.
TEST_F(walk_directory_test, depth_limit) {
  make_nested_tree();
  add_filetype("*.eml");
  struct {
    int level_depth;
    names files;
    int directories;
  } cases[] = {
      {0, {"m/s/t/c.eml", "m/s/b.eml", "m/a.eml"}, 2},
      {1, {}, 0},
      {2, {"m/a.eml"}, 1},
      {3, {"m/s/b.eml", "m/a.eml"}, 2},
      {4, {"m/s/t/c.eml", "m/s/b.eml", "m/a.eml"}, 2},
  };
  for (const auto& c : cases) {
    g_looked_up.clear();
    g_walk.dir_count = 0;
    g_settings->level_depth = c.level_depth;
    walk_directory(dir("m"), selecting_visitor(k_listing_sink));
    EXPECT_EQ(looked_up_relative(), c.files) << "level_depth " << c.level_depth;
    EXPECT_EQ(g_walk.dir_count, c.directories) << "level_depth " << c.level_depth;
    EXPECT_EQ(g_walk.depth, 0);
  }
}

TEST_F(walk_directory_test, a_file_matching_two_patterns_is_handed_over_twice) {
  tree.write("a1.eml", "x");
  tree.write("b.eml", "x");
  add_filetype("*.eml");
  add_filetype("a*.eml");
  walk_directory(dir(), selecting_visitor(k_listing_sink));
  names got = looked_up_relative();
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[2], "a1.eml");  // the second pattern's pass comes after the first
  EXPECT_EQ(g_file_count, 3);
}

TEST_F(walk_directory_test, patterns_ignore_case_and_skip_directories_but_the_walk_enters_them) {
  tree.write("UPPER.EML", "x");
  tree.write("x.eml/inside.eml", "x");
  add_filetype("*.eml");
  walk_directory(dir(), selecting_visitor(k_listing_sink));
  EXPECT_EQ(looked_up_relative(), (names{"x.eml/inside.eml", "UPPER.EML"}));
  EXPECT_EQ(g_walk.dir_count, 1);
}

TEST_F(walk_directory_test, excludes_match_the_upper_cased_name) {
  tree.write("B.bak", "x");
  tree.write("C.BAK", "x");
  tree.write("d.eml", "x");
  add_filetype("*.*");
  add_exclude("*.bak");
  g_settings->exclude = 1;
  walk_directory(dir(), selecting_visitor(k_listing_sink));
  EXPECT_EQ(looked_up_relative(), (names{"d.eml"}));
  // With the exclude setting off the list is not consulted.
  g_looked_up.clear();
  g_settings->exclude = 0;
  walk_directory(dir(), selecting_visitor(k_listing_sink));
  EXPECT_EQ(looked_up_relative().size(), 3u);
}

TEST_F(walk_directory_test, a_missing_directory_is_skipped_silently) {
  add_filetype("*.*");
  walk_directory(dir("missing"), selecting_visitor(k_listing_sink));
  EXPECT_TRUE(g_looked_up.empty());
  EXPECT_EQ(g_walk.dir_count, 0);
  EXPECT_EQ(g_walk.depth, 0);
  g_settings->recurse = 0;
  walk_directory(dir("missing"), selecting_visitor(k_listing_sink));
  EXPECT_EQ(g_walk.dir_count, 0);  // only directories that could be opened count
}

TEST_F(walk_directory_test, the_file_type_list_ends_at_an_entry_beginning_with_a_dash) {
  tree.write("a.eml", "x");
  tree.write("b.txt", "x");
  g_filetypes = {"*.eml", "-o", "*.txt"};
  walk_directory(dir(), selecting_visitor(k_listing_sink));
  EXPECT_EQ(looked_up_relative(), (names{"a.eml"}));
}

TEST_F(walk_directory_test, counting_pass_counts_without_selecting) {
  make_nested_tree();
  tree.write("m/big.eml", std::string(1000, 'x'));
  add_filetype("*.eml");
  add_exclude("BIG.EML");  // excludes do not apply while counting
  g_settings->exclude = 1;
  g_settings->output_mode = 1;
  g_settings->auto_width = 1;
  walk_directory(dir("m"), counting_visitor());
  EXPECT_TRUE(g_looked_up.empty());
  EXPECT_EQ(g_walk.counted_files, 4u);
  EXPECT_EQ(g_walk.counted_bytes, 1003u);
  EXPECT_EQ(g_walk.dir_count, 0);
  EXPECT_EQ(g_walk.longest_path, dir("m/s/t").size() + std::string("c.eml").size());
}

TEST_F(walk_directory_test, longest_path_counts_utf16_units) {
  tree.write("\xc3\xa9\xf0\x9f\x93\xa7.eml", "x");  // U+00E9 and U+1F4E7: 3 units
  add_filetype("*.*");
  g_settings->output_mode = 1;
  g_settings->auto_width = 1;
  walk_directory(dir(), counting_visitor());
  EXPECT_EQ(g_walk.longest_path, dir().size() + 3 + 4);
}

#ifndef _WIN32
// A link back to a directory on the walk path is not entered again; a link to a
// directory elsewhere is walked like any directory.
TEST_F(walk_directory_test, a_link_loop_is_entered_once) {
  tree.write("m/a.eml", "a");
  tree.write("m/s/b.eml", "b");
  tree.write("other/o.eml", "o");
  ASSERT_EQ(symlink(tree.path("m").c_str(), tree.path("m/s/loop").c_str()), 0);
  ASSERT_EQ(symlink(tree.path("other").c_str(), tree.path("m/s/elsewhere").c_str()), 0);
  add_filetype("*.eml");
  walk_directory(dir("m"), selecting_visitor(k_listing_sink));
  names got = looked_up_relative();
  std::sort(got.begin(), got.end());
  EXPECT_EQ(got, (names{"m/a.eml", "m/s/b.eml", "m/s/elsewhere/o.eml"}));
  EXPECT_EQ(g_walk.dir_count, 3);  // s, loop (counted, not entered) and elsewhere
  EXPECT_EQ(g_walk.depth, 0);
  // The guard holds only for the current path: the same walk can run again.
  g_looked_up.clear();
  walk_directory(dir("m"), selecting_visitor(k_listing_sink));
  EXPECT_EQ(g_looked_up.size(), 3u);
}

TEST_F(walk_directory_test, unreadable_directories_and_files_are_skipped) {
  tree.write("m/a.eml", "a");
  tree.write("m/locked/b.eml", "b");
  tree.write("m/secret.eml", "s");
  chmod(tree.root().c_str(), 0755);
  chmod(tree.path("m/locked").c_str(), 0);
  chmod(tree.path("m/secret.eml").c_str(), 0);
  add_filetype("*.eml");
  // Root reads everything: walk as an ordinary user for the length of the walk.
  const uid_t nobody = 65534;
  bool as_root = geteuid() == 0;
  if (as_root) {
    ASSERT_EQ(seteuid(nobody), 0);
  }
  walk_directory(dir("m"), selecting_visitor(k_listing_sink));
  if (as_root) {
    ASSERT_EQ(seteuid(0), 0);
  }
  EXPECT_EQ(g_file_count, 1);  // a.eml; secret.eml is looked up but not listed
  EXPECT_EQ(g_walk.depth, 0);
}
#endif
