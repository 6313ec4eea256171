#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "test_util.h"

namespace {

using name_list = std::vector<std::string>;

// Built by appending: GCC 12 warns falsely on a literal + std::string here.
std::string joined(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view part : parts) out += part;
  return out;
}

std::string pattern_in(const temp_tree& tree, const std::string& dir, const std::string& pattern) {
  return tree.path(dir) + k_path_separator + pattern;
}

// Every name the search gives, "." and ".." left out; `between` runs after the
// first entry, while the search is open.
template <typename action>
name_list search_names(const std::string& pattern, action between) {
  name_list names;
  dir_entry entry;
  find_state* search = g_platform.find_first_names(pattern, entry);
  if (!search) return names;
  bool first = true;
  do {
    if (entry.name != "." && entry.name != "..") names.push_back(entry.name);
    if (first) between();
    first = false;
  } while (g_platform.find_next(search, entry));
  g_platform.find_close(search);
  return sorted(names);
}

name_list search_names(const std::string& pattern) {
  return search_names(pattern, [] {});
}

}  // namespace

// The walk searches a directory once for its subdirectories and once per
// file-type pattern; each search must give the directory's names as they are,
// however the searches follow or nest in one another.
TEST(directory_search, repeated_and_nested_searches_give_every_name) {
  temp_tree tree;
  name_list a_all, b_all;
  for (int i = 0; i < 40; ++i) {
    std::string name = joined({"m", std::to_string(i), i % 3 == 0 ? ".txt" : ".eml"});
    tree.write(joined({"a/", name}), "x");
    a_all.push_back(name);
  }
  for (int i = 0; i < 5; ++i) {
    std::string name = joined({"n", std::to_string(i), ".eml"});
    tree.write(joined({"b/", name}), "y");
    b_all.push_back(name);
  }
  a_all = sorted(a_all);
  b_all = sorted(b_all);
  name_list a_eml, a_txt;
  for (const std::string& name : a_all) (name.ends_with(".eml") ? a_eml : a_txt).push_back(name);

  std::string a = pattern_in(tree, "a", "*.*");
  std::string b = pattern_in(tree, "b", "*.*");
  // Back to back, in the walk's order and again.
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(search_names(a), a_all);
    EXPECT_EQ(search_names(pattern_in(tree, "a", "*.eml")), a_eml);
    EXPECT_EQ(search_names(pattern_in(tree, "a", "*.txt")), a_txt);
    EXPECT_EQ(search_names(pattern_in(tree, "a", "*.none")), name_list{});
  }
  // Another directory searched in full, or only begun, inside a search.
  EXPECT_EQ(search_names(a, [&] { EXPECT_EQ(search_names(b), b_all); }), a_all);
  EXPECT_EQ(search_names(a, [&] { EXPECT_EQ(search_names(a), a_all); }), a_all);
  EXPECT_EQ(search_names(a,
                         [&] {
                           dir_entry entry;
                           find_state* begun = g_platform.find_first_names(b, entry);
                           ASSERT_NE(begun, nullptr);
                           g_platform.find_close(begun);
                         }),
            a_all);
  EXPECT_EQ(search_names(b), b_all);
  EXPECT_EQ(search_names(a), a_all);
}

// A directory changed after it was searched shows the change to a search that
// follows a search of another directory, as the files of a directory with
// subdirectories are searched after the walk below it.
TEST(directory_search, a_search_after_another_directory_sees_changes) {
  temp_tree tree;
  tree.write("a/one.eml", "x");
  tree.write("b/two.eml", "y");
  std::string a = pattern_in(tree, "a", "*.*");
  EXPECT_EQ(search_names(a), name_list{"one.eml"});
  EXPECT_EQ(search_names(pattern_in(tree, "b", "*.*")), name_list{"two.eml"});
  tree.write("a/three.eml", "z");
  tree.remove("a/one.eml");
  EXPECT_EQ(search_names(a), name_list{"three.eml"});
}

// A directory changed or replaced since its last search is read again, even
// right after that search. The change's time is set apart from the search's,
// as a file system's clock may not tick between the two.
TEST(directory_search, a_directory_changed_since_its_search_is_read_again) {
  struct change_case {
    const char* what;
    void (*change)(const temp_tree& tree);
    name_list after;
  };
  const change_case cases[] = {
      {"file added",
       [](const temp_tree& tree) {
         tree.write("a/two.eml", "y");
         tree.set_times("a", 1000000000, 1000000000);
       },
       {"one.eml", "two.eml"}},
      {"file removed",
       [](const temp_tree& tree) {
         tree.remove("a/one.eml");
         tree.set_times("a", 1000000000, 1000000000);
       },
       {}},
      {"directory replaced",
       [](const temp_tree& tree) {
         tree.remove("a");
         tree.write("a/other.eml", "z");
         tree.set_times("a", 1000000000, 1000000000);
       },
       {"other.eml"}},
  };
  for (const change_case& c : cases) {
    temp_tree tree;
    tree.write("a/one.eml", "x");
    std::string all = pattern_in(tree, "a", "*.*");
    EXPECT_EQ(search_names(all), name_list{"one.eml"}) << c.what;
    c.change(tree);
    EXPECT_EQ(search_names(pattern_in(tree, "a", "*.eml")), c.after) << c.what;
  }
}

// Directories too large to be held in memory are read each time, completely.
TEST(directory_search, large_directories_are_listed_completely_every_time) {
  temp_tree tree;
  name_list all;
  const std::string padding(120, 'p');
  for (int i = 0; i < 2500; ++i) {
    std::string name = joined({padding, std::to_string(i), ".eml"});
    tree.write(joined({"big/", name}), "");
    all.push_back(name);
  }
  all = sorted(all);
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(search_names(pattern_in(tree, "big", "*.*")), all);
    EXPECT_EQ(search_names(pattern_in(tree, "big", "*.eml")), all);
  }
}
