#include "listing/outlook_listing.h"

#include <atomic>
#include <cstring>
#include <string_view>

#include "INCLUDE_U/messages.h"
#include "INCLUDE_U/numbers.h"
#include "INCLUDE_U/unreadable.h"
#include "listing/eml_program.h"
#include "listing/new_do_eml.h"
#include "listing/scan/header_rules.h"
#include "listing/sources/memory_source.h"
#include "listing/sources/outlook_file.h"

outlook_counts g_outlook_counts;

namespace {

// The signature every PST and OST starts with.
constexpr char k_outlook_signature[4] = {'!', 'B', 'D', 'N'};

// One file's listing while libpff walks it: what the visitor needs between items.
struct outlook_listing {
  message_scan& scan;
  const std::string& path;
  std::string_view name;
  const file_dates& dates;
  outlook_counts& counts;
  int64_t size = 0;    // the file's, for its progress line
  int64_t number = 0;  // the message number the last message took
  bool progress_written = false;
  scan_result result = scan_result::done;
  std::string bytes;   // the message's lines, reused
  std::string folder;  // the folder as a cell shows it, reused
};

// The lines the scan reads for a message: its internet headers, an empty line and
// its plain-text body; or, without internet headers, the header block built from
// its properties (which holds the empty line and the body).
void message_bytes(const outlook_item& item, std::string& bytes) {
  if (item.transport_headers.empty()) {
    bytes = outlook_header_block(item);
    return;
  }
  std::string_view headers = item.transport_headers;
  while (!headers.empty() && headers.back() == '\n') headers.remove_suffix(1);
  bytes.assign(headers);
  bytes += "\n\n";
  bytes += item.body;
}

// A folder path is one cell of one record: a line end inside a name is shown as
// '?', as in a file name.
void shown_folder(const std::string& folder, std::string& out) {
  out = folder;
  for (char& c : out) {
    if (c == '\n' || c == '\r') c = '?';
  }
}

// What the message store knows for certain, after the lines: the read flag, the
// attachment table; and its text is UTF-8 already, so the readable listing takes it
// as UTF-8 whatever charset its Content-Type names.
void add_store_facts(scan_state& state, const outlook_item& item) {
  if (item.has_read_flag) take_read_answer(state, item.read);
  for (const std::string& attachment : item.attachments) take_attachment_name(state, attachment);
  state.fields->charset.assign("UTF-8");
}

void write_message_record(outlook_listing& listing, const outlook_item& item) {
  message_scan& scan = listing.scan;
  listing.result = scan_outlook_message(scan, item, listing.bytes);
  if (listing.result != scan_result::done) return;
  if (sent_date_selects(scan.options, scan.fields.date_time, scan.undated)) {
    shown_folder(item.folder, listing.folder);
    message_place place{listing.number, item.identifier, listing.folder};
    write_record_prefix(scan.record, g_out_file, scan.options, listing.name,
                        static_cast<int64_t>(item.size), listing.dates);
    write_record_end(scan.record, g_out_file, scan.options, {&scan.fields, &place, &scan.hashes});
    ++listing.counts.messages;
    // Straight to the listing, counted before the mark: a listing cut back to it
    // counts what it holds. Records held for the writer are counted as written.
    if (!scan.record.held) {
      ++g_messages_listed;
      note_whole_record();
    }
  }
  scan.fields.date_time = parsed_date{};
}

// The file's progress line comes once libpff has opened it: a file it cannot
// open gets the progress line of any other file.
void write_progress_once(outlook_listing& listing) {
  if (listing.progress_written) return;
  listing.progress_written = true;
  write_progress_line(listing.scan, listing.name, listing.size);
}

// A message larger than the reader's bounds is listed from what they let be read,
// and said to be.
void report_cut_message(outlook_listing& listing) {
  held_messages* held = listing.scan.messages;
  write_message(held, "\nmailsift: message ");
  write_message(held, std::to_string(listing.number));
  write_message(held, " of ");
  write_untrusted_message(held, display_name(listing.path));
  write_message(held,
                " is larger than a message is read (64 KB a text, 1 MB of headers, 16 MB of "
                "body, 4,096 recipients or attachments): its record holds what was read");
  ++listing.counts.cut;
}

bool take_item(void* context, const outlook_item& item) {
  auto& listing = *static_cast<outlook_listing*>(context);
  write_progress_once(listing);
  if (!item.is_message) {
    ++listing.counts.not_messages;
  } else {
    ++listing.number;
    if (item.truncated) report_cut_message(listing);
    write_message_record(listing, item);
  }
  // An interrupt ends the file after a whole record, as a mailbox's does; so does
  // a run being abandoned while a scanner reads it.
  const std::atomic<bool>* abandoned = listing.scan.abandoned;
  if (listing.result == scan_result::done &&
      (interrupt_pending() || (abandoned && abandoned->load(std::memory_order_relaxed)))) {
    listing.result = scan_result::interrupted;
  }
  // Written straight to the listing, a failed write ends the file here.
  return listing.result == scan_result::done &&
         (listing.scan.record.held || !listing_write_failed());
}

void report_unreadable_part(outlook_listing& listing, std::string_view part,
                            std::string_view reason) {
  std::string what(part);
  what += " of ";
  what += display_name(listing.path);
  held_messages* held = listing.scan.messages;
  write_message(held, "\nmailsift: cannot read ");
  write_untrusted_message(held, what);
  write_message(held, ": ");
  write_untrusted_message(held, reason);
  ++listing.counts.unreadable;
}

void take_failure(void* context, const outlook_failure& failure) {
  auto& listing = *static_cast<outlook_listing*>(context);
  write_progress_once(listing);
  std::string part;
  if (failure.is_folder) {
    part = "folder ";
    part += failure.folder.empty() ? std::string("/") : failure.folder;
  } else {
    // The message keeps its number: the records after it show the gap.
    part = "message ";
    part += std::to_string(++listing.number);
  }
  report_unreadable_part(listing, part, failure.reason);
}

void report_not_outlook(held_messages* held, const std::string& path, std::string_view reason) {
  write_message(held, "\nmailsift: cannot read ");
  write_untrusted_message(held, display_name(path));
  write_message(held, " as an Outlook data file: ");
  write_untrusted_message(held, reason);
}

std::string count_of(int64_t count, const char* one, const char* many) {
  std::string text(format_thousands64(count));
  text += ' ';
  text += count == 1 ? one : many;
  return text;
}

}  // namespace

