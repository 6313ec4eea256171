#include "listing/new_do_eml.h"

#include <cstdint>
#include <new>

#include "INCLUDE_U/messages.h"
#include "INCLUDE_U/numbers.h"
#include "INCLUDE_U/stops.h"
#include "INCLUDE_U/unreadable.h"
#include "listing/eml_program.h"
#include "listing/sources/file_hashes.h"
#include "listing/scan/header_rules.h"
#include "listing/sources/line_reader.h"
#include "platform/platform.h"
#include "listing/scan/extra_facts.h"
#include "listing/settled_options.h"

// "\n" name "   " size with comma groups, right-aligned in 11, " Bytes".
void write_progress_line(message_scan& scan, std::string_view name, int64_t size) {
  std::string_view digits = format_thousands64(size);
  bounded_text<64> tail;
  tail.append("   ");
  for (std::size_t width = digits.size(); width < 11; ++width) tail.push_back(' ');
  tail.append(digits);
  tail.append(" Bytes");
  // One write per file where nobody watches: the line is gathered first, when
  // the name leaves room for it.
  progress_text& line = scan.progress_line;
  if (!messages_on_terminal() && name.size() + tail.size() < line.capacity) {
    line.clear();
    line.push_back('\n');
    line.append(name);
    line.append(tail.view());
    write_message(scan.messages, line.view());
    return;
  }
  write_message(scan.messages, "\n");
  write_untrusted_message(scan.messages, name);
  write_message(scan.messages, tail.view());
}

void choose_scan_hashes(message_scan& scan) {
  const scan_options& options = scan.options;
  choose_hash_columns(scan.hashes, options.md5, options.sha1, options.sha256);
}

namespace {

// While an entry is unfolding: reads the next line whole into `spare`, whatever
// marks it holds, and joins it to the entry when it continues the header (the
// line break removed, the white space kept). True with the line in `text`, to be
// tested against the rules as any other; false when no line was read.
bool read_unfolded_line(scan_state& scan, message_line& spare, std::string_view& text) {
  field_text& field = *scan.unfolding;
  scan.unfolding = nullptr;
  // Most headers are not folded, and the next line's first byte, when already
  // read, tells so without reading that line.
  int next = next_byte(*scan.reader);
  if (next >= 0 && next != ' ' && next != '\t') return false;
  if (!read_line(*scan.reader, spare)) return false;
  text = spare.text.view();
  if (text.empty() || (text[0] != ' ' && text[0] != '\t')) return true;
  join_continuation(field, text);
  scan.unfolding = &field;
  return true;
}

// While a Message-ID is looked for: reads the next line of the header block
// whole, since the header's name may stand before white space and then its
// colon, where no mark is noted.
marked_read read_header_line(line_reader& reader, message_line& spare, std::string_view& text) {
  if (!read_line(reader, spare)) return marked_read::end;
  text = spare.text.view();
  return marked_read::line;
}

}  // namespace

scan_state start_scan_state(message_scan& ms, message_fields& fields) {
  scan_state scan{&ms.reader,     &fields,          &ms.line,   &ms.second_line,
                  &ms.look_ahead, &ms.continuation, &ms.options};
  want_extra_facts(scan);
  return scan;
}

scan_result read_scan_lines(message_scan& ms, scan_state& scan) {
  line_reader& reader = ms.reader;
  const mark_filter& filter = header_mark_filter();
  scan_result result = scan_result::done;
  std::string_view text;
  // Interrupts are looked at once per chunk after the first, so a long file
  // stops soon and a short one is read whole.
  uint64_t chunks_checked = 1;
  for (;;) {
    // A folded header's continuation lines hold no mark to admit them: while an
    // entry unfolds, the next line is read whole.
    marked_read got = scan.unfolding && read_unfolded_line(scan, ms.line, text)
                          ? marked_read::line
                      : scan.want_message_id ? read_header_line(reader, ms.line, text)
                                             : read_marked_line(reader, filter, ms.line, text);
    if (got == marked_read::end) break;
    if (reader.chunks_read > chunks_checked) {
      chunks_checked = reader.chunks_read;
      if (interrupt_pending() || (ms.abandoned && ms.abandoned->load(std::memory_order_relaxed))) {
        result = scan_result::interrupted;
        break;
      }
    }
    if (got != marked_read::line) continue;
    note_header_end(scan, ms.line);
    scan_text(scan, text);
  }
  return result;
}

