// The listing record: its columns, the column header line, and each file's record
// from its name, size, date and the message fields.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "INCLUDE_U/dates.h"
#include "listing/file_hashes.h"
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

// One column after the file's own three (name, size, last-write date): its name in
// the header line and the field it shows; null for the date parsed from the Date line.
struct field_column {
  const char* name;
  field_text message_fields::*field;
};

// The message columns in record order: the header line, the record, the reset and
// the quoted form all go by this table.
inline constexpr field_column k_field_columns[] = {
    {"From", &message_fields::from},
    {"To", &message_fields::to},
    {"CC", &message_fields::cc},
    {"Bcc", &message_fields::bcc},
    {"Date", &message_fields::date},
    {"Date-Time", nullptr},
    {"Forward Date", &message_fields::forward_date},
    {"Subject", &message_fields::subject},
    {"Message Read", &message_fields::message_read},
    {"Attachment Info", &message_fields::attachment_info},
    {"Recent IP", &message_fields::recent_ip},
};

// Where a record's message stands in its file: the Message and Offset columns of
// a run that lists mailboxes (1 and 0 for a file that is no mailbox).
struct message_place {
  int64_t number = 1;
  int64_t offset = 0;
};

// Sets every field to its value at the start of a file.
void reset_message_fields(message_fields& fields);

// The hash columns as the settings ask for them: MD5 (hash), SHA-1, SHA-256.
void choose_hash_columns_from_settings(file_hashes& hashes);
// The default count of --NAMEAFTER and the column header line, once the
// settings are settled.
void start_listing();
// Writes the column header line (plain or quoted form as quote_fields says), with
// the hash columns the settings ask for.
void write_listing_header(std::FILE* stream);

// The parts of a record on their way to the stream, gathered so that a record
// costs a few writes instead of one per field, quote and delimiter. Each scan has
// its own, reused for every part of every record: its buffer is neither allocated
// nor cleared byte by byte per record.
struct record_writer {
  std::FILE* stream = nullptr;
  bool on_terminal = false;
  // The stream on_terminal was last found for: asked once, not per record.
  std::FILE* checked_stream = nullptr;
  bounded_text<4096> pending;
  // Work room: a name changed for showing, a field with its quotes doubled.
  field_text work;
  // When set, the record goes here instead of the stream, as the stream would
  // get it: a scanner's records wait for the writer that keeps the walk's order.
  std::string* held = nullptr;
};

// Starts a record in `record`: its first three fields (name, size, last-write
// date), each followed by the delimiter, after the record's leading line end. They
// reach the stream with the record's end, from write_record_end, which must follow.
void write_record_prefix(record_writer& record, std::FILE* stream, std::string_view path,
                         int64_t size, const calendar_time& written);
// Writes the rest of the record from the fields and the file's digests; in quoted
// mode with the comma delimiter the fields' double quotes are doubled first (in place).
// With `place`, the Message and Offset columns come before the digests.
void write_record_end(record_writer& record, std::FILE* stream, message_fields& fields,
                      const file_hashes& hashes, const message_place* place = nullptr);