scan_result scan_outlook_message(message_scan& scan, const outlook_item& item,
                                 std::string& bytes) {
  line_reader& reader = scan.reader;
  message_bytes(item, bytes);
  memory_message message{bytes};
  attach_memory_message(reader, message);
  if (scan.hashes.count != 0) {
    start_file_hashes(scan.hashes, scan.messages);
    reader.hashes = &scan.hashes;
  }
  reset_message_fields(scan.fields);
  scan_state state = start_scan_state(scan, scan.fields);
  scan_result result = read_scan_lines(scan, state);
  finish_message_hashes(reader);
  close_line_reader(reader);
  reader.hashes = nullptr;
  if (result == scan_result::done) add_store_facts(state, item);
  return result;
}

bool is_outlook_file(const std::string& path) {
  char start[sizeof k_outlook_signature] = {};
  int64_t got = g_platform.read_at(path, 0, start, sizeof start);
  return got == static_cast<int64_t>(sizeof start) &&
         std::memcmp(start, k_outlook_signature, sizeof start) == 0;
}

scan_result list_outlook_records(message_scan& scan, const std::string& path, read_handle& file,
                                 int64_t size, const file_dates& dates, outlook_counts& counts,
                                 bool& by_message) {
  scan.undated = 0;
  scan.record.sink = write_listing_text;
  choose_scan_hashes(scan);
  outlook_listing listing{scan, path, display_name(path), dates, counts, size, 0, false,
                          scan_result::done, {}, {}};
  outlook_visitor visitor{take_item, take_failure, &listing};
  bool opened = false;
  std::string reason;
  {
    // libpff opens the file itself; the walk's handle waits for a file it cannot.
    outlook_walk_result walked = walk_outlook_file(path, scan.options.outlook_recover, visitor);
    opened = walked.opened;
    reason = walked.reason;
  }
  by_message = opened;
  if (!opened) {
    report_not_outlook(scan.messages, path, reason);
    return scan_into_record(scan, path, file, size, dates);
  }
  if (file != k_no_file) g_platform.close_file(file);
  file = k_no_file;
  write_progress_once(listing);
  ++counts.files;
  return listing.result;
}

stop_reason list_outlook_file(message_scan& scan, const std::string& path, read_handle file,
                              int64_t size, const file_dates& dates) {
  outlook_counts counts;
  bool by_message = false;
  read_handle opened = file;
  scan_result result = list_outlook_records(scan, path, opened, size, dates, counts, by_message);
  add_outlook_counts(g_outlook_counts, counts);
  if (!by_message) return finish_message_record(scan, path, result);
  g_undated_count += scan.undated;
  return stop_after_record(result);
}

void add_outlook_counts(outlook_counts& into, const outlook_counts& counts) {
  into.files += counts.files;
  into.messages += counts.messages;
  into.not_messages += counts.not_messages;
  into.unreadable += counts.unreadable;
  into.cut += counts.cut;
}

std::string outlook_count_text() {
  const outlook_counts& c = g_outlook_counts;
  if (c.files == 0) return std::string();
  std::string text = "  ";
  text += count_of(c.files, "Outlook data file read: ", "Outlook data files read: ");
  text += count_of(c.messages, "message listed", "messages listed");
  if (c.not_messages != 0) {
    text += ", ";
    text += count_of(c.not_messages, "item that is not a message left out",
                     "items that are not messages left out");
  }
  if (c.unreadable != 0) {
    text += ", ";
    text += count_of(c.unreadable, "message or folder could not be read",
                     "messages or folders could not be read");
  }
  if (c.cut != 0) {
    text += ", ";
    text += count_of(c.cut, "message larger than is read", "messages larger than is read");
  }
  text += '\n';
  return text;
}
