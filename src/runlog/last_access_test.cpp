#include "runlog/last_access.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "test_util.h"

namespace {

std::string report_text(int value, std::string& screen) {
  temp_tree tree;
  std::string path = tree.path("log.txt");
  std::FILE* log = std::fopen(path.c_str(), "wb");
  testing::internal::CaptureStdout();
  report_last_access(log, value);
  std::fclose(log);
  screen = testing::internal::GetCapturedStdout();
  return tree.read("log.txt");
}

constexpr const char* k_prefix = "    Last Access Date UPDATE is ";

}  // namespace

TEST(last_access, report_texts_by_value) {
  std::string not_found =
      k_windows ? "\"Disable Access Date Key\" Not Found\n"
                  "Default (except VISTA) is usually RESET ACCESS DATE\n\n"
                  "To confirm setting check registry key:\n"
                  "HKEY_LOCAL_MACHINE\n"
                  "SYSTEM\\CurrentControlSet\\Control\\FileSystem\\NtfsDisableLastAccessUpdate\n"
                  "A 1 means access data will NOT be updated"
                : "\"Access Date Mount Option\" Not Found\n"
                  "Default (relatime) is usually RESET ACCESS DATE\n\n"
                  "To confirm setting check the mount options (noatime, relatime) of the file "
                  "system:\nfindmnt -T . -o OPTIONS\n"
                  "A noatime means access data will NOT be updated";
  std::string unknown =
      k_windows ? "\nerror in obtaining registry key\n" : "\nerror in obtaining mount options\n";
  struct row {
    int value;
    std::string log;
    std::string screen;
  };
  const row rows[] = {
      {-1, k_prefix + not_found, ""},
      {0, std::string(k_prefix) + "turned ON\n", ""},
      {1, std::string(k_prefix) + "turned ***** OFF *****\n", ""},
      // Values the system should never store leave the log line unfinished.
      {2, k_prefix, unknown},
      {0x7fffffff, k_prefix, unknown},
  };
  for (const row& r : rows) {
    std::string screen;
    EXPECT_EQ(report_text(r.value, screen), r.log) << r.value;
    EXPECT_EQ(screen, r.screen) << r.value;
  }
}

TEST(last_access, access_times_line_counts_what_could_not_be_kept) {
  std::string items = k_windows ? "message files" : "message files and directories";
  std::string why = std::string(" read: ") + k_access_time_refusal + "\n";
  struct row {
    access_time_counts counts;
    std::string line;
  };
  const row rows[] = {
      {{0, 0}, "Last Access Dates of the " + items + " read: left unchanged\n"},
      {{1, 0}, "Last Access Dates could not be kept for 1 file" + why},
      {{2, 0}, "Last Access Dates could not be kept for 2 files" + why},
      {{0, 1}, "Last Access Dates could not be kept for 1 directory" + why},
      {{1, 2}, "Last Access Dates could not be kept for 1 file and 2 directories" + why},
      {{123456789012, 0}, "Last Access Dates could not be kept for 123456789012 files" + why},
  };
  for (const row& r : rows) {
    EXPECT_EQ(access_times_line(r.counts).view(), r.line) << r.counts.files;
  }
}
