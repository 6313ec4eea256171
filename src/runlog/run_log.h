// The run log ("accounting file"): one appended block per run.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "settings/run_log_request.h"

// The run log, or null when none is open.
extern std::FILE* g_acct_file;

// Carries out what the settings readers ask of the run log (the handler
// start-up installs): opens, tells and closes g_acct_file; whether one is open.
bool carry_out_run_log_request(const run_log_request& request);
// Closes the run log, when one is open.
void close_run_log();
// Prepares and opens a run log for appending and writes the separator; null (after
// a message) when it is not a regular file or cannot be opened or created, and the
// run goes on without it.
std::FILE* open_run_log(const std::string& name);
// Creates the log's directory (and missing parents) when needed, with a message per
// directory and a one-second pause; true when it existed or the last creation worked.
bool ensure_log_directory(const std::string& name);
// Cuts a run of at most 512 NUL and Ctrl-Z bytes at the very end of the file (a
// longer run is left), creating a missing file empty. False, after a message, when
// it is not a regular file or can be neither opened nor created.
bool trim_log_file(const std::string& name);
// Command-line echo: each argument after a space, "|" quoted; then a line end.
void write_command_echo(const std::vector<std::string>& args);
// The header with the start stamp, time-zone facts and command line, when a log is
// open and an output file is in use or the run is not silent. Ends the process with
// status 7 when the time-zone facts cannot be obtained.
void write_run_log_header(const std::vector<std::string>& args);
// " Initial directory: ..." with the first starting path.
void write_initial_directory();
// The trailer: reason, counts, finish stamp, elapsed time, last-access report.
void write_run_log_trailer(int reason);

// Three-letter abbreviation of a zone name: its first three characters, the second
// and third replaced by the initials of its second and third words ("Eastern
// Standard Time" gives "Est", upper-cased "EST").
std::string zone_abbreviation(std::string_view name, bool upper);
