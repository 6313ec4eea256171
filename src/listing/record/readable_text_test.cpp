#include "listing/record/readable_text.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "INCLUDE_U/text.h"
#include "platform/platform.h"
#include "test_util.h"

namespace {

struct decoding_case {
  std::string_view text;
  std::string_view charset;
  std::string_view expected;
};

std::string readable(std::string_view text, std::string_view charset) {
  std::string out = "[";
  readable_work work;
  append_readable_text(out, text, charset, work);
  return out;
}

// Expected strings are the same on every platform: a row that differs is a fault.
void expect_rows(const decoding_case* begin, const decoding_case* end) {
  for (const auto* row = begin; row != end; ++row) {
    // The text is appended: what `out` held stays in front.
    std::string expected = "[";
    expected += row->expected;
    EXPECT_EQ(readable(row->text, row->charset), expected)
        << "text: " << row->text << " charset: " << row->charset;
  }
}

template <std::size_t N>
void expect_rows(const decoding_case (&rows)[N]) {
  expect_rows(rows, rows + N);
}

}  // namespace

TEST(readable_text, decodes_b_and_q_words_in_any_case) {
  const decoding_case rows[] = {
      {"=?UTF-8?B?w6l0w6k=?=", "", "été"},
      {"=?utf-8?b?w6l0w6k=?=", "", "été"},
      {"=?ISO-8859-1?Q?R=E9sum=E9?=", "", "Résumé"},
      {"=?iso-8859-1?q?r=e9sum=e9?=", "", "résumé"},
      {"=?UTF-8?Q?a_b=5Fc?=", "", "a b_c"},
      // An '=' without two hex digits stays as it is.
      {"=?UTF-8?Q?a=4?=", "", "a=4"},
      {"=?UTF-8?Q?=ZZok=?=", "", "=ZZok="},
      {"=?UTF-8*en?Q?hi?=", "", "hi"},
      {"=?UTF-8?B?"
       "?=",
       "", ""},
      // Base64 without its padding, or part of it.
      {"=?UTF-8?B?w6l0w6k?=", "", "été"},
      {"=?UTF-8?B?VEVTVA=?=", "", "TEST"},
      {"=?NONE?B?VEVTVA==?=", "", "TEST"},
      {"=?GB2312?B?1tDOxA==?=", "", "中文"},
  };
  expect_rows(rows);
}

TEST(readable_text, decodes_iso_2022_jp_alike_on_both_platforms) {
  // Windows reads it with the program's own converter and code page 932.
  const decoding_case rows[] = {
      {"=?ISO-2022-JP?B?GyRCRnxLXBsoQg==?=", "", "日本"},
      {"=?ISO-2022-JP?B?GyRCPEJPKSFBIUIhXSFxIXIiTBsoQiB4?=", "", "実路〜‖−¢£¬ x"},
      {"=?ISO-2022-JP?B?GyhKYVx+GyhCXH4=?=", "", "a¥‾\\~"},
      {"=?ISO-2022-JP?B?GyRCJSIbKEI=?=", "", "ア"},
      // Rows JIS X 0208 lacks (code page 932's extensions), and a byte no
      // character takes: U+FFFD, and one byte later in ASCII.
      {"=?ISO-2022-JP?B?GyRCLSEbKEI=?=", "", "\uFFFD!"},
      {"=?ISO-2022-JP?B?YYBi?=", "", "a\uFFFDb"},
  };
  expect_rows(rows);
}

TEST(readable_text, decodes_charsets_wine_lacks) {
  // Wine's code page 54936 knows only GBK's two-byte characters; Windows itself
  // has GB18030. The Windows suite runs under wine, so it leaves this test out.
  if (k_windows) GTEST_SKIP() << "wine does not convert all of GB18030";
  const decoding_case rows[] = {
      {"\x94\x39\xfc\x36 \x81\x30\x8b\x38", "gb18030", "😀 Ā"},
      {"\xff\xff", "gb18030", "\uFFFD\uFFFD"},
  };
  expect_rows(rows);
}

