// The output side: output-name buffer, output file, start of the listing.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

// Listing output: standard output until an output file is opened.
extern std::FILE* g_out_file;
// Message stream: always standard error.
extern std::FILE* g_msg_file;
// Files handed to the message scan, as the listing counts them.
extern int32_t g_file_count;
// Messages listed with a record of their own (a mailbox's), as the listing counts
// them: the summary tells them beside the files when a run lists messages.
extern int64_t g_messages_listed;

// The summary's count line: directories and files ("\n  1 directory, 12 files\n"),
// and the messages listed when the run lists a mailbox's messages one by one.
std::string listing_count_text(long directories);

// Reserves the output-name buffer and makes it empty.
void reserve_output_buffers();
// Opens or creates the output file when one was named; the listing stays on
// standard output otherwise. Ends the process with status 4 when the file cannot
// be opened, and the run with reason 6 when -a came without a file name.
void open_output_file();
enum class flush_result { ok, failed, pipe_closed };
// Flushes the listing output. On a write error prints, once, a message naming the
// output (nothing for a closed pipe, which ends quietly); the caller ends the run
// with reason 9 unless the result is ok.
flush_result flush_listing_output();
// True when a write to the listing output has failed; remembers the cause so that
// a later flush can tell a closed pipe from a full disk.
bool listing_write_failed();
// Writes listing text to `stream`, counting what goes into the output file so that
// a failed write can cut it back to a whole record.
void write_listing_text(std::FILE* stream, std::string_view text);
// Whether the listing goes to an output file and nothing stands before it there:
// a new, empty or overwritten file.
bool listing_starts_output_file();
// Marks the end of a whole record (or of the column header line) in the output file.
void note_whole_record();
// Writes records made apart from the listing (a scanner's) one by one, each
// counted as a message listed and marked whole: a file may hold several (a
// mailbox, an Outlook data file) or none (left out by its sent date).
void write_records_one_by_one(std::string_view records);
// After a failed write to the closed output file: cuts it back to the end of its
// last whole record, makes the file count the number of files it lists, and says
// how many records it holds. Does nothing for a listing on standard output.
void cut_listing_to_whole_records();
// The default count of --NAMEAFTER and the column header line, once the
// settings are settled.
void start_listing();
// Starts a listing that begins the output file: a UTF-8 comma-delimited listing
// gets the byte-order mark, so that spreadsheet programs read it as UTF-8.
void begin_listing_file();
