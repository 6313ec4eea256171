#include "listing/scanners/scan_ring.h"

#include <gtest/gtest.h>

#include "listing/scanners/scan_policy.h"

namespace {

// Puts `count` files of `size` bytes in the ring and hands them over.
void fill_and_hand_over(scan_ring& ring, int count, int64_t size = 100) {
  for (int i = 0; i < count; ++i) {
    next_free_slot(ring).size = size;
    commit_slot(ring);
  }
  publish_walk(ring);
}

// Takes and finishes the first waiting file a scanner of `large` files may take.
scan_slot* take_one(scan_ring& ring, bool large) {
  scan_slot* slot = file_to_take(ring, large, false);
  if (slot) take(ring, *slot);
  return slot;
}

TEST(scan_ring, a_run_of_hand_overs_takes_and_writes_keeps_every_rule) {
  scan_ring ring;
  make_ring(ring, 8);
  EXPECT_EQ(ring_fault(ring), nullptr);
  fill_and_hand_over(ring, 3);
  ASSERT_EQ(ring_fault(ring), nullptr);
  scan_slot* first = take_one(ring, false);
  scan_slot* second = take_one(ring, false);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(ring.untaken, 2u);
  second->done = true;  // out of order: the writer must still wait for the head
  EXPECT_EQ(ring_fault(ring), nullptr);
  first->done = true;
  ring.writer_at = 2;  // the writer collected and wrote the two at the head
  publish_walk(ring);
  EXPECT_EQ(ring.written, 2u);
  EXPECT_EQ(ring_fault(ring), nullptr);
}

TEST(scan_ring, a_scanner_of_small_files_passes_large_ones_by) {
  scan_ring ring;
  make_ring(ring, 8);
  fill_and_hand_over(ring, 1, k_wide_file + 1);
  fill_and_hand_over(ring, 2);
  scan_slot* small = take_one(ring, false);
  ASSERT_TRUE(small);
  EXPECT_EQ(small, &slot_of(ring, 1));
  EXPECT_EQ(ring.untaken, 0u);        // the large file still waits
  EXPECT_EQ(ring.untaken_small, 2u);  // but small scanners look past it
  EXPECT_EQ(take_one(ring, true), &slot_of(ring, 0));
  EXPECT_EQ(ring.untaken, 2u);
  EXPECT_EQ(ring_fault(ring), nullptr);
}

TEST(scan_ring, past_the_budget_only_the_head_may_be_taken) {
  scan_ring ring;
  make_ring(ring, 8);
  fill_and_hand_over(ring, 3);
  take(ring, slot_of(ring, 1));
  EXPECT_EQ(file_to_take(ring, true, true), &slot_of(ring, 0));
  take(ring, slot_of(ring, 0));
  EXPECT_EQ(file_to_take(ring, true, true), nullptr);
  EXPECT_EQ(file_to_take(ring, true, false), &slot_of(ring, 2));
}

TEST(scan_ring, each_broken_rule_is_named) {
  struct broken_case {
    const char* label;
    void (*breaks)(scan_ring&);
  };
  const broken_case cases[] = {
      {"written past writer_at", [](scan_ring& r) { r.written = r.writer_at + 1; }},
      {"handed past filled", [](scan_ring& r) { r.handed = r.filled + 1; }},
      {"more on their way than slots", [](scan_ring& r) { r.filled = r.writer_at + 9; }},
      {"a file not handed over is taken", [](scan_ring& r) { slot_of(r, 3).taken = true; }},
      {"done but never taken", [](scan_ring& r) { slot_of(r, 2).done = true; }},
      {"untaken behind a waiting file",
       [](scan_ring& r) {
         r.untaken = 2;
         r.untaken_small = 2;
       }},
  };
  for (const broken_case& c : cases) {
    SCOPED_TRACE(c.label);
    scan_ring ring;
    make_ring(ring, 8);
    fill_and_hand_over(ring, 3);
    next_free_slot(ring).size = 1;
    commit_slot(ring);  // the fourth is filled, not handed over
    ASSERT_EQ(ring_fault(ring), nullptr);
    c.breaks(ring);
    EXPECT_NE(ring_fault(ring), nullptr);
  }
}

}  // namespace
