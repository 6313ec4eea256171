#include "run/eml_base.h"

#include <cstdio>
#include <cstdlib>
#include <new>

#include "INCLUDE_U/clock.h"
#include "INCLUDE_U/numbers.h"
#include "INCLUDE_U/text.h"
#include "INCLUDE_U/unreadable.h"
#include "discovery/eml_s_list.h"
#include "discovery/select_file.h"
#include "discovery/walk.h"
#include "listing/eml_program.h"
#include "listing/outlook_listing.h"
#include "listing/settled_options.h"
#include "listing/scanners/scanners.h"
#include "platform/platform.h"
#include "run/terminate.h"
#include "runlog/last_access.h"
#include "runlog/run_log.h"
#include "settings/defaults.h"
#include "settings/eml_options.h"
#include "settings/help_screen.h"
#include "settings/ini_settings.h"
#include "settings/path_lists.h"
#include "settings/run_log_request.h"
#include "settings/run_settings.h"
#include "settings/setting_messages.h"

namespace {

// Set once terminate_run has begun, so that a failure inside it cannot re-enter it.
bool s_terminating = false;
// Set when the walk's thread ran out of memory: the end then allocates nothing
// it can do without.
bool s_memory_ran_out = false;
// Memory kept from the start for the end of a run that ran out: given back when
// memory runs out, it leaves room for the summary and the run log's trailer.
constexpr std::size_t k_end_reserve = 256 * 1024;
void* s_end_reserve = nullptr;

// Buffers for the listing and message streams when they are not terminals: one
// write per few thousand records instead of one per record.
char s_stdout_buffer[1 << 16];
char s_stderr_buffer[1 << 14];

// A scanner, or a step the run can do without, answers a failed allocation
// where it was made (the handler's way to say so is std::bad_alloc); only the
// walk's thread ends the run, after the records before the failure.
void on_out_of_memory() {
  if (allocation_failure_is_local()) throw std::bad_alloc();
  std::free(s_end_reserve);
  s_end_reserve = nullptr;
  s_memory_ran_out = true;
  terminate_run(k_exit_memory);
}

// Start-up's pauses and prompts return early on an interrupt, which ends the run
// here, before the listing begins.
void end_run_if_interrupted() {
  if (interrupt_pending()) terminate_run(k_exit_user_aborted);
}

// The walk, the selection, the scan and the source list hand their stops up to
// here, where the run ends with the stop's reason.
void end_run_if_stopped(stop_reason stop) {
  if (stop != stop_reason::go_on) terminate_run(exit_reason_of(stop));
}

// The settings record, the path lists and the run-wide values, all empty.
void allocate_run_buffers() {
  create_run_settings();
  clear_path_lists();
}

void set_stream_buffers() {
  if (!g_platform.is_terminal(stdout)) {
    std::setvbuf(stdout, s_stdout_buffer, _IOFBF, sizeof s_stdout_buffer);
  }
  if (!g_platform.is_terminal(stderr)) {
    std::setvbuf(stderr, s_stderr_buffer, _IOFBF, sizeof s_stderr_buffer);
  }
}

// The selection hands the files it chose to the listing.
constexpr file_sink k_listing_sink = {.make_room_to_open = make_room_to_open,
                                      .take_file = list_selected_file};

std::string with_trailing_separator(const std::string& path) {
  if (!path.empty() && path.back() == k_path_separator) return path;
  return path + k_path_separator;
}

// The optional first pass: counts files and bytes per starting path so that the
// user sees the size of the job before it starts.
void run_counting_pass() {
  std::fputs("\nCounting files: ", stderr);
  for (std::string& path : g_paths) {
    path = with_trailing_separator(path);
    end_run_if_stopped(walk_directory(path, counting_visitor()));
  }
  // The settings are read-only once start-up ends: the width found is reported,
  // and nothing after the counting pass lays text out by it.
  if (g_settings->auto_width) {
    int width = static_cast<int32_t>(g_walk.longest_path + 2);
    std::fprintf(stderr, "\r  Maximum path length found is %d, -w %d installed\n", width, width);
  }
  std::fprintf(stderr, "\r%10s files to process, ", format_thousands(g_walk.counted_files));
  std::fprintf(stderr, "%s bytes\n",
               format_thousands64(static_cast<int64_t>(g_walk.counted_bytes)));
}

void run_processing_pass() {
  walk_visitor visit = selecting_visitor(k_listing_sink);
  for (std::size_t i = 0; i < g_paths.size(); ++i) {
    g_paths[i] = with_trailing_separator(g_paths[i]);
    end_run_if_stopped(walk_directory(g_paths[i], visit));
  }
  end_run_if_stopped(finish_scans());
}

// Where no summary is written, the count of messages left out for want of a date
// still is: a bound on the sent date must never drop messages without a word.
void write_undated_line_alone() {
  std::string line = undated_count_text(g_undated_count);
  if (line.empty()) return;
  std::fputs("\n", stderr);
  write_text(stderr, line);
}

// The source-list mode ends here, without summary; a failed write must not end it
// as a success.
[[noreturn]] void run_source_list() {
  begin_listing_file();
  end_run_if_stopped(process_source_list(selecting_visitor(k_listing_sink)));
  end_run_if_stopped(finish_scans());
  write_undated_line_alone();
  exit_directly(flush_listing_output() == flush_result::ok ? k_exit_normal : k_exit_write_error);
}

void write_screen_summary(int64_t elapsed) {
  write_text(stderr, listing_count_text(g_walk.dir_count));
  write_text(stderr, outlook_count_text());
  write_text(stderr, unreadable_count_text(g_unreadable_count));
  write_text(stderr, changed_count_text(g_changed_count));
  write_text(stderr, undated_count_text(g_undated_count));
  std::fputs("  Elapsed: ", stderr);
  write_text(stderr, elapsed_text(elapsed));
  std::fputs("\n", stderr);
  access_time_counts not_kept = g_platform.access_times_not_kept();
  if (not_kept.files != 0 || not_kept.directories != 0) {
    std::fputs("  ", stderr);
    write_text(stderr, access_times_line(not_kept).view());
  }
  std::fputs("\n", stderr);
  std::fputs("\n", stderr);
}

// Closes the output file; a failure to write its last buffer is a write error.
bool close_output_file() {
  bool ok = true;
  if (g_settings && g_settings->output_mode && g_out_file && g_out_file != stdout) {
    ok = std::fclose(g_out_file) == 0;
    g_out_file = nullptr;
  }
  return ok;
}

}  // namespace

