// The output side: output-name buffer, output file, start of the listing.
#pragma once

// Reserves the output-name buffer and makes it empty.
void reserve_output_buffers();
// Opens or creates the output file when one was named; the listing stays on
// standard output otherwise. Ends the run when it cannot be opened.
void open_output_file();
// Inverts no_count, adjusts width, runs the source-list mode (which ends the
// process) or writes the column header line.
void start_listing();
enum class flush_result { ok, failed, pipe_closed };
// Flushes the listing output. On a write error prints, once, a message naming the
// output (nothing for a closed pipe, which ends quietly); the caller ends the run
// with reason 9 unless the result is ok.
flush_result flush_listing_output();
