// The date-text routines over any text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "INCLUDE_U/dates.h"
#include "fuzz_support.h"
#include "listing/scan/header_values.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool once = (fuzz_reset(), true);
  (void)once;
  std::string_view text(reinterpret_cast<const char*>(data), size);
  int year = 0, month = 0, day = 0;
  split_date_text(text, year, month, day);
  days_since_date(text);
  parsed_date date;
  parse_date_line(text, date);
  int total = 0;
  day_of_year(year, day, month, total);
  day_number(year, month, day);
  return 0;
}
