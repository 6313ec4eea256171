#include "listing/scanners/scan_policy.h"

#include <algorithm>

namespace {

// Files waiting for a scanner, per scanner awake, before one more is woken: a
// wake-up per file would cost more than reading a small one. While the awake
// scanners keep up (a warm cache) the rest sleep; when they wait for the disk
// the queue grows and wakes more.
constexpr uint64_t k_wake_batch = 16;
// Descriptors kept for everything but files on their way: standard streams,
// listing, run log, the library's own, the walk's look-ups.
constexpr int64_t k_descriptors_kept = 64;
// A read that takes longer than this, beyond the bytes' own time, waited for the
// storage rather than for a core: a file in the page cache is copied at several
// bytes a nanosecond, a few microseconds a small file, while a read from a disk
// or a share takes tens of microseconds at the least (measured here: 1.5 us and
// 70 us medians, warm and cold, and under 20 us for 2 of 3,000 cold reads).
constexpr int64_t k_waited_read_ns = 20'000;
constexpr int64_t k_ns_per_byte_read = 1;
// Reads that waited, net of those that did not, before every scanner may run;
// and the most counted, so that a warmed cache is noticed soon.
constexpr int k_waits_to_wake_all = 8;
constexpr int k_most_waits_counted = 64;
// Files the walk hands over at once while reads do not wait: a lock a file for
// the walk would keep the scanners waiting for it.
constexpr uint64_t k_hand_over_batch = 8;

}  // namespace

bool gives_back_scan_pages(int index, std::size_t record_bytes) {
  // An ordinary record is a few hundred bytes; its scan touched little.
  return index >= k_scanners_keeping_pages && record_bytes > 8 * 1024;
}

uint64_t ring_slots(int scanners) {
  return std::min(k_most_slots, k_slots_per_scanner * static_cast<uint64_t>(std::max(1, scanners)));
}

bool read_waited(int64_t read_ns, int64_t bytes) {
  return read_ns > k_waited_read_ns + bytes * k_ns_per_byte_read;
}

int count_read(int reads_waited, bool waited) {
  return std::clamp(reads_waited + (waited ? 1 : -1), 0, k_most_waits_counted);
}

bool reads_wait_for_storage(int reads_waited) { return reads_waited >= k_waits_to_wake_all; }

uint64_t hand_over_batch(bool reads_wait) { return reads_wait ? 1 : k_hand_over_batch; }

int scanners_wanted(int reads_waited, int asked_for, int cores) {
  int extra = asked_for - cores;
  if (!reads_wait_for_storage(reads_waited) || extra <= 0) return std::min(asked_for, cores);
  // 1 at the first count that waits, every step at the bound.
  int level = std::min(reads_waited, k_most_waits_counted) - k_waits_to_wake_all + 1;
  int steps = k_most_waits_counted - k_waits_to_wake_all + 1;
  return cores + (extra * level + steps - 1) / steps;
}

int64_t descriptor_room(int64_t open_files_limit, int64_t directories_held) {
  if (open_files_limit == INT64_MAX) return INT64_MAX;
  // Half of what is left: a scanner's file waits in the close batch a while
  // after it is read.
  return std::max<int64_t>(0, (open_files_limit - k_descriptors_kept - directories_held) / 2);
}

uint64_t on_their_way_limit(uint64_t slots, bool reads_wait, int cores) {
  if (reads_wait) return slots;
  return std::min(slots, k_slots_per_scanner * static_cast<uint64_t>(std::max(1, cores)));
}

bool writer_may_go_on(const writer_view& view) {
  if (!view.head_done) return false;
  return view.interrupted || view.done * 2 >= view.limit || view.done == view.on_their_way ||
         view.over_record_budget;
}

wake_choice scanner_to_wake(const wake_view& view) {
  if (view.any_large) {
    // While the cache serves the reads, one awake scanner of large files keeps up.
    bool one_awake = view.idle_wide < view.wide_running;
    if (one_awake && !view.reads_wait) return wake_choice::none;
    return view.idle_wide > 0 ? wake_choice::wide : wake_choice::none;
  }
  int awake = view.running - view.idle_small - view.idle_wide;
  if (awake >= view.cores && !view.reads_wait) return wake_choice::none;
  if (view.waiting < k_wake_batch * static_cast<uint64_t>(awake + 1)) return wake_choice::none;
  if (view.idle_small > 0) return wake_choice::small;
  return view.idle_wide > 0 ? wake_choice::wide : wake_choice::none;
}

int scanners_to_wake_for_writer(const wake_view& view, bool& wake_wide) {
  if (view.reads_wait) {
    wake_wide = view.idle_wide > 0;
    return view.idle_small;
  }
  int awake = view.running - view.idle_small - view.idle_wide;
  wake_wide = view.idle_wide > 0;
  if (wake_wide) ++awake;
  return std::clamp(view.cores - awake, 0, view.idle_small);
}
