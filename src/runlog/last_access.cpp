#include "runlog/last_access.h"

#include "platform/platform.h"

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

constexpr const char* k_unknown_windows = "\nerror in obtaining registry key\n";
constexpr const char* k_unknown_posix = "\nerror in obtaining mount options\n";

}  // namespace

int read_last_access_setting() { return g_platform.last_access_setting(); }

void report_last_access(std::FILE* stream, int value) {
  if (!stream) return;
  std::fputs("    Last Access Date UPDATE is ", stream);
  switch (value) {
    case -1:
      std::fputs(k_windows ? k_not_found_windows : k_not_found_posix, stream);
      break;
    case 0:
      std::fputs("turned ON\n", stream);
      break;
    case 1:
      std::fputs("turned ***** OFF *****\n", stream);
      break;
    default:
      std::fputs(k_windows ? k_unknown_windows : k_unknown_posix, stdout);
      break;
  }
}
