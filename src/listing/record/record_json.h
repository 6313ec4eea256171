// The record as one line of JSON (JSON Lines), and the readable forms of its dates
// that the delimited record shares.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "INCLUDE_U/dates.h"
#include "listing/sources/file_hashes.h"
#include "listing/record/message_fields.h"

// Appends `text` (UTF-8) as a JSON string with its quotes: '"', '\' and every
// control character (C0, DEL and C1, so that no terminal acts on one) escaped,
// the controls as \uXXXX.
void append_json_string(std::string& out, std::string_view text);

// Appends the message's sent time in UTC, "yyyy-mm-ddThh:mm:ssZ", from the date
// parsed from its Date line with the zone that follows the time; nothing and false
// when no date can be read there.
bool append_sent_utc(std::string& out, const parsed_date& date);

// Appends the record's start: "{", the file's name, its size and its last-write
// time (ISO 8601 with its offset from UTC).
void append_json_record_start(std::string& out, std::string_view name, int64_t size,
                              const file_dates& dates);
// Appends the rest of the record: the message fields (entry fields as arrays of
// {"n", "text"}), the columns the settings ask for, "}" and the line end.
void append_json_record_end(std::string& out, const message_fields& fields,
                            const file_hashes& hashes, const message_place* place);
