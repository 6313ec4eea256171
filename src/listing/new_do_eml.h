// The message header scan: one file read against the header rules into its record.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "INCLUDE_U/dates.h"
#include "INCLUDE_U/messages.h"
#include "INCLUDE_U/stops.h"
#include "listing/sources/file_hashes.h"
#include "listing/scan/header_values.h"
#include "listing/sources/line_reader.h"
#include "listing/sources/mailbox_cursor.h"
#include "listing/record/record.h"
#include "listing/record/scan_options.h"
#include "listing/scan/scan_state.h"

using progress_text = bounded_text<4096>;

// Everything one scan of a file works on: the open file, the line buffers, the
// fields, the digests and the record on its way out. A scan owns one and reuses it for every file,
// so no file and no line allocates; two scans, each with its own, can run side by side.
struct message_scan {
  // What the scan needs to know of the settings, set when the scan is made.
  scan_options options;
  line_reader reader;
  // The cursor over a mailbox's messages, while the file read is one.
  mailbox_cursor cursor;
  message_line line;
  message_line second_line;
  message_line look_ahead;
  message_line continuation;
  message_fields fields;
  file_hashes hashes;
  record_writer record;
  // The progress line, gathered for one write.
  progress_text progress_line;
  // Messages of the last file left out because no sent date could be read.
  int64_t undated = 0;
  // Where the scan's messages go (progress line, "cannot read", once-a-run notes):
  // a scanner's slot; null on the walk's thread, which writes or holds them as
  // hold_messages says.
  held_messages* messages = nullptr;
  // Set when the run is being abandoned: the read stops at the next chunk, as it
  // does on an interrupt. Null for a scan nobody abandons.
  const std::atomic<bool>* abandoned = nullptr;
};

// out_of_memory: an allocation failed on the scanner's thread; the record is not whole.
enum class scan_result { done, not_opened, interrupted, out_of_memory };

// The parts of scan_opened_message, for a scan that runs apart from the listing:
// writes the record into scan.record (to its stream, or to what it holds) and the
// progress line as a message; interrupted when the read was cut short.
scan_result scan_into_record(message_scan& scan, const std::string& path, read_handle file,
                             int64_t size, const file_dates& dates);
// After an allocation failed in the middle of a scan: the file is closed, and
// the scan is ready for the next one.
void abandon_scan(message_scan& scan);
// Gives the pages of the scan's fields and line buffers back to the system: a
// scan keeps what a wide file touched, and many scans side by side must not all
// keep that. Every scan sets those buffers before it reads them.
void give_back_scan_pages(message_scan& scan);
// Names the file when a read of it failed (its record ends early), or when it
// changed while it was read.
void report_cut_read(message_scan& scan, const std::string& path);
// What ends the run after a record: failures that ran out of resources, a failed
// listing write, an interrupt.
stop_reason stop_after_record(scan_result result);

// Writes one file's record to the listing and its progress line to standard
// error: reads every line of the file against the header rules. A file that
// cannot be opened still gets a whole record, from the start values. After the
// record: interrupted when an interrupt arrived, write_failed when a write
// failed, out_of_memory when reading met memory or descriptors run out.
stop_reason scan_message(const std::string& path, int64_t size, const file_dates& dates);
// The same for a file the caller has opened (k_no_file when the open failed);
// `size` is the size the file was found to have. The file is closed here.
stop_reason scan_opened_message(const std::string& path, read_handle file, int64_t size,
                                const file_dates& dates);
// The same with the scan's own state; the two above use the run's one scan.
stop_reason scan_opened_message(message_scan& scan, const std::string& path, read_handle file,
                                int64_t size, const file_dates& dates);
// The rest of scan_opened_message after scan_into_record gave `result`: the record
// marked whole, its undated messages counted, a cut read named.
stop_reason finish_message_record(message_scan& scan, const std::string& path,
                                  scan_result result);

// Reads the message file at `path` line by line against the header rules into
// `fields` (which start from reset_message_fields). not_opened when the file
// cannot be opened; interrupted when an interrupt arrived during the read.
scan_result read_message_fields(const std::string& path, message_fields& fields);

// The scan of the walk's files and of the callers that bring none; kept for the
// whole run so that no file and no line allocates.
message_scan& run_scan();

// The parts of a scan, for a source of messages other than a file (an Outlook
// data file's).

// "\n" name "   " size, right-aligned in 11 with comma groups, " Bytes": the
// progress line of one file, through the scan's messages.
void write_progress_line(message_scan& scan, std::string_view name, int64_t size);
// The hash columns the scan's options ask for: MD5, SHA-1, SHA-256.
void choose_scan_hashes(message_scan& scan);
// The state of one message's scan into `fields`, over the source attached to
// the scan's reader.
scan_state start_scan_state(message_scan& ms, message_fields& fields);
// Reads the attached source to its end against the header rules; interrupted
// when an interrupt arrived meanwhile.
scan_result read_scan_lines(message_scan& ms, scan_state& scan);
// Whether the sent date lets the message be listed; one without a date that can
// be read is left out and counted in `undated`.
bool sent_date_selects(const scan_options& options, const parsed_date& date, int64_t& undated);
