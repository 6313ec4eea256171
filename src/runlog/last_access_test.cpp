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
