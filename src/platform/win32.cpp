// Win32 backend of the platform layer.
#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/wide.h"

platform_table g_platform = native_platform();

namespace {

std::wstring wide(const std::string& text) {
  std::u16string u = utf8_to_utf16(text);
  return std::wstring(u.begin(), u.end());
}

std::string narrow(const wchar_t* text) {
  std::wstring_view w(text);
  return utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(w.data()), w.size()));
}

// Paths beyond MAX_PATH need the long-path form for the C run-time's opens.
std::wstring long_form(const std::string& path) {
  std::wstring w = wide(path);
  if (w.size() >= MAX_PATH && w.rfind(L"\\\\?\\", 0) != 0 && w.size() > 2 && w[1] == L':') {
    w = L"\\\\?\\" + w;
  }
  return w;
}

// The error of this thread's last failing call, for last_failure; 0 once a search
// ends normally. Per thread: a scanner's failed read is not the walk's failure.
thread_local DWORD s_failed_error = 0;

void note_failure(DWORD error) { s_failed_error = error; }

// The system's own words for an error, without the closing full stop.
std::string system_message(DWORD error) {
  wchar_t text[512];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           error, 0, text, sizeof text / sizeof text[0], nullptr);
  while (n > 0 && (text[n - 1] == L'\n' || text[n - 1] == L'\r' || text[n - 1] == L'.' ||
                   text[n - 1] == L' ')) {
    --n;
  }
  if (n == 0) return "error " + std::to_string(error);
  text[n] = L'\0';
  return narrow(text);
}

file_ticks ticks_of(const FILETIME& ft) {
  return (static_cast<file_ticks>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

void fill_entry(const WIN32_FIND_DATAW& data, dir_entry& entry) {
  entry.name = narrow(data.cFileName);
  entry.attributes = data.dwFileAttributes;
  entry.size =
      static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  entry.create_ticks = ticks_of(data.ftCreationTime);
  entry.access_ticks = ticks_of(data.ftLastAccessTime);
  entry.write_ticks = ticks_of(data.ftLastWriteTime);
}

find_state* win_find_first(const std::string& pattern, dir_entry& entry) {
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(wide(pattern).c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) {
    // A directory found but nothing in it matching: no failure.
    DWORD error = GetLastError();
    note_failure(error == ERROR_FILE_NOT_FOUND ? 0 : error);
    return nullptr;
  }
  fill_entry(data, entry);
  return reinterpret_cast<find_state*>(h);
}

bool win_find_next(find_state* search, dir_entry& entry) {
  WIN32_FIND_DATAW data;
  if (!FindNextFileW(reinterpret_cast<HANDLE>(search), &data)) {
    DWORD error = GetLastError();
    note_failure(error == ERROR_NO_MORE_FILES ? 0 : error);
    return false;
  }
  fill_entry(data, entry);
  return true;
}

void win_find_close(find_state* search) {
  if (search) FindClose(reinterpret_cast<HANDLE>(search));
}

bool win_lookup_file(const std::string& path, dir_entry& entry) {
  std::string trimmed = path;
  while (trimmed.size() > 1 && (trimmed.back() == '\\' || trimmed.back() == '/')) {
    trimmed.pop_back();
  }
  WIN32_FIND_DATAW data;
  HANDLE h = FindFirstFileW(wide(trimmed).c_str(), &data);
  if (h == INVALID_HANDLE_VALUE) {
    note_failure(GetLastError());
    return false;
  }
  note_failure(0);
  FindClose(h);
  fill_entry(data, entry);
  return true;
}

// The volume serial number and file index of an open handle.
bool identity_of_handle(HANDLE h, dir_identity& id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return false;
  id.volume = info.dwVolumeSerialNumber;
  id.index_high = info.nFileIndexHigh;
  id.index_low = info.nFileIndexLow;
  return true;
}

bool win_directory_identity(const std::string& path, dir_identity& id) {
  HANDLE h =
      CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = identity_of_handle(h, id);
  CloseHandle(h);
  return ok;
}

bool win_stream_identity(std::FILE* stream, dir_identity& id) {
  if (!stream) return false;
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (h == INVALID_HANDLE_VALUE || GetFileType(h) != FILE_TYPE_DISK) return false;
  return identity_of_handle(h, id);
}

bool win_read_handle_identity(read_handle file, dir_identity& id) {
  return file != k_no_file && identity_of_handle(reinterpret_cast<HANDLE>(file), id);
}

bool win_get_attributes(const std::string& path, uint32_t& attributes) {
  DWORD a = GetFileAttributesW(wide(path).c_str());
  if (a == INVALID_FILE_ATTRIBUTES) return false;
  attributes = a;
  return true;
}

bool win_set_attributes(const std::string& path, uint32_t attributes) {
  return SetFileAttributesW(wide(path).c_str(), attributes) != 0;
}

int64_t win_current_time() { return static_cast<int64_t>(_time64(nullptr)); }

void fill_calendar(const SYSTEMTIME& st, calendar_time& out) {
  out.year = st.wYear;
  out.month = st.wMonth;
  out.day = st.wDay;
  out.hour = st.wHour;
  out.minute = st.wMinute;
  out.second = st.wSecond;
  out.millisecond = st.wMilliseconds;
  out.weekday = st.wDayOfWeek;
}

FILETIME filetime_of(file_ticks ticks) {
  FILETIME ft;
  ft.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  ft.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return ft;
}

// Every local time of the program goes through the system's zone and its rules
// for that date (not the rules in force now), so file times, stamps and date
// bounds agree with each other.
bool win_ticks_to_calendar(file_ticks ticks, bool local, calendar_time& out) {
  FILETIME ft = filetime_of(ticks);
  SYSTEMTIME utc;
  if (!FileTimeToSystemTime(&ft, &utc)) return false;
  if (!local) {
    fill_calendar(utc, out);
    return true;
  }
  SYSTEMTIME here;
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &here)) return false;
  fill_calendar(here, out);
  return true;
}

