// The JSON Lines writer: one object per record, built whole and sent in one piece.
#include "listing/record/record_json.h"

#include <array>
#include <bit>
#include <charconv>

#include "INCLUDE_U/text.h"
#include "listing/record/record.h"

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

namespace {

// `,"member":`, the start of each member after the first.
void append_member(std::string& out, std::string_view member) {
  out.append(",\"");
  out.append(member);
  out.append("\":");
}

// A field of entries: [{"n": 1, "text": "..."}, ...], "n" being "body" for a body
// entry and null for text before the first head.
void append_entries(std::string& out, entries_view field) {
  out.push_back('[');
  bool first = true;
  visit_entries(field, [&](const field_entry& entry) {
    if (!first) out.push_back(',');
    first = false;
    out.append("{\"n\":");
    if (!entry.numbered)
      out.append("null");
    else if (entry.number == k_body_entry)
      out.append("\"body\"");
    else
      append_decimal(out, entry.number);
    out.append(",\"text\":");
    append_json_string(out, entry.text);
    out.push_back('}');
  });
  out.push_back(']');
}

// The read flag's word without its head and padding; null while it holds the
// start value, which says nothing was found.
void append_read_flag(std::string& out, entries_view field) {
  if (field.text == k_unknown_read_flag) {
    out.append("null");
    return;
  }
  std::string_view text = field.text;
  if (field.count != 0 && field.place(0).head == 0) text.remove_prefix(field.place(0).text);
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  append_json_string(out, text);
}

// The Date-Time column's text without its apostrophe, in the plain form.
void append_date_time(std::string& out, const parsed_date& date) {
  std::string text;
  append_iso_date(text, date.year, date.month, date.day);
  text.push_back(' ');
  text.append(date.time_text.view());
  append_json_string(out, text);
}

void append_cell(record_writer& w, const scan_options& options, const field_column& column,
                 const record_facts& facts, cell_room& room) {
  std::string& out = w.json;
  record_cell cell = column.cell(facts, room);
  switch (cell.kind) {
    case cell_kind::entries:
      append_entries(out, shown_entries(w, options, column, cell, *facts.fields));
      return;
    case cell_kind::read_flag:
      append_read_flag(out, shown_entries(w, options, column, cell, *facts.fields));
      return;
    case cell_kind::date_time:
      append_date_time(out, shown_date(w, options, *cell.date));
      return;
    case cell_kind::number:
      append_decimal(out, cell.number);
      return;
    case cell_kind::text:
      if (cell.absent)
        out.append("null");
      else
        append_json_string(out, shown_text(w, options, column, cell));
      return;
  }
}

void write_json_header(record_writer&, const scan_options&) {}

void write_json_start(record_writer& out, const scan_options&, std::string_view name,
                      int64_t size, const file_dates& dates) {
  // The whole line is gathered first and goes out with its end, in one piece.
  out.json.clear();
  append_json_record_start(out.json, name, size, dates);
}

void write_json_end(record_writer& out, const scan_options& options, const record_facts& facts) {
  cell_room room;
  for (const field_column& column : k_field_columns) {
    if (!column_present(column, options)) continue;
    append_member(out.json, column.json_member);
    append_cell(out, options, column, facts, room);
  }
  out.json.append("}\n");
  send_record(out, out.json);
}

std::size_t first_json_record_length(std::string_view records) {
  std::size_t end = records.find('\n');
  return end == std::string_view::npos ? records.size() : end + 1;
}

}  // namespace

const record_form k_json_form = {write_json_header, write_json_start, write_json_end,
                                 first_json_record_length};
