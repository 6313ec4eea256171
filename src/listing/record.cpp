#include "listing/record.h"

#include <cstring>
#include <utility>

#include "INCLUDE_U/text.h"
#include "listing/eml_program.h"
#include "listing/readable_fields.h"
#include "listing/readable_text.h"
#include "listing/record_json.h"
#include "platform/platform.h"
#include "settings/run_settings.h"

namespace {

// The file's own columns, before the message fields.
constexpr const char* k_file_columns[] = {"Filename", "Size", "File-(MOD)Date"};

bool quoting() { return g_settings->quote_fields != 0; }

bool readable() { return g_settings->utf != 0; }

bool json() { return g_settings->json != 0; }

// Every quoted field doubles its quotes, whatever the delimiter: a reader of the
// quoted form ends a field at a lone quote, with a semicolon as with a comma.
bool doubling_quotes() { return quoting(); }

// Whether the listing is shown on a terminal, where text from the files must not
// reach the terminal as control characters.
record_writer& start_record_writer(record_writer& out, std::FILE* stream) {
  out.stream = stream;
  if (stream != out.checked_stream) {
    out.checked_stream = stream;
    out.on_terminal = g_platform.is_terminal(stream);
  }
  out.pending.clear();
  return out;
}

// Text of the record on its way out: to what the writer holds, or through the
// listing's writer, which counts where each record ends.
void send(record_writer& out, std::string_view text) {
  if (out.held)
    out.held->append(text);
  else
    write_listing_text(out.stream, text);
}

void flush(record_writer& out) {
  send(out, out.pending.view());
  out.pending.clear();
}

void put(record_writer& out, char c) {
  if (!out.pending.push_back(c)) {
    flush(out);
    out.pending.push_back(c);
  }
}

// Text of the program's own making.
void put(record_writer& out, std::string_view text) {
  bounded_text<4096>& pending = out.pending;
  if (text.size() > pending.capacity - pending.size()) flush(out);
  if (text.size() > pending.capacity) {
    send(out, text);
    return;
  }
  std::memcpy(pending.data() + pending.size(), text.data(), text.size());
  pending.length += text.size();
  pending[pending.length] = '\0';
}

// Text from the files, which a terminal must not see as control characters.
void put_untrusted(record_writer& out, std::string_view text) {
  if (!out.on_terminal) return put(out, text);
  flush(out);
  if (out.held)
    append_untrusted_text(*out.held, text, true);
  else
    write_untrusted_text(out.stream, text, true);
}

// Writes `text` as one field, in double quotes when quoting.
void write_field(record_writer& out, std::string_view text, bool quoted) {
  if (quoted) put(out, '"');
  put_untrusted(out, text);
  if (quoted) put(out, '"');
}

template <std::size_t N>
void append_doubling_quotes(bounded_text<N>& out, std::string_view text, bool doubled) {
  for (char c : text) {
    // A pair that does not fit whole is left out: a lone quote would end the field.
    if (c == '"' && doubled && (out.size() + 2 > N || !out.push_back('"'))) return;
    out.push_back(c);
  }
}

void write_delimiter(record_writer& out) { put(out, g_delimiter); }

void write_date_time(record_writer& out, const parsed_date& date) {
  bounded_text<96> text;
  // The year is zero-padded in plain mode and space-padded in quoted mode.
  text.push_back('\'');
  append_number(text, date.year, 4, quoting() ? ' ' : '0');
  text.push_back('-');
  append_number(text, date.month, 2, '0');
  text.push_back('-');
  append_number(text, date.day, 2, '0');
  text.push_back(' ');
  append_doubling_quotes(text, date.time_text.view(), doubling_quotes());
  write_field(out, text.view(), quoting());
}

}  // namespace

void reset_message_fields(message_fields& fields) {
  for (const field_column& column : k_field_columns) {
    if (column.field) (fields.*column.field).clear();
  }
  fields.message_read.assign(" Unknown  ");
  fields.message_id.clear();
  fields.charset.clear();
  fields.date_time = parsed_date{};
}

void choose_hash_columns_from_settings(file_hashes& hashes) {
  choose_hash_columns(hashes, g_settings->hash != 0, g_settings->sha1 != 0, g_settings->sha2 != 0);
}

void start_listing() {
  if (g_settings->nameafter && g_nameafter_count == -1) g_nameafter_count = 50;
  begin_listing_file();
  write_listing_header(g_out_file);
  note_whole_record();
}

void begin_listing_file() {
  if (readable() && !json() && g_delimiter == ',' && listing_starts_output_file()) {
    write_listing_text(g_out_file, "\xEF\xBB\xBF");
  }
}

std::size_t first_record_length(std::string_view records) {
  std::size_t end = json() ? records.find('\n') : records.find('\n', 1);
  if (end == std::string_view::npos) return records.size();
  return json() ? end + 1 : end;
}

