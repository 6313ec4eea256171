#include "listing/scanners/scan_policy.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// Read times as a clock would measure them: the reads alone decide.
TEST(scan_policy, reads_that_wait_for_the_storage_are_told_from_cached_ones) {
  struct read_case {
    int64_t read_ns;
    int64_t bytes;
    bool waited;
  };
  const read_case cases[] = {
      {3'000, 2'000, false},         // a small file from the page cache
      {120'000, 1'000'000, false},   // a large one from the page cache
      {55'000, 2'000, true},         // a small file from a fast disk
      {400'000, 2'000, true},        // a disk seek
      {900'000, 1'000'000, false},   // a megabyte in about its own time
      {9'000'000, 1'000'000, true},  // a megabyte from a share
  };
  for (const read_case& c : cases) {
    EXPECT_EQ(read_waited(c.read_ns, c.bytes), c.waited) << c.read_ns << " ns, " << c.bytes;
  }
}

TEST(scan_policy, a_run_of_waits_turns_every_scanner_on_and_a_warm_cache_turns_them_off) {
  int count = 0;
  for (int read = 0; read < 7; ++read) count = count_read(count, true);
  EXPECT_FALSE(reads_wait_for_storage(count));
  count = count_read(count, true);
  EXPECT_TRUE(reads_wait_for_storage(count));
  EXPECT_EQ(hand_over_batch(true), 1u);
  // The scanners past the cores start as the waits go on, all of them at the bound.
  struct wanted_case {
    int reads_waited, asked_for, cores, wanted;
  };
  const wanted_case wanted_cases[] = {
      {0, 16, 2, 2}, {7, 16, 2, 2}, {8, 16, 2, 3},  {12, 16, 2, 4},
      {64, 16, 2, 16}, {64, 1, 2, 1}, {64, 4, 8, 4}, {8, 64, 2, 4},
  };
  for (const wanted_case& c : wanted_cases) {
    EXPECT_EQ(scanners_wanted(c.reads_waited, c.asked_for, c.cores), c.wanted)
        << c.reads_waited << " waits, " << c.asked_for << " asked, " << c.cores << " cores";
  }
  for (int read = 0; read < 1000; ++read) count = count_read(count, true);
  EXPECT_EQ(scanners_wanted(count, 16, 2), 16);
  // Counted up to a bound: a warmed cache is noticed within as many reads.
  int reads_to_notice = 0;
  while (reads_wait_for_storage(count)) {
    count = count_read(count, false);
    ++reads_to_notice;
  }
  EXPECT_LE(reads_to_notice, 64);
  EXPECT_EQ(scanners_wanted(count, 16, 2), 2);
  EXPECT_EQ(hand_over_batch(false), 8u);
}

TEST(scan_policy, the_ring_and_the_files_on_their_way_stay_bounded) {
  EXPECT_EQ(ring_slots(1), 32u);
  EXPECT_EQ(ring_slots(16), 256u);
  EXPECT_EQ(ring_slots(64), 256u);  // memory stays small for any count
  EXPECT_EQ(on_their_way_limit(512, true, 2), 512u);
  EXPECT_EQ(on_their_way_limit(512, false, 2), 64u);
  EXPECT_EQ(on_their_way_limit(32, false, 8), 32u);
}

TEST(scan_policy, only_scanners_past_the_first_sixteen_give_back_a_wide_scans_pages) {
  EXPECT_FALSE(gives_back_scan_pages(0, 500'000));
  EXPECT_FALSE(gives_back_scan_pages(15, 500'000));
  EXPECT_FALSE(gives_back_scan_pages(16, 400));
  EXPECT_TRUE(gives_back_scan_pages(16, 40'000));
  EXPECT_TRUE(gives_back_scan_pages(63, 9'000));
}

TEST(scan_policy, descriptors_left_over_allow_files_on_their_way) {
  struct descriptor_case {
    int64_t limit;
    int64_t directories;
    int64_t room;
  };
  const descriptor_case cases[] = {
      {10, 0, 0}, {64, 56, 0}, {200, 0, 68}, {200, 100, 18}, {1024, 3, 478},
  };
  for (const descriptor_case& c : cases) {
    EXPECT_EQ(descriptor_room(c.limit, c.directories), c.room) << c.limit << ", " << c.directories;
  }
  EXPECT_EQ(descriptor_room(INT64_MAX, 5), INT64_MAX);
}

TEST(scan_policy, the_writer_goes_on_for_the_head_and_enough_behind_it) {
  struct writer_case {
    const char* label;
    writer_view view;
    bool goes_on;
  };
  const writer_case cases[] = {
      {"head not done", {false, 40, 64, 64, true, true}, false},
      {"head alone", {true, 1, 64, 64, false, false}, false},
      {"half the limit done", {true, 32, 64, 64, false, false}, true},
      {"every file on its way done", {true, 3, 3, 64, false, false}, true},
      {"over the records' budget", {true, 2, 64, 64, true, false}, true},
      {"an interrupt: the head is enough", {true, 1, 64, 64, false, true}, true},
  };
  for (const writer_case& c : cases) EXPECT_EQ(writer_may_go_on(c.view), c.goes_on) << c.label;
}

TEST(scan_policy, scanners_are_woken_for_the_files_that_wait) {
  struct wake_case {
    const char* label;
    wake_view view;
    wake_choice choice;
  };
  // reads_wait, any_large, cores, running, wide_running, idle_small, idle_wide, waiting
  const wake_case cases[] = {
      {"a large file, a wide scanner awake", {false, true, 2, 4, 4, 0, 3, 1}, wake_choice::none},
      {"a large file, every wide one asleep", {false, true, 2, 4, 4, 0, 4, 1}, wake_choice::wide},
      {"a large file, reads wait", {true, true, 2, 8, 4, 2, 3, 1}, wake_choice::wide},
      {"few small files", {false, false, 2, 4, 4, 2, 1, 8}, wake_choice::none},
      {"many small files", {false, false, 2, 4, 2, 2, 1, 40}, wake_choice::small},
      {"cores busy, cache warm", {false, false, 2, 4, 2, 1, 1, 400}, wake_choice::none},
      {"cores busy, reads wait", {true, false, 2, 8, 4, 5, 1, 400}, wake_choice::small},
  };
  for (const wake_case& c : cases) EXPECT_EQ(scanner_to_wake(c.view), c.choice) << c.label;
}

}  // namespace
