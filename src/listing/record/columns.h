// The columns of a record after the file's own three (name, size, last-write
// date): one table, in record order, that the header line and both writers go by.
// A row says the column's name in the header line, its JSON member, when a record
// has it, what it shows and how the readable listing shows it; adding a column is
// one row.
#pragma once

#include <cstdint>
#include <string_view>

#include "INCLUDE_U/text.h"
#include "listing/record/message_fields.h"
#include "listing/record/scan_options.h"
#include "listing/sources/file_hashes.h"

// What one record shows: the message's fields, where it stands in its file, and
// the digests of its bytes.
struct record_facts {
  const message_fields* fields = nullptr;
  const message_place* place = nullptr;
  const file_hashes* hashes = nullptr;
};

// How a cell's value is kept until a writer formats it.
enum class cell_kind {
  entries,    // a field of entries: delimited as its text, in JSON as an array
  read_flag,  // the read flag: in JSON its word alone, null for the start value
  date_time,  // the date parsed from the Date line
  number,     // a whole number
  text,       // text, null in JSON when absent
};

// How the readable listing (--UTF) shows a cell's text: decoded by its encoded
// words and the message's charset, only made valid UTF-8, or as it is (text the
// program makes, which is ASCII).
enum class readable_form { as_is, decoded, made_valid };

// One column's value for one record. `room` is where a cell that makes its text
// keeps it.
using cell_room = bounded_text<64>;
struct record_cell {
  cell_kind kind = cell_kind::text;
  const entry_field* entries = nullptr;  // entries, read_flag
  const parsed_date* date = nullptr;     // date_time
  int64_t number = 0;                    // number
  std::string_view text;                 // text
  bool absent = false;                   // text: there is none (JSON null)
  // text made valid by the readable listing is cut between characters here, as
  // the field it comes from would hold it.
  std::size_t capacity = k_field_capacity;
};

struct field_column {
  std::string_view name;         // in the header line
  std::string_view json_member;  // the member of a JSON record
  // Whether a run's records have the column; null for every run.
  bool (*present)(const scan_options& options);
  // The cell of one record; `room` holds text the cell makes.
  record_cell (*cell)(const record_facts& facts, cell_room& room);
  readable_form readable;
};

// The text of the digest `kind` among the file's digests; empty when the digest
// failed or was not asked for.
std::string_view digest_text_of(const file_hashes& hashes, digest_kind kind);
// The message's sent time in UTC, "yyyy-mm-ddThh:mm:ssZ", from the date parsed from
// its Date line with the zone that follows the time; false when no date can be read.
bool sent_utc_text(const parsed_date& date, cell_room& out);

// Cells of each kind.
inline record_cell entries_cell_of(cell_kind kind, const entry_field& field) {
  record_cell cell;
  cell.kind = kind;
  cell.entries = &field;
  return cell;
}
inline record_cell date_cell_of(const parsed_date& date) {
  record_cell cell;
  cell.kind = cell_kind::date_time;
  cell.date = &date;
  return cell;
}
inline record_cell number_cell_of(int64_t number) {
  record_cell cell;
  cell.kind = cell_kind::number;
  cell.number = number;
  return cell;
}
inline record_cell text_cell_of(std::string_view text, bool absent = false,
                                std::size_t capacity = k_field_capacity) {
  record_cell cell;
  cell.text = text;
  cell.absent = absent;
  cell.capacity = capacity;
  return cell;
}

// The cell of the field `member`.
template <entry_field message_fields::*member>
record_cell entries_cell(const record_facts& facts, cell_room&) {
  return entries_cell_of(cell_kind::entries, facts.fields->*member);
}

template <digest_kind kind>
record_cell digest_cell(const record_facts& facts, cell_room&) {
  return text_cell_of(digest_text_of(*facts.hashes, kind));
}

inline constexpr field_column k_field_columns[] = {
    {"From", "from", nullptr, entries_cell<&message_fields::from>, readable_form::decoded},
    {"To", "to", nullptr, entries_cell<&message_fields::to>, readable_form::decoded},
    {"CC", "cc", nullptr, entries_cell<&message_fields::cc>, readable_form::decoded},
    {"Bcc", "bcc", nullptr, entries_cell<&message_fields::bcc>, readable_form::decoded},
    {"Date", "date", nullptr, entries_cell<&message_fields::date>, readable_form::decoded},
    {"Date-Time", "date_time", nullptr,
     [](const record_facts& facts, cell_room&) -> record_cell {
       return date_cell_of(facts.fields->date_time);
     },
     readable_form::made_valid},
    {"Forward Date", "forward_date", nullptr, entries_cell<&message_fields::forward_date>,
     readable_form::decoded},
    {"Subject", "subject", nullptr, entries_cell<&message_fields::subject>,
     readable_form::decoded},
    {"Message Read", "message_read", nullptr,
     [](const record_facts& facts, cell_room&) -> record_cell {
       return entries_cell_of(cell_kind::read_flag, facts.fields->message_read);
     },
     readable_form::made_valid},
    {"Attachment Info", "attachment_info", nullptr,
     entries_cell<&message_fields::attachment_info>, readable_form::decoded},
    {"Recent IP", "recent_ip", nullptr, entries_cell<&message_fields::recent_ip>,
     readable_form::made_valid},
    {"Message", "message", has_message_columns,
     [](const record_facts& facts, cell_room&) -> record_cell {
       return number_cell_of(facts.place->number);
     },
     readable_form::as_is},
    {"Offset", "offset", has_message_columns,
     [](const record_facts& facts, cell_room&) -> record_cell {
       return number_cell_of(facts.place->offset);
     },
     readable_form::as_is},
    // UTF-8 as libpff gives it, in every form of the listing.
    {"Folder", "folder", [](const scan_options& options) { return options.outlook; },
     [](const record_facts& facts, cell_room&) -> record_cell {
       return text_cell_of(facts.place->folder);
     },
     readable_form::made_valid},
    {"Message-ID", "message_id", [](const scan_options& options) { return options.message_id; },
     [](const record_facts& facts, cell_room&) -> record_cell {
       const auto& id = facts.fields->message_id;
       return text_cell_of(id.view(), id.empty(), id.capacity);
     },
     readable_form::made_valid},
    {"Sent (UTC)", "sent_utc", [](const scan_options& options) { return options.sent_utc; },
     [](const record_facts& facts, cell_room& room) -> record_cell {
       bool known = sent_utc_text(facts.fields->date_time, room);
       return text_cell_of(room.view(), !known);
     },
     readable_form::as_is},
    {"MD5", "md5", [](const scan_options& options) { return options.md5; },
     digest_cell<digest_kind::md5>, readable_form::as_is},
    {"SHA-1", "sha1", [](const scan_options& options) { return options.sha1; },
     digest_cell<digest_kind::sha1>, readable_form::as_is},
    {"SHA-256", "sha256", [](const scan_options& options) { return options.sha256; },
     digest_cell<digest_kind::sha256>, readable_form::as_is},
};

inline bool column_present(const field_column& column, const scan_options& options) {
  return !column.present || column.present(options);
}
