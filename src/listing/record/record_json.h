// The JSON forms the JSON Lines writer (record_json.cpp, k_json_form) is made of.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "INCLUDE_U/dates.h"

// Appends `text` (UTF-8) as a JSON string with its quotes: '"', '\' and every
// control character (C0, DEL and C1, so that no terminal acts on one) escaped,
// the controls as \uXXXX.
void append_json_string(std::string& out, std::string_view text);

// Appends the record's start: "{", the file's name, its size and its last-write
// time (ISO 8601 with its offset from UTC).
void append_json_record_start(std::string& out, std::string_view name, int64_t size,
                              const file_dates& dates);
