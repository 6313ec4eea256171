#include "listing/scanners.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "INCLUDE_U/messages.h"
#include "INCLUDE_U/unreadable.h"
#include "listing/eml_program.h"
#include "listing/file_hashes.h"
#include "listing/new_do_eml.h"
#include "settings/run_settings.h"

namespace {

// One file on its way from the walk to the listing. The walk fills it, one
// scanner reads it, the writer writes it; the sequence numbers under the pool's
// lock say whose turn it is, so its fields need no lock of their own.
struct scan_slot {
  std::string path;
  read_handle file = k_no_file;
  int64_t size = 0;
  file_dates dates;
  bool counted = false;
  bool taken = false;    // a scanner has it (under the lock)
  bool done = false;     // the scanner has finished with it (under the lock)
  bool skipped = false;  // the run was being abandoned: it was not read
  bool waited = false;   // its read took longer than the cores alone would need
  scan_result result = scan_result::done;
  std::string record;    // the record as the listing gets it
  held_messages before;  // the walk's messages since the last file, the progress line
  held_messages after;   // the failed read
};

// Files on their way per scanner. Many: a scanner is only woken for a batch of
// files, and on a cold disk every scanner should have a read in flight.
constexpr std::size_t k_slots_per_scanner = 32;
// A record buffer larger than this (a file with long fields) is given back once
// written, so that the slots hold no more than ordinary records between them.
constexpr std::size_t k_kept_record_capacity = 4 * 1024;
// Files waiting for a scanner, per scanner awake, before one more is woken: a
// wake-up per file would cost more than reading a small one. While the awake
// scanners keep up (a warm cache) the rest sleep; when they wait for the disk
// the queue grows and wakes more.
constexpr uint64_t k_wake_batch = 16;
// Bytes of finished records that may wait for the writer: a file's record may
// run to hundreds of kilobytes, and the slots must not hold hundreds of those.
// Past it, scanners wait until the writer has written the head.
constexpr std::size_t k_waiting_record_bytes = 1024 * 1024;
// A file larger than this may fill a scan's fields and lines to their capacity,
// and a scan keeps the pages it has touched; only the first few scanners take
// such files, so that the others stay small however wide the collection's headers.
constexpr int64_t k_large_file = 64 * 1024;
constexpr int k_wide_scanners = 4;
// Each file on its way holds the descriptor the walk opened it with until its
// scanner has read it. Where the process may hold few, the files on their way
// take at most half of those beyond these (standard streams, listing, run log, the
// walk's directories), so that many scanners do not run out where one would not.
constexpr int64_t k_descriptors_kept = 64;
// A read that takes longer than this, beyond the bytes' own time, waited for the
// storage rather than for a core: a file in the page cache is read and scanned
// in a few microseconds and a few hundred bytes a microsecond.
constexpr int64_t k_waited_read_ns = 50'000;
constexpr int64_t k_ns_per_byte_read = 2;
// Reads that waited, net of those that did not, before every scanner may be woken;
// and the most counted, so that a warmed cache is noticed soon.
constexpr int k_waits_to_wake_all = 8;
constexpr int k_most_waits_counted = 64;
// Files the walk hands over at once while reads do not wait: a lock a file for
// the walk would keep the scanners waiting for it.
constexpr uint64_t k_hand_over_batch = 8;

struct scan_pool {
  std::mutex lock;
  std::condition_variable work_ready;             // a scanner of small files waits for one
  std::condition_variable wide_ready;             // a scanner of any file waits for one
  std::condition_variable slot_done;              // the writer waits for the files at the head
  std::vector<std::unique_ptr<scan_slot>> slots;  // a ring, by sequence number
  uint64_t most_on_their_way = 0;                 // files handed and not yet written
  // Sequence numbers, under the lock: every file before `untaken` has a scanner,
  // and files up to `handed` wait for one.
  uint64_t untaken = 0;
  uint64_t untaken_small = 0;  // every file before it is taken or large
  uint64_t handed = 0;
  // The walk's own: files put in slots; they are handed over a batch at a time
  // while the cache serves the reads, one at a time while reads wait.
  uint64_t filled = 0;
  bool batch_has_large = false;
  // Whether reads waited for the storage at the last hand-over: the walk's view,
  // set under the lock, so that it may read it without.
  bool walk_saw_waits = false;
  uint64_t done_count = 0;               // files read that the writer has not collected
  std::size_t waiting_record_bytes = 0;  // their records' bytes
  int idle_scanners = 0;                 // of small files
  int idle_wide = 0;
  int wide_count = 0;      // scanners that take any file
  int scanner_target = 0;  // scanners to run once reads wait
  bool writer_waiting = false;
  bool closing = false;  // scanners leave once no file waits
  // Files [written, handed) are on their way, as the writer last told (under the
  // lock); `writer_at` is the writer's own, ahead of it by what it has written since.
  uint64_t written = 0;
  uint64_t writer_at = 0;
  std::vector<std::thread> scanners;
  int cores = 1;
  // While reads wait for the storage, every scanner may have one in flight; while
  // they do not, more awake scanners than cores would only take turns.
  int reads_waited = 0;
  std::thread::id walk_thread;
  // The walk's thread reads small files too while it would otherwise wait.
  std::unique_ptr<message_scan> walk_scan;
  std::atomic<bool> abandoned{false};
  // The walk's messages while scanners run; they go out before the next file's.
  held_messages walk_messages;
  stop_reason stop = stop_reason::go_on;  // the first stop a written record brought
};

// Made once and never destroyed: no scanner outlives it, and no destructor runs
// at exit with threads in it.
scan_pool& pool() {
  static scan_pool* made = new scan_pool;
  return *made;
}

scan_slot& slot_of(scan_pool& p, uint64_t sequence) { return *p.slots[sequence % p.slots.size()]; }

void read_slot(scan_pool& p, message_scan& scan, scan_slot& slot) {
  slot.record.clear();
  if (p.abandoned.load()) {
    if (slot.file != k_no_file) g_platform.close_file(slot.file);
    slot.skipped = true;
    return;
  }
  scan.record.held = &slot.record;
  auto started = std::chrono::steady_clock::now();
  // After the walk's messages that came before this file.
  hold_messages(&slot.before);
  slot.result = scan_into_record(scan, slot.path, slot.file, slot.size, slot.dates);
  hold_messages(&slot.after);
  report_cut_read(scan, slot.path);
  hold_messages(nullptr);
  auto took = std::chrono::duration_cast<std::chrono::nanoseconds>(
      std::chrono::steady_clock::now() - started);
  slot.waited = took.count() > k_waited_read_ns + slot.size * k_ns_per_byte_read;
}

bool reads_wait_for_storage(const scan_pool& p) { return p.reads_waited >= k_waits_to_wake_all; }

int awake_scanners(const scan_pool& p) {
  return static_cast<int>(p.scanners.size()) - p.idle_scanners - p.idle_wide;
}

// Files the walk hands over at once.
uint64_t hand_over_batch(const scan_pool& p) { return p.walk_saw_waits ? 1 : k_hand_over_batch; }

// Files on their way at most, now: while the cache serves the reads, enough for the
// cores, a ring that stays in the processor's caches.
uint64_t on_their_way_limit(const scan_pool& p) {
  if (p.walk_saw_waits) return p.most_on_their_way;
  return std::min(p.most_on_their_way, k_slots_per_scanner * static_cast<uint64_t>(p.cores));
}

bool over_record_budget(const scan_pool& p) {
  return p.waiting_record_bytes > k_waiting_record_bytes;
}

// Whether the writer has enough to write (under the lock): the file at the head,
// and half the files that may be on their way, every file on its way or the
// records' budget, so that it is not woken for each file.
bool writer_may_go_on(scan_pool& p) {
  if (p.written == p.handed || !slot_of(p, p.written).done) return false;
  return p.done_count * 2 >= on_their_way_limit(p) || p.done_count == p.handed - p.written ||
         over_record_budget(p);
}

bool is_large(const scan_slot& slot) { return slot.size > k_large_file; }

// The first waiting file a scanner may take (under the lock), or null. Past the
// records' budget (unless `regardless`) only the file the writer needs next: the
// budget must never hold back the one file that lets the writer free it.
scan_slot* file_to_take(scan_pool& p, bool takes_large, bool regardless = false) {
  bool only_the_head = !regardless && over_record_budget(p);
  uint64_t first = takes_large ? p.untaken : p.untaken_small;
  for (uint64_t sequence = first; sequence < p.handed; ++sequence) {
    if (only_the_head && sequence != p.written) return nullptr;
    scan_slot& slot = slot_of(p, sequence);
    if (!slot.taken && (takes_large || !is_large(slot))) return &slot;
  }
  return nullptr;
}

void take(scan_pool& p, scan_slot& slot) {
  slot.taken = true;
  while (p.untaken < p.handed && slot_of(p, p.untaken).taken) ++p.untaken;
  p.untaken_small = std::max(p.untaken_small, p.untaken);
  while (p.untaken_small < p.handed) {
    const scan_slot& next = slot_of(p, p.untaken_small);
    if (!next.taken && !is_large(next)) break;
    ++p.untaken_small;
  }
}

// Wakes every sleeping scanner (under the lock).
void wake_all(scan_pool& p) {
  if (p.idle_scanners > 0) p.work_ready.notify_all();
  if (p.idle_wide > 0) p.wide_ready.notify_all();
}

// A scan is large (a read chunk, line and field buffers): on the heap, once, and
// not cleared first, so that only the pages its files use are touched.
std::unique_ptr<message_scan> make_scan(scan_pool& p) {
  auto scan = std::make_unique_for_overwrite<message_scan>();
  scan->abandoned = &p.abandoned;
  return scan;
}

// Under the lock: the scanner has finished with the file.
void mark_done(scan_pool& p, scan_slot& slot) {
  slot.done = true;
  ++p.done_count;
  p.waiting_record_bytes += slot.record.size();
  if (slot.skipped) return;
  p.reads_waited = std::clamp(p.reads_waited + (slot.waited ? 1 : -1), 0, k_most_waits_counted);
}

// One lock per file: the file read is marked done as the next one is taken.
void run_scanner(scan_pool& p, bool takes_large) {
  std::unique_ptr<message_scan> scan = make_scan(p);
  scan_slot* reading = nullptr;
  std::condition_variable& ready = takes_large ? p.wide_ready : p.work_ready;
  int& idle = takes_large ? p.idle_wide : p.idle_scanners;
  std::unique_lock<std::mutex> lock(p.lock);
  for (;;) {
    // The writer is woken once the lock is let go: woken while it is held, it
    // would only wait for the lock next.
    bool wake_writer = false;
    if (reading) {
      mark_done(p, *reading);
      wake_writer = p.writer_waiting && writer_may_go_on(p);
    }
    if (wake_writer) {
      lock.unlock();
      p.slot_done.notify_one();
      lock.lock();
    }
    while (!(reading = file_to_take(p, takes_large))) {
      // Done once the walk has ended and nothing is left for this scanner.
      if (p.closing && !file_to_take(p, takes_large, true)) {
        free_file_hashes(scan->hashes);
        return;
      }
      ++idle;
      ready.wait(lock);
      --idle;
    }
    take(p, *reading);
    lock.unlock();
    read_slot(p, *scan, *reading);
    lock.lock();
  }
}

// Under the lock: one more scanner; false when the system has no thread to
// spare, and then no more are asked for (the run goes on with those it has).
bool start_scanner(scan_pool& p) {
  int i = static_cast<int>(p.scanners.size());
  try {
    p.scanners.emplace_back(run_scanner, std::ref(p), i < p.wide_count);
  } catch (const std::system_error&) {
    p.scanner_target = i;
    return false;
  }
  return true;
}

// The first scanners, as many as there are cores; the rest only once reads wait
// for the storage: while the cache serves them, more threads and a longer ring
// only take turns and wear the caches.
void start_scanners(scan_pool& p, int count) {
  p.walk_thread = std::this_thread::get_id();
  p.cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  g_platform.share_one_heap();
  if (p.slots.empty()) {
    std::size_t slots = k_slots_per_scanner * static_cast<std::size_t>(count);
    for (std::size_t i = 0; i < slots; ++i) p.slots.push_back(std::make_unique<scan_slot>());
  }
  int64_t spare = std::max<int64_t>(1, (g_platform.open_files_limit() - k_descriptors_kept) / 2);
  p.most_on_their_way = std::min<uint64_t>(p.slots.size(), static_cast<uint64_t>(spare));
  p.walk_saw_waits = false;
  p.wide_count = std::min(count, k_wide_scanners);
  p.scanner_target = count;
  std::lock_guard<std::mutex> lock(p.lock);
  while (static_cast<int>(p.scanners.size()) < std::min(count, p.cores) && start_scanner(p)) {
  }
  if (!p.scanners.empty()) hold_messages(&p.walk_messages);
}

// Under the lock: once reads wait for the storage, the rest of the scanners.
void add_scanners(scan_pool& p) {
  if (!reads_wait_for_storage(p)) return;
  while (static_cast<int>(p.scanners.size()) < p.scanner_target && start_scanner(p)) {
  }
}

// The file counts and is listed, as it would have been at once; after a stop it
// is dropped with its messages, as a run that stopped never met it.
void write_slot(scan_pool& p, scan_slot& slot) {
  if (p.stop != stop_reason::go_on || slot.skipped) {
    drop_held_messages(slot.before);
    drop_held_messages(slot.after);
    return;
  }
  // The walk's own messages stay held meanwhile: they belong after this file.
  held_messages* walk = messages_held();
  hold_messages(nullptr);
  release_held_messages(slot.before);
  if (slot.counted) ++g_file_count;
  write_listing_text(g_out_file, slot.record);
  note_whole_record();
  if (slot.record.capacity() > k_kept_record_capacity) std::string().swap(slot.record);
  release_held_messages(slot.after);
  p.stop = stop_after_record(slot.result);
  if (p.stop != stop_reason::go_on) p.abandoned.store(true);
  hold_messages(walk);
}

// Under the lock: how many files from the head on are done; they are the
// writer's from now on.
uint64_t collect_done_files(scan_pool& p) {
  bool was_over = over_record_budget(p);
  uint64_t run = 0;
  for (; p.writer_at + run < p.handed; ++run) {
    scan_slot& slot = slot_of(p, p.writer_at + run);
    if (!slot.done) break;
    p.waiting_record_bytes -= slot.record.size();
  }
  p.done_count -= run;
  // Scanners held back by the budget may go on.
  if (was_over && !over_record_budget(p)) wake_all(p);
  return run;
}

// Wakes sleeping scanners for the files that wait (under the lock): every one
// while reads wait for the storage, else as many as there are cores, the first of
// them one that takes any file, so that a large file never waits for a wake-up.
void wake_for_waiting_files(scan_pool& p) {
  if (reads_wait_for_storage(p)) {
    wake_all(p);
    return;
  }
  int awake = awake_scanners(p);
  if (p.idle_wide > 0) {
    p.wide_ready.notify_one();
    ++awake;
  }
  for (; awake < p.cores && p.idle_scanners > 0; ++awake) p.work_ready.notify_one();
}

// Reads a small waiting file on the walk's thread (taken, under `lock`): on a
// warm cache the scanners are the slower side, and a wait would leave a core idle.
void read_on_walk_thread(scan_pool& p, std::unique_lock<std::mutex>& lock, scan_slot& slot) {
  take(p, slot);
  lock.unlock();
  if (!p.walk_scan) p.walk_scan = make_scan(p);
  held_messages* walk = messages_held();
  read_slot(p, *p.walk_scan, slot);
  hold_messages(walk);
  lock.lock();
  mark_done(p, slot);
}

// Waits (under `lock`) until the writer may go on, reading small files itself
// meanwhile; files still waiting for a scanner must not also wait for a wake-up.
void wait_for_writable_files(scan_pool& p, std::unique_lock<std::mutex>& lock) {
  wake_for_waiting_files(p);
  while (!writer_may_go_on(p)) {
    if (scan_slot* slot = file_to_take(p, false)) {
      read_on_walk_thread(p, lock, *slot);
      continue;
    }
    p.writer_waiting = true;
    p.slot_done.wait(lock);
    p.writer_waiting = false;
  }
}

// The scanner to wake for the files just handed over (under the lock), or null:
// for a large file one that takes it, when it sleeps; for small ones any, once
// enough wait. The caller wakes it after letting the lock go.
std::condition_variable* scanner_to_wake(scan_pool& p, bool any_large) {
  if (any_large) {
    // While the cache serves the reads, one awake scanner of large files keeps up.
    // The first scanners started are those that take any file.
    int wide_running = std::min(p.wide_count, static_cast<int>(p.scanners.size()));
    bool one_awake = p.idle_wide < wide_running;
    if (one_awake && !reads_wait_for_storage(p)) return nullptr;
    return p.idle_wide > 0 ? &p.wide_ready : nullptr;
  }
  int awake = awake_scanners(p);
  if (awake >= p.cores && !reads_wait_for_storage(p)) return nullptr;
  if (p.handed - p.untaken < k_wake_batch * static_cast<uint64_t>(awake + 1)) return nullptr;
  if (p.idle_scanners > 0) return &p.work_ready;
  return p.idle_wide > 0 ? &p.wide_ready : nullptr;
}

// Writes the `count` files collected at the head. Their slots are given back the
// next time the writer takes the lock (tell_written), which it does before it
// ever waits: one lock a file for the writer, not two.
void write_files(scan_pool& p, uint64_t count) {
  for (uint64_t i = 0; i < count; ++i) write_slot(p, slot_of(p, p.writer_at++));
}

// Under the lock: the slots written are free again.
void tell_written(scan_pool& p) { p.written = p.writer_at; }

// Under the lock: the files filled are the scanners' now; returns the scanner to
// wake once the lock is let go.
std::condition_variable* hand_over(scan_pool& p) {
  tell_written(p);
  p.handed = p.filled;
  add_scanners(p);
  std::condition_variable* to_wake = scanner_to_wake(p, p.batch_has_large);
  p.batch_has_large = false;
  p.walk_saw_waits = reads_wait_for_storage(p);
  return to_wake;
}

// Gives back the slots written, waits until the files at the head may be
// written, and writes them; nothing when no file is on its way.
void wait_and_write(scan_pool& p) {
  std::unique_lock<std::mutex> lock(p.lock);
  hand_over(p);
  if (p.written == p.handed) return;
  wait_for_writable_files(p, lock);
  uint64_t writable = collect_done_files(p);
  lock.unlock();
  write_files(p, writable);
}

}  // namespace

