// The sizes at which a file is read otherwise: the two thresholds of the reads,
// side by side.
#pragma once

#include <cstdint>

// A file larger than this (a read chunk) is larger than the slots of the scanner
// ring should hold: with --MBOX it is read on the walk's thread once every file
// before it is written, so that a mailbox streams its records. (Which scanners
// take which files is listing/scanners/scan_policy.h's.)
inline constexpr int64_t k_large_file = 64 * 1024;
// A mailbox at least this large is read ahead on a thread of its own
// (listing/sources/read_ahead.h), so that the system's copy of the next bytes goes
// on while the scan works through the messages.
inline constexpr int64_t k_read_ahead_size = int64_t{8} << 20;
