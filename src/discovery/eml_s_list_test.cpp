#include "discovery/eml_s_list.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "test_util.h"

namespace {

std::vector<std::pair<std::string, std::string>> s_handed;

void record_entry(const std::string& dir, const std::string& name) {
  s_handed.emplace_back(dir, name);
}

// Reads `content` as a list (written to a file, as the option opens it) and
// returns what was handed on.
std::vector<std::pair<std::string, std::string>> read_list(const temp_tree& tree,
                                                           const std::string& content) {
  tree.write("list.txt", content);
  std::FILE* list = std::fopen(tree.path("list.txt").c_str(), "rb");
  EXPECT_NE(list, nullptr);
  s_handed.clear();
  if (list) {
    read_source_list(list, record_entry);
    std::fclose(list);
  }
  return s_handed;
}

std::string long_dir(const temp_tree& tree, std::string_view relative) {
  std::string dir = k_long_path_prefix + tree.path(relative);
  return dir + k_path_separator;
}

std::string current_dir() {
  std::string cwd;
  g_platform.current_directory(cwd);
  if (cwd.empty() || cwd.back() != k_path_separator) cwd += k_path_separator;
  return k_long_path_prefix + cwd;
}

}  // namespace

TEST(source_list, each_line_names_a_directory_and_a_file) {
  temp_tree tree;
  std::string a = tree.path("mail/a.eml");
  std::string b = tree.path("mail/sub/b.eml");
  std::string mail = long_dir(tree, "mail");
  std::string sub = long_dir(tree, "mail/sub");
  struct {
    std::string content;
    std::vector<std::pair<std::string, std::string>> handed;
  } cases[] = {
      // An earlier listing: the name is the text before the first "|".
      {a + "|2048|08/14/2013|x\n" + b + "|1|y\n", {{mail, "a.eml"}, {sub, "b.eml"}}},
      {a + "   \n" + b + " \r\n", {{mail, "a.eml"}, {sub, "b.eml"}}},
      {a + "\r\n" + b + "\r\n", {{mail, "a.eml"}, {sub, "b.eml"}}},
      {a + "  |x\n", {{mail, "a.eml"}}},
      // The last line needs no line end and keeps its last character.
      {a + "\n" + b, {{mail, "a.eml"}, {sub, "b.eml"}}},
      // An empty line ends the list, also in a CR LF list.
      {a + "\n\n" + b + "\n", {{mail, "a.eml"}}},
      {a + "\r\n\r\n" + b + "\r\n", {{mail, "a.eml"}}},
      {"\n" + a + "\n", {}},
      {"", {}},
      // A line without a name, or naming a directory, names no file.
      {"|2048\n" + a + "\n", {{mail, "a.eml"}}},
      {tree.path("mail") + k_path_separator + "\n" + a + "\n", {{mail, "a.eml"}}},
      // The header line of a listing is passed on; file selection skips it.
      {"Filename|Size\n" + a + "\n", {{current_dir(), "Filename"}, {mail, "a.eml"}}},
      {"rel.eml\n", {{current_dir(), "rel.eml"}}},
  };
  for (const auto& c : cases) EXPECT_EQ(read_list(tree, c.content), c.handed) << c.content;
}

TEST(source_list, a_line_whose_path_is_too_long_is_skipped_and_named) {
  temp_tree tree;
  std::string a = tree.path("a.eml");
  std::string base = tree.root() + k_path_separator;
  std::string root = k_long_path_prefix + base;
  // The longest full path taken, long-path prefix included, and one byte more.
  std::size_t room = k_list_path_limit - std::string_view(k_long_path_prefix).size() - base.size();
  std::string longest = std::string(room, 'n');
  struct {
    std::string content;
    std::vector<std::pair<std::string, std::string>> handed;
    std::string err;
  } cases[] = {
      {base + longest + "\n" + a + "\n", {{root, longest}, {root, "a.eml"}}, ""},
      {base + longest + "m\n" + a + "\n",
       {{root, "a.eml"}},
       "\nSource list line 1 skipped: the path is too long\n"},
      // The rest of an overlong line is not taken for further lines.
      {std::string(40000, 'x') + "\n" + a + "\n",
       {{root, "a.eml"}},
       "\nSource list line 1 skipped: the path is too long\n"},
      {a + "\n" + std::string(k_list_line_limit + 1, 'x') + "\r\n" + a + "\n",
       {{root, "a.eml"}, {root, "a.eml"}},
       "\nSource list line 2 skipped: the path is too long\n"},
      // The line fits, but not its full path.
      {std::string(k_list_line_limit, 'r') + "\n" + a + "\n",
       {{root, "a.eml"}},
       "\nSource list line 1 skipped: the path is too long\n"},
  };
  for (const auto& c : cases) {
    testing::internal::CaptureStderr();
    auto handed = read_list(tree, c.content);
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, c.err);
    EXPECT_EQ(handed, c.handed) << c.content.size();
  }
}

namespace {

bool s_converted = false;

// A stand-in for the ANSI code page: Latin-1.
bool latin1_to_utf8(const std::string& bytes, std::string& out) {
  s_converted = true;
  out.clear();
  for (char c : bytes) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x80) {
      out += c;
    } else {
      out += static_cast<char>(0xC0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  return true;
}

bool failed_conversion(const std::string&, std::string&) { return false; }

}  // namespace

TEST(source_list, each_name_goes_through_the_code_page_conversion) {
  temp_tree tree;
  std::string mail = k_long_path_prefix + tree.path("mail") + k_path_separator;
  std::string named = tree.path("mail") + k_path_separator;
  {
    scoped_platform saved;
    g_platform.ansi_text_to_utf8 = latin1_to_utf8;
    s_converted = false;
    auto handed = read_list(tree, named + "caf\xE9.eml|1\n");
    EXPECT_TRUE(s_converted);
    std::vector<std::pair<std::string, std::string>> expected = {{mail, "caf\xC3\xA9.eml"}};
    EXPECT_EQ(handed, expected);
  }
  {
    scoped_platform saved;
    g_platform.ansi_text_to_utf8 = failed_conversion;
    auto handed = read_list(tree, named + "x.eml\n" + named + "y.eml\n");
    EXPECT_TRUE(handed.empty());
  }
}

TEST(source_list, the_real_conversion_keeps_utf8_and_yields_utf8) {
  std::string out;
  ASSERT_TRUE(g_platform.ansi_text_to_utf8("caf\xC3\xA9.eml", out));
  EXPECT_EQ(out, "caf\xC3\xA9.eml");
  ASSERT_TRUE(g_platform.ansi_text_to_utf8("caf\xE9.eml", out));
  if (k_windows) {
    // Every ANSI code page maps 0xE9 to some character; the result is UTF-8.
    EXPECT_NE(out, "caf\xE9.eml");
    EXPECT_EQ(out.substr(0, 3), "caf");
  } else {
    EXPECT_EQ(out, "caf\xE9.eml");
  }
}
