// The listing record: the column header line and each record, written by one of
// two writers side by side (delimited, JSON Lines), chosen once per run
// (scan_options::form). Both go by the column table (columns.h) and neither
// changes the message's fields.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "INCLUDE_U/dates.h"
#include "INCLUDE_U/text.h"
#include "listing/record/columns.h"
#include "listing/record/message_fields.h"
#include "listing/record/readable_fields.h"
#include "listing/record/scan_options.h"
#include "listing/sources/file_hashes.h"

// Where a writer's text goes when it goes to a stream: the listing's top gives
// its own writer, which counts where each record ends.
using text_sink = void (*)(std::FILE* stream, std::string_view text);

// The parts of a record on their way to the stream, gathered so that a record
// costs a few writes instead of one per field, quote and delimiter. Each scan has
// its own, reused for every part of every record: its buffer is neither allocated
// nor cleared byte by byte per record.
struct record_writer {
  std::FILE* stream = nullptr;
  text_sink sink = write_text;
  bool on_terminal = false;
  // The stream on_terminal was last found for: asked once, not per record.
  std::FILE* checked_stream = nullptr;
  bounded_text<4096> pending;
  // Work room: a name changed for showing, a field with its quotes doubled.
  field_text work;
  // When set, the record goes here instead of the stream, as the stream would
  // get it: a scanner's records wait for the writer that keeps the walk's order.
  std::string* held = nullptr;
  // Work room of the readable listing: a field, the name or a text made UTF-8.
  readable_entries readable;
  std::string readable_text;
  readable_work decoding;
  // A JSON record, built whole before it goes out in one piece.
  std::string json;
};

// One of the two writers of a record.
struct record_form {
  // The column header line; nothing for JSON Lines.
  void (*write_header)(record_writer& out, const scan_options& options);
  // The record's start (name, size, last-write date). It reaches the stream with
  // the record's end, which must follow.
  void (*write_start)(record_writer& out, const scan_options& options, std::string_view name,
                      int64_t size, const file_dates& dates);
  void (*write_end)(record_writer& out, const scan_options& options, const record_facts& facts);
  // Length of the first record of `records` (records as the writer made them).
  std::size_t (*first_record_length)(std::string_view records);
};

// Chooses the writer the options ask for (JSON Lines or delimited).
inline void choose_record_form(scan_options& options) {
  options.form = options.json ? &k_json_form : &k_delimited_form;
}
inline const record_form& form_of(const scan_options& options) { return *options.form; }

// Writes the column header line (plain or quoted form as the options say), with
// the columns the options ask for; nothing for JSON Lines.
void write_listing_header(std::FILE* stream, const scan_options& options,
                          text_sink sink = write_text);
// Length of the first record of `records` (records as the writer made them: each
// starting with its line end, or in JSON Lines ending with it).
std::size_t first_record_length(const scan_options& options, std::string_view records);

// Starts a record in `record`: its first three fields (name, size, last-write
// date). They reach the stream with the record's end, from write_record_end,
// which must follow.
void write_record_prefix(record_writer& record, std::FILE* stream, const scan_options& options,
                         std::string_view path, int64_t size, const file_dates& dates);
// Writes the rest of the record: the columns of the table that the options ask
// for, from the facts.
void write_record_end(record_writer& record, std::FILE* stream, const scan_options& options,
                      const record_facts& facts);

// `text` with every double quote doubled, for the quoted form: in `work` when that
// changes it. What goes beyond a field's capacity is dropped, but a pair is never
// cut in two: a lone quote would end the field early.
std::string_view doubled_quotes(std::string_view text, field_text& work);

// The parts the two writers share (record.cpp).

// Points the writer at `stream` and empties what it gathers.
record_writer& start_record_writer(record_writer& out, std::FILE* stream);
// Sends what the writer gathered on, and empties it.
void flush_record(record_writer& out);
// Text of the program's own making, and text from the files, which a terminal
// must not see as control characters.
void put_text(record_writer& out, std::string_view text);
void put_untrusted(record_writer& out, std::string_view text);
// Sends a whole record built elsewhere (a JSON line) on.
void send_record(record_writer& out, std::string_view text);
// The cell's entries, or its text, as the options show them: made readable when
// the listing is (readable_form of `column`).
entries_view shown_entries(record_writer& out, const scan_options& options,
                           const field_column& column, const record_cell& cell,
                           const message_fields& fields);
std::string_view shown_text(record_writer& out, const scan_options& options,
                            const field_column& column, const record_cell& cell);
// The Date-Time's date as the options show it: its time text made valid UTF-8.
parsed_date shown_date(record_writer& out, const scan_options& options, const parsed_date& date);
