#include "INCLUDE_U/unreadable.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "listing/eml_program.h"
#include "listing/new_do_eml.h"
#include "settings/run_settings.h"
#include "test_util.h"

TEST(unreadable_paths, only_failures_that_lose_something_are_named_and_counted) {
  struct failure_case {
    failure_kind kind;
    bool missing_counts;
    const char* message;  // what standard error gets
  };
  const failure_case cases[] = {
      {failure_kind::none, true, ""},
      {failure_kind::not_found, false, ""},
      {failure_kind::not_found, true, "\nmailsift: cannot read /m/a.eml: gone"},
      {failure_kind::other, false, "\nmailsift: cannot read /m/a.eml: gone"},
  };
  for (const failure_case& c : cases) {
    int32_t before = g_unreadable_count;
    testing::internal::CaptureStderr();
    bool named = act_on_failure(std::string(k_long_path_prefix) + "/m/a.eml", c.kind, "gone",
                                c.missing_counts);
    std::fflush(stderr);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.message);
    EXPECT_EQ(named, c.message[0] != '\0');
    EXPECT_EQ(g_unreadable_count - before, named ? 1 : 0);
  }
}

TEST(unreadable_paths, the_count_line_appears_only_when_something_failed) {
  EXPECT_EQ(unreadable_count_text(0), "");
  EXPECT_EQ(unreadable_count_text(1), "  1 path could not be read\n");
  EXPECT_EQ(unreadable_count_text(12), "  12 paths could not be read\n");
}

TEST(unreadable_paths, a_read_that_fails_midway_keeps_the_record_and_names_the_file) {
  create_run_settings();
  temp_tree tree;
  tree.write("a.eml", "From: Ann Lee\nSubject: lost\n");
  scoped_platform swap;
  // The first read delivers the From line; the next one fails as a bad disk does.
  static int s_reads;
  s_reads = 0;
  g_platform.read_bytes = [](read_handle, void* buffer, int64_t) -> int64_t {
    if (s_reads++ > 0) return -1;
    std::memcpy(buffer, "From: Ann Lee\n", 14);
    return 14;
  };
  g_platform.last_failure = [](std::string& reason) {
    reason = "Input/output error";
    return failure_kind::other;
  };
  std::FILE* saved = g_out_file;
  g_out_file = g_platform.open_stream(tree.path("listing.txt"), "w");
  ASSERT_NE(g_out_file, nullptr);
  int32_t before = g_unreadable_count;
  testing::internal::CaptureStderr();
  scan_message(tree.path("a.eml"), 28, file_dates{});
  std::fflush(stderr);
  std::string err = testing::internal::GetCapturedStderr();
  std::fclose(g_out_file);
  g_out_file = saved;
  create_run_settings();
  EXPECT_NE(err.find("\nmailsift: cannot read " + tree.path("a.eml") + ": Input/output error"),
            std::string::npos)
      << err;
  EXPECT_EQ(g_unreadable_count - before, 1);
  std::string listing = normalise_line_ends(tree.read("listing.txt"));
  EXPECT_NE(listing.find("|(#1:) From: Ann Lee  |"), std::string::npos) << listing;
  EXPECT_EQ(listing.find("lost"), std::string::npos) << listing;
}
