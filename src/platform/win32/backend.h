// What the files of the Win32 backend share. Private to platform/win32/: the
// rest of the program sees only the table of platform.h.
//
// One job a file: long_paths (UTF-16 names, the long-path form, the questions
// asked of a path), open_files (opens, reads, closes, kept access times, the
// last failure), file_facts (identities, attributes), directory_search, time,
// console (the console and Ctrl-C), process (heap, limits, environment),
// charsets (MultiByteToWideChar); table.cpp fills the table.
#pragma once

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace win32_backend {

// long_paths.cpp

// UTF-8 (WTF-8) to the system's UTF-16 and back.
std::wstring wide(const std::string& text);
std::string narrow(const wchar_t* text);
// The form of `path` the C run-time's opens take beyond MAX_PATH.
std::wstring long_form(const std::string& path);

// open_files.cpp

// Notes `error` as this thread's last failure, for last_failure (0: none).
void note_failure(DWORD error);

// file_facts.cpp

// A FILETIME as one count of ticks.
file_ticks ticks_of(const FILETIME& ft);

// The attributes, size and times a search's find data and a handle's information
// both carry, under the same member names.
template <typename Info>
void take_file_facts(const Info& info, dir_entry& entry) {
  entry.attributes = info.dwFileAttributes;
  entry.size =
      static_cast<int64_t>((static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  entry.create_ticks = ticks_of(info.ftCreationTime);
  entry.access_ticks = ticks_of(info.ftLastAccessTime);
  entry.write_ticks = ticks_of(info.ftLastWriteTime);
}
// The facts of an open file as a directory search gives them (but the name), and
// its identity, which a search does not give: one question to the handle.
bool facts_of_handle(HANDLE h, dir_entry& entry);

// The entries of the table, by file; platform.h says what each does.

// long_paths.cpp
bool win_full_path(const std::string& name, std::string& out);
bool win_current_directory(std::string& out);
bool win_program_path(std::string& out);
bool win_is_directory(const std::string& path);
bool win_path_exists(const std::string& path);
bool win_create_directory(const std::string& path);
bool win_file_size(const std::string& path, int64_t& size);
bool win_can_read_file(const std::string& path);

// open_files.cpp
std::FILE* win_open_stream(const std::string& path, const char* mode);
std::FILE* win_open_regular_stream(const std::string& path, const char* mode);
void win_open_standard_streams();
read_handle win_open_for_reading(const std::string& path);
access_time_counts win_access_times_not_kept();
read_handle win_open_and_look_up(const std::string& path, dir_entry& entry);
int64_t win_read_bytes(read_handle file, void* buffer, int64_t size);
void win_close_file(read_handle file);
bool win_truncate_file(const std::string& path, int64_t size);
int64_t win_read_at(const std::string& path, int64_t offset, void* buffer, int64_t size);
failure_kind win_last_failure(std::string& reason);
void win_prepare_thread_storage();

// file_facts.cpp
bool win_directory_identity(const std::string& path, dir_identity& id);
bool win_stream_identity(std::FILE* stream, dir_identity& id);
bool win_read_handle_identity(read_handle file, dir_identity& id);
bool win_get_attributes(const std::string& path, uint32_t& attributes);
bool win_set_attributes(const std::string& path, uint32_t attributes);
int win_last_access_setting(const std::string& path);

// directory_search.cpp
find_state* win_find_first(const std::string& pattern, dir_entry& entry);
bool win_find_next(find_state* search, dir_entry& entry);
void win_find_close(find_state* search);
bool win_lookup_file(const std::string& path, dir_entry& entry);

// time.cpp
int64_t win_current_time();
bool win_ticks_to_calendar(file_ticks ticks, bool local, calendar_time& out);
bool win_seconds_to_calendar(int64_t seconds, bool local, calendar_time& out);
bool win_local_calendar_to_seconds(int year, int month, int day, int hour, int minute, int second,
                                   int64_t& out);
bool win_time_zone(zone_state& out);

// console.cpp
void win_console_start();
void win_console_restore();
bool win_stdin_is_terminal();
bool win_is_terminal(std::FILE* stream);
bool win_key_waiting();
int win_read_key();
void win_install_interrupt_handler();
bool win_interrupt_requested();
void win_sleep_milliseconds(int milliseconds);
void win_ignore_write_signals();

// process.cpp
bool win_computer_name(std::string& out);
bool win_get_environment(const char* name, std::string& out);
void win_share_one_heap();
void win_give_back_pages(void* start, std::size_t size);
int64_t win_open_files_limit();
[[noreturn]] void win_exit_process(int status);
bool win_ansi_text_to_utf8(const std::string& bytes, std::string& out);

// charsets.cpp
charset_conversion win_convert_charset(charset_converters*& converters, std::string_view charset,
                                       std::string_view bytes, std::string& out);
void win_free_charset_converters(charset_converters*& converters);

}  // namespace win32_backend
