// The message header scan and the listing record.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "INCLUDE_U/dates.h"
#include "INCLUDE_U/stops.h"
#include "listing/header_values.h"

// The ten message fields of one file and the date parsed from its first Date
// (or Sent) line, in record order.
struct message_fields {
  field_text from;
  field_text to;
  field_text cc;
  field_text bcc;
  field_text date;
  parsed_date date_time;
  field_text forward_date;
  field_text subject;
  field_text message_read;
  field_text attachment_info;
  field_text recent_ip;
};

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

// Writes the column header line (plain or quoted form as quote_fields says).
void write_listing_header(std::FILE* stream);

// Sets every field to its value at the start of a file.
void reset_message_fields(message_fields& fields);

enum class scan_result { done, not_opened, interrupted };
// Reads the message file at `path` line by line against the header rules into
// `fields` (which start from reset_message_fields). not_opened when the file
// cannot be opened; interrupted when an interrupt arrived during the read.
scan_result read_message_fields(const std::string& path, message_fields& fields);

// Writes the record's first three fields (name, size, last-write date), each
// followed by the delimiter, after the record's leading line end. They reach
// the stream with the record's end, from write_record_end, which must follow.
void write_record_prefix(std::FILE* stream, std::string_view path, int64_t size,
                         const date_parts& written);
// Writes the rest of the record from the fields; in quoted mode with the comma
// delimiter the fields' double quotes are doubled first (in place).
void write_record_end(std::FILE* stream, message_fields& fields);
