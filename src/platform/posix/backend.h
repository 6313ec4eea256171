// What the files of the POSIX backend share. Private to platform/posix/: the
// rest of the program sees only the table of platform.h.
//
// One job a file: long_paths (paths of any length), open_files (opens, reads and
// the batched close, the last failure), access_times (opens that keep the
// last-access time), file_facts (statx, identities, attributes),
// directory_search (the search emulation over the kept listing), time, console
// (the terminal and signals), process (heap, limits, environment), charsets
// (iconv); table.cpp fills the table.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace posix_backend {

// open_files.cpp

// Notes `error` as this thread's last failure, for last_failure (0: none).
void note_failure(int error);

inline bool open_failed(int fd) { return fd < 0; }
inline bool open_failed(const void* handle) { return handle == nullptr; }

// Closes the files waiting in the close batch; false when none waited.
bool close_waiting_files_now();

// Runs `open_once` (an open of any kind, giving -1 or null when it fails), and
// once more when it failed for want of descriptors and the files waiting to be
// closed can give some back.
template <typename opener>
auto open_freeing_descriptors(opener open_once) {
  auto opened = open_once();
  if (open_failed(opened) && (errno == EMFILE || errno == ENFILE)) {
    if (!close_waiting_files_now()) return opened;
    opened = open_once();
  }
  return opened;
}

// long_paths.cpp

// A path made reachable whatever its length: `name` relative to the directory
// `at`. A path short enough goes whole, against the current directory;
// otherwise `at` is an open directory on the way, owned here.
struct reached_path {
  int at = AT_FDCWD;
  const char* name = "";
  reached_path() = default;
  reached_path(const reached_path&) = delete;
  reached_path& operator=(const reached_path&) = delete;
  ~reached_path() {
    if (at >= 0) close(at);
  }
};

// Opens the directories of a long path a piece at a time; false, with errno set,
// when one of them cannot be opened.
bool reach(const std::string& path, reached_path& out);
// stat of a path of any length; false with the failure noted.
bool stat_path(const std::string& path, struct stat& st);

// access_times.cpp

// Opens `name` relative to `at` for reading without changing its last-access
// time where the system allows, else plainly and counted.
int open_keeping_access_time(int at, const char* name, int flags, bool directory);
// The same for a path of any length; -1 with the failure noted.
int open_path_keeping_access_time(const std::string& path, int flags, bool directory);

// file_facts.cpp

// The device and inode of a file as a dir_identity.
dir_identity identity_of(const struct stat& st);
// The last part of a path.
std::string_view base_name(std::string_view path);
// Fills `entry` from the facts of a regular file or directory; false for others.
bool fill_entry_from(const struct statx& sx, std::string_view name, dir_entry& entry);
// The same for the file `path` names relative to `at`; false with the failure noted.
bool fill_entry(int at, const char* path, std::string_view name, dir_entry& entry);

// The entries of the table, by file; platform.h says what each does.

// long_paths.cpp
bool posix_current_directory(std::string& out);
bool posix_full_path(const std::string& name, std::string& out);
bool posix_program_path(std::string& out);
bool posix_is_directory(const std::string& path);
bool posix_path_exists(const std::string& path);
bool posix_create_directory(const std::string& path);
bool posix_file_size(const std::string& path, int64_t& size);
bool posix_can_read_file(const std::string& path);

// open_files.cpp
std::FILE* posix_open_stream(const std::string& path, const char* mode);
std::FILE* posix_open_regular_stream(const std::string& path, const char* mode);
void posix_open_standard_streams();
read_handle posix_open_for_reading(const std::string& path);
read_handle posix_open_and_look_up(const std::string& path, dir_entry& entry);
int64_t posix_read_bytes(read_handle file, void* buffer, int64_t size);
void posix_close_file(read_handle file);
bool posix_truncate_file(const std::string& path, int64_t size);
int64_t posix_read_at(const std::string& path, int64_t offset, void* buffer, int64_t size);
failure_kind posix_last_failure(std::string& reason);
void posix_prepare_thread_storage();

// access_times.cpp
access_time_counts posix_access_times_not_kept();

// file_facts.cpp
bool posix_lookup_file(const std::string& path, dir_entry& entry);
bool posix_directory_identity(const std::string& path, dir_identity& id);
bool posix_get_attributes(const std::string& path, uint32_t& attributes);
bool posix_set_attributes(const std::string& path, uint32_t attributes);
int posix_last_access_setting(const std::string& path);
bool posix_stream_identity(std::FILE* stream, dir_identity& id);
bool posix_read_handle_identity(read_handle file, dir_identity& id);

// directory_search.cpp
find_state* posix_find_first(const std::string& pattern, dir_entry& entry);
find_state* posix_find_first_names(const std::string& pattern, dir_entry& entry);
bool posix_find_next(find_state* handle, dir_entry& entry);
void posix_find_close(find_state* handle);

// time.cpp
int64_t posix_current_time();
bool posix_seconds_to_calendar(int64_t seconds, bool local, calendar_time& out);
bool posix_ticks_to_calendar(file_ticks ticks, bool local, calendar_time& out);
bool posix_local_calendar_to_seconds(int year, int month, int day, int hour, int minute, int second,
                                     int64_t& out);
bool posix_time_zone(zone_state& out);

// console.cpp
void posix_console_start();
void posix_console_restore();
bool posix_key_waiting();
int posix_read_key();
bool posix_stdin_is_terminal();
bool posix_is_terminal(std::FILE* stream);
void posix_install_interrupt_handler();
bool posix_interrupt_requested();
void posix_sleep_milliseconds(int milliseconds);
void posix_ignore_write_signals();

// process.cpp
bool posix_computer_name(std::string& out);
bool posix_get_environment(const char* name, std::string& out);
void posix_share_one_heap();
void posix_give_back_pages(void* start, std::size_t size);
int64_t posix_open_files_limit();
[[noreturn]] void posix_exit_process(int status);
bool posix_ansi_text_to_utf8(const std::string& bytes, std::string& out);

// charsets.cpp
charset_conversion posix_convert_charset(charset_converters*& converters, std::string_view charset,
                                         std::string_view bytes, std::string& out);
void posix_free_charset_converters(charset_converters*& converters);

}  // namespace posix_backend
