#include "INCLUDE_U/numbers.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

TEST(number_formatting, thousands_separators) {
  struct {
    uint32_t value;
    const char* text;
  } cases[] = {{0, "0"},
               {7, "7"},
               {999, "999"},
               {1000, "1,000"},
               {123456, "123,456"},
               {1234567, "1,234,567"},
               {100000000, "100,000,000"},
               {4294967295u, "4,294,967,295"}};
  for (const auto& c : cases) EXPECT_STREQ(format_thousands(c.value), c.text) << c.value;
}

TEST(number_formatting, thousands_separators_64_bit_and_negative) {
  struct {
    int64_t value;
    const char* text;
  } cases[] = {{0, "0"},
               {-1234, "-1,234"},
               {-999, "-999"},
               {123456789012LL, "123,456,789,012"},
               {INT64_MAX, "9,223,372,036,854,775,807"},
               {INT64_MIN, "-9,223,372,036,854,775,808"}};
  for (const auto& c : cases) EXPECT_STREQ(format_thousands64(c.value), c.text) << c.value;
}

TEST(number_formatting, each_formatter_keeps_its_own_buffer) {
  const char* count = format_thousands(1234);
  const char* bytes = format_thousands64(5678901);
  EXPECT_STREQ(count, "1,234");
  EXPECT_STREQ(bytes, "5,678,901");
  // A second call of the same formatter reuses its buffer.
  const char* first = format_thousands(1);
  format_thousands(2);
  EXPECT_STREQ(first, "2");
}

TEST(run_summary, directory_count_line) {
  EXPECT_EQ(directory_count_text(0, 0), "\n  0 directories, 0 files\n");
  EXPECT_EQ(directory_count_text(1, 12), "\n  1 directory, 12 files\n");
  EXPECT_EQ(directory_count_text(2, 1), "\n  2 directories, 1 files\n");
  // A run that lists messages counts them too, in the plural only where it is one.
  EXPECT_EQ(message_count_text(1, 1, 11391), "\n  1 directory, 11,391 messages in 1 file\n");
  EXPECT_EQ(message_count_text(0, 2, 1), "\n  0 directories, 1 message in 2 files\n");
  EXPECT_EQ(message_count_text(1200, 0, 0), "\n  1,200 directories, 0 messages in 0 files\n");
}

TEST(run_summary, elapsed_time_is_not_folded_into_days) {
  EXPECT_EQ(elapsed_text(0), " 0 hrs. 0 mins. 0 secs.");
  EXPECT_EQ(elapsed_text(59), " 0 hrs. 0 mins. 59 secs.");
  EXPECT_EQ(elapsed_text(3600), " 1 hrs. 0 mins. 0 secs.");
  EXPECT_EQ(elapsed_text(3725), " 1 hrs. 2 mins. 5 secs.");
  EXPECT_EQ(elapsed_text(86400), " 24 hrs. 0 mins. 0 secs.");
}
