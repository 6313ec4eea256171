// A large file read ahead of its scan, on a thread of its own: while the scan
// works on one part, the system copies the next parts into memory.
#pragma once

#include <cstdint>
#include <string>

#include "listing/sources/read_thresholds.h"
#include "platform/platform.h"

struct read_ahead;


// Starts reading `file` ahead; null when the system has no thread or no memory to
// spare, and the file is then read as before.
read_ahead* start_read_ahead(read_handle file);
// As the platform's read_bytes: bytes into `into`, exactly `wanted` unless the
// file ends or a read fails first; 0 at the end, -1 when a read failed before any
// byte of this call.
int64_t read_ahead_bytes(read_ahead& ahead, char* into, int64_t wanted);
// Stops the reads (one under way ends first) and frees everything. What a failed
// read met goes to `reason` and is returned, as last_failure would have said it on
// the thread that read.
failure_kind stop_read_ahead(read_ahead* ahead, std::string& reason);
