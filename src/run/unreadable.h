// Paths the run meant to read and could not: each is named on standard error
// and counted, so that a missing file never passes for an empty one.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/platform.h"

// Paths named by report_unreadable so far in this run.
extern int32_t g_unreadable_count;

// Names `path` (shown without the long-path prefix or a trailing separator) and
// `reason` on standard error, on a line of its own, as
// "mailsift: cannot read PATH: REASON", and counts it.
void report_unreadable(std::string_view path, std::string_view reason);
// Acts on the failure the platform layer last met with `path`: memory or
// descriptors run out end the run (reason 7); any other failure is reported as
// above, a path that names nothing only when `missing_counts`. False when
// nothing failed (a search that matched nothing, a file of another type).
bool report_failure(std::string_view path, bool missing_counts);
// The same for a failure the caller took from the platform layer earlier.
bool act_on_failure(std::string_view path, failure_kind kind, std::string_view reason,
                    bool missing_counts);
// The summary's and the run log's line for `count`, as "  2 paths could not be
// read\n"; empty for 0, so that a run without failures looks as it always did.
std::string unreadable_count_text(int32_t count);
