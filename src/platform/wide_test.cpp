#include "platform/utf8.h"
#include "platform/wide.h"

#include <gtest/gtest.h>

TEST(wide_text, round_trips_names_including_unpaired_surrogates) {
  const std::u16string names[] = {u"plain.eml", u"caf\u00e9.eml", u"\U0001F4E7 mail.eml",
                                  std::u16string(1, char16_t(0xD800)) + u".eml"};
  for (const std::u16string& name : names) {
    EXPECT_EQ(utf8_to_utf16(utf16_to_utf8(name)), name);
  }
}

TEST(wide_text, validity_check_rejects_bytes_that_are_not_utf8) {
  EXPECT_TRUE(is_valid_utf8("caf\xc3\xa9"));
  EXPECT_FALSE(is_valid_utf8("caf\xe9"));
  EXPECT_FALSE(is_valid_utf8("\xed\xa0\x80"));  // a surrogate written as UTF-8
  EXPECT_FALSE(is_valid_utf8("\xc0\xaf"));      // overlong
}