namespace {

// Reads the attached file (or the mailbox's message) to its end against the
// header rules into `fields`.
scan_result read_attached_lines(message_scan& ms, message_fields& fields) {
  scan_state scan = start_scan_state(ms, fields);
  return read_scan_lines(ms, scan);
}

// Reads the attached file to its end against the header rules into `fields`,
// then closes it.
scan_result read_attached_fields(message_scan& ms, message_fields& fields) {
  scan_result result = read_attached_lines(ms, fields);
  line_reader& reader = ms.reader;
  if (reader.hashes) finish_file_hashes(*reader.hashes, read_to_end(reader));
  close_line_reader(reader);
  return result;
}

// A mailbox's byte-order mark or empty lines before its first separator are in
// no record: said, so that no byte of the file goes unaccounted for.
void report_bytes_before_first_message(message_scan& scan, std::string_view name) {
  int64_t count = scan.reader.bytes_before_first_message;
  write_message(scan.messages, "\nmailsift: ");
  write_message(scan.messages, format_thousands64(count));
  write_message(scan.messages, count == 1 ? " byte before the first message of "
                                          : " bytes before the first message of ");
  write_untrusted_message(scan.messages, name);
  write_message(scan.messages, count == 1 ? " belongs to no message" : " belong to no message");
}

}  // namespace

bool sent_date_selects(const scan_options& options, const parsed_date& date, int64_t& undated) {
  if (!options.sent_after_set && !options.sent_before_set) return true;
  int64_t sent = 0;
  if (!sent_time_of(date.sent_text.view(), sent)) {
    ++undated;
    return false;
  }
  if (options.sent_after_set && sent < options.sent_after) return false;
  if (options.sent_before_set && sent >= options.sent_before) return false;
  return true;
}

namespace {

// scan_into_record for lists_by_message: each message of a mailbox, or the file
// as one message, is read as a file of its own and gets its record when its sent
// date selects it. Records written straight to the listing are marked whole one
// by one; a message cut short by an interrupt gets none, as its size is unknown.
scan_result scan_into_records(message_scan& scan, std::string_view name, read_handle file,
                              int64_t size, const file_dates& dates) {
  const scan_options& options = scan.options;
  line_reader& reader = scan.reader;
  write_progress_line(scan, name, size);
  attach_line_reader(reader, file, size);
  // A large mailbox is read on the walk's thread, one message after another: its
  // reads go ahead on a thread of their own meanwhile.
  if (options.mailbox && size >= k_read_ahead_size) read_line_reader_ahead(reader);
  choose_scan_hashes(scan);
  if (scan.hashes.count != 0) reader.hashes = &scan.hashes;
  if (options.mailbox) attach_mailbox_cursor(reader, scan.cursor, header_mark_filter());
  message_place place;
  scan_result result = scan_result::done;
  for (;; ++place.number) {
    reset_message_fields(scan.fields);
    if (scan.hashes.count != 0) start_file_hashes(scan.hashes, scan.messages);
    result = read_attached_lines(scan, scan.fields);
    bool cut = result != scan_result::done && reader.mailbox;
    finish_message_hashes(reader);
    if (!cut && sent_date_selects(options, scan.fields.date_time, scan.undated)) {
      place.offset = reader.mailbox ? reader.message_offset : 0;
      int64_t record_size = reader.mailbox ? message_size(reader) : size;
      write_record_prefix(scan.record, g_out_file, options, name, record_size, dates);
      write_record_end(scan.record, g_out_file, options, {&scan.fields, &place, &scan.hashes});
      if (!scan.record.held) {
        ++g_messages_listed;
        note_whole_record();
      }
    }
    scan.fields.date_time = parsed_date{};
    if (result != scan_result::done || !next_message(reader)) break;
    // Written straight to the listing, a failed write ends the mailbox here.
    if (!scan.record.held && listing_write_failed()) break;
  }
  if (reader.bytes_before_first_message > 0) report_bytes_before_first_message(scan, name);
  close_line_reader(reader);
  return result;
}

}  // namespace

