// Test harness: temporary trees, a runner for the built program, a platform-table
// swapper. Works natively and, cross-compiled, under wine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/digest.h"
#include "platform/platform.h"

// The built program and the source tree, in this platform's path form.
std::string mailsift_binary();
// The program with faults injected as MAILSIFT_FAULTS asks (tests/faulty_main.cpp).
std::string faulty_binary();
std::string source_dir();
// A path below the source tree, given with '/' separators.
std::string source_path(std::string_view relative);

// A temporary directory tree, removed with everything in it at the end of the test.
class temp_tree {
 public:
  temp_tree();
  ~temp_tree();
  temp_tree(const temp_tree&) = delete;
  temp_tree& operator=(const temp_tree&) = delete;

  // Absolute path of the tree, without a trailing separator.
  const std::string& root() const { return root_; }
  // Absolute path of `relative` (written with '/') inside the tree.
  std::string path(std::string_view relative) const;
  // Writes `bytes` to the file, creating missing parent directories.
  void write(std::string_view relative, std::string_view bytes) const;
  void make_dir(std::string_view relative) const;
  std::string read(std::string_view relative) const;
  bool exists(std::string_view relative) const;
  void remove(std::string_view relative) const;
  // Sets last-write and last-access times, in seconds since 1970-01-01 UTC.
  void set_times(std::string_view relative, int64_t write_seconds, int64_t access_seconds) const;
  // A second name `relative` for the existing file `existing`; false where the
  // file system refuses hard links.
  bool hard_link(std::string_view existing, std::string_view relative) const;

 private:
  std::string root_;
};

struct run_options {
  std::string input;  // standard input of the program
  // The program to run, an absolute path; empty for the built mailsift.
  std::string program;
  // Environment variables set for the program (on top of the pinned ones).
  std::vector<std::pair<std::string, std::string>> env;
  std::string cwd;          // working directory; empty = the test's own
  bool no_ini_word = true;  // appends "-.ini" to the arguments
  int timeout_seconds = 120;
  // Run as an unprivileged user (POSIX, when the tests run as root, who reads
  // everything): permission tests then mean the same for every tester.
  bool unprivileged = false;
  // Most descriptors the program may hold (POSIX, RLIMIT_NOFILE); -1 leaves the
  // test's own limit.
  long open_files_limit = -1;
  // The largest file the program may write, in bytes, as `ulimit -f` sets it
  // (POSIX; -1 leaves the limit alone).
  int64_t file_size_limit = -1;
  // Most processes and threads the program's user may run (POSIX, RLIMIT_NPROC,
  // set once privileges are dropped: root is not held to it); -1 leaves it.
  long process_limit = -1;
  // The most address space the program may map, in bytes, as `ulimit -v` sets it
  // (POSIX; -1 leaves the limit alone).
  int64_t address_space_limit = -1;
  // Starts the program with standard output closed, as `>&-` does (POSIX).
  bool stdout_closed = false;
};

struct run_result {
  int status = -1;
  std::string out;  // standard output, CR LF turned into LF
  std::string err;  // standard error, CR LF turned into LF
  bool timed_out = false;
  long peak_rss_kb = -1;  // peak resident memory of the program, where known
};

// Runs the built program with `args` (program name not included). The
// environment is pinned: TZ=EST5EDT; ACCT, DELIMETER, RESET and SILENT unset.
run_result run_mailsift(const std::vector<std::string>& args, const run_options& options = {});

// A program started in the background, for interrupt tests.
struct spawned_program {
  long long id = -1;
  int out_fd = -1;
  int err_fd = -1;
  // The master side of its pseudo-terminal (start_mailsift_on_terminal), still
  // open after wait_for, so that the terminal's modes can be read after the run.
  int terminal_fd = -1;
};
// Empty where a run with `unprivileged` set can start; otherwise why it cannot
// (the user nobody cannot reach the temporary folder). Always empty on Windows.
std::string why_no_unprivileged_runs();
// False where the platform cannot deliver an interrupt to a child (Windows).
bool can_interrupt_children();
spawned_program start_mailsift(const std::vector<std::string>& args,
                               const run_options& options = {});
void send_interrupt(const spawned_program& program);
// SIGTERM, as a service manager or `kill` sends it.
void send_terminate(const spawned_program& program);
run_result wait_for(spawned_program& program, int timeout_seconds = 60);
// Waits for the program to end without reading its output, as when nobody reads
// the pipe it writes to (POSIX only); timed_out after `timeout_seconds`.
run_result wait_without_reading(spawned_program& program, int timeout_seconds);

