#include "settings/path_lists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_util.h"

namespace {

using texts = std::vector<std::string>;

std::string stored(const std::string& path) { return std::string(k_long_path_prefix) + path; }

// A file system where every name is already full, "C:" alone stands for the
// current directory of drive C, and only the names below are directories.
bool fake_full_path(const std::string& name, std::string& out) {
  out = name == "C:" ? "C:\\work" : name;
  return !name.empty();
}
bool fake_is_directory(const std::string& path) {
  return path == "/mail" || path == "C:\\mail" || path == "D:\\x";
}

class path_lists_test : public ::testing::Test {
 protected:
  void SetUp() override { clear_path_lists(); }
  void TearDown() override { clear_path_lists(); }
  scoped_platform swap_;
};

}  // namespace

TEST_F(path_lists_test, add_path_stores_the_full_path_once_without_its_separator) {
  temp_tree tree;
  add_path(tree.path("m"));
  add_path(tree.path("m") + k_path_separator);
  add_path(tree.path("m/x/.."));
  EXPECT_EQ(g_paths, texts{stored(tree.path("m"))});
  // Windows names ignore case; POSIX names do not, so "M" is another directory.
  add_path(tree.path("M"));
  EXPECT_EQ(g_paths.size(), k_windows ? 1u : 2u);
}

TEST(windows_long_path, network_paths_take_the_unc_form) {
  struct {
    std::string_view full;
    std::string_view stored;
  } cases[] = {
      {"C:\\mail", "\\\\?\\C:\\mail"},
      {"\\\\server\\share", "\\\\?\\UNC\\server\\share"},
      {"\\\\server\\share\\mail\\2012", "\\\\?\\UNC\\server\\share\\mail\\2012"},
      {"\\\\10.0.0.5\\review$", "\\\\?\\UNC\\10.0.0.5\\review$"},
      // The device forms are no share, and keep today's prefix.
      {"\\\\.\\C:\\mail", "\\\\?\\\\\\.\\C:\\mail"},
      {"\\\\", "\\\\?\\\\\\"},
  };
  for (const auto& c : cases) EXPECT_EQ(windows_long_path(c.full), c.stored) << c.full;
}

TEST_F(path_lists_test, a_network_path_is_stored_in_the_unc_form_on_windows) {
  g_platform.full_path = fake_full_path;
  add_path("\\\\server\\share\\mail");
  ASSERT_EQ(g_paths.size(), 1u);
  EXPECT_EQ(g_paths[0], k_windows ? "\\\\?\\UNC\\server\\share\\mail" : "\\\\server\\share\\mail");
}

TEST_F(path_lists_test, path_words_split_into_starting_path_and_file_type) {
  g_platform.full_path = fake_full_path;
  g_platform.is_directory = fake_is_directory;
  struct {
    std::vector<const char*> words;
    texts paths;
    texts types;
  } cases[] = {
      {{"/mail"}, {"/mail"}, {}},
      {{"/mail/*.eml"}, {"/mail"}, {"*.eml"}},
      {{"/mail/a.eml"}, {"/mail"}, {"a.eml"}},
      {{"/mail/", "/mail/*.eml", "/mail/*.msg"}, {"/mail"}, {"*.eml", "*.msg"}},
      {{"/*.eml"}, {"/"}, {"*.eml"}},
      {{"/mail", "/*.eml"}, {"/mail", "/"}, {"*.eml"}},  // the POSIX root stays the root
      {{"C:\\mail\\*.eml"}, {"C:\\mail"}, {"*.eml"}},
      {{"C:\\*.eml"}, {"C:"}, {"*.eml"}},
      // After another starting path, a drive root names the drive's current directory.
      {{"D:\\x\\*.eml", "C:\\*.eml"}, {"D:\\x", "C:\\work"}, {"*.eml"}},
  };
  for (const auto& c : cases) {
    bool windows_case = std::string(c.words[0]).find(':') != std::string::npos;
    if (windows_case != k_windows) continue;
    clear_path_lists();
    for (const char* word : c.words) add_path_argument(word);
    texts paths;
    for (const std::string& path : c.paths) paths.push_back(stored(path));
    EXPECT_EQ(g_paths, paths) << c.words.back();
    EXPECT_EQ(g_filetypes, c.types) << c.words.back();
  }
}

TEST_F(path_lists_test, file_types_are_kept_once_each_case_sensitively) {
  add_filetype("*.eml");
  add_filetype("*.EML");
  add_filetype("*.eml");
  EXPECT_EQ(g_filetypes, (texts{"*.eml", "*.EML"}));
}

TEST_F(path_lists_test, excludes_are_upper_cased_up_to_their_limit) {
  EXPECT_TRUE(add_exclude("*.bak"));
  EXPECT_EQ(g_excludes, texts{"*.BAK"});
  for (std::size_t i = 1; i < k_exclude_limit; ++i) EXPECT_TRUE(add_exclude("x"));
  EXPECT_FALSE(add_exclude("one too many"));
  EXPECT_EQ(g_exclude_count, static_cast<int>(k_exclude_limit));
}