message_scan& run_scan() {
  static message_scan scan;
  scan.options = settled_scan_options();
  return scan;
}


scan_result read_message_fields(const std::string& path, message_fields& fields) {
  message_scan& scan = run_scan();
  if (!open_line_reader(scan.reader, path)) return scan_result::not_opened;
  return read_attached_fields(scan, fields);
}

stop_reason scan_message(const std::string& path, int64_t size, const file_dates& dates) {
  return scan_opened_message(run_scan(), path, g_platform.open_for_reading(path), size, dates);
}

stop_reason scan_opened_message(const std::string& path, read_handle file, int64_t size,
                                const file_dates& dates) {
  return scan_opened_message(run_scan(), path, file, size, dates);
}

scan_result scan_into_record(message_scan& scan, const std::string& path, read_handle file,
                             int64_t size, const file_dates& dates) {
  scan.undated = 0;
  scan.record.sink = write_listing_text;
  if (lists_by_message(scan.options)) {
    return scan_into_records(scan, display_name(path), file, size, dates);
  }
  reset_message_fields(scan.fields);
  std::string_view name = display_name(path);
  write_record_prefix(scan.record, g_out_file, scan.options, name, size, dates);
  write_progress_line(scan, name, size);
  // A file that cannot be opened keeps the start values, so its record is whole.
  attach_line_reader(scan.reader, file, size);
  choose_scan_hashes(scan);
  if (scan.hashes.count != 0) {
    start_file_hashes(scan.hashes, scan.messages);
    scan.reader.hashes = &scan.hashes;
  }
  scan_result result = read_attached_fields(scan, scan.fields);
  message_place place;
  write_record_end(scan.record, g_out_file, scan.options, {&scan.fields, &place, &scan.hashes});
  scan.fields.date_time = parsed_date{};
  return result;
}

void abandon_scan(message_scan& scan) {
  scan.reader.hashes = nullptr;
  close_line_reader(scan.reader);
  scan.fields.date_time = parsed_date{};
}

void give_back_scan_pages(message_scan& scan) {
  // Made again as a new scan has them: the pages given back may read as anything.
  g_platform.give_back_pages(&scan.fields, sizeof scan.fields);
  new (&scan.fields) message_fields;
  for (message_line* line : {&scan.line, &scan.second_line, &scan.look_ahead, &scan.continuation}) {
    g_platform.give_back_pages(line, sizeof *line);
    new (line) message_line;
  }
}

void report_cut_read(message_scan& scan, const std::string& path) {
  // Its digests are of neither the file that was found nor the one that is there
  // now: whoever relies on them must know.
  if (scan.reader.size_changed) report_changed_while_read(scan.messages, path);
  // The record holds what was read before the failure; the message tells it
  // apart from a message that really ends there.
  if (!scan.reader.read_failed) return;
  if (scan.reader.ahead_failure != failure_kind::none) {
    act_on_failure(scan.messages, path, scan.reader.ahead_failure, scan.reader.ahead_failure_reason,
                   true);
  } else {
    report_failure(scan.messages, path, true);
  }
}

stop_reason stop_after_record(scan_result result) {
  if (result == scan_result::out_of_memory) return stop_reason::out_of_memory;
  if (failure_stop() != stop_reason::go_on) return failure_stop();
  if (listing_write_failed()) return stop_reason::write_failed;
  if (result == scan_result::interrupted || interrupt_pending()) return stop_reason::interrupted;
  return stop_reason::go_on;
}

stop_reason scan_opened_message(message_scan& scan, const std::string& path, read_handle file,
                                int64_t size, const file_dates& dates) {
  return finish_message_record(scan, path, scan_into_record(scan, path, file, size, dates));
}

stop_reason finish_message_record(message_scan& scan, const std::string& path,
                                  scan_result result) {
  if (!lists_by_message(scan.options)) note_whole_record();
  g_undated_count += scan.undated;
  report_cut_read(scan, path);
  return stop_after_record(result);
}