// Runs the program with standard output and standard error on a pseudo-terminal
// (POSIX only; false from can_use_terminal elsewhere). Both arrive in `out`.
bool can_use_terminal();
run_result run_mailsift_on_terminal(const std::vector<std::string>& args,
                                    const run_options& options = {});
// Starts the program in the background with standard input, output and error on a
// new pseudo-terminal (POSIX only): out_fd reads the terminal, terminal_fd is
// closed by the caller.
spawned_program start_mailsift_on_terminal(const std::vector<std::string>& args,
                                           const run_options& options = {});
// Sends the signal `signal_number` to the program (POSIX only).
void send_signal(const spawned_program& program, int signal_number);

std::string normalise_line_ends(std::string_view text);
// The bytes of the file at `path` (outside any temp_tree); empty when it cannot be read.
std::string file_bytes(const std::string& path);
// The words of a command line as one text, for the messages of a failing test.
std::string describe(const std::vector<std::string>& words);
// The lines or names in sorted order, to compare sets whose order does not matter.
std::vector<std::string> sorted(std::vector<std::string> lines);
// The records of a listing: its lines after the column header line.
std::vector<std::string> listing_records(const std::string& listing);
// `text` cut at every `delimiter` (a record into its fields).
std::vector<std::string> split(const std::string& text, char delimiter);
// Whether `text` is UTF-8 as a strict reader takes it: no stray or cut-short byte,
// no overlong form, no surrogate, nothing past U+10FFFF, and no NUL. Written apart
// from the program's own routines, so that it checks them.
bool is_strict_utf8(std::string_view text);
// The first field of every record: the listed files, in the order listed.
std::vector<std::string> listed_files(const std::string& listing, char delimiter = '|');
// The file count of the screen summary ("  2 directories, 5 files"); -1 when there
// is none.
long summary_file_count(const std::string& err);
// The run's clock (start, finish, elapsed) in a run log or on the screen as fixed
// marks, line ends as "\n", so that runs at different times can be compared.
std::string mask_run_times(std::string_view text);

// A message file of odd content, as collections copied from anywhere hold them.
struct odd_file {
  std::string name;
  std::string content;
};
// Contents a scan must survive with one whole record each: lines of 40 KB, 70 KB
// and 1 MB, random bytes, NUL bytes, a lone line end, nothing, bare CRs, a Ctrl-Z.
std::vector<odd_file> awkward_message_files();
// Names a listing must show once each (spaces, quotes, commas, bytes that are not
// UTF-8, line ends): those this platform's file names can hold.
std::vector<std::string> awkward_file_names();
// `count` small messages below "m/" in directories of 100, each with a long
// subject so that a listing reaches the disk well before standard error fills
// its pipe.
void write_small_messages(const temp_tree& tree, int count);
// "d" and 7 give "d7"; built by appending, which a compiler's overlap check on
// literal + string does not trip over.
std::string numbered(std::string text, long long number, std::string_view suffix = "");
// Seconds since 1970 of a UTC calendar time.
int64_t utc_seconds(int year, int month, int day, int hour, int minute, int second);
// Seconds since 1970 of a time on the EST5EDT clock the tests pin (US rules
// since 2007: daylight time from the second Sunday of March, 02:00, to the first
// Sunday of November, 02:00).
int64_t eastern_seconds(int year, int month, int day, int hour, int minute, int second);
// Noon, on the EST5EDT clock of the runs, of the day `days_back` days before today.
int64_t eastern_noon_days_back(int days_back);

// Swaps entries of g_platform for one test; the real table comes back at scope end.
class scoped_platform {
 public:
  scoped_platform() : saved_(g_platform) {}
  ~scoped_platform() { g_platform = saved_; }
  scoped_platform(const scoped_platform&) = delete;
  scoped_platform& operator=(const scoped_platform&) = delete;

 private:
  platform_table saved_;
};

// Makes each read of a file hand out at most `limit` bytes, as a pipe or a slow
// disk may, until scope end; set_limit changes the bound.
class scoped_short_reads {
 public:
  explicit scoped_short_reads(int64_t limit);
  void set_limit(int64_t limit);

 private:
  scoped_platform saved_;
};

// The digest of `bytes` as lower-case hex.
std::string hex_digest(digest_kind kind, std::string_view bytes);