int scanner_count() {
  int setting = g_settings ? g_settings->scanners : 0;
  return std::clamp(setting, 1, k_most_scanners);
}

stop_reason list_selected_file(const std::string& path, read_handle file, int64_t size,
                               const file_dates& dates, bool counted) {
  int count = scanner_count();
  scan_pool& p = pool();
  if (count > 1 && p.scanners.empty()) start_scanners(p, count);
  // One scanner, or the system had no thread to spare: read on the walk's thread.
  if (p.scanners.empty()) {
    if (counted) ++g_file_count;
    return scan_opened_message(path, file, size, dates);
  }
  // As many files on their way as may be: room comes from writing those at the head.
  while (p.filled - p.writer_at >= on_their_way_limit(p)) wait_and_write(p);
  scan_slot& slot = slot_of(p, p.filled);
  slot.path.assign(path);
  slot.file = file;
  slot.size = size;
  slot.dates = dates;
  slot.counted = counted;
  slot.taken = false;
  slot.done = false;
  slot.skipped = false;
  slot.waited = false;
  slot.result = scan_result::done;
  move_held_messages(slot.before, p.walk_messages);
  ++p.filled;
  p.batch_has_large |= is_large(slot);
  if (p.filled - p.handed >= hand_over_batch(p)) {
    std::unique_lock<std::mutex> lock(p.lock);
    std::condition_variable* to_wake = hand_over(p);
    uint64_t writable = collect_done_files(p);
    lock.unlock();
    if (to_wake) to_wake->notify_one();
    write_files(p, writable);
  }
  if (p.stop != stop_reason::go_on) return p.stop;
  if (interrupt_pending()) return stop_reason::interrupted;
  return stop_reason::go_on;
}

stop_reason finish_scans() {
  scan_pool& p = pool();
  if (p.scanners.empty() || std::this_thread::get_id() != p.walk_thread) return p.stop;
  // A failure of the walk after the last file handed over is held with its
  // messages: the files before it are written first, without it.
  hold_messages(nullptr);
  {
    std::lock_guard<std::mutex> lock(p.lock);
    hand_over(p);
    p.closing = true;
    wake_all(p);
  }
  while (p.writer_at < p.handed) wait_and_write(p);
  for (std::thread& scanner : p.scanners) scanner.join();
  p.scanners.clear();
  if (p.walk_scan) free_file_hashes(p.walk_scan->hashes);
  p.closing = false;
  if (p.stop == stop_reason::go_on)
    release_held_messages(p.walk_messages);
  else
    drop_held_messages(p.walk_messages);
  return p.stop;
}
