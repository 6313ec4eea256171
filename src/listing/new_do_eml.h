// The message header scan and the listing record.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "discovery/select_file.h"

// Writes one file's record to the listing and its progress line to standard
// error: reads every line of the file against the header rules. A file that
// cannot be opened still gets a whole record, from the start values.
void scan_message(const std::string& path, int64_t size, const file_dates& dates);

// Writes the column header line (plain or quoted form as quote_fields says).
void write_listing_header(std::FILE* stream);