void terminate_run(int reason) {
  if (s_terminating) exit_directly(reason);
  s_terminating = true;
  // The files already handed to scanners are listed, or dropped after a stop,
  // before anything reports the run's end.
  finish_scans(s_memory_ran_out);
  if (s_memory_ran_out) report_out_of_memory();
  // Messages still held come before the reason line.
  release_setting_messages();

  // Learn about a failed write before anything reports the run as a success.
  bool quiet = false;
  bool written = true;
  if (g_out_file) {
    flush_result flushed = flush_listing_output();
    if (flushed != flush_result::ok && reason == k_exit_normal) reason = k_exit_write_error;
    quiet = flushed == flush_result::pipe_closed;
    written = flushed == flush_result::ok;
  }
  bool summary_wanted = g_settings && g_out_file && g_settings->output_mode && !g_settings->silent;
  // Closed and, after a failed write, cut back before the summary counts its files.
  if (!close_output_file()) {
    if (reason == k_exit_normal) {
      std::fprintf(stderr, "\nError writing output file %s\n", g_output_name.c_str());
      reason = k_exit_write_error;
    }
    written = false;
  }
  if (!written) cut_listing_to_whole_records();

  if (g_start_time == 0) g_start_time = current_time();
  g_end_time = current_time();
  int64_t elapsed = g_end_time - g_start_time;

  const char* text = exit_reason_text(reason);
  if (reason != 0 && !quiet) {
    std::fprintf(stderr, "\nAbnormal termination. Reason: %s\n\n", text ? text : "");
  }
  if (summary_wanted)
    write_screen_summary(elapsed);
  else
    write_undated_line_alone();

  if (g_acct_file) {
    write_run_log_trailer(reason);
    close_run_log();
  }
  exit_directly(reason);
}

// What a run needs before any setting is read beyond the settings' own defaults:
// its clock, the time zone, the listing's streams.
void prepare_run_state() {
  g_start_time = current_time();
  zone_state zone;
  g_platform.time_zone(zone);
  g_last_access_setting = read_last_access_setting(".");
  reserve_output_buffers();
  g_out_file = stdout;
  g_msg_file = stderr;
}

namespace {

// The process as every run needs it, before any setting is read: standard streams,
// the hooks of the ends, the program's own path as the first argument, buffers,
// console and signals.
void prepare_process(std::vector<std::string>& args) {
  // First of all: a file opened while one of these is closed would take its number.
  g_platform.open_standard_streams();
  // Messages still held are said before any direct exit; a refused setting ends
  // the run as any other end does.
  set_last_words(release_setting_messages);
  // The readers' run-log requests are carried out by the run log, at once.
  set_run_log_handler(carry_out_run_log_request);
  set_start_up_ending(terminate_run);
  std::set_new_handler(on_out_of_memory);
  prepare_thread_storage();
  s_end_reserve = std::malloc(k_end_reserve);
  std::string program;
  if (g_platform.program_path(program)) {
    if (args.empty())
      args.push_back(program);
    else
      args[0] = program;
  }
  allocate_run_buffers();
  set_stream_buffers();
  std::setvbuf(stdin, nullptr, _IONBF, 0);
  g_platform.console_start();
  g_platform.install_interrupt_handler();
  g_platform.ignore_write_signals();
}

}  // namespace

void program_main(std::vector<std::string> args) {
  prepare_process(args);
  if (args.size() <= 1) {
    show_help();
    exit_directly(0);
  }

  set_default_settings();
  prepare_run_state();
  parse_command_line(args);
  settle_setting_messages(!g_settings->output_mode);
  if (g_acct_file) write_command_echo(args);
  end_run_if_interrupted();
  open_output_file();
  write_run_log_header(args);
  leave_out_own_files(g_out_file, g_acct_file);
  if (g_filetypes.empty()) add_filetype("*.*");
  if (g_paths.empty()) add_current_directory();
  // The report is about the files read; Windows has one setting for all of them.
  if (!k_windows && !g_paths.empty()) {
    g_last_access_setting = read_last_access_setting(g_paths.front());
  }
  end_run_if_interrupted();
  // Start-up ends here: nothing changes the settings afterwards.
  settle_settings();
  settle_scan_options();
  // A source list names the files itself: no walk, no header, no summary.
  if (g_settings->source_list && g_source_list_file) run_source_list();
  start_listing();

  if (g_settings->output_mode && g_settings->counting_pass) run_counting_pass();
  if (g_acct_file) write_initial_directory();
  run_processing_pass();
  terminate_run(k_exit_normal);
}
