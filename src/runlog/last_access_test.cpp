#include "runlog/last_access.h"

#include <gtest/gtest.h>

#include <cstdint>
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
      // Since Windows 10: 2 and 3 set by the user, the high bit plus 0-3 by the
      // system; bit 0 tells in each.
      {2, std::string(k_prefix) + "turned ON\n", ""},
      {3, std::string(k_prefix) + "turned ***** OFF *****\n", ""},
      {static_cast<int>(0x80000000u), std::string(k_prefix) + "turned ON (system managed)\n", ""},
      {static_cast<int>(0x80000001u),
       std::string(k_prefix) + "turned ***** OFF ***** (system managed)\n", ""},
      {static_cast<int>(0x80000002u), std::string(k_prefix) + "turned ON (system managed)\n", ""},
      {static_cast<int>(0x80000003u),
       std::string(k_prefix) + "turned ***** OFF ***** (system managed)\n", ""},
      // Values the system should never store leave the log line unfinished.
      {4, k_prefix, unknown},
      {0x7fffffff, k_prefix, unknown},
      {static_cast<int>(0x80000004u), k_prefix, unknown},
      {static_cast<int>(0xC0000001u), k_prefix, unknown},
  };
  for (const row& r : rows) {
    std::string screen;
    EXPECT_EQ(report_text(r.value, screen), r.log) << r.value;
    EXPECT_EQ(screen, r.screen) << r.value;
  }
}

TEST(last_access, the_setting_is_read_for_the_path_given_through_the_platform) {
  scoped_platform swap;
  static std::string s_asked;
  static int s_value = 0;
  g_platform.last_access_setting = [](const std::string& path) {
    s_asked = path;
    return s_value;
  };
  struct {
    uint32_t stored;
    std::string report;
  } cases[] = {
      {0, "turned ON\n"},
      {1, "turned ***** OFF *****\n"},
      {0x80000002u, "turned ON (system managed)\n"},
      {0x80000003u, "turned ***** OFF ***** (system managed)\n"},
  };
  for (const auto& c : cases) {
    s_value = static_cast<int>(c.stored);
    int value = read_last_access_setting("/mail/2012");
    EXPECT_EQ(s_asked, "/mail/2012");
    std::string screen;
    EXPECT_EQ(report_text(value, screen), k_prefix + c.report) << c.stored;
    EXPECT_EQ(screen, "");
  }
}

TEST(last_access, the_real_setting_of_an_existing_directory_is_known) {
  if (k_windows) GTEST_SKIP() << "the registry value need not exist (it does not under wine)";
  temp_tree tree;
  int value = read_last_access_setting(tree.root());
  EXPECT_TRUE(value == 0 || value == 1) << value;
  EXPECT_EQ(read_last_access_setting(tree.path("no-such-directory")), -1);
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
