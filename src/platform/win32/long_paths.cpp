// Win32 backend: names between UTF-8 and UTF-16, the long-path form, and the
// questions asked of a path.
#include <vector>

#include "platform/wide.h"
#include "platform/win32/backend.h"

namespace win32_backend {

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

bool win_file_size(const std::string& path, int64_t& size) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(long_form(path).c_str(), GetFileExInfoStandard, &data)) return false;
  size =
      static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
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

}  // namespace win32_backend
