// The platform layer: the only code that knows whether it runs on Windows or POSIX.
//
// Every operation is an entry of one table of function pointers, g_platform, which
// start-up fills with the real backend. A test that needs a fault (a vanishing
// file, a failing write, a fixed clock) copies the table, replaces one entry and
// restores it afterwards. The layer only fetches facts and reports failures;
// decisions stay in portable code.
//
// All text is UTF-8 (WTF-8 on Windows, so unpaired surrogates in names survive).
//
// Each entry says whether the scanner threads (listing/scanners) call it. "Yes"
// entries are safe beside the walk. "No" entries belong to start-up and the
// walk's thread, and some keep state without a lock (the kept directory listing,
// the held directory, the access-time counts, the terminal): a scanner that
// needs one must make it safe first.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#ifdef _WIN32
inline constexpr char k_path_separator = '\\';
// Long-path form that every starting path receives.
inline constexpr const char* k_long_path_prefix = "\\\\?\\";
inline constexpr bool k_slash_starts_option = true;
inline constexpr bool k_windows = true;
#else
inline constexpr char k_path_separator = '/';
inline constexpr const char* k_long_path_prefix = "";
// Every absolute POSIX path begins with '/', so it cannot also begin an option.
inline constexpr bool k_slash_starts_option = false;
inline constexpr bool k_windows = false;
#endif

// True for a character that separates path parts; Windows also takes '/'.
constexpr bool is_path_separator(char c) {
  return c == k_path_separator || (k_windows && c == '/');
}

// Attribute bits as the options and the file selection use them (Windows values).
inline constexpr uint32_t k_attr_readonly = 0x1;
inline constexpr uint32_t k_attr_hidden = 0x2;
inline constexpr uint32_t k_attr_system = 0x4;
inline constexpr uint32_t k_attr_directory = 0x10;
inline constexpr uint32_t k_attr_archive = 0x20;
inline constexpr uint32_t k_attr_reparse_point = 0x400;
inline constexpr uint32_t k_attr_encrypted = 0x4000;

// 100-nanosecond ticks since 1601-01-01 00:00:00 UTC; 0 means "never set".
using file_ticks = uint64_t;
inline constexpr int64_t k_ticks_per_second = 10000000;
inline constexpr int64_t k_seconds_1601_to_1970 = 11644473600LL;

// Identity of a directory or file (device and inode, or volume serial and file
// index), to notice a directory already on the walk path or the run's own files.
struct dir_identity {
  uint64_t volume = 0;
  uint64_t index_high = 0;
  uint64_t index_low = 0;
  bool operator==(const dir_identity&) const = default;
};

// One entry of a directory search, as FindFirstFile returns it.
struct dir_entry {
  std::string name;
  uint32_t attributes = 0;
  int64_t size = 0;
  file_ticks create_ticks = 0;
  file_ticks access_ticks = 0;
  file_ticks write_ticks = 0;
  // The file's identity, where the look-up read it with the other facts (POSIX,
  // and an open file on Windows); a Windows directory search has no file index.
  dir_identity identity;
  bool identity_known = false;
};

// Calendar parts of a point in time.
struct calendar_time {
  int year = 0;   // four digits
  int month = 0;  // 1-12
  int day = 0;    // 1-31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  int weekday = 0;  // 0 = Sunday
};

// Facts of the run-time's time-zone state.
struct zone_state {
  long offset_seconds_west = 0;  // 18000 for a zone five hours west of Greenwich
  bool has_daylight = false;
  std::string standard_name;
  std::string daylight_name;
};

// Why the last failing call of the layer failed.
enum class failure_kind {
  none,          // nothing failed: a search matched nothing, or the file is not a regular one
  not_found,     // the path names nothing (any more)
  no_resources,  // memory or descriptors ran out
  other,         // anything else: permission, a device error, a name the system refuses
};
// What a charset conversion came to.
enum class charset_conversion {
  converted,
  unknown,       // the system knows no such charset
  no_resources,  // memory or descriptors ran out setting the conversion up
};
// The converters (and work room) one caller's conversions keep between calls.
struct charset_converters;