bool win_seconds_to_calendar(int64_t seconds, bool local, calendar_time& out) {
  if (seconds < -k_seconds_1601_to_1970) return false;
  file_ticks ticks = static_cast<file_ticks>(seconds + k_seconds_1601_to_1970) * k_ticks_per_second;
  return win_ticks_to_calendar(ticks, local, out);
}

// Days since 1970-01-01 of a proleptic Gregorian date; months out of 1-12 and
// days out of range carry over as mktime lets them.
int64_t days_from_civil(int64_t year, int64_t month, int64_t day) {
  int64_t m0 = month - 1;
  year += m0 >= 0 ? m0 / 12 : (m0 - 11) / 12;
  int64_t m = ((m0 % 12) + 12) % 12 + 1;
  year -= m <= 2;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yoe = year - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

bool win_local_calendar_to_seconds(int year, int month, int day, int hour, int minute, int second,
                                   int64_t& out) {
  int64_t wall = days_from_civil(year, month, day) * 86400 + hour * 3600LL + minute * 60LL + second;
  if (wall < -k_seconds_1601_to_1970 + 86400) return false;
  FILETIME ft =
      filetime_of(static_cast<file_ticks>(wall + k_seconds_1601_to_1970) * k_ticks_per_second);
  SYSTEMTIME local_time;
  SYSTEMTIME utc;
  FILETIME back;
  if (!FileTimeToSystemTime(&ft, &local_time) ||
      !TzSpecificLocalTimeToSystemTime(nullptr, &local_time, &utc) ||
      !SystemTimeToFileTime(&utc, &back)) {
    return false;
  }
  out = ticks_to_seconds((static_cast<file_ticks>(back.dwHighDateTime) << 32) | back.dwLowDateTime);
  return true;
}

bool win_time_zone(zone_state& out) {
  TIME_ZONE_INFORMATION zone;
  if (GetTimeZoneInformation(&zone) == TIME_ZONE_ID_INVALID) return false;
  out.offset_seconds_west = (zone.Bias + zone.StandardBias) * 60L;
  out.has_daylight = zone.DaylightDate.wMonth != 0;
  out.standard_name = narrow(zone.StandardName);
  out.daylight_name = narrow(zone.DaylightName);
  return true;
}

bool win_full_path(const std::string& name, std::string& out) {
  if (name.empty()) return false;
  std::wstring w = wide(name);
  std::vector<wchar_t> buffer(32768);
  DWORD n = GetFullPathNameW(w.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
  if (n == 0 || n >= buffer.size()) return false;
  out = narrow(buffer.data());
  return true;
}

bool win_current_directory(std::string& out) {
  std::vector<wchar_t> buffer(32768);
  DWORD n = GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
  if (n == 0 || n >= buffer.size()) return false;
  out = narrow(buffer.data());
  return true;
}

bool win_program_path(std::string& out) {
  std::vector<wchar_t> buffer(32768);
  DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  if (n == 0 || n >= buffer.size()) return false;
  out = narrow(buffer.data());
  return true;
}

bool win_is_directory(const std::string& path) {
  DWORD a = GetFileAttributesW(wide(path).c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool win_path_exists(const std::string& path) {
  return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool win_create_directory(const std::string& path) {
  return CreateDirectoryW(wide(path).c_str(), nullptr) != 0;
}

bool win_computer_name(std::string& out) {
  wchar_t buffer[260];
  DWORD size = 260;
  if (!GetComputerNameW(buffer, &size)) return false;
  out = narrow(buffer);
  return true;
}

// The registry value NtfsDisableLastAccessUpdate, found by enumerating the key's
// values; a value with a name of one or two characters ends the search.
int win_last_access_setting(const std::string&) {
  HKEY key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\FileSystem", 0,
                    KEY_READ | KEY_WOW64_64KEY, &key) != ERROR_SUCCESS) {
    return -1;
  }
  std::vector<wchar_t> name(8192);
  std::vector<BYTE> data(16383);
  int result = -1;
  for (DWORD index = 0;; ++index) {
    DWORD name_size = 8191;
    DWORD data_size = 16383;
    DWORD type = 0;
    LONG status =
        RegEnumValueW(key, index, name.data(), &name_size, nullptr, &type, data.data(), &data_size);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) continue;
    if (wcscmp(name.data(), L"NtfsDisableLastAccessUpdate") == 0) {
      uint32_t word = 0;
      std::memcpy(&word, data.data(), data_size < 4 ? data_size : 4);
      result = static_cast<int>(word);
      break;
    }
    if (wcslen(name.data()) < 3) break;
  }
  RegCloseKey(key);
  return result;
}

std::FILE* win_open_stream(const std::string& path, const char* mode) {
  return _wfopen(long_form(path).c_str(), wide(mode).c_str());
}

// Directories cannot be opened as streams here; devices (NUL, CON, COM1) and
// pipes can, and are told apart from disk files once open.
std::FILE* win_open_regular_stream(const std::string& path, const char* mode) {
  std::FILE* stream = win_open_stream(path, mode);
  if (!stream) return nullptr;
  HANDLE h = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(stream)));
  if (GetFileType(h) == FILE_TYPE_DISK) return stream;
  std::fclose(stream);
  errno = EINVAL;
  return nullptr;
}