TEST(readable_text, drops_white_space_only_between_adjacent_words) {
  const decoding_case rows[] = {
      {"=?UTF-8?Q?a?= =?UTF-8?Q?b?=", "", "ab"},
      {"=?UTF-8?Q?a?=\r\n\t=?UTF-8?Q?b?=", "", "ab"},
      {"=?UTF-8?Q?a?=\n =?ISO-8859-1?Q?=E9?=", "", "aé"},
      {"=?UTF-8?Q?a?==?UTF-8?Q?b?=", "", "ab"},
      {"=?UTF-8?Q?a?= b =?UTF-8?Q?c?=", "", "a b c"},
      {"=?UTF-8?Q?a?= x", "", "a x"},
      {"Re: =?UTF-8?Q?caf=C3=A9?=", "", "Re: café"},
      {"x=?UTF-8?Q?caf=C3=A9?=y", "", "xcaféy"},
      {"\"=?UTF-8?B?w6l0w6k=?=\" <a@b.example>", "", "\"été\" <a@b.example>"},
      {"\"=?UTF-8?Q?a?= =?UTF-8?Q?b?=\" <a@b.example>", "", "\"ab\" <a@b.example>"},
      // A character whose bytes two words share, as some senders split it.
      {"=?UTF-8?B?w6?= =?UTF-8?B?qQ==?=", "", "é"},
      // White space next to a word that does not decode stays.
      {"=?UTF-8?Q?a?= =?UTF-8?B?*?=", "", "a =?UTF-8?B?*?="},
  };
  expect_rows(rows);
}

TEST(readable_text, leaves_broken_words_as_they_stand) {
  const decoding_case rows[] = {
      {"=?UTF-8?B?w6l0w6k*?=", "", "=?UTF-8?B?w6l0w6k*?="},
      {"=?UTF-8?B?w6=l?=", "", "=?UTF-8?B?w6=l?="},
      {"=?UTF-8?B?w6k==?=", "", "=?UTF-8?B?w6k==?="},
      {"=?UTF-8?B?w6l0===?=", "", "=?UTF-8?B?w6l0===?="},
      {"=?UTF-8?B?w6l0w?=", "", "=?UTF-8?B?w6l0w?="},
      {"=?UTF-8?B?w6l0w6k", "", "=?UTF-8?B?w6l0w6k"},
      {"=?UTF-8?Q?a", "", "=?UTF-8?Q?a"},
      {"=?UTF-8?X?abc?=", "", "=?UTF-8?X?abc?="},
      {"=?UTF-8?Q?a b?=", "", "=?UTF-8?Q?a b?="},
      {"=??Q?a?=", "", "=??Q?a?="},
      {"a =? b ?= c", "", "a =? b ?= c"},
      {"=?", "", "=?"},
      {"", "", ""},
  };
  expect_rows(rows);
}

TEST(readable_text, takes_unknown_or_broken_charsets_as_utf8_or_windows_1252) {
  const decoding_case rows[] = {
      {"=?x-unknown?Q?caf=C3=A9?=", "", "café"},
      {"=?x-unknown?Q?caf=E9?=", "", "café"},
      {"=?UTF-8//IGNORE?Q?caf=E9?=", "", "café"},
      // Bytes the word's own charset does not define.
      {"=?UTF-8?Q?a=FFb?=", "", "a\uFFFDb"},
      {"=?UTF-8?Q?a=C3?=", "", "a\uFFFD"},
      // us-ascii and iso-8859-1 are read as windows-1252, as mail programs do.
      {"=?US-ASCII?Q?a=E9?=", "", "aé"},
      // A NUL never reaches the listing; a decoded line break cannot end the line.
      {"=?UTF-8?Q?a=00b?=", "", "a\uFFFDb"},
      {"=?UTF-8?Q?a=0D=0Ab?=", "", "a  b"},
      {std::string_view("a\0b", 3), "", "a\uFFFDb"},
  };
  expect_rows(rows);
}

