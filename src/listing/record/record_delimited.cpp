// The delimited writer: the header line and one line per record, the fields
// between delimiters, each in double quotes when the run quotes them.
#include <utility>

#include "INCLUDE_U/text.h"
#include "listing/record/record.h"

namespace {

// The file's own columns, before the message's.
constexpr const char* k_file_columns[] = {"Filename", "Size", "File-(MOD)Date"};

void put_char(record_writer& out, char c) {
  if (!out.pending.push_back(c)) {
    flush_record(out);
    out.pending.push_back(c);
  }
}

// Writes `text` as one field, in double quotes when quoting.
void write_field(record_writer& out, std::string_view text, bool quoted) {
  if (quoted) put_char(out, '"');
  put_untrusted(out, text);
  if (quoted) put_char(out, '"');
}

// Every quoted field doubles its quotes, whatever the delimiter: a reader of the
// quoted form ends a field at a lone quote, with a semicolon as with a comma.
template <std::size_t N>
void append_doubling_quotes(bounded_text<N>& out, std::string_view text, bool doubled) {
  for (char c : text) {
    // A pair that does not fit whole is left out: a lone quote would end the field.
    if (c == '"' && doubled && (out.size() + 2 > N || !out.push_back('"'))) return;
    out.push_back(c);
  }
}

}  // namespace

std::string_view doubled_quotes(std::string_view text, field_text& work) {
  if (text.find('"') == std::string_view::npos) return text;
  work.clear();
  // Each run up to and including a quote, then the quote once more.
  std::string_view rest = text;
  while (!rest.empty()) {
    std::size_t quote = rest.find('"');
    std::string_view run =
        rest.substr(0, quote == std::string_view::npos ? rest.size() : quote + 1);
    if (!work.append(run)) break;
    if (quote != std::string_view::npos && !work.push_back('"')) {
      work.drop_last();
      break;
    }
    rest.remove_prefix(run.size());
  }
  return work.view();
}

namespace {

void write_date_time(record_writer& out, const parsed_date& date, bool quoted) {
  bounded_text<96> text;
  // The year is zero-padded in plain mode and space-padded in quoted mode.
  text.push_back('\'');
  append_number(text, date.year, 4, quoted ? ' ' : '0');
  text.push_back('-');
  append_number(text, date.month, 2, '0');
  text.push_back('-');
  append_number(text, date.day, 2, '0');
  text.push_back(' ');
  append_doubling_quotes(text, date.time_text.view(), quoted);
  write_field(out, text.view(), quoted);
}

// Text that is not a field of entries (a Message-ID, a digest): its quotes
// doubled without a cut, as it is short.
void write_text_field(record_writer& out, std::string_view text, bool quoted) {
  if (!quoted || text.find('"') == std::string_view::npos) return write_field(out, text, quoted);
  std::string doubled;
  for (char c : text) {
    if (c == '"') doubled.push_back('"');
    doubled.push_back(c);
  }
  write_field(out, doubled, quoted);
}

void write_cell(record_writer& out, const scan_options& options, const field_column& column,
                const record_facts& facts, cell_room& room) {
  bool quoted = options.quoted;
  record_cell cell = column.cell(facts, room);
  switch (cell.kind) {
    case cell_kind::entries:
    case cell_kind::read_flag: {
      std::string_view text = shown_entries(out, options, column, cell, *facts.fields).text;
      write_field(out, quoted ? doubled_quotes(text, out.work) : text, quoted);
      return;
    }
    case cell_kind::date_time:
      write_date_time(out, shown_date(out, options, *cell.date), quoted);
      return;
    case cell_kind::number: {
      bounded_text<32> text;
      append_number(text, cell.number, 0, ' ');
      write_field(out, text.view(), quoted);
      return;
    }
    case cell_kind::text:
      write_text_field(out, shown_text(out, options, column, cell), quoted);
      return;
  }
}

void write_delimited_header(record_writer& out, const scan_options& options) {
  bool first = true;
  for (const char* column : k_file_columns) {
    if (!first) put_char(out, options.delimiter);
    write_field(out, column, options.quoted);
    first = false;
  }
  for (const field_column& column : k_field_columns) {
    if (!column_present(column, options)) continue;
    put_char(out, options.delimiter);
    write_field(out, column.name, options.quoted);
  }
  flush_record(out);
}

void write_delimited_start(record_writer& out, const scan_options& options, std::string_view path,
                           int64_t size, const file_dates& dates) {
  const calendar_time& written = dates.write_time;
  bool quoted = options.quoted;
  char delimiter = options.delimiter;
  put_char(out, '\n');
  // A line end inside a POSIX file name would split its record in two, so it
  // is shown as '?'. The name is copied only when it needs a change.
  bool doubled = quoted && path.find('"') != std::string_view::npos;
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
  text.push_back(delimiter);
  if (quoted) text.push_back('"');
  append_number(text, size, 0, ' ');
  if (quoted) text.push_back('"');
  text.push_back(delimiter);
  if (quoted) text.push_back('"');
  text.push_back('\'');
  append_number(text, written.year, 4, ' ');
  for (auto [separator, value] : {std::pair{'-', written.month}, std::pair{'-', written.day},
                                  std::pair{' ', written.hour}, std::pair{':', written.minute}}) {
    text.push_back(separator);
    append_number(text, value, 2, '0');
  }
  if (quoted) text.push_back('"');
  text.push_back(delimiter);
  // Left in the writer: the record goes out whole with its end, in one write.
  put_text(out, text.view());
}

void write_delimited_end(record_writer& out, const scan_options& options,
                         const record_facts& facts) {
  // The start ended in a delimiter.
  bool first = true;
  cell_room room;
  for (const field_column& column : k_field_columns) {
    if (!column_present(column, options)) continue;
    if (!first) put_char(out, options.delimiter);
    first = false;
    write_cell(out, options, column, facts, room);
  }
  flush_record(out);
}

std::size_t first_delimited_record_length(std::string_view records) {
  std::size_t end = records.find('\n', 1);
  return end == std::string_view::npos ? records.size() : end;
}

}  // namespace

const record_form k_delimited_form = {write_delimited_header, write_delimited_start,
                                      write_delimited_end, first_delimited_record_length};