// Message files and directories read whose last-access time the system was
// not told to keep (POSIX: O_NOATIME refused, as it is to anyone but the owner;
// Windows: no right to write the file's attributes).
struct access_time_counts {
  int64_t files = 0;
  int64_t directories = 0;
};
#ifdef _WIN32
inline constexpr const char* k_access_time_refusal =
    "no right to write their attributes (read-only media or no permission)";
#else
inline constexpr const char* k_access_time_refusal =
    "only a file's owner (or root) may ask the system to keep it";
#endif

struct find_state;  // an open directory search
using read_handle = intptr_t;
inline constexpr read_handle k_no_file = -1;

struct platform_table {
  // Directory search with a wildcard pattern, FindFirstFile-style: `pattern` is a
  // directory path with separator plus a pattern of '*' and '?' (case-insensitive;
  // "*.*" matches every name, "*." names without a dot). "." and ".." are returned
  // as Windows returns them. Null when the directory cannot be read or nothing matches.
  // Scanner threads: no.
  find_state* (*find_first)(const std::string& pattern, dir_entry& entry);
  // Scanner threads: no.
  bool (*find_next)(find_state* search, dir_entry& entry);
  // Scanner threads: no.
  void (*find_close)(find_state* search);
  // The entry of exactly one file or directory named by `path` (no wildcards).
  // Scanner threads: no.
  bool (*lookup_file)(const std::string& path, dir_entry& entry);
  // Identity of a directory (device and inode, or volume serial and file index).
  // Scanner threads: no.
  bool (*directory_identity)(const std::string& path, dir_identity& id);

  // File attributes in the bit values above; false when the file cannot be found.
  // Scanner threads: no.
  bool (*get_attributes)(const std::string& path, uint32_t& attributes);
  // Scanner threads: no.
  bool (*set_attributes)(const std::string& path, uint32_t attributes);

  // Current time in seconds since 1970-01-01 UTC.
  // Scanner threads: no.
  int64_t (*current_time)();
  // Seconds since 1970 to calendar parts, in UTC or in local time using the rules
  // in force on that date.
  // Scanner threads: no.
  bool (*seconds_to_calendar)(int64_t seconds, bool local, calendar_time& out);
  // File ticks to calendar parts (milliseconds kept), UTC or local as above.
  // Scanner threads: no.
  bool (*ticks_to_calendar)(file_ticks ticks, bool local, calendar_time& out);
  // Local calendar fields to seconds since 1970 (mktime, daylight saving decided by
  // the run-time); false when the run-time cannot represent the time.
  // Scanner threads: no.
  bool (*local_calendar_to_seconds)(int year, int month, int day, int hour, int minute, int second,
                                    int64_t& out);
  // Refreshes the run-time's time-zone state from the environment and reports it.
  // Scanner threads: no.
  bool (*time_zone)(zone_state& out);

  // Absolute form of a name, relative names taken against the current directory.
  // Scanner threads: no.
  bool (*full_path)(const std::string& name, std::string& out);
  // Scanner threads: no.
  bool (*current_directory)(std::string& out);
  // Scanner threads: no.
  bool (*program_path)(std::string& out);
  // Scanner threads: no.
  bool (*is_directory)(const std::string& path);
  // Scanner threads: no.
  bool (*path_exists)(const std::string& path);
  // Scanner threads: no.
  bool (*create_directory)(const std::string& path);
  // Scanner threads: no.
  bool (*computer_name)(std::string& out);
  // Whether the file system holding `path` updates last-access dates: 0 yes, 1
  // no, -1 unknown, other values as the system stores them (Windows has one
  // setting for all its file systems).
  // Scanner threads: no.
  int (*last_access_setting)(const std::string& path);

