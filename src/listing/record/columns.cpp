#include "listing/record/columns.h"

#include <utility>

#include "INCLUDE_U/dates.h"

std::string_view digest_text_of(const file_hashes& hashes, digest_kind kind) {
  for (std::size_t i = 0; i < hashes.count; ++i) {
    if (hashes.kinds[i] == kind) return hashes.texts[i].view();
  }
  return {};
}

bool sent_utc_text(const parsed_date& date, cell_room& out) {
  out.clear();
  int64_t seconds = 0;
  if (!sent_time_of(date.sent_text.view(), seconds)) return false;
  calendar_time utc = utc_calendar_of(seconds);
  append_number(out, utc.year, 4, '0');
  for (auto [separator, value] : {std::pair{'-', utc.month}, std::pair{'-', utc.day},
                                  std::pair{'T', utc.hour}, std::pair{':', utc.minute},
                                  std::pair{':', utc.second}}) {
    out.push_back(separator);
    append_number(out, value, 2, '0');
  }
  out.push_back('Z');
  return true;
}
