#include "listing/record/record.h"

#include <cstring>

#include "INCLUDE_U/text.h"
#include "listing/record/readable_text.h"
#include "platform/platform.h"

namespace {

// Text of the record on its way out: to what the writer holds, or through the
// writer's sink.
void send(record_writer& out, std::string_view text) {
  if (out.held)
    out.held->append(text);
  else
    out.sink(out.stream, text);
}

}  // namespace

record_writer& start_record_writer(record_writer& out, std::FILE* stream) {
  out.stream = stream;
  // Whether the listing is shown on a terminal, where text from the files must
  // not reach the terminal as control characters.
  if (stream != out.checked_stream) {
    out.checked_stream = stream;
    out.on_terminal = g_platform.is_terminal(stream);
  }
  out.pending.clear();
  return out;
}

void flush_record(record_writer& out) {
  send(out, out.pending.view());
  out.pending.clear();
}

void put_text(record_writer& out, std::string_view text) {
  // An empty cell (the Folder of a file) may have no bytes behind it at all.
  if (text.empty()) return;
  bounded_text<4096>& pending = out.pending;
  if (text.size() > pending.capacity - pending.size()) flush_record(out);
  if (text.size() > pending.capacity) {
    send(out, text);
    return;
  }
  std::memcpy(pending.data() + pending.size(), text.data(), text.size());
  pending.length += text.size();
  pending[pending.length] = '\0';
}

void put_untrusted(record_writer& out, std::string_view text) {
  if (!out.on_terminal) return put_text(out, text);
  flush_record(out);
  if (out.held)
    append_untrusted_text(*out.held, text, true);
  else
    write_untrusted_text(out.stream, text, true);
}

void send_record(record_writer& out, std::string_view text) { send(out, text); }

entries_view shown_entries(record_writer& out, const scan_options& options,
                           const field_column& column, const record_cell& cell,
                           const message_fields& fields) {
  if (!options.utf) return view_of(*cell.entries);
  return readable_entries_of(*cell.entries, column.readable, fields.charset.view(), out.readable,
                             out.decoding);
}

std::string_view shown_text(record_writer& out, const scan_options& options,
                            const field_column& column, const record_cell& cell) {
  if (!options.utf || column.readable == readable_form::as_is) return cell.text;
  return readable_text_of(cell.text, cell.capacity, out.readable_text);
}

parsed_date shown_date(record_writer& out, const scan_options& options, const parsed_date& date) {
  parsed_date shown = date;
  if (options.utf) {
    shown.time_text.assign(
        readable_text_of(date.time_text.view(), date.time_text.capacity, out.readable_text));
  }
  return shown;
}

void write_listing_header(std::FILE* stream, const scan_options& options, text_sink sink) {
  static record_writer header;
  header.sink = sink;
  form_of(options).write_header(start_record_writer(header, stream), options);
}

std::size_t first_record_length(const scan_options& options, std::string_view records) {
  return form_of(options).first_record_length(records);
}

void write_record_prefix(record_writer& record, std::FILE* stream, const scan_options& options,
                         std::string_view path, int64_t size, const file_dates& dates) {
  record_writer& out = start_record_writer(record, stream);
  if (options.utf) {
    record.readable_text.clear();
    append_valid_utf8(record.readable_text, path);
    path = record.readable_text;
  }
  form_of(options).write_start(out, options, path, size, dates);
}

void write_record_end(record_writer& record, std::FILE* stream, const scan_options& options,
                      const record_facts& facts) {
  // The record's start may still wait in the writer.
  record_writer& out = record.stream == stream ? record : start_record_writer(record, stream);
  form_of(options).write_end(out, options, facts);
}
