#include "listing/record_json.h"

#include <array>
#include <bit>
#include <charconv>

#include "INCLUDE_U/text.h"
#include "listing/readable_fields.h"
#include "settings/run_settings.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace {

void append_decimal(std::string& out, int64_t value, int width = 0) {
  char digits[24];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  (void)ec;  // 24 bytes hold every int64_t
  for (int fill = width - static_cast<int>(end - digits); fill > 0; --fill) out.push_back('0');
  out.append(digits, end);
}

// "yyyy-mm-dd".
void append_iso_date(std::string& out, int year, int month, int day) {
  append_decimal(out, year, 4);
  out.push_back('-');
  append_decimal(out, month, 2);
  out.push_back('-');
  append_decimal(out, day, 2);
}

// "yyyy-mm-ddThh:mm:ss", the ISO 8601 date and time without a zone.
void append_iso_time(std::string& out, const calendar_time& time) {
  append_iso_date(out, time.year, time.month, time.day);
  out.push_back('T');
  append_decimal(out, time.hour, 2);
  out.push_back(':');
  append_decimal(out, time.minute, 2);
  out.push_back(':');
  append_decimal(out, time.second, 2);
}

// An entry's number, its digits as the head has them but without leading zeros,
// which JSON does not allow: a header's own text may hold what looks like a head.
void append_entry_number(std::string& out, std::string_view digits) {
  while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
  out.append(digits);
}

// An entry field: [{"n": 1, "text": "..."}, ...], "n" being "body" for a body entry.
// `member` is `,"name":`, written whole so that it is one append.
void append_entries(std::string& out, std::string_view member, std::string_view field) {
  out.append(member);
  out.push_back('[');
  bool first = true;
  for_each_entry(field, [&](const field_entry& entry) {
    if (!first) out.push_back(',');
    first = false;
    out.append("{\"n\":");
    if (entry.label.empty())
      out.append("null");
    else if (entry.label == "body")
      append_json_string(out, entry.label);
    else
      append_entry_number(out, entry.label);
    out.append(",\"text\":");
    append_json_string(out, entry.text);
    out.push_back('}');
  });
  out.push_back(']');
}

// The read flag's text without its head and padding; null while it holds the
// start value, which says nothing was found.
void append_read_flag(std::string& out, std::string_view field) {
  out.append(",\"message_read\":");
  if (field == " Unknown  ") {
    out.append("null");
    return;
  }
  std::string_view text = field.substr(entry_head_length(field));
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  append_json_string(out, text);
}

// The Date-Time column's text without its apostrophe, in the plain form: its
// date is digits alone, so only the time text needs escapes.
void append_date_time(std::string& out, const parsed_date& date) {
  out.append(",\"date_time\":");
  std::size_t opened = out.size();
  append_json_string(out, date.time_text.view());
  std::string date_part;
  append_iso_date(date_part, date.year, date.month, date.day);
  date_part.push_back(' ');
  out.insert(opened + 1, date_part);
}

constexpr const char* k_json_hash_members[] = {",\"md5\":", ",\"sha1\":", ",\"sha256\":"};

}  // namespace

// Bytes that stand for themselves in a JSON string. 0xC2 may begin a C1 control,
// so it is looked at with the byte after it.
namespace {
constexpr std::array<bool, 256> k_plain_json_byte = [] {
  std::array<bool, 256> plain{};
  for (int c = 0x20; c < 256; ++c) plain[c] = c != '"' && c != '\\' && c != 0x7F && c != 0xC2;
  return plain;
}();
}  // namespace

// Where the first byte from `from` on that does not stand for itself is (the
// text's size when there is none): sixteen bytes at a time where SSE2 allows.
std::size_t first_byte_to_escape(std::string_view text, std::size_t from) {
  std::size_t at = from;
#ifdef __SSE2__
  const __m128i controls = _mm_set1_epi8(0x1F);
  for (; at + 16 <= text.size(); at += 16) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + at));
    // A byte at most 0x1F is its own maximum with 0x1F only when it is one.
    __m128i special = _mm_cmpeq_epi8(_mm_max_epu8(bytes, controls), controls);
    for (char c : {'"', '\\', '\x7F', '\xC2'}) {
      special = _mm_or_si128(special, _mm_cmpeq_epi8(bytes, _mm_set1_epi8(c)));
    }
    unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(special));
    if (mask != 0) return at + static_cast<std::size_t>(std::countr_zero(mask));
  }
