#include "listing/eml_program.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "INCLUDE_U/messages.h"
#include "INCLUDE_U/numbers.h"
#include "INCLUDE_U/stops.h"
#include "INCLUDE_U/text.h"
#include "listing/record/record.h"
#include "listing/settled_options.h"
#include "platform/platform.h"
#include "settings/run_settings.h"
#include "settings/setting_messages.h"

std::FILE* g_out_file = nullptr;
std::FILE* g_msg_file = nullptr;
int32_t g_file_count = 0;
int64_t g_messages_listed = 0;

namespace {

// Label that the output-file messages give as their source.
constexpr const char* k_module_label = ".\\eml_program";

// The output file's stream buffer. Larger than the classic 8 KB so that a big
// listing costs one write per many records; it lives as long as the stream.
char s_output_buffer[1 << 16];

// errno of the first failed listing write, 0 while none failed.
int s_write_errno = 0;
// A write error is reported once, however often the stream is flushed.
bool s_write_error_reported = false;

// Where a whole record ends in the output file, and what the listing holds there.
struct record_end {
  int64_t offset = 0;   // in the file, line ends as stored
  int64_t records = 0;  // records before this point
  int32_t files = 0;    // the file count at this point
  int64_t messages = 0;  // the messages listed at this point
};
// The latest ends, in a ring. What stdio had not yet written when a write failed
// fits in its buffer, and even the shortest record takes over 16 bytes: the end
// that reached the disk is always among these.
constexpr std::size_t k_kept_record_ends = ((sizeof s_output_buffer) / 16) + 2;
record_end s_record_ends[k_kept_record_ends];
int64_t s_record_end_count = 0;
// Offset in the output file just past the text handed to its stream.
int64_t s_output_offset = 0;

// `error` is the errno of the failed open: the message says why, as the system
// words it ("Is a directory", "Permission denied").
[[noreturn]] void fail_to_open_output(const char* what, int line, int error) {
  std::fprintf(stderr, "\ncan't %s output file %s: %s\n", what, g_output_name.c_str(),
               system_reason(error));
  std::fprintf(stderr, "FILE: %s, LINE %d\n", k_module_label, line);
  exit_directly(k_exit_output_file);
}

void report_write_error(int error) {
  if (s_write_error_reported) return;
  s_write_error_reported = true;
  const char* cause = system_reason(error);
  if (g_out_file == stdout) {
    std::fprintf(stderr, "\nError writing the listing to standard output: %s\n", cause);
  } else {
    std::fprintf(stderr, "\nError writing output file %s: %s\n", g_output_name.c_str(), cause);
  }
}

// A listing appended to a file whose last line has no line end would start on
// that line and spoil its last record, so that line is ended first.
void end_last_line(std::FILE* file) {
  // An empty file has no byte before its end, and gets nothing.
  if (std::fseek(file, -1, SEEK_END) != 0) return;
  int last = std::fgetc(file);
  // A stream that was read must be positioned before it is written.
  std::fseek(file, 0, SEEK_END);
  if (last != EOF && last != '\n') std::fputc('\n', file);
}

}  // namespace

void reserve_output_buffers() {
  // An allocation failure reaches the new-handler, which ends the run with reason 7.
  g_output_name.clear();
}

void open_output_file() {
  if (g_settings->output_mode) {
    std::FILE* file = nullptr;
    if (g_settings->append_output) {
      file = g_platform.open_stream(g_output_name, "a+");
      if (!file) fail_to_open_output("open", 835, errno);
      end_last_line(file);
    } else {
      file = g_platform.open_stream(g_output_name, "w");
      if (!file) fail_to_open_output("create", 845, errno);
    }
    std::setvbuf(file, s_output_buffer, _IOFBF, sizeof s_output_buffer);
    g_out_file = file;
    // Appending starts after what the file already holds.
    if (!g_settings->append_output || !g_platform.file_size(g_output_name, s_output_offset)) {
      s_output_offset = 0;
    }
    s_record_end_count = 0;
  }
  if (g_settings->append_output && !g_settings->output_mode) {
    say_setting("\n\tNeed output file name if -a is chosen\n");
    end_start_up(k_exit_illegal_option);
  }
}

