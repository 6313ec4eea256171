// Win32 backend: the identity and attributes of a file, and the system's
// last-access setting.
#include <io.h>

#include <cstring>
#include <vector>

#include "platform/win32/backend.h"

namespace win32_backend {

namespace {

void identity_from(const BY_HANDLE_FILE_INFORMATION& info, dir_identity& id) {
  id.volume = info.dwVolumeSerialNumber;
  id.index_high = info.nFileIndexHigh;
  id.index_low = info.nFileIndexLow;
}

// The volume serial number and file index of an open handle.
bool identity_of_handle(HANDLE h, dir_identity& id) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return false;
  identity_from(info, id);
  return true;
}

}  // namespace

file_ticks ticks_of(const FILETIME& ft) {
  return (static_cast<file_ticks>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

bool facts_of_handle(HANDLE h, dir_entry& entry) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!GetFileInformationByHandle(h, &info)) return false;
  take_file_facts(info, entry);
  identity_from(info, entry.identity);
  entry.identity_known = true;
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

}  // namespace win32_backend