void write_listing_header(std::FILE* stream) {
  if (json()) return;
  static record_writer header;
  record_writer& out = start_record_writer(header, stream);
  bool first = true;
  for (const char* column : k_file_columns) {
    if (!first) write_delimiter(out);
    write_field(out, column, quoting());
    first = false;
  }
  for (const field_column& column : k_field_columns) {
    write_delimiter(out);
    write_field(out, column.name, quoting());
  }
  for (auto [wanted, column] :
       {std::pair{g_settings->mbox, "Message"}, std::pair{g_settings->mbox, "Offset"},
        std::pair{g_settings->msgid, "Message-ID"}, std::pair{g_settings->sent_utc, "Sent (UTC)"}}) {
    if (!wanted) continue;
    write_delimiter(out);
    write_field(out, column, quoting());
  }
  file_hashes columns;
  choose_hash_columns_from_settings(columns);
  for (std::size_t i = 0; i < columns.count; ++i) {
    write_delimiter(out);
    write_field(out, hash_column_name(columns.kinds[i]), quoting());
  }
  flush(out);
}

void write_record_prefix(record_writer& record, std::FILE* stream, std::string_view path,
                         int64_t size, const file_dates& dates) {
  record_writer& out = start_record_writer(record, stream);
  if (readable()) {
    record.readable.clear();
    append_valid_utf8(record.readable, path);
    path = record.readable;
  }
  if (json()) {
    // The whole line is gathered first and goes out with its end, in one piece.
    record.json.clear();
    append_json_record_start(record.json, path, size, dates);
    return;
  }
  const calendar_time& written = dates.write_time;
  bool quoted = quoting();
  put(out, '\n');
  // A line end inside a POSIX file name would split its record in two, so it
  // is shown as '?'. The name is copied only when it needs a change.
  bool doubled = doubling_quotes() && path.find('"') != std::string_view::npos;
  bool has_line_end =
      path.find('\n') != std::string_view::npos || path.find('\r') != std::string_view::npos;
  if (doubled || has_line_end) {
    field_text& shown = out.work;
    shown.clear();
    append_doubling_quotes(shown, path, doubled);
    replace_byte(shown, '\n', '?');
    replace_byte(shown, '\r', '?');
    write_field(out, shown.view(), quoted);
  } else {
    write_field(out, path, quoted);
  }
  // Size and last-write date: "%lld" and "'%4d-%02d-%02d %02d:%02d", each
  // followed by the delimiter and quoted as a whole when quoting.
  bounded_text<96> text;
  text.push_back(g_delimiter);
  if (quoted) text.push_back('"');
  append_number(text, size, 0, ' ');
  if (quoted) text.push_back('"');
  text.push_back(g_delimiter);
  if (quoted) text.push_back('"');
  text.push_back('\'');
  append_number(text, written.year, 4, ' ');
  for (auto [separator, value] : {std::pair{'-', written.month}, std::pair{'-', written.day},
                                  std::pair{' ', written.hour}, std::pair{':', written.minute}}) {
    text.push_back(separator);
    append_number(text, value, 2, '0');
  }
  if (quoted) text.push_back('"');
  text.push_back(g_delimiter);
  // Left in the writer: the record goes out whole with its end, in one write.
  put(out, text.view());
}

void write_record_end(record_writer& record, std::FILE* stream, message_fields& fields,
                      const file_hashes& hashes, const message_place* place) {
  if (readable()) make_fields_readable(fields, record.readable, record.decoding);
  if (json()) {
    record_writer& out = record.stream == stream ? record : start_record_writer(record, stream);
    append_json_record_end(record.json, fields, hashes, place);
    send(out, record.json);
    return;
  }
  bool quoted = quoting();
  if (doubling_quotes()) {
    for (const field_column& column : k_field_columns) {
      if (column.field) double_quotes(fields.*column.field, record.work);
    }
  }
  // The record's start may still wait in the writer; the prefix ended in a delimiter.
  record_writer& out = record.stream == stream ? record : start_record_writer(record, stream);
  bool first = true;
  for (const field_column& column : k_field_columns) {
    if (!first) write_delimiter(out);
    first = false;
    if (column.field)
      write_field(out, (fields.*column.field).view(), quoted);
    else
      write_date_time(out, fields.date_time);
  }
  if (place) {
    for (int64_t value : {place->number, place->offset}) {
      bounded_text<32> text;
      append_number(text, value, 0, ' ');
      write_delimiter(out);
      write_field(out, text.view(), quoted);
    }
  }
  if (g_settings->msgid) {
    write_delimiter(out);
    std::string_view id = fields.message_id.view();
    if (doubling_quotes() && id.find('"') != std::string_view::npos) {
      bounded_text<2 * decltype(fields.message_id)::capacity> doubled;
      append_doubling_quotes(doubled, id, true);
      write_field(out, doubled.view(), quoted);
    } else {
      write_field(out, id, quoted);
    }
  }
  if (g_settings->sent_utc) {
    record.json.clear();
    append_sent_utc(record.json, fields.date_time);
    write_delimiter(out);
    write_field(out, record.json, quoted);
  }
  for (std::size_t i = 0; i < hashes.count; ++i) {
    write_delimiter(out);
    write_field(out, hashes.texts[i].view(), quoted);
  }
  flush(out);
}
