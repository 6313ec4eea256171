// The listing of an Outlook data file (--PST): one record per message, folder
// by folder, each message's lines read by the same header scan as a file's.
#pragma once

#include <cstdint>
#include <string>

#include "INCLUDE_U/dates.h"
#include "INCLUDE_U/stops.h"
#include "platform/platform.h"

struct message_scan;
struct outlook_item;
enum class scan_result;

// What the run's Outlook data files gave, for the summary and the run log.
struct outlook_counts {
  int64_t files = 0;         // files read as Outlook data files
  int64_t messages = 0;      // messages listed from them
  int64_t not_messages = 0;  // items left out as not messages
  int64_t unreadable = 0;    // messages and folders that could not be read
  int64_t cut = 0;           // messages listed from what their bounds let be read
};
extern outlook_counts g_outlook_counts;

// Whether the file at `path` starts with the Outlook data file signature "!BDN".
// On the walk's thread.
bool is_outlook_file(const std::string& path);

// The records of the Outlook data file at `path` (which the walk opened as
// `file`), one per message, made with `scan` on the thread that calls: into
// scan.record's held text (a scanner's slot), else straight to the listing, each
// marked whole. What the file gave is added to `counts`; `by_message` says
// whether libpff opened it. A file libpff cannot open is named and gets the one
// record of any other file. `file` is k_no_file once closed here, so that a
// failed allocation after it closes nothing twice.
scan_result list_outlook_records(message_scan& scan, const std::string& path, read_handle& file,
                                 int64_t size, const file_dates& dates, outlook_counts& counts,
                                 bool& by_message);
// list_outlook_records on the walk's thread, straight to the listing, counted in
// the run's counts.
stop_reason list_outlook_file(message_scan& scan, const std::string& path, read_handle file,
                              int64_t size, const file_dates& dates);
void add_outlook_counts(outlook_counts& into, const outlook_counts& counts);

// Reads one message of an Outlook data file into scan.fields (and its digests),
// through the header scan, with `bytes` as the room its lines are made in: the
// internet headers, an empty line and the plain-text body, or the header block
// built from its properties. Then the store's own facts: its read flag, its
// attachments, and its text taken as the UTF-8 it is.
scan_result scan_outlook_message(message_scan& scan, const outlook_item& item,
                                 std::string& bytes);

// The summary's and the run log's lines, as
// "  1 Outlook data file read: 13 messages listed, 4 items that are not messages
// left out\n"; empty when no file was read as one, so other runs look as always.
std::string outlook_count_text();