// A stream the process was started without is reopened on NUL; reopening takes
// the lowest free descriptor, which is its own once the ones before it are open.
void win_open_standard_streams() {
  struct standard_stream {
    DWORD which;
    std::FILE* stream;
    const wchar_t* mode;
  };
  for (standard_stream s : {standard_stream{STD_INPUT_HANDLE, stdin, L"r"},
                            standard_stream{STD_OUTPUT_HANDLE, stdout, L"w"},
                            standard_stream{STD_ERROR_HANDLE, stderr, L"w"}}) {
    HANDLE handle = GetStdHandle(s.which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) _wfreopen(L"NUL", s.mode, s.stream);
  }
}

// Message files opened whose last-access time could not be kept.
access_time_counts s_access_times;

HANDLE open_message_file(const std::wstring& path, DWORD access) {
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// Opens for reading and tells the system not to update the last-access time
// through this handle (the all-ones FILETIME), which takes the right to write
// attributes. Where that right is refused (read-only media, no permission) the
// file is opened for reading only and counted.
read_handle win_open_for_reading(const std::string& path) {
  std::wstring name = long_form(path);
  HANDLE h = open_message_file(name, GENERIC_READ | FILE_WRITE_ATTRIBUTES);
  if (h != INVALID_HANDLE_VALUE) {
    FILETIME keep = {0xFFFFFFFF, 0xFFFFFFFF};
    if (!SetFileTime(h, nullptr, &keep, nullptr)) ++s_access_times.files;
    return reinterpret_cast<read_handle>(h);
  }
  DWORD error = GetLastError();
  if (error != ERROR_ACCESS_DENIED && error != ERROR_WRITE_PROTECT) {
    note_failure(error);
    return k_no_file;
  }
  h = open_message_file(name, GENERIC_READ);
  if (h == INVALID_HANDLE_VALUE) {
    note_failure(GetLastError());
    return k_no_file;
  }
  ++s_access_times.files;
  return reinterpret_cast<read_handle>(h);
}

access_time_counts win_access_times_not_kept() { return s_access_times; }

// The look-up costs no more than the open here, and it comes first so that only
// regular files are opened.
read_handle win_open_and_look_up(const std::string& path, dir_entry& entry) {
  if (!win_lookup_file(path, entry) || (entry.attributes & k_attr_directory) != 0) return k_no_file;
  return win_open_for_reading(path);
}

int64_t win_read_bytes(read_handle file, void* buffer, int64_t size) {
  DWORD want = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(file), buffer, want, &got, nullptr)) {
    DWORD error = GetLastError();
    if (error == ERROR_BROKEN_PIPE) return 0;
    note_failure(error);
    return -1;
  }
  return got;
}

