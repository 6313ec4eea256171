#include "listing/sources/line_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "listing/sources/mailbox.h"
#include "listing/sources/mailbox_cursor.h"
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
      // Without an LF, a file's lines end in a bare CR (old Mac files); a CR
      // LF pair there is still one line end.
      {"From: a\rTo: b\r", {"From: a$", "To: b$"}},
      {"a\r\rb", {"a$", "$", "b"}},
      {"\r", {"$"}},
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
  scoped_short_reads reads(1);
  for (int64_t limit : {1, 2, 3}) {
    reads.set_limit(limit);
    for (const reader_case& c : reader_cases()) {
      tree.write("m.eml", c.bytes);
      EXPECT_EQ(read_all(tree.path("m.eml")), c.lines) << limit << ": " << c.bytes;
    }
  }
}

namespace {

// A source that makes its bytes in memory, as one built from another store's
// records does, handing out at most `step` bytes a read.
struct memory_bytes {
  std::string bytes;
  std::size_t at = 0;
  std::size_t step = 7;
};

int64_t read_memory(line_reader& reader, char* into, int64_t wanted) {
  auto& source = *static_cast<memory_bytes*>(reader.source_state);
  std::size_t n = std::min({static_cast<std::size_t>(wanted), source.step,
                            source.bytes.size() - source.at});
  std::memcpy(into, source.bytes.data() + source.at, n);
  source.at += n;
  return static_cast<int64_t>(n);
}

const message_source k_memory_source = {read_memory, k_file_source.next_chunk,
                                         k_file_source.finish_hashes, k_file_source.next_message};

}  // namespace