bool listing_write_failed() {
  if (!std::ferror(g_out_file)) return false;
  if (s_write_errno == 0) s_write_errno = errno ? errno : EIO;
  return true;
}

flush_result flush_listing_output() {
  errno = 0;
  bool failed = std::fflush(g_out_file) != 0;
  int flush_errno = errno;
  if (!failed && !std::ferror(g_out_file)) return flush_result::ok;
  if (s_write_errno == 0) s_write_errno = flush_errno ? flush_errno : EIO;
  if (s_write_errno == EPIPE || flush_errno == EPIPE) return flush_result::pipe_closed;
  report_write_error(s_write_errno);
  return flush_result::failed;
}

void write_listing_text(std::FILE* stream, std::string_view text) {
  write_text(stream, text);
  if (stream != g_out_file) return;
  s_output_offset += static_cast<int64_t>(text.size());
  // Text mode stores each line end as CR LF.
  if (k_windows) s_output_offset += std::count(text.begin(), text.end(), '\n');
}

bool listing_starts_output_file() {
  return g_settings->output_mode && g_out_file && g_out_file != stdout && s_output_offset == 0;
}

std::string listing_count_text(long directories) {
  if (g_settings && g_settings->mbox) {
    return message_count_text(directories, g_file_count, g_messages_listed);
  }
  return directory_count_text(directories, g_file_count);
}

void note_whole_record() {
  record_end& end = s_record_ends[s_record_end_count % k_kept_record_ends];
  end.offset = s_output_offset;
  // The column header line is the first end, with no record before it.
  end.records = s_record_end_count;
  end.files = g_file_count;
  end.messages = g_messages_listed;
  ++s_record_end_count;
}

void write_records_one_by_one(std::string_view records) {
  std::string_view rest = records;
  while (!rest.empty()) {
    std::string_view record = rest.substr(0, first_record_length(settled_scan_options(), rest));
    write_listing_text(g_out_file, record);
    ++g_messages_listed;
    note_whole_record();
    rest.remove_prefix(record.size());
  }
}

void cut_listing_to_whole_records() {
  dir_entry stored;
  if (!g_settings || !g_settings->output_mode || s_record_end_count == 0) return;
  // Only a regular file can be cut back; a device or a FIFO keeps what it got.
  if (!g_platform.lookup_file(g_output_name, stored) || (stored.attributes & k_attr_directory)) {
    return;
  }
  int64_t oldest = s_record_end_count > static_cast<int64_t>(k_kept_record_ends)
                       ? s_record_end_count - static_cast<int64_t>(k_kept_record_ends)
                       : 0;
  for (int64_t i = s_record_end_count - 1; i >= oldest; --i) {
    const record_end& end = s_record_ends[i % k_kept_record_ends];
    if (end.offset > stored.size) continue;
    bool whole = end.offset == stored.size || g_platform.truncate_file(g_output_name, end.offset);
    if (!whole) break;
    g_file_count = end.files;
    g_messages_listed = end.messages;
    // In an appended file the count is of this run's records.
    std::fprintf(stderr,
                 "The output file %s ends at its last whole record: the listing holds %lld "
                 "records\n",
                 g_output_name.c_str(), static_cast<long long>(end.records));
    return;
  }
  std::fprintf(stderr, "The output file %s could not be cut back: its last record may be cut\n",
               g_output_name.c_str());
}

void start_listing() {
  if (g_settings->nameafter && g_nameafter_count == -1) g_nameafter_count = 50;
  begin_listing_file();
  write_listing_header(g_out_file, settled_scan_options(), write_listing_text);
  note_whole_record();
}

void begin_listing_file() {
  const scan_options& options = settled_scan_options();
  if (options.utf && !options.json && options.delimiter == ',' && listing_starts_output_file()) {
    write_listing_text(g_out_file, "\xEF\xBB\xBF");
  }
}