void win_close_file(read_handle file) {
  if (file != k_no_file) CloseHandle(reinterpret_cast<HANDLE>(file));
}

bool win_file_size(const std::string& path, int64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(long_form(path).c_str(), GetFileExInfoStandard, &data)) return false;
  size =
      static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  return true;
}

bool win_truncate_file(const std::string& path, int64_t size) {
  HANDLE h = CreateFileW(long_form(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER at;
  at.QuadPart = size;
  bool ok = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) && SetEndOfFile(h);
  CloseHandle(h);
  return ok;
}

int64_t win_read_at(const std::string& path, int64_t offset, void* buffer, int64_t size) {
  HANDLE h = CreateFileW(long_form(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  LARGE_INTEGER at;
  at.QuadPart = offset;
  DWORD got = 0;
  bool ok = SetFilePointerEx(h, at, nullptr, FILE_BEGIN) &&
            ReadFile(h, buffer, static_cast<DWORD>(size), &got, nullptr);
  CloseHandle(h);
  return ok ? static_cast<int64_t>(got) : -1;
}

bool win_get_environment(const char* name, std::string& out) {
  const wchar_t* value = _wgetenv(wide(name).c_str());
  if (!value) return false;
  out = narrow(value);
  return true;
}

volatile LONG g_interrupt_flag = 0;
volatile LONG g_interrupts_received = 0;

void win_console_start() { setvbuf(stdin, nullptr, _IONBF, 0); }

void win_console_restore() {}

bool win_stdin_is_terminal() { return _isatty(_fileno(stdin)) != 0; }

bool win_is_terminal(std::FILE* stream) { return stream && _isatty(_fileno(stream)) != 0; }

bool win_key_waiting() { return win_stdin_is_terminal() && _kbhit() != 0; }

int win_read_key() {
  if (g_interrupt_flag) return 3;
  if (win_stdin_is_terminal()) return _getch();
  int c = std::getchar();
  return c == EOF ? -1 : c;
}

BOOL WINAPI on_console_event(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) {
    return FALSE;
  }
  // The run ends within a read of the first interrupt; a second one meanwhile
  // (Ctrl-C pressed twice) must not cut the record being written. Only a third,
  // from someone who insists, leaves at once.
  if (InterlockedIncrement(&g_interrupts_received) >= 3) ExitProcess(2);
  InterlockedExchange(&g_interrupt_flag, 1);
  return TRUE;
}

void win_install_interrupt_handler() { SetConsoleCtrlHandler(on_console_event, TRUE); }

bool win_interrupt_requested() { return g_interrupt_flag != 0; }

void win_sleep_milliseconds(int milliseconds) {
  while (milliseconds > 0 && !g_interrupt_flag) {
    int step = milliseconds < 50 ? milliseconds : 50;
    Sleep(static_cast<DWORD>(step));
    milliseconds -= step;
  }
}

void win_ignore_write_signals() {}

// The C runtime's heap is one for the whole process already.
void win_share_one_heap() {}

void win_give_back_pages(void* start, std::size_t size) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  auto page = static_cast<uintptr_t>(info.dwPageSize);
  auto first = (reinterpret_cast<uintptr_t>(start) + page - 1) / page * page;
  auto end = (reinterpret_cast<uintptr_t>(start) + size) / page * page;
  if (end > first) VirtualAlloc(reinterpret_cast<void*>(first), end - first, MEM_RESET, PAGE_READWRITE);
}

// Handles are not counted against a per-process limit that a run could reach.
int64_t win_open_files_limit() { return INT64_MAX; }

[[noreturn]] void win_exit_process(int status) { std::exit(status); }

bool win_ansi_text_to_utf8(const std::string& bytes, std::string& out) {
  if (is_valid_utf8(bytes)) {
    out = bytes;
    return true;
  }
  if (bytes.size() > 0x7FFFFFFF) return false;
  int length = static_cast<int>(bytes.size());
  int units = MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, nullptr, 0);
  if (units <= 0) return false;
  std::wstring w(static_cast<std::size_t>(units), L'\0');
  if (MultiByteToWideChar(CP_ACP, 0, bytes.data(), length, w.data(), units) != units) return false;
  out = utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(w.data()), w.size()));
  return true;
}