// A source is any table of the interface: the scan reads the same lines, and the
// digests take the same bytes, from memory as from a file.
TEST(line_reader, a_source_in_memory_gives_the_lines_and_digests_of_a_file) {
  temp_tree tree;
  std::vector<reader_case> cases = reader_cases();
  cases.push_back({std::string(k_field_capacity + 5, 'x') + "\r\nend", {}});
  for (const reader_case& c : cases) {
    tree.write("m.eml", c.bytes);
    std::vector<std::string> want = read_all(tree.path("m.eml"));
    auto reader = std::make_unique<line_reader>();
    auto line = std::make_unique<message_line>();
    auto hashes = std::make_unique<file_hashes>();
    choose_hash_columns(*hashes, true, false, false);
    start_file_hashes(*hashes, nullptr);
    memory_bytes bytes{c.bytes};
    attach_source(*reader, k_memory_source, &bytes, static_cast<int64_t>(c.bytes.size()));
    reader->hashes = hashes.get();
    std::vector<std::string> lines;
    while (read_line(*reader, *line)) {
      lines.push_back(std::string(line->text.view()) + (line->line_end ? "$" : ""));
    }
    EXPECT_FALSE(next_message(*reader));
    finish_message_hashes(*reader);
    EXPECT_EQ(lines, want) << c.bytes.substr(0, 40);
    EXPECT_TRUE(read_to_end(*reader));
    auto file_digest = std::make_unique<file_hashes>();
    choose_hash_columns(*file_digest, true, false, false);
    start_file_hashes(*file_digest, nullptr);
    add_to_file_hashes(*file_digest, c.bytes.data(), c.bytes.size());
    finish_file_hashes(*file_digest, true);
    EXPECT_EQ(hashes->texts[0].view(), file_digest->texts[0].view()) << c.bytes.substr(0, 40);
    free_file_hashes(*hashes);
    free_file_hashes(*file_digest);
    close_line_reader(*reader);
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

TEST(line_reader, a_file_of_cr_line_ends_is_judged_on_its_first_chunk_alone) {
  temp_tree tree;
  // 21845 lines of "ab" and a CR fill the first chunk but one byte.
  std::string cr_lines;
  for (int i = 0; i < 21845; ++i) cr_lines += "ab\r";
  ASSERT_EQ(cr_lines.size(), k_read_chunk - 1);
  std::vector<std::string> ab_lines(21845, "ab$");
  auto with = [&](std::vector<std::string> tail) {
    std::vector<std::string> lines = ab_lines;
    lines.insert(lines.end(), tail.begin(), tail.end());
    return lines;
  };
  struct {
    std::string bytes;
    std::vector<std::string> lines;
  } cases[] = {
      // An LF after the first chunk does not make its CRs bytes again; a CR LF
      // there is one line end, also when it spans two chunks.
      {cr_lines + "c\r\nd\re", with({"c$", "d$", "e"})},
      {cr_lines + "\r\nd", with({"$", "d"})},
      {cr_lines + "\r", with({"$"})},
  };
  for (const auto& c : cases) {
    tree.write("m.eml", c.bytes);
    EXPECT_EQ(read_all(tree.path("m.eml")), c.lines);
  }
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

namespace {

// What both block searches must find: ':', '=', NULs and letters byte by byte.
struct block_facts {
  block_marks found;
  uint64_t letters = 0;
};

block_facts one_by_one(const char* block) {
  block_facts facts;
  for (std::size_t i = 0; i < k_mark_block; ++i) {
    char c = block[i];
    uint64_t bit = uint64_t{1} << i;
    if (c == ':' || c == '=') facts.found.marks |= bit;
    if (c == '\0') facts.found.nuls |= bit;
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) facts.letters |= bit;
  }
  return facts;
}

void expect_same_facts(const block_marks& found, uint64_t letters, const block_facts& want,
                       int round) {
  EXPECT_EQ(found.marks, want.found.marks) << round;
  EXPECT_EQ(found.nuls, want.found.nuls) << round;
  EXPECT_EQ(letters, want.letters) << round;
}

// A filter that admits "om:" (as in From:) and "me=" (as in name=), in any case.
mark_filter test_filter() {
  mark_filter filter;
  filter.admit(':', 'o', 'm');
  filter.admit('=', 'm', 'e');
  return filter;
}

// The places of the marks of a line as read that the filter admits right after
// two letters.
std::vector<std::size_t> admitted_marks_in(std::string_view text, const mark_filter& filter) {
  std::vector<std::size_t> places;
  for (std::size_t i = 2; i < text.size(); ++i) {
    if ((text[i] == ':' || text[i] == '=') && is_ascii_letter(text[i - 2]) &&
        is_ascii_letter(text[i - 1]) && filter.admits(text[i], text[i - 2], text[i - 1])) {
      places.push_back(i);
    }
  }
  return places;
}

// The same as the reader knows them for a line it handed out from its chunk.
std::vector<std::size_t> marks_known_in(const line_reader& reader, std::string_view text) {
  std::vector<std::size_t> places;
  for_each_admitted_mark(reader, text, [&](std::size_t at) { places.push_back(at); });
  return places;
}

enum class reading { every_line, passing_over, looking_ahead };

// The lines of the file that hold an admitted mark, read every one (read_line)
// or passing over the others (read_marked_line), and when looking ahead also
// reading the line after each one handed out and stepping back over it, as the
// rules do; each step back must leave the lines handed out unchanged.
std::vector<std::string> admitted_lines(const std::string& path, reading how) {
  const mark_filter filter = test_filter();
  auto reader = std::make_unique<line_reader>();
  auto line = std::make_unique<message_line>();
  auto ahead = std::make_unique<message_line>();
  std::vector<std::string> lines;
  EXPECT_TRUE(open_line_reader(*reader, path));
  for (;;) {
    std::string_view text;
    if (how != reading::every_line) {
      marked_read got = read_marked_line(*reader, filter, *line, text);
      if (got == marked_read::end) break;
      if (got == marked_read::next_chunk) continue;
      if (lies_in_chunk(*reader, text)) {
        EXPECT_EQ(marks_known_in(*reader, text), admitted_marks_in(text, filter)) << text;
      }
    } else {
      if (!read_line(*reader, *line)) break;
      text = line->text.view();
    }
    if (!admitted_marks_in(text, filter).empty()) lines.emplace_back(text);
    if (how == reading::looking_ahead && read_line(*reader, *ahead)) step_back(*reader, *ahead);
  }
  close_line_reader(*reader);
  return lines;
}

// Contents where passing over lines could go wrong: marks at chunk and piece
// edges, CR LF across chunks, NULs before and after marks, long lines.
std::vector<std::string> awkward_contents() {
  const std::size_t n = k_field_capacity;
  std::vector<std::string> contents = {
      "From: a\nbody: x\nname=y\n",
      "xFrom: early\r\nFROM: upper\r\n\r\nname=\r\n",
      std::string("From: \0cut\nab\0From: after a NUL\nname=z\n", 40),
      "om:at the start\n" + std::string(k_read_chunk - 20, 'x') + "\r\nFrom: over the edge\r\n",
      std::string(k_read_chunk - 3, 'y') + "From: split\n",
      std::string(n, 'x') + "From: a piece starts here\nname=w\n",
      // The literal is cut by the piece edge, so neither piece holds it.
      std::string(n - 3, 'x') + "From: straddles a piece edge\nname=v\n",
      std::string(n - 4, 'x') + "From: q\r\nname=u\n",
      std::string(2 * n + 5, 'x') + "name=far\n" + std::string(70000, 'z'),
      "From: last line without an end",
      // Many admitted marks in one block, and some in the block's last bytes.
      "From:From:name=From:name=x:From: a\n" + std::string(25, 'y') + "name=From:\n",
      // Pairs the filter's key cannot tell from "om" but that are not letters.
      "/-: not looked at\nO\xed: nor this\nFrom: but this\n",
      // A NUL only in a later chunk, and only in an earlier one.
      std::string(k_read_chunk + 100, 'x') + std::string("\nFrom: a\0b\nname=t\n", 18),
      std::string("x\0y\n", 4) + std::string(k_read_chunk, 'x') + "\nFrom: clean\nname=s\n",
  };
  // Marks in every position of a line and a block, and lines of every length.
  std::string ladder;
  for (int i = 0; i < 300; ++i)
    ladder += std::string(i % 97, 'a') + "From: " + std::to_string(i) + "\n";
  contents.push_back(ladder);
  return contents;
}

}  // namespace

TEST(line_reader, both_block_searches_find_every_mark_letter_and_nul) {
  alignas(k_mark_block) char block[k_mark_block];
  uint32_t seed = 12345;
  for (int round = 0; round < 2000; ++round) {
    for (char& c : block) {
      seed = seed * 1103515245 + 12345;
      // Mostly marks, letters at the edges of both ranges and their neighbours
      // (also with bit 5 or bit 7 set), so that every bit position sees both
      // answers of each search.
      const char k_bytes[] = {':', '=', ';', '<',  '9',    'a',    'z',    'A',    'Z',    '@',
                              '[', '`', '{', '\0', '\xba', '\xbd', '\xc1', '\xe1', '\x01', '\n'};
      c = k_bytes[(seed >> 16) % sizeof k_bytes];
    }
    block_facts want = one_by_one(block);
    expect_same_facts(search_block(block), letters_of_block(block), want, round);
    expect_same_facts(search_block_baseline(block), letters_of_block_baseline(block), want, round);
    bool holds = (want.found.marks | want.found.nuls) != 0;
    EXPECT_EQ(holds_mark_or_nul(block), holds) << round;
    EXPECT_EQ(holds_mark_or_nul_baseline(block), holds) << round;
  }
}

TEST(line_reader, the_filter_admits_only_the_pairs_of_letters_given_in_either_case) {
  const mark_filter filter = test_filter();
  struct {
    char mark, first, second;
    bool admitted;
  } const cases[] = {
      {':', 'o', 'm', true},     {':', 'O', 'M', true},     {'=', 'm', 'E', true},
      {'=', 'o', 'm', false},    {':', 'm', 'e', false},    {':', '/', '-', false},
      {':', 'O', '\xed', false}, {':', '\xcf', 'm', false}, {':', '@', 'm', false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(filter.admits(c.mark, c.first, c.second), c.admitted)
        << c.mark << c.first << c.second;
  }
  mark_filter refuses;
  refuses.admit(':', '1', 'a');
  EXPECT_EQ(refuses.bits, mark_filter{}.bits);
  // After two letters, the short way gives the same answer for every pair.
  const std::string letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
  for (char mark : {':', '='}) {
    for (char first : letters) {
      for (char second : letters) {
        EXPECT_EQ(filter.admits_after_letters(mark, first, second),
                  filter.admits(mark, first, second))
            << mark << first << second;
      }
    }
  }
}

TEST(line_reader, passing_over_lines_keeps_every_line_with_an_admitted_mark) {
  temp_tree tree;
  scoped_short_reads reads(1);
  for (int64_t limit : {int64_t{1} << 30, int64_t{4093}, int64_t{7}, int64_t{1}}) {
    reads.set_limit(limit);
    for (const std::string& content : awkward_contents()) {
      tree.write("m.eml", content);
      std::vector<std::string> all = admitted_lines(tree.path("m.eml"), reading::every_line);
      EXPECT_FALSE(all.empty());
      for (reading how : {reading::passing_over, reading::looking_ahead}) {
        EXPECT_EQ(admitted_lines(tree.path("m.eml"), how), all)
            << "read limit " << limit << ": " << content.substr(0, 40);
      }
    }
  }
}

TEST(line_reader, both_forms_find_every_lf_then_f) {
  // A block and the byte before it, then one byte more, which a search may load.
  alignas(k_mark_block) char bytes[3 * k_mark_block] = {};
  char* from = bytes + k_mark_block - 1;
  uint32_t seed = 777;
  for (int round = 0; round < 4000; ++round) {
    for (char& c : bytes) {
      seed = seed * 1103515245 + 12345;
      // LF and 'F' often, so that pairs stand at every place, with neighbours
      // that differ from them by one bit.
      const char k_bytes[] = {'\n', 'F', 'f', 'x', '\r', 'N', '\x0b', '\xc6', '\x8a'};
      c = k_bytes[(seed >> 16) % sizeof k_bytes];
    }
    bool want = false;
    for (std::size_t i = 0; i < k_mark_block; ++i) want |= from[i] == '\n' && from[i + 1] == 'F';
    EXPECT_EQ(holds_lf_then_f(from), want) << round;
    EXPECT_EQ(holds_lf_then_f_baseline(from), want) << round;
  }
  // The pair at each place alone, the byte before the block's first included.
  for (std::size_t i = 0; i <= k_mark_block; ++i) {
    std::fill(std::begin(bytes), std::end(bytes), 'x');
    from[i] = '\n';
    if (i < k_mark_block) from[i + 1] = 'F';
    EXPECT_EQ(holds_lf_then_f(from), i < k_mark_block) << i;
    EXPECT_EQ(holds_lf_then_f_baseline(from), i < k_mark_block) << i;
  }
}

namespace {

// One message of a mailbox as it should be split: where it starts, its size, and
// its lines that hold a mark the filter admits.
struct mailbox_message {
  int64_t offset = 0;
  int64_t size = 0;
  std::vector<std::string> marked_lines;
  bool operator==(const mailbox_message&) const = default;
};

// The messages of `content` by the rule itself, line by line: a separator line
// is the first line or follows an empty one (CR LF ends included).
std::vector<mailbox_message> split_by_rule(const std::string& content, const mark_filter& filter) {
  std::vector<mailbox_message> messages;
  bool after_empty = true;
  for (std::size_t start = 0; start < content.size();) {
    std::size_t lf = content.find('\n', start);
    std::size_t next = lf == std::string::npos ? content.size() : lf + 1;
    std::string line = content.substr(start, (lf == std::string::npos ? content.size() : lf) - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (after_empty && is_separator_line(line)) {
      if (!messages.empty()) messages.back().size = static_cast<int64_t>(start) - messages.back().offset;
      messages.push_back({static_cast<int64_t>(start), 0, {}});
    }
    if (!messages.empty() && !admitted_marks_in(line, filter).empty()) {
      messages.back().marked_lines.push_back(line);
    }
    after_empty = line.empty();
    start = next;
  }
  if (!messages.empty()) messages.back().size = static_cast<int64_t>(content.size()) - messages.back().offset;
  return messages;
}

// The messages as the reader splits the file, passing over unmarked lines.
std::vector<mailbox_message> split_by_reader(const std::string& path, const mark_filter& filter) {
  auto reader = std::make_unique<line_reader>();
  auto line = std::make_unique<message_line>();
  std::vector<mailbox_message> messages;
  auto cursor = std::make_unique<mailbox_cursor>();
  EXPECT_TRUE(open_line_reader(*reader, path));
  attach_mailbox_cursor(*reader, *cursor, filter);
  do {
    mailbox_message message;
    std::string_view text;
    for (marked_read got; (got = read_marked_line(*reader, filter, *line, text)) != marked_read::end;) {
      if (got == marked_read::line && !admitted_marks_in(text, filter).empty()) {
        message.marked_lines.emplace_back(text);
      }
    }
    message.offset = reader->message_offset;
    message.size = message_size(*reader);
    messages.push_back(message);
  } while (next_message(*reader));
  close_line_reader(*reader);
  return messages;
}

// A mailbox whose separators fall at every place of a block and across chunk
// ends, among lines that start with 'F' and are no separator.
std::string mailbox_of_every_place(const std::string& line_end) {
  std::string content;
  for (int i = 0; i < 2200; ++i) {
    content += "From ann@example.org Mon Jan  1 10:00:00 2024" + line_end;
    // Mostly no other 'F' at a line start near the separator, which could stand
    // in for it.
    content += (i % 3 == 0 ? "From: a" : "Subject: a") + std::to_string(i) + line_end;
    content += line_end;
    // Bodies of every length, so that the next separator moves one byte on.
    content += std::string(static_cast<std::size_t>(i % 67), 'x') + line_end;
    if (i % 5 == 0) content += line_end + "From here on, not a separator" + line_end;
    if (i % 7 == 0) content += "From ann Mon Jan  1 10:00:00 2024 (no empty line before)" + line_end;
    if (i % 11 == 0) content += line_end + ">From ann Mon Jan  1 10:00:00 2024" + line_end;
    if (i % 13 == 0) content += "Fx name=value" + line_end + "F" + line_end;
    content += line_end;
  }
  return content;
}

}  // namespace

TEST(line_reader, a_mailbox_splits_at_every_separator_wherever_it_lies) {
  temp_tree tree;
  const mark_filter filter = test_filter();
  scoped_short_reads reads(1);
  // Empty lines before the first separator belong to no message, however short
  // the reads that bring them.
  struct layout {
    std::string lead;
    std::string line_end;
  };
  for (const layout& l : {layout{"", "\n"}, {"", "\r\n"}, {"\n\r\n", "\n"}, {"\n\r\n", "\r\n"}}) {
    const std::string& line_end = l.line_end;
    std::string content = l.lead + mailbox_of_every_place(line_end);
    std::vector<mailbox_message> want = split_by_rule(content, filter);
    // The content does what it is for: separators at every place of a block,
    // over several chunks.
    std::set<int64_t> places;
    for (const mailbox_message& message : want) places.insert(message.offset % k_mark_block);
    ASSERT_EQ(places.size(), k_mark_block);
    ASSERT_GT(content.size(), 3 * k_read_chunk);
    tree.write("mail.mbox", content);
    for (int64_t limit : {int64_t{1} << 30, int64_t{4093}, int64_t{100}, int64_t{7}}) {
      reads.set_limit(limit);
      EXPECT_EQ(split_by_reader(tree.path("mail.mbox"), filter), want)
          << "read limit " << limit << ", line end " << line_end.size() << ", lead "
          << l.lead.size();
    }
  }
}
