// The listing record: its columns, the column header line, and each file's record
// from its name, size, date and the message fields.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "INCLUDE_U/dates.h"
#include "INCLUDE_U/text.h"
#include "listing/file_hashes.h"
#include "listing/header_values.h"
#include "listing/message_fields.h"
#include "listing/readable_text.h"

// Sets every field to its value at the start of a file.
void reset_message_fields(message_fields& fields);

// The hash columns as the settings ask for them: MD5 (hash), SHA-1, SHA-256.
void choose_hash_columns_from_settings(file_hashes& hashes);
// The default count of --NAMEAFTER and the column header line, once the
// settings are settled.
void start_listing();
// Writes the column header line (plain or quoted form as quote_fields says), with
// the columns the settings ask for; nothing for JSON Lines.
void write_listing_header(std::FILE* stream);
// Starts a listing that begins the output file: a UTF-8 comma-delimited listing
// gets the byte-order mark, so that spreadsheet programs read it as UTF-8.
void begin_listing_file();
// Length of the first record of `records` (records as the writer made them: each
// starting with its line end, or in JSON Lines ending with it).
std::size_t first_record_length(std::string_view records);

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
  // Work room of the readable listing: fields decoded, a record built as JSON.
  std::string readable;
  readable_work decoding;
  std::string json;
};

// Starts a record in `record`: its first three fields (name, size, last-write
// date), each followed by the delimiter, after the record's leading line end. They
// reach the stream with the record's end, from write_record_end, which must follow.
void write_record_prefix(record_writer& record, std::FILE* stream, std::string_view path,
                         int64_t size, const file_dates& dates);
// Writes the rest of the record from the fields and the file's digests; in quoted
// mode with the comma delimiter the fields' double quotes are doubled first (in place).
// With `place`, the Message and Offset columns come before the digests.
void write_record_end(record_writer& record, std::FILE* stream, message_fields& fields,
                      const file_hashes& hashes, const message_place* place = nullptr);
