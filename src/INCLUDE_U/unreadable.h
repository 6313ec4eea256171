// Paths the run meant to read and could not: each is named on standard error
// and counted, so that a missing file never passes for an empty one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "INCLUDE_U/messages.h"
#include "INCLUDE_U/stops.h"
#include "platform/platform.h"

// Paths named by report_unreadable so far in this run, held messages not counted.
extern int32_t g_unreadable_count;

// The path as the listing and the messages show it: from its first character that
// is neither '\' nor '?' among the first five, so without the long-path prefix.
std::string_view display_name(std::string_view path);

// Names `path` (shown without the long-path prefix or a trailing separator) and
// `reason` on standard error, on a line of its own, as
// "mailsift: cannot read PATH: REASON", and counts it.
void report_unreadable(std::string_view path, std::string_view reason);
// The same, held in `held` (a scanner's slot; null as for write_message).
void report_unreadable(held_messages* held, std::string_view path, std::string_view reason);
// Acts on the failure the platform layer last met with `path`: it is reported as
// above, a path that names nothing only when `missing_counts`; memory or
// descriptors run out also make failure_stop say so. False when nothing failed (a
// search that matched nothing, a file of another type).
bool report_failure(std::string_view path, bool missing_counts);
// The same, held in `held` (null as for write_message).
bool report_failure(held_messages* held, std::string_view path, bool missing_counts);
// The same for a failure the caller took from the platform layer earlier.
bool act_on_failure(std::string_view path, failure_kind kind, std::string_view reason,
                    bool missing_counts);
bool act_on_failure(held_messages* held, std::string_view path, failure_kind kind,
                    std::string_view reason, bool missing_counts);
// out_of_memory once a failure met memory or descriptors run out: going on would
// skip whatever comes next as silently, so the run ends after its last whole
// record. go_on before that.
stop_reason failure_stop();
// Writes what `held` holds to standard error and counts its paths and failures
// as the run's own, emptying it.
void release_held_messages(held_messages& held);
// The summary's and the run log's line for `count`, as "  2 paths could not be
// read\n"; empty for 0, so that a run without failures looks as it always did.
std::string unreadable_count_text(int32_t count);

// Files named by report_changed_while_read so far in this run, held messages not
// counted.
extern int32_t g_changed_count;
// Names on standard error, as "mailsift: PATH changed while it was read", a file
// whose size at the end of its read differs from its size when it was found (its
// record stays, but its digests and fields are of neither version), and counts
// it; held in `held` as report_unreadable holds.
void report_changed_while_read(held_messages* held, std::string_view path);
// The summary's and the run log's line for `count`, as "  2 files changed while
// they were read\n"; empty for 0.
std::string changed_count_text(int32_t count);

// Messages left out of the listing because a sent-date bound was in force and
// they had no date that could be read.
extern int64_t g_undated_count;
// The summary's and the run log's line for `count`, as "  2 messages left out:
// no date could be read\n"; empty for 0.
std::string undated_count_text(int64_t count);