  // Streams (text mode on Windows: "\n" is stored as CR LF).
  // Scanner threads: no.
  std::FILE* (*open_stream)(const std::string& path, const char* mode);
  // Message files are read as raw bytes.
  // Scanner threads: no.
  read_handle (*open_for_reading)(const std::string& path);
  // Bytes read, 0 at end of file, -1 on error.
  // Scanner threads: yes (each reads the file its slot holds).
  int64_t (*read_bytes)(read_handle file, void* buffer, int64_t size);
  // The handle is done with. The system may close it a little later, with
  // others: it stays a file opened for reading until then.
  // Scanner threads: yes (the close batch has its own lock).
  void (*close_file)(read_handle file);
  // Scanner threads: no.
  bool (*file_size)(const std::string& path, int64_t& size);
  // Scanner threads: no.
  bool (*truncate_file)(const std::string& path, int64_t size);
  // Reads up to `size` bytes from offset `offset` of a file; -1 on error.
  // Scanner threads: no.
  int64_t (*read_at)(const std::string& path, int64_t offset, void* buffer, int64_t size);

  // Environment variable; false when it is not set.
  // Scanner threads: no.
  bool (*get_environment)(const char* name, std::string& out);

  // Console: single-key input is switched on only when standard input is a terminal.
  // Scanner threads: no.
  void (*console_start)();
  // Scanner threads: no.
  void (*console_restore)();
  // Scanner threads: no.
  bool (*key_waiting)();
  // One key without echo; -1 at the end of input.
  // Scanner threads: no.
  int (*read_key)();
  // Scanner threads: no.
  bool (*stdin_is_terminal)();
  // Scanner threads: yes (the record writer and the messages ask).
  bool (*is_terminal)(std::FILE* stream);
  // Routes Ctrl-C (and SIGTERM, SIGHUP and SIGQUIT on POSIX) to a flag that
  // interrupt_requested reads; a POSIX run still going 10 seconds later (blocked in
  // a write) is ended then, and so is one interrupted a third time. Any other
  // signal that ends the process restores the console first. Safe from any thread.
  // Scanner threads: no.
  void (*install_interrupt_handler)();
  // Scanner threads: yes (a lock-free flag).
  bool (*interrupt_requested)();
  // Scanner threads: no.
  void (*sleep_milliseconds)(int milliseconds);
  // Writing to a closed pipe or past the file-size limit must fail with an error,
  // never kill the process.
  // Scanner threads: no.
  void (*ignore_write_signals)();
  // Before threads start: every thread allocates from one heap, so that a buffer
  // one thread makes and another frees costs no work between heaps, and memory
  // freed serves any thread instead of staying with the one that freed it.
  // Scanner threads: no.
  void (*share_one_heap)();
  // How many files the process may hold open at once; INT64_MAX where handles
  // have no such limit.
  // Scanner threads: no.
  int64_t (*open_files_limit)();
  // Ends the process with `status` (exit, so that streams are flushed).
  // Scanner threads: no.
  void (*exit_process)(int status);
  // Text read from a file as UTF-8: valid UTF-8 is kept; on Windows other bytes are
  // taken in the system's ANSI code page, while POSIX keeps them as they are.
  // False when the conversion fails.
  // Scanner threads: no.
  bool (*ansi_text_to_utf8)(const std::string& bytes, std::string& out);
  // False only when the file exists but reading it is refused (permission denied);
  // other failures are left to the open that follows.
  // Scanner threads: no.
  bool (*can_read_file)(const std::string& path);
  // Directory search for a walk that wants only names and the directory bit: as
  // find_first (find_next and find_close go on with it), but the other facts of an
  // entry may be left unset, which spares a look-up per entry where the system's
  // directory listing already tells the type.
  // Scanner threads: no.
  find_state* (*find_first_names)(const std::string& pattern, dir_entry& entry);
  // Opens a regular file for reading and fills its entry as lookup_file would,
  // from the open file, with its identity: one walk of the path instead of two.
  // k_no_file when the file cannot be opened or is not a regular file. Only for
  // names a directory listing gave as regular files and not as links, since the
  // open comes before anything else is known of the file and follows a link.
  // Scanner threads: no.
  read_handle (*open_and_look_up)(const std::string& path, dir_entry& entry);
  // What the last failing directory search, look-up, open or read met, with the
  // system's words for it in `reason` (such as "Permission denied"). A search
  // that ends normally or matches nothing leaves none.
  // Scanner threads: yes (the failure noted is the calling thread's own).
  failure_kind (*last_failure)(std::string& reason);
  // Touches the backend's per-thread variables (the last failure), so that a
  // thread's first use of them, which allocates on Windows, comes as it starts.
  void (*prepare_thread_storage)();
  // As open_stream, but only for a regular file: a FIFO, a device or a directory
  // gives null, and opening never waits for a FIFO's writer.
  // Scanner threads: no.
  std::FILE* (*open_regular_stream)(const std::string& path, const char* mode);
  // Opens standard input, output and error on the null device where they are
  // closed, so that no file opened later takes their place.
  // Scanner threads: no.
  void (*open_standard_streams)();
  // Message files and directories opened so far whose last-access time could
  // not be kept; every other one opened for reading keeps it.
  // Scanner threads: no.
  access_time_counts (*access_times_not_kept)();
  // Identity of the regular file an open stream reads or writes (as
  // directory_identity gives it); false for a terminal, a pipe or a device.
  // Scanner threads: no.
  bool (*stream_identity)(std::FILE* stream, dir_identity& id);
  // Identity of a file opened for reading.
  // Scanner threads: no.
  bool (*read_handle_identity)(read_handle file, dir_identity& id);
  // Gives the whole pages of [start, start + size) back to the system while
  // keeping the memory usable: what they held is lost (read again, they may hold
  // anything). Scanner threads: yes.
  void (*give_back_pages)(void* start, std::size_t size);
  // Converts `bytes` from the charset named `charset` (a MIME charset name, any case)
  // to UTF-8, appended to `out`; a byte sequence the charset does not define becomes
  // U+FFFD and the conversion goes on one byte later. A private-use character
  // counts as undefined: the systems' tables give them to different bytes. With
  // `out` unchanged: unknown when the system knows no such charset (an answer
  // `converters` keeps), no_resources when the conversion could not be set up for
  // want of memory or descriptors (never kept: the next call asks again).
  // `converters` holds what the caller's earlier calls opened (made on first use;
  // one per scan, given back by free_charset_converters). POSIX: iconv.
  // Windows: MultiByteToWideChar with the charset's code page, the name looked up
  // in the system's own charset database (the registry's MIME database,
  // HKEY_CLASSES_ROOT\MIME\Database\Charset, following AliasForCharset) where it has
  // the name, else in a short table of the common MIME names; UTF-16 to UTF-8 by
  // the routines of platform/wide. Both backends take the names as
  // platform/charset_names agrees them: gb2312 as GBK, big5 as cp950, shift_jis as
  // cp932, euc-kr as cp949, iso-8859-1 and us-ascii as windows-1252.
  // Scanner threads: yes.
  charset_conversion (*convert_charset)(charset_converters*& converters, std::string_view charset,
                                        std::string_view bytes, std::string& out);
  // Gives back what `converters` holds and makes it null; null is left alone.
  // Scanner threads: yes.
  void (*free_charset_converters)(charset_converters*& converters);
};

// The table in use; start-up sets it to the real backend.
extern platform_table g_platform;
// The real backend of this build.
const platform_table& native_platform();

// Conversions between Windows file ticks and seconds since 1970.
inline int64_t ticks_to_seconds(file_ticks ticks) {
  return static_cast<int64_t>(ticks / k_ticks_per_second) - k_seconds_1601_to_1970;
}
