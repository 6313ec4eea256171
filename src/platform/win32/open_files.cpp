// Win32 backend: opens, reads and closes, the kept last-access times, and the
// last failure a thread met.
#include <io.h>

#include <cerrno>

#include "platform/win32/backend.h"

namespace win32_backend {

namespace {

// The error of this thread's last failing call, for last_failure; 0 once a search
// ends normally. Per thread: a scanner's failed read is not the walk's failure.
thread_local DWORD s_failed_error = 0;

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

// Message files opened whose last-access time could not be kept.
access_time_counts s_access_times;

HANDLE open_message_file(const std::wstring& path, DWORD access) {
  return CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

}  // namespace

void note_failure(DWORD error) { s_failed_error = error; }

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

// The open comes first and its handle gives the facts and the identity, where a
// look-up by name would search the directory once more and give no identity. A
// directory cannot be opened this way (no backup semantics), so only regular
// files are.
read_handle win_open_and_look_up(const std::string& path, dir_entry& entry) {
  read_handle file = win_open_for_reading(path);
  if (file == k_no_file) return k_no_file;
  if (!facts_of_handle(reinterpret_cast<HANDLE>(file), entry) ||
      (entry.attributes & k_attr_directory) != 0) {
    note_failure(GetLastError());
    win_close_file(file);
    return k_no_file;
  }
  note_failure(0);
  std::size_t slash = path.find_last_of("\\/");
  entry.name.assign(path, slash == std::string::npos ? 0 : slash + 1);
  if (entry.name.size() > 1 && entry.name[0] == '.') {
    // Wine's directory search marks such a name hidden, its handle does not: the
    // file keeps the facts of the search, with the handle's identity.
    dir_identity id = entry.identity;
    if (!win_lookup_file(path, entry)) {
      win_close_file(file);
      return k_no_file;
    }
    entry.identity = id;
    entry.identity_known = true;
  }
  return file;
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

void win_prepare_thread_storage() {
  // Kept in a volatile: an access whose result goes nowhere the compiler may drop.
  DWORD* volatile touched = &s_failed_error;
  (void)touched;
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

}  // namespace win32_backend
