#include "settings/help_screen.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

// What a stream received, read back from a temporary file.
template <typename Write>
std::string written_by(Write write) {
  std::FILE* stream = std::tmpfile();
  EXPECT_NE(stream, nullptr);
  if (!stream) return std::string();
  write(stream);
  std::rewind(stream);
  std::string out;
  for (int c = std::getc(stream); c != EOF; c = std::getc(stream)) out += static_cast<char>(c);
  std::fclose(stream);
  return out;
}

const std::string k_check = k_windows ? "\xFB" : "\xE2\x88\x9A";

std::string repeated(std::string_view piece, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += piece;
  return out;
}

int s_keys_read = 0;
int enter_key() {
  ++s_keys_read;
  return '\n';
}

std::size_t count_of(const std::string& text, const std::string& piece) {
  std::size_t n = 0;
  for (std::size_t at = text.find(piece); at != std::string::npos; at = text.find(piece, at + 1)) {
    ++n;
  }
  return n;
}

}  // namespace

TEST(help_screen, print_centred_pads_by_half_the_free_width) {
  struct {
    int width;
    std::string text;
    std::string expected;
  } cases[] = {
      {80, "RETURN TO CONTINUE, ^C or x==exit",
       std::string(23, ' ') + "RETURN TO CONTINUE, ^C or x==exit"},
      {80, "", std::string(40, ' ')},
      {10, "abc", "   abc"},
      {4, "toolong", "toolong"},
      // The check mark is one character, whatever its bytes.
      {10, "ab" + k_check, "   ab" + k_check},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(written_by([&](std::FILE* s) { print_centred(c.width, c.text, s); }), c.expected)
        << c.text;
  }
}

TEST(help_screen, version_text_comes_from_the_build_date_and_time) {
  struct {
    const char* date;
    const char* time;
    std::string expected;
  } cases[] = {
      {"Aug 14 2013", "09:30:21", "13.08.14.09.30" + k_check},
      {"Jan  4 2024", "23:05:59", "24.01.04.23.05" + k_check},
      {"Dec 31 1999", "00:00:00", "99.12.31.00.00" + k_check},
      {"Xyz 14 2013", "09:30:21", "13..14.09.30" + k_check},
  };
  for (const auto& c : cases) EXPECT_EQ(version_text(c.date, c.time), c.expected) << c.date;
}

TEST(help_screen, banner_is_a_76_column_box_centred_in_80) {
  const std::string top_left = k_windows ? "\xC9" : "\xE2\x95\x94";
  const std::string horizontal = k_windows ? "\xCD" : "\xE2\x95\x90";
  const std::string top_right = k_windows ? "\xBB" : "\xE2\x95\x97";
  const std::string vertical = k_windows ? "\xBA" : "\xE2\x95\x91";
  const std::string bottom_left = k_windows ? "\xC8" : "\xE2\x95\x9A";
  const std::string bottom_right = k_windows ? "\xBC" : "\xE2\x95\x9D";
  std::string version = "13.08.14.09.30" + k_check;
  std::string expected = "  " + top_left + repeated(horizontal, 74) + top_right + "\n" +  //
                         "  " + vertical + std::string(33, ' ') + "MAILSIFT" +
                         std::string(33, ' ') + vertical + "\n" + "  " + vertical +
                         std::string(18, ' ') + "Ver. " + version + " (32 bit unicode) " +
                         std::string(18, ' ') + vertical + "\n" +                    //
                         "  " + vertical + std::string(74, ' ') + vertical + "\n" +  //
                         "  " + bottom_left + repeated(horizontal, 74) + bottom_right + "\n";
  EXPECT_EQ(help_banner(version), expected);
}

TEST(help_screen, five_pages_break_before_the_documented_lines) {
  scoped_platform saved;
  g_platform.read_key = enter_key;
  s_keys_read = 0;
  testing::internal::CaptureStderr();
  show_help();
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(s_keys_read, 4);
  std::string banner_end = help_banner(version_text(build_date(), build_time())) + "\n\n";
  EXPECT_EQ(count_of(err, banner_end), 5u);
  // Each page: the prompt line, the scrolled screen and the banner, then its first line.
  std::string prompt = "\n" + std::string(23, ' ') + "RETURN TO CONTINUE, ^C or x==exit";
  const char* page_starts[] = {
      "-p + path(s):",
      "-oO + YY[YY][MMDDhhmmss=name]:",
      "-a:   append to output file.",
      "-l #:               Show files less than",
      "-r:   DO NOT recurse through path",
  };
  std::size_t at = 0;
  for (int page = 0; page < 5; ++page) {
    std::size_t banner = err.find(banner_end, at);
    ASSERT_NE(banner, std::string::npos) << page;
    std::string before = err.substr(at, banner - at);
    std::string expected_before = (page == 0 ? "" : prompt) + std::string(26 + 28, '\n');
    EXPECT_EQ(before.substr(before.size() - expected_before.size()), expected_before) << page;
    at = banner + banner_end.size();
    EXPECT_EQ(err.compare(at, std::string_view(page_starts[page]).size(), page_starts[page]), 0)
        << err.substr(at, 40);
  }
  EXPECT_EQ(count_of(err, prompt), 4u);
}

TEST(help_screen, text_width_counts_console_characters) {
  EXPECT_EQ(text_width("MAILSIFT"), 8);
  EXPECT_EQ(text_width(""), 0);
  EXPECT_EQ(text_width(k_check), 1);
  EXPECT_EQ(text_width(help_banner("x").substr(0, help_banner("x").find('\n'))), 78);
}

// Each option stands in its section, in the two-column layout, within 80 columns.
TEST(help_screen, posix_option_lines_name_every_option_in_its_section_within_80_columns) {
  if (k_windows) GTEST_SKIP() << "Windows shows the option lines of the pages";
  std::string text = plain_help_option_text();
  const struct {
    const char* option;
    const char* section;
  } rows[] = {
      {"  --SENT-AFTER=date ", "Selection\n"},
      {"  --SENT-BEFORE=date ", "Selection\n"},
      {"  --MBOX ", "Output\n"},
      {"  --UTF ", "Output\n"},
      {"  --MSGID ", "Output\n"},
      {"  --SENT-UTC ", "Output\n"},
      {"  --JSON ", "Output\n"},
      {"  --help, --version ", "Help\n"},
      {"  -.ini ", "Help\n"},
  };
  std::size_t examples = text.find("Examples\n");
  for (const auto& row : rows) {
    std::size_t at = text.find(row.option);
    ASSERT_NE(at, std::string::npos) << row.option;
    EXPECT_LT(at, examples) << row.option;
    std::size_t section = text.rfind("\n\n", at);
    ASSERT_NE(section, std::string::npos) << row.option;
    EXPECT_EQ(text.compare(section + 2, std::string_view(row.section).size(), row.section), 0)
        << row.option;
    // Its description starts in column 27, as every other's.
    std::size_t line_end = text.find('\n', at);
    std::string line = text.substr(at, line_end - at);
    ASSERT_GT(line.size(), 26u) << line;
    EXPECT_TRUE(line[25] == ' ' && line[26] != ' ') << line;
  }
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos;
       start = end + 1, end = text.find('\n', start)) {
    EXPECT_LE(text_width(text.substr(start, end - start)), 80) << text.substr(start, end - start);
  }
}