TEST(readable_text, converts_other_bytes_from_the_message_charset) {
  const decoding_case rows[] = {
      {"R\xe9sum\xe9", "iso-8859-1", "Résumé"},
      {"R\xe9sum\xe9", "ISO-8859-1", "Résumé"},
      {"R\xe9sum\xe9", "", "Résumé"},
      {"R\xe9sum\xe9", "x-bogus", "Résumé"},
      {"\xd6\xd0\xce\xc4", "gb2312", "中文"},
      {"\xd6\xd0\xce\xc4", "", "ÖÐÎÄ"},
      // A GBK character outside GB2312, under a gb2312 label.
      {"\xe9"
       "F",
       "gb2312", "镕"},
      {"\xa4\xa4\xa4\xe5", "big5", "中文"},
      {"a\\b\x93\xfa\x96{", "shift_jis", "a\\b日本"},
      {"\xc7\xd1\xb1\xb9", "euc-kr", "한국"},
      {"\xc7\xd1\xb1\xb9", "ks_c_5601-1987", "한국"},
      {"\xd0\xd2\xc9\xd7\xc5\xd4", "koi8-r", "привет"},
      {"\xef\xf0\xe8\xe2\xe5\xf2", "windows-1251", "привет"},
      {"\xa4", "iso-8859-15", "€"},
      {"\xd9\xec\xdd\xe3\xe1", "iso-8859-7", "Ωμέγα"},
      // Valid UTF-8 stays, whatever the message says.
      {"caf\xc3\xa9", "iso-8859-1", "café"},
      {"caf\xc3\xa9 =?ISO-8859-1?Q?=E9?=", "", "café é"},
      // One invalid byte outside the words sends all of that text to the charset.
      {"caf\xc3\xa9 \xe9", "", "cafÃ© é"},
      {"a\xff"
       "b",
       "utf-8", "a\uFFFDb"},
      {"a\xe9", "us-ascii", "aé"},
      {"\x80\x9f", "iso-8859-1", "€Ÿ"},
      {"\xd0 \x80", "iso-8859-9", "Ğ €"},
      {"\xe9 =?UTF-8?Q?=C3=A9?=", "iso-8859-1", "é é"},
  };
  expect_rows(rows);
}

TEST(readable_text, gives_replacement_for_broken_multibyte_characters) {
  const decoding_case rows[] = {
      {"a\xd6", "gb2312", "a\uFFFD"},
      {"\x81 b", "gbk", "\uFFFD b"},
      {"\xa4 x", "big5", "\uFFFD x"},
      {"a\x80", "gb2312", "a€"},
      {"\xa0", "shift_jis", "\uFFFD"},
      {"\xfd", "shift_jis", "\uFFFD"},
      {"\x80", "euc-kr", "\uFFFD"},
      {"\xa1\x40", "big5", "\u3000"},
      {"\xd6\xd0\xce\xc4", "gb18030", "中文"},
  };
  expect_rows(rows);
}

