// How the scanners are used: how many run, how many files go over at once, how
// many may be on their way, whom to wake. Pure functions of what the run has
// measured (read times, counts), so that each decision can be tried without
// threads or a clock.
#pragma once

#include <cstddef>
#include <cstdint>

#include "listing/sources/read_thresholds.h"

// Files on their way per scanner. Many: a scanner is only woken for a batch of
// files, and on a cold disk every scanner should have a read in flight.
inline constexpr uint64_t k_slots_per_scanner = 32;
// The ring never holds more files than this, whatever the number of scanners:
// each file on its way keeps its record, path and progress line, about 1.3 KB,
// and the run's memory must stay small. 256 keep a cold run of the default
// scanners within 8 MB, for 3 % of its time against 512.
inline constexpr uint64_t k_most_slots = 256;
// A file larger than this may fill a scan's read buffer, fields and lines far
// into their capacity, and a scan keeps the pages it has touched; only the first
// few scanners take such files, so that the others, which meet small files alone,
// touch the first pages of each and no more (about 1 in 13 of the bench's real
// messages is larger).
inline constexpr int64_t k_wide_file = 16 * 1024;
inline constexpr int k_wide_scanners = 4;

// An Outlook data file up to this size is read by a scanner of large files, one
// scanner from start to end, as libpff wants; its records wait in the slot until
// the files before it are written. Records are a small part of such a file (a few
// hundred bytes for a message it stores in kilobytes), and libpff's caches for an
// open file grow with the file: the few read side by side stay within tens of
// megabytes. A larger one is read on the walk's thread, straight to the listing.
inline constexpr int64_t k_outlook_slot_size = 32 * 1024 * 1024;

// Scanners that keep the pages their scans touched: those started after them
// give back what a wide record's scan touched (a scan is most of a megabyte
// when its fields are full), so that memory stays bounded for any number of scanners.
inline constexpr int k_scanners_keeping_pages = 16;
// Whether scanner `index` (0 for the first started) gives back its scan's pages
// after a record of `record_bytes`.
bool gives_back_scan_pages(int index, std::size_t record_bytes);

// Slots of the ring for `scanners` scanners.
uint64_t ring_slots(int scanners);

// Whether reading a file of `bytes` took long enough (`read_ns`, the reads alone,
// not the rules or digests) to have waited for the storage rather than a core.
bool read_waited(int64_t read_ns, int64_t bytes);
// The count of reads that waited, net of those that did not, after one more read.
int count_read(int reads_waited, bool waited);
// Whether reads wait for the storage (a cold disk, a share) by that count.
bool reads_wait_for_storage(int reads_waited);

// Files the walk hands over at once.
uint64_t hand_over_batch(bool reads_wait);
// Scanners that should run, by the net count of reads that waited (count_read):
// as many as there are cores while the cache serves the reads (more would only
// take turns); once reads wait, one more for each few further waits, every one
// asked for when the count is at its bound. A short spell of reads that only
// waited for a busy processor thus starts a scanner or two, not all of them:
// each started scanner keeps the pages its scans touched.
int scanners_wanted(int reads_waited, int asked_for, int cores);

// Message files the process may hold open for files on their way, beyond the
// one the walk opens next: what the descriptor limit leaves once the standard
// streams, listing, run log, library and `directories_held` (the walk's) are
// counted. 0 means one file at a time, as one scanner reads.
int64_t descriptor_room(int64_t open_files_limit, int64_t directories_held);
// Files on their way at most: the ring's slots, the descriptors, and while the
// cache serves the reads a share that stays in the processor's caches.
uint64_t on_their_way_limit(uint64_t slots, bool reads_wait, int cores);

// What the writer's wait is for: the file at the head done, and enough others to
// be worth a wake-up.
struct writer_view {
  bool head_done = false;
  uint64_t done = 0;         // files read that the writer has not collected
  uint64_t on_their_way = 0; // files handed and not yet written
  uint64_t limit = 0;        // on_their_way_limit
  bool over_record_budget = false;
  bool interrupted = false;  // an interrupt is pending: the head alone is enough
};
bool writer_may_go_on(const writer_view& view);

// Which sleeping scanner to wake for files just handed over.
enum class wake_choice { none, small, wide, every };
struct wake_view {
  bool reads_wait = false;
  bool any_large = false;     // the files handed include a large one
  int cores = 1;
  int running = 0;            // scanners started
  int wide_running = 0;       // of them, those that take any file
  int idle_small = 0;
  int idle_wide = 0;
  uint64_t waiting = 0;       // files handed that no scanner has taken
};
// For files just handed over: for a large file a scanner of any file when none
// is awake; for small ones any, once enough wait for those awake.
wake_choice scanner_to_wake(const wake_view& view);
// When the writer waits: every sleeping scanner while reads wait for the storage,
// else enough to keep the cores busy, the first of them one that takes any file.
// Returns how many scanners of small files to wake; `wake_wide` says whether one
// of any file is woken as well.
int scanners_to_wake_for_writer(const wake_view& view, bool& wake_wide);