bool win_can_read_file(const std::string& path) {
  HANDLE h = CreateFileW(long_form(path).c_str(), GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    CloseHandle(h);
    return true;
  }
  return GetLastError() != ERROR_ACCESS_DENIED;
}

failure_kind win_last_failure(std::string& reason) {
  DWORD error = s_failed_error;
  reason.clear();
  switch (error) {
    case 0:
      return failure_kind::none;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      reason = "No such file or directory";
      return failure_kind::not_found;
    case ERROR_ACCESS_DENIED:
      reason = "Permission denied";
      return failure_kind::other;
    case ERROR_TOO_MANY_OPEN_FILES:
      reason = "Too many open files";
      return failure_kind::no_resources;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_NONPAGED_SYSTEM_RESOURCES:
    case ERROR_PAGED_SYSTEM_RESOURCES:
    case ERROR_COMMITMENT_LIMIT:
      reason = system_message(error);
      return failure_kind::no_resources;
    default:
      reason = system_message(error);
      return failure_kind::other;
  }
}

}  // namespace

const platform_table& native_platform() {
  static const platform_table table = {
      .find_first = win_find_first,
      .find_next = win_find_next,
      .find_close = win_find_close,
      .lookup_file = win_lookup_file,
      .directory_identity = win_directory_identity,
      .get_attributes = win_get_attributes,
      .set_attributes = win_set_attributes,
      .current_time = win_current_time,
      .seconds_to_calendar = win_seconds_to_calendar,
      .ticks_to_calendar = win_ticks_to_calendar,
      .local_calendar_to_seconds = win_local_calendar_to_seconds,
      .time_zone = win_time_zone,
      .full_path = win_full_path,
      .current_directory = win_current_directory,
      .program_path = win_program_path,
      .is_directory = win_is_directory,
      .path_exists = win_path_exists,
      .create_directory = win_create_directory,
      .computer_name = win_computer_name,
      .last_access_setting = win_last_access_setting,
      .open_stream = win_open_stream,
      .open_for_reading = win_open_for_reading,
      .read_bytes = win_read_bytes,
      .close_file = win_close_file,
      .file_size = win_file_size,
      .truncate_file = win_truncate_file,
      .read_at = win_read_at,
      .get_environment = win_get_environment,
      .console_start = win_console_start,
      .console_restore = win_console_restore,
      .key_waiting = win_key_waiting,
      .read_key = win_read_key,
      .stdin_is_terminal = win_stdin_is_terminal,
      .is_terminal = win_is_terminal,
      .install_interrupt_handler = win_install_interrupt_handler,
      .interrupt_requested = win_interrupt_requested,
      .sleep_milliseconds = win_sleep_milliseconds,
      .ignore_write_signals = win_ignore_write_signals,
      .share_one_heap = win_share_one_heap,
      .open_files_limit = win_open_files_limit,
      .exit_process = win_exit_process,
      .ansi_text_to_utf8 = win_ansi_text_to_utf8,
      .can_read_file = win_can_read_file,
      .find_first_names = win_find_first,  // the system's search gives every fact at no extra cost
      .open_and_look_up = win_open_and_look_up,
      .last_failure = win_last_failure,
      .open_regular_stream = win_open_regular_stream,
      .open_standard_streams = win_open_standard_streams,
      .access_times_not_kept = win_access_times_not_kept,
      .stream_identity = win_stream_identity,
      .read_handle_identity = win_read_handle_identity,
      .give_back_pages = win_give_back_pages,
  };
  return table;
}