#endif
  while (at < text.size() && k_plain_json_byte[static_cast<unsigned char>(text[at])]) ++at;
  return at;
}

void append_json_string(std::string& out, std::string_view text) {
  static constexpr char k_hex[] = "0123456789abcdef";
  out.push_back('"');
  std::size_t i = 0;
  while (i < text.size()) {
    // Most text needs no escape: it goes over a run at a time.
    std::size_t run = first_byte_to_escape(text, i);
    out.append(text.data() + i, run - i);
    i = run;
    if (i == text.size()) break;
    unsigned char c = static_cast<unsigned char>(text[i]);
    unsigned code = c;
    std::size_t length = 1;
    // C1 controls stand in UTF-8 as C2 80 to C2 9F.
    if (c == 0xC2) {
      unsigned next = i + 1 < text.size() ? static_cast<unsigned char>(text[i + 1]) : 0;
      if (next < 0x80 || next > 0x9F) {
        out.push_back(static_cast<char>(c));
        ++i;
        continue;
      }
      code = next;
      length = 2;
    }
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(static_cast<char>(c));
    } else {
      char escape[6] = {'\\', 'u', '0', '0', k_hex[code >> 4], k_hex[code & 15]};
      out.append(escape, sizeof escape);
    }
    i += length;
  }
  out.push_back('"');
}

bool append_sent_utc(std::string& out, const parsed_date& date) {
  int64_t seconds = 0;
  if (!sent_time_of(date.sent_text.view(), seconds)) return false;
  append_iso_time(out, utc_calendar_of(seconds));
  out.push_back('Z');
  return true;
}

void append_json_record_start(std::string& out, std::string_view name, int64_t size,
                              const file_dates& dates) {
  out.append("{\"file\":");
  append_json_string(out, name);
  out.append(",\"size\":");
  append_decimal(out, size);
  out.append(",\"modified\":");
  // The listing's time (local, or UTC when asked) against the file's own ticks.
  const calendar_time& shown = dates.write_time;
  int64_t offset_seconds =
      calendar_utc_seconds(shown.year, shown.month, shown.day, shown.hour, shown.minute,
                           shown.second) -
      ticks_to_seconds(dates.write_raw);
  int64_t minutes = offset_seconds / 60;
  out.push_back('"');
  append_iso_time(out, shown);
  out.push_back(minutes < 0 ? '-' : '+');
  if (minutes < 0) minutes = -minutes;
  append_decimal(out, minutes / 60, 2);
  out.push_back(':');
  append_decimal(out, minutes % 60, 2);
  out.push_back('"');
}

void append_json_record_end(std::string& out, const message_fields& fields,
                            const file_hashes& hashes, const message_place* place) {
  append_entries(out, ",\"from\":", fields.from.view());
  append_entries(out, ",\"to\":", fields.to.view());
  append_entries(out, ",\"cc\":", fields.cc.view());
  append_entries(out, ",\"bcc\":", fields.bcc.view());
  append_entries(out, ",\"date\":", fields.date.view());
  append_date_time(out, fields.date_time);
  append_entries(out, ",\"forward_date\":", fields.forward_date.view());
  append_entries(out, ",\"subject\":", fields.subject.view());
  append_read_flag(out, fields.message_read.view());
  append_entries(out, ",\"attachment_info\":", fields.attachment_info.view());
  append_entries(out, ",\"recent_ip\":", fields.recent_ip.view());
  if (place) {
    out.append(",\"message\":");
    append_decimal(out, place->number);
    out.append(",\"offset\":");
    append_decimal(out, place->offset);
  }
  if (g_settings->msgid) {
    out.append(",\"message_id\":");
    if (fields.message_id.empty())
      out.append("null");
    else
      append_json_string(out, fields.message_id.view());
  }
  if (g_settings->sent_utc) {
    out.append(",\"sent_utc\":");
    out.push_back('"');
    if (append_sent_utc(out, fields.date_time)) {
      out.push_back('"');
    } else {
      out.pop_back();
      out.append("null");
    }
  }
  for (std::size_t i = 0; i < hashes.count; ++i) {
    out.append(k_json_hash_members[static_cast<int>(hashes.kinds[i])]);
    append_json_string(out, hashes.texts[i].view());
  }
  out.append("}\n");
}
