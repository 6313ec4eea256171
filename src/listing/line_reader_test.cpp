#include "listing/line_reader.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

// The lines of a file as the reader hands them out: text, then "$" for a line end.
std::vector<std::string> read_all(const std::string& path) {
  auto reader = std::make_unique<line_reader>();
  auto line = std::make_unique<message_line>();
  std::vector<std::string> lines;
  EXPECT_TRUE(open_line_reader(*reader, path));
  while (read_line(*reader, *line)) {
    lines.push_back(std::string(line->text.view()) + (line->line_end ? "$" : ""));
  }
  close_line_reader(*reader);
  return lines;
}

int64_t (*s_real_read)(read_handle, void*, int64_t) = nullptr;
int64_t s_read_limit = 1;

// Hands out at most s_read_limit bytes per read, as a pipe or a slow disk may.
int64_t read_a_little(read_handle file, void* buffer, int64_t size) {
  return s_real_read(file, buffer, size < s_read_limit ? size : s_read_limit);
}

int64_t failing_read(read_handle, void*, int64_t) { return -1; }

struct reader_case {
  std::string bytes;
  std::vector<std::string> lines;
};

std::vector<reader_case> reader_cases() {
  return {
      {"", {}},
      {"a\nb\n", {"a$", "b$"}},
      {"a\r\nb\r\n", {"a$", "b$"}},
      // A last line without a line end keeps every character.
      {"a\r\nlast", {"a$", "last"}},
      {"\n\r\n", {"$", "$"}},
      // A lone CR is an ordinary byte; only CR LF is a line end.
      {"a\rb\r\r\nc\r", {"a\rb\r$", "c\r"}},
      // Ctrl-Z does not end the file.
      {"a\x1a\nb\n", {"a\x1a$", "b$"}},
      // The text ends at a NUL; what follows it on that line is not seen.
      {std::string("ab\0cd\nnext\n", 11), {"ab", "next$"}},
      {std::string("\0\n", 2), {""}},
  };
}

}  // namespace

TEST(line_reader, turns_crlf_into_lf_and_keeps_other_bytes) {
  temp_tree tree;
  for (const reader_case& c : reader_cases()) {
    tree.write("m.eml", c.bytes);
    EXPECT_EQ(read_all(tree.path("m.eml")), c.lines) << c.bytes;
  }
}

TEST(line_reader, gives_the_same_lines_whatever_each_read_delivers) {
  temp_tree tree;
  scoped_platform swap;
  s_real_read = g_platform.read_bytes;
  g_platform.read_bytes = read_a_little;
  for (int64_t limit : {1, 2, 3}) {
    s_read_limit = limit;
    for (const reader_case& c : reader_cases()) {
      tree.write("m.eml", c.bytes);
      EXPECT_EQ(read_all(tree.path("m.eml")), c.lines) << limit << ": " << c.bytes;
    }
  }
}

TEST(line_reader, keeps_a_cr_lf_split_between_two_chunks_together) {
  temp_tree tree;
  // The CR is the last byte of the first chunk, its LF the first of the second.
  std::string first(k_read_chunk - 1, 'x');
  tree.write("m.eml", first + "\r\nnext\r\n");
  std::vector<std::string> lines = read_all(tree.path("m.eml"));
  ASSERT_EQ(lines.size(), 4u);
  // 65535 characters arrive as two full pieces and a rest.
  EXPECT_EQ(lines[0].size(), k_field_capacity);
  EXPECT_EQ(lines[1].size(), k_field_capacity);
  EXPECT_EQ(lines[2], std::string(k_read_chunk - 1 - 2 * k_field_capacity, 'x') + "$");
  EXPECT_EQ(lines[3], "next$");
}

TEST(line_reader, delivers_a_long_line_in_pieces_of_at_most_32767_characters) {
  temp_tree tree;
  const std::size_t n = k_field_capacity;
  struct {
    std::size_t length;
    std::vector<std::string> lines;
  } cases[] = {
      // The line end counts towards a read's characters.
      {n - 1, {std::string(n - 1, 'x') + "$", "z$"}},
      {n, {std::string(n, 'x'), "$", "z$"}},
      {n + 1, {std::string(n, 'x'), "x$", "z$"}},
      {40000, {std::string(n, 'x'), std::string(40000 - n, 'x') + "$", "z$"}},
  };
  for (const auto& c : cases) {
    tree.write("lf.eml", std::string(c.length, 'x') + "\nz\n");
    EXPECT_EQ(read_all(tree.path("lf.eml")), c.lines) << c.length;
    tree.write("crlf.eml", std::string(c.length, 'x') + "\r\nz\r\n");
    EXPECT_EQ(read_all(tree.path("crlf.eml")), c.lines) << c.length;
  }
}

TEST(line_reader, a_step_back_hands_back_exactly_the_line_read_ahead) {
  temp_tree tree;
  for (const char* bytes : {"one\ntwo\nthree\n", "one\r\ntwo\r\nthree"}) {
    tree.write("m.eml", bytes);
    auto reader = std::make_unique<line_reader>();
    auto line = std::make_unique<message_line>();
    ASSERT_TRUE(open_line_reader(*reader, tree.path("m.eml")));
    ASSERT_TRUE(read_line(*reader, *line));
    ASSERT_TRUE(read_line(*reader, *line));
    EXPECT_EQ(line->text.view(), "two");
    step_back(*reader, *line);
    line->text.assign("changed");
    ASSERT_TRUE(read_line(*reader, *line));
    EXPECT_EQ(line->text.view(), "two");
    EXPECT_TRUE(line->line_end);
    ASSERT_TRUE(read_line(*reader, *line));
    EXPECT_EQ(line->text.view(), "three");
    EXPECT_FALSE(read_line(*reader, *line));
    close_line_reader(*reader);
  }
}

TEST(line_reader, a_failing_read_ends_the_file) {
  temp_tree tree;
  tree.write("m.eml", "a\nb\n");
  scoped_platform swap;
  g_platform.read_bytes = failing_read;
  EXPECT_EQ(read_all(tree.path("m.eml")), std::vector<std::string>{});
}

TEST(line_reader, a_missing_file_cannot_be_opened) {
  temp_tree tree;
  auto reader = std::make_unique<line_reader>();
  EXPECT_FALSE(open_line_reader(*reader, tree.path("missing.eml")));
  close_line_reader(*reader);
}
