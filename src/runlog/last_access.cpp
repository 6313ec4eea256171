#include "runlog/last_access.h"

#include <cstdint>

#include "platform/platform.h"
#include "settings/setting_messages.h"

int g_last_access_setting = -1;

namespace {

// Where a user looks to confirm the setting: the registry on Windows, the mount
// options elsewhere. Both keep the same five lines.
constexpr const char* k_not_found_windows =
    "\"Disable Access Date Key\" Not Found\n"
    "Default (except VISTA) is usually RESET ACCESS DATE\n\n"
    "To confirm setting check registry key:\n"
    "HKEY_LOCAL_MACHINE\n"
    "SYSTEM\\CurrentControlSet\\Control\\FileSystem\\NtfsDisableLastAccessUpdate\n"
    "A 1 means access data will NOT be updated";
constexpr const char* k_not_found_posix =
    "\"Access Date Mount Option\" Not Found\n"
    "Default (relatime) is usually RESET ACCESS DATE\n\n"
    "To confirm setting check the mount options (noatime, relatime) of the file system:\n"
    "findmnt -T . -o OPTIONS\n"
    "A noatime means access data will NOT be updated";

// The mark of a setting that the system manages.
constexpr uint32_t k_system_managed_bit = 0x80000000u;

constexpr const char* k_unknown_windows = "\nerror in obtaining registry key\n";
constexpr const char* k_unknown_posix = "\nerror in obtaining mount options\n";

}  // namespace

int read_last_access_setting(const std::string& path) {
  return g_platform.last_access_setting(path);
}

void report_last_access(std::FILE* stream, int value) {
  if (!stream) return;
  std::fputs("    Last Access Date UPDATE is ", stream);
  if (value == -1) {
    std::fputs(k_windows ? k_not_found_windows : k_not_found_posix, stream);
    return;
  }
  // Since Windows 10 the value may be 2 or 3 (set by the user) or the high bit
  // plus 0-3 (managed by the system); bit 0 tells in every one of them.
  auto bits = static_cast<uint32_t>(value);
  bool system_managed = (bits & ~uint32_t{3}) == k_system_managed_bit;
  if (bits > 3 && !system_managed) {
    say_setting(k_windows ? k_unknown_windows : k_unknown_posix);
    return;
  }
  std::fputs((bits & 1) ? "turned ***** OFF *****" : "turned ON", stream);
  if (system_managed) std::fputs(" (system managed)", stream);
  std::fputs("\n", stream);
}
