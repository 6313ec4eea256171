#include "runlog/last_access.h"

#include <cinttypes>
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

// Whether the report can read `value`: 0 to 3, or the system's mark plus 0 to 3.
bool readable_setting(int value) {
  auto bits = static_cast<uint32_t>(value);
  return value != -1 && (bits <= 3 || (bits & ~uint32_t{3}) == k_system_managed_bit);
}

// What the program reads and keeps the last-access dates of: on Windows the
// system's own directory search lists the directories, so only the files.
constexpr const char* k_kept_items = k_windows ? "message files" : "message files and directories";

// "1 file", "2 files", or nothing for none.
void append_count(bounded_text<256>& out, int64_t count, const char* one, const char* many) {
  if (count == 0) return;
  if (!out.view().ends_with(" for ")) out.append(" and ");
  append_format(out, "%" PRId64 " %s", count, count == 1 ? one : many);
}

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
  if (!readable_setting(value)) {
    say_setting(k_windows ? k_unknown_windows : k_unknown_posix);
    return;
  }
  std::fputs((bits & 1) ? "turned ***** OFF *****" : "turned ON", stream);
  if (system_managed) std::fputs(" (system managed)", stream);
  std::fputs("\n", stream);
}

bounded_text<256> access_times_line(const access_time_counts& counts) {
  bounded_text<256> line;
  if (counts.files == 0 && counts.directories == 0) {
    append_format(line, "Last Access Dates of the %s read: left unchanged\n", k_kept_items);
    return line;
  }
  line.append("Last Access Dates could not be kept for ");
  append_count(line, counts.files, "file", "files");
  append_count(line, counts.directories, "directory", "directories");
  append_format(line, " read: %s\n", k_access_time_refusal);
  return line;
}

void report_access_times(std::FILE* stream, int value, const access_time_counts& counts) {
  if (!stream) return;
  // The report ends its own line only for a setting it could read.
  if (!readable_setting(value)) std::fputs("\n", stream);
  std::fputs("    ", stream);
  write_text(stream, access_times_line(counts).view());
}