TEST(readable_text, gives_replacement_for_bytes_the_systems_read_differently) {
  const decoding_case rows[] = {
      // Undefined in windows-1252 (glibc refuses them, Windows gives C1 controls).
      {"\x80\x81\x8d\x8f\x90\x9d", "", "€\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"\x80\x81", "windows-1252", "€\uFFFD"},
      // C1 controls of a page that defines them are no text either.
      {"a\x85", "iso-8859-2", "a\uFFFD"},
      {"\x80 \x81", "big5", "\uFFFD \uFFFD"},
      // Private-use characters: a single-byte page's undefined byte, and user-defined
      // areas (glibc refuses gbk's and keeps cp932's; Windows gives both).
      {"\xaa", "windows-1253", "\uFFFD"},
      {"\xf0", "macintosh", "\uFFFD"},
      {"\xa1\x40", "gb2312", "\uFFFD@"},
      {"\xf0\x40", "shift_jis", "\uFFFD@"},
      {"\xc9\xa1 \xb0\xa1", "euc-kr", "\uFFFD\uFFFD 가"},
  };
  expect_rows(rows);
}

TEST(readable_text, threads_convert_at_once_with_their_own_converters) {
  // Each thread keeps its own converters: more charsets than a thread keeps, taken
  // in turn by several threads at once, must each give their own text.
  const decoding_case rows[] = {
      {"\xd6\xd0\xce\xc4", "gb2312", "中文"},
      {"\xa4\xa4\xa4\xe5", "big5", "中文"},
      {"\x93\xfa\x96{", "shift_jis", "日本"},
      {"\xc7\xd1\xb1\xb9", "euc-kr", "한국"},
      {"\xd0\xd2\xc9\xd7\xc5\xd4", "koi8-r", "привет"},
      {"\xa4", "iso-8859-15", "€"},
      {"\xef\xf0\xe8\xe2\xe5\xf2", "windows-1251", "привет"},
      {"\xd9\xec\xdd\xe3\xe1", "iso-8859-7", "Ωμέγα"},
  };
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&rows, &wrong, t] {
      readable_work work;
      for (int round = 0; round < 300; ++round) {
        const auto& row = rows[(round + t) % std::size(rows)];
        std::string out;
        append_readable_text(out, row.text, row.charset, work);
        if (out != row.expected) ++wrong;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

TEST(readable_text, output_is_always_valid_utf8) {
  std::mt19937 random(31);
  const std::string_view pieces[] = {"=?",  "?=", "?B?", "?Q?",  "UTF-8", "gb2312", "=C3",
                                     "=A9", "_",  " ",   "\r\n", "\"",    "w6l0",   "=="};
  const std::string_view charsets[] = {"", "utf-8", "gb2312", "big5", "iso-2022-jp", "x-none"};
  readable_work work;
  for (int round = 0; round < 3000; ++round) {
    std::string text;
    int parts = static_cast<int>(random() % 12);
    for (int i = 0; i < parts; ++i) {
      if (random() % 2) {
        text += pieces[random() % std::size(pieces)];
      } else {
        text += static_cast<char>(random() % 256);
      }
    }
    std::string out;
    append_readable_text(out, text, charsets[round % std::size(charsets)], work);
    ASSERT_TRUE(is_strict_utf8(out)) << text;
    std::string valid;
    append_valid_utf8(valid, text);
    ASSERT_TRUE(is_strict_utf8(valid)) << text;
  }
}

TEST(append_valid_utf8, replaces_each_byte_outside_a_valid_sequence) {
  const decoding_case rows[] = {
      {"plain", "", "plain"},
      {"caf\xc3\xa9", "", "café"},
      {"\xc3", "", "\uFFFD"},
      {"\xe2\x82", "", "\uFFFD\uFFFD"},
      {"\xc0\xaf", "", "\uFFFD\uFFFD"},            // overlong
      {"\xed\xa0\x80", "", "\uFFFD\uFFFD\uFFFD"},  // a surrogate
      {"\xf4\x90\x80\x80", "", "\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"\xf0\x9f\x98\x80", "", "😀"},
      {std::string_view("\0", 1), "", "\uFFFD"},
  };
  for (const auto& row : rows) {
    std::string out;
    append_valid_utf8(out, row.text);
    EXPECT_EQ(out, row.expected) << row.text;
  }
}

TEST(utf8_prefix_length, never_splits_a_character) {
  const std::string text = "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80z";
  // The boundaries of a, é, 中, 😀, z.
  const std::size_t expected[] = {0, 1, 1, 3, 3, 3, 6, 6, 6, 6, 10, 11, 11};
  for (std::size_t limit = 0; limit < std::size(expected); ++limit) {
    EXPECT_EQ(utf8_prefix_length(text, limit), expected[limit]) << limit;
  }
  EXPECT_EQ(utf8_prefix_length("", 5), 0u);
}

TEST(needs_decoding, only_printable_ascii_without_a_word_start_is_left_alone) {
  const struct {
    std::string_view text;
    bool needed;
  } rows[] = {
      {"", false},
      {"Plain subject, with = and ? and ?=", false},
      {"tab\tand space", false},
      {"=? x", true},
      {"a=?b", true},
      {"ends with =", false},
      {"caf\xc3\xa9", true},
      {"\x7f", true},
      {"line\nbreak", true},
      {"\r", true},
      {std::string_view("\0", 1), true},
      // Longer texts go eight bytes at a time: a "=?" across two chunks, a tab or
      // '=' that only looks suspect, a byte to find in the second chunk or the tail.
      {"1234567=?abc", true},
      {"1234567\t89012345=x", false},
      {"abcdefgh=ijklmnop=", false},
      {"123456789012345\xc3\xa9", true},
      {"12345678901234567\x01", true},
      {"1234567812345678~", false},
  };
  for (const auto& row : rows) EXPECT_EQ(needs_decoding(row.text), row.needed) << row.text;
}

TEST(content_type_charset, finds_the_parameter_quoted_or_not) {
  const struct {
    std::string_view text;
    std::string_view charset;
  } rows[] = {
      {"text/plain; charset=\"iso-8859-1\"", "iso-8859-1"},
      {"text/plain; CHARSET=UTF-8", "UTF-8"},
      {"text/plain;charset=gb2312; format=flowed", "gb2312"},
      {"text/plain; charset=big5 format=flowed", "big5"},
      {"text/plain; charset = \"koi8-r\"", "koi8-r"},
      {"text/plain; charset=\"utf-8", "utf-8"},
      {"text/plain; xcharset=utf-8", ""},
      {"text/plain; xcharset=a; charset=b", "b"},
      {"text/plain; charset=", ""},
      {"text/plain", ""},
      {"", ""},
  };
  for (const auto& row : rows) EXPECT_EQ(content_type_charset(row.text), row.charset) << row.text;
}
