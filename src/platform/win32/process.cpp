// Win32 backend: the process and its machine: heap, open-files limit, exit,
// environment, computer name, the text of names in the ANSI code page.
#include <cstdlib>

#include "platform/utf8.h"
#include "platform/wide.h"
#include "platform/win32/backend.h"

namespace win32_backend {

bool win_computer_name(std::string& out) {
  wchar_t buffer[260];
  DWORD size = 260;
  if (!GetComputerNameW(buffer, &size)) return false;
  out = narrow(buffer);
  return true;
}

bool win_get_environment(const char* name, std::string& out) {
  const wchar_t* value = _wgetenv(wide(name).c_str());
  if (!value) return false;
  out = narrow(value);
  return true;
}

// The C runtime's heap is one for the whole process already.
void win_share_one_heap() {}

// Handles are not counted against a per-process limit that a run could reach.
void win_give_back_pages(void* start, std::size_t size) {
  SYSTEM_INFO info;
  GetSystemInfo(&info);
  auto page = static_cast<uintptr_t>(info.dwPageSize);
  auto first = (reinterpret_cast<uintptr_t>(start) + page - 1) / page * page;
  auto end = (reinterpret_cast<uintptr_t>(start) + size) / page * page;
  if (end > first) {
    VirtualAlloc(reinterpret_cast<void*>(first), end - first, MEM_RESET, PAGE_READWRITE);
  }
}

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

}  // namespace win32_backend
