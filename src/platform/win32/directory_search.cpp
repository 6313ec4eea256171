// Win32 backend: the directory search, the system's own.
#include "platform/win32/backend.h"

namespace win32_backend {

namespace {

void fill_entry(const WIN32_FIND_DATAW& data, dir_entry& entry) {
  entry.name = narrow(data.cFileName);
  take_file_facts(data, entry);
  // A search gives no file index.
  entry.identity_known = false;
}

}  // namespace

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

}  // namespace win32_backend
