// The scanner threads and the one writer. The ring (scan_ring.h) says whose turn
// each file is; the policy (scan_policy.h) how many threads run and whom to wake.
//
// One rule for every failure: a scanner that cannot allocate, read or finish a
// file says so in its slot, and only the walk's thread ends the run, writing what
// is finished in walk order first, exactly as one scanner would.
#include "listing/scanners/scanners.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "INCLUDE_U/messages.h"
#include "INCLUDE_U/unreadable.h"
#include "listing/eml_program.h"
#include "listing/sources/file_hashes.h"
#include "listing/new_do_eml.h"
#include "listing/outlook_listing.h"
#include "listing/scanners/scan_policy.h"
#include "listing/scanners/scan_ring.h"
#include "listing/settled_options.h"

scanner_fault_points g_scanner_fault_points;

namespace {

// A record buffer larger than this (a file with long fields) is given back once
// written: over a long run every slot meets a long record, so the bound is what
// all of them come to keep (most records are under 1 KB; 512 slots of 4 KB were 2 MB).
constexpr std::size_t k_kept_record_capacity = 1024;
// Bytes of finished records that may wait for the writer: a file's record may
// run to hundreds of kilobytes, and the slots must not hold hundreds of those.
// Past it, scanners wait until the writer has written the head.
constexpr std::size_t k_waiting_record_bytes = 1024 * 1024;
// How long the walk's thread waits before it looks at the interrupt flag again:
// a signal handler cannot wake a thread that waits on a condition.
constexpr auto k_interrupt_poll = std::chrono::milliseconds(20);

struct scan_pool {
  // Set once, by start_scanners, before any scanner runs.
  int cores = 1;
  int asked_for = 0;   // scanners the settings ask for
  int wide_count = 0;  // the first scanners started take any file
  int64_t open_files_limit = INT64_MAX;
  std::thread::id walk_thread;
  // The walk's thread reads small files too while it would otherwise wait; its
  // scan is made at start, so that the end never needs to allocate one.
  std::unique_ptr<message_scan> walk_scan;

  // The walk's thread only.
  bool started = false;          // start_scanners has run, whatever it started
  bool threads_refused = false;  // the system refused a thread: none is asked for again
  bool memory_ran_out = false;   // the run ends for want of memory: no reading, no thread
  std::vector<std::thread> scanners;  // its capacity reserved at start
  held_messages walk_messages;        // the walk's messages, out before the next file's
  stop_reason stop = stop_reason::go_on;  // the first stop a written record brought
  bool walk_saw_waits = false;   // whether reads waited at the last hand-over
  int walk_saw_reads_waited = 0;  // the net count of waited reads then
  bool batch_has_large = false;  // among the files filled since

  // Under the lock.
  std::mutex lock;
  std::condition_variable work_ready;  // a scanner of small files waits for one
  std::condition_variable wide_ready;  // a scanner of any file waits for one
  std::condition_variable slot_done;   // the writer waits for the files at the head
  scan_ring ring;                      // its own rules say which numbers are whose
  uint64_t done_count = 0;             // files read that the writer has not collected
  std::size_t waiting_record_bytes = 0;  // their records' bytes
  int idle_small = 0;
  int idle_wide = 0;
  int reads_waited = 0;  // reads that waited for the storage, net (count_read)
  bool writer_waiting = false;
  bool closing = false;  // scanners leave once no file waits
  // Files on their way the descriptors allow; only the walk's thread sets it.
  uint64_t descriptor_limit = UINT64_MAX;

  // Read by every scan at each chunk: the run is being abandoned.
  std::atomic<bool> abandoned{false};
};

// Made once and never destroyed: no scanner outlives it, and no destructor runs
// at exit with threads in it.
scan_pool& pool() {
  static scan_pool* made = new scan_pool;
  return *made;
}

bool over_record_budget(const scan_pool& p) {
  return p.waiting_record_bytes > k_waiting_record_bytes;
}

// Files on their way at most, now.
uint64_t on_their_way_now(const scan_pool& p) {
  uint64_t limit = on_their_way_limit(p.ring.slots.size(), p.walk_saw_waits, p.cores);
  return std::max<uint64_t>(1, std::min(limit, p.descriptor_limit));
}

// A scan is large (a read chunk, line and field buffers): on the heap, once, and
// not cleared first, so that only the pages its files touch count. Null when
// memory ran out.
std::unique_ptr<message_scan> make_scan(scan_pool& p) {
  local_allocation_failures local;
  std::unique_ptr<message_scan> scan;
  try {
    scan = std::make_unique_for_overwrite<message_scan>();
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  scan->options = settled_scan_options();
  scan->abandoned = &p.abandoned;
  scan->reader.time_reads = true;
  return scan;
}

void close_if_open(read_handle file) {
  if (file != k_no_file) g_platform.close_file(file);
}

// Scans the slot's file into its record and messages. An allocation that fails
// meanwhile leaves an out_of_memory result: the writer ends the run there.
scan_result scan_slot_file(message_scan& scan, scan_slot& slot) {
  local_allocation_failures local;
  try {
    scan_result result =
        slot.outlook ? list_outlook_records(scan, slot.path, slot.file, slot.size, slot.dates,
                                            slot.outlook_gave, slot.by_message)
                     : scan_into_record(scan, slot.path, slot.file, slot.size, slot.dates);
    slot.undated = scan.undated;
    scan.messages = &slot.after;
    report_cut_read(scan, slot.path);
    return result;
  } catch (const std::bad_alloc&) {
    // The file is closed whether or not the scan had taken it over.
    bool attached = slot.file != k_no_file && scan.reader.file == slot.file;
    abandon_scan(scan);
    if (!attached) close_if_open(slot.file);
    return scan_result::out_of_memory;
  }
}

void read_slot(scan_pool& p, std::unique_ptr<message_scan>& scan, scan_slot& slot) {
  slot.record.clear();
  slot.undated = 0;
  slot.by_message = false;
  slot.outlook_gave = outlook_counts{};
  // Not read: the run is being abandoned, or memory ran out for the scan.
  slot.skipped = p.abandoned.load();
  if (!slot.skipped && !scan) scan = make_scan(p);
  if (slot.skipped || !scan) {
    close_if_open(slot.file);
    if (!slot.skipped) slot.result = scan_result::out_of_memory;
    return;
  }
  scan->record.held = &slot.record;
  // After the walk's messages that came before this file.
  scan->messages = &slot.before;
  slot.result = scan_slot_file(*scan, slot);
  // The walk's own scan writes through the walk's messages again.
  scan->messages = nullptr;
  slot.waited = read_waited(scan->reader.read_ns, slot.size);
}

wake_view wake_view_of(const scan_pool& p, bool any_large) {
  wake_view view;
  view.reads_wait = reads_wait_for_storage(p.reads_waited);
  view.any_large = any_large;
  view.cores = p.cores;
  view.running = static_cast<int>(p.scanners.size());
  view.wide_running = std::min(p.wide_count, view.running);
  view.idle_small = p.idle_small;
  view.idle_wide = p.idle_wide;
  view.waiting = p.ring.handed - p.ring.untaken;
  return view;
}

// Under the lock: whether the writer has enough to write.
bool writer_can_go_on(const scan_pool& p) {
  writer_view view;
  const scan_ring& ring = p.ring;
  view.head_done = ring.written < ring.handed &&
                   ring.slots[ring.written % ring.slots.size()]->done;
  view.done = p.done_count;
  view.on_their_way = ring.handed - ring.written;
  view.limit = on_their_way_now(p);
  view.over_record_budget = over_record_budget(p);
  view.interrupted = interrupt_pending();
  return writer_may_go_on(view);
}

// Wakes every sleeping scanner (under the lock).
void wake_all(scan_pool& p) {
  if (p.idle_small > 0) p.work_ready.notify_all();
  if (p.idle_wide > 0) p.wide_ready.notify_all();
}

// Under the lock: the scanner has finished with the file.
void mark_done(scan_pool& p, scan_slot& slot) {
  slot.done = true;
  ++p.done_count;
  p.waiting_record_bytes += slot.record.size();
  if (!slot.skipped) p.reads_waited = count_read(p.reads_waited, slot.waited);
}

// One lock per file: the file read is marked done as the next one is taken.
// `index` counts the scanners in the order they started.
void run_scanner(scan_pool& p, int index, bool takes_large) {
  // A scanner never ends the run: every allocation that fails on it is answered
  // in its slot.
  local_allocation_failures whole_thread;
  std::unique_ptr<message_scan> scan = make_scan(p);
  scan_slot* reading = nullptr;
  std::condition_variable& ready = takes_large ? p.wide_ready : p.work_ready;
  int& idle = takes_large ? p.idle_wide : p.idle_small;
  std::unique_lock<std::mutex> lock(p.lock);
  for (;;) {
    // The writer is woken once the lock is let go: woken while it is held, it
    // would only wait for the lock next.
    bool wake_writer = false;
    if (reading) {
      mark_done(p, *reading);
      wake_writer = p.writer_waiting && writer_can_go_on(p);
    }
    if (wake_writer) {
      lock.unlock();
      p.slot_done.notify_one();
      lock.lock();
    }
    while (!(reading = file_to_take(p.ring, takes_large, over_record_budget(p)))) {
      // Done once the walk has ended and nothing is left for this scanner.
      if (p.closing && !file_to_take(p.ring, takes_large, false)) {
        if (scan) free_file_hashes(scan->hashes);
        return;
      }
      ++idle;
      ready.wait(lock);
      --idle;
    }
    take(p.ring, *reading);
    lock.unlock();
    if (g_scanner_fault_points.scanner_took_file) g_scanner_fault_points.scanner_took_file();
    read_slot(p, scan, *reading);
    if (scan && gives_back_scan_pages(index, reading->record.size())) give_back_scan_pages(*scan);
    lock.lock();
  }
}

// The walk's thread, without the lock: one more scanner; false when the system
// has no thread (or no memory for one) to spare, and then none is asked for again.
bool start_scanner(scan_pool& p) {
  if (p.threads_refused || p.memory_ran_out) return false;
  if (g_scanner_fault_points.starting_scanner) g_scanner_fault_points.starting_scanner();
  int index = static_cast<int>(p.scanners.size());
  bool takes_large = index < p.wide_count;
  local_allocation_failures local;
  try {
    std::thread scanner(run_scanner, std::ref(p), index, takes_large);
    // The capacity was reserved at start: this cannot allocate.
    p.scanners.push_back(std::move(scanner));
  } catch (const std::system_error&) {
    p.threads_refused = true;
  } catch (const std::bad_alloc&) {
    p.threads_refused = true;
  }
  return !p.threads_refused;
}

// The walk's thread, without the lock: the scanners the reads call for.
void start_wanted_scanners(scan_pool& p) {
  int wanted = scanners_wanted(p.walk_saw_reads_waited, p.asked_for, p.cores);
  while (static_cast<int>(p.scanners.size()) < wanted && start_scanner(p)) {
  }
}

// What the pool needs before its first scanner: the ring, room for the threads
// and the walk's own scan. False when memory ran out for them.
bool reserve_pool(scan_pool& p, int count) {
  local_allocation_failures local;
  try {
    make_ring(p.ring, ring_slots(count));
    p.scanners.reserve(static_cast<std::size_t>(count));
  } catch (const std::bad_alloc&) {
    p.ring.slots.clear();
    return false;
  }
  p.walk_scan = make_scan(p);
  return p.walk_scan != nullptr;
}

// The first scanners, as many as there are cores; the rest only once reads wait
// for the storage: while the cache serves them, more threads and a longer ring
// only take turns and wear the caches. Where none can start, the walk's thread
// reads every file, as with one scanner.
void start_scanners(scan_pool& p, int count) {
  p.started = true;
  p.walk_thread = std::this_thread::get_id();
  p.cores = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
  p.asked_for = count;
  p.wide_count = std::min(count, k_wide_scanners);
  p.open_files_limit = g_platform.open_files_limit();
  g_platform.share_one_heap();
  if (!reserve_pool(p, count)) return;
  start_wanted_scanners(p);
  if (!p.scanners.empty()) hold_messages(&p.walk_messages);
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
  if (slot.result == scan_result::out_of_memory) {
    // Its record is not whole: the run ends before it, as one scanner's would.
    report_out_of_memory();
    drop_held_messages(slot.after);
  } else {
    if (slot.counted) ++g_file_count;
    add_outlook_counts(g_outlook_counts, slot.outlook_gave);
    if (slot.by_message || lists_by_message(settled_scan_options())) {
      write_records_one_by_one(slot.record);
      g_undated_count += slot.undated;
    } else {
      write_listing_text(g_out_file, slot.record);
      note_whole_record();
    }
    release_held_messages(slot.after);
  }
  if (slot.record.capacity() > k_kept_record_capacity) std::string().swap(slot.record);
  p.stop = stop_after_record(slot.result);
  if (p.stop != stop_reason::go_on) p.abandoned.store(true);
  hold_messages(walk);
}

// Under the lock: how many files from the head on are done; they are the
// writer's from now on.
uint64_t collect_done_files(scan_pool& p) {
  bool was_over = over_record_budget(p);
  uint64_t run = 0;
  for (; p.ring.writer_at + run < p.ring.handed; ++run) {
    scan_slot& slot = slot_of(p.ring, p.ring.writer_at + run);
    if (!slot.done) break;
    p.waiting_record_bytes -= slot.record.size();
  }
  p.done_count -= run;
  // Scanners held back by the budget may go on.
  if (was_over && !over_record_budget(p)) wake_all(p);
  return run;
}

// Under the lock: wakes sleeping scanners for the files the writer waits for.
void wake_for_writer(scan_pool& p) {
  bool wake_wide = false;
  int small = scanners_to_wake_for_writer(wake_view_of(p, false), wake_wide);
  if (reads_wait_for_storage(p.reads_waited)) {
    wake_all(p);
    return;
  }
  if (wake_wide) p.wide_ready.notify_one();
  for (int i = 0; i < small; ++i) p.work_ready.notify_one();
}

// Reads a waiting file on the walk's thread (taken, under `lock`): on a warm cache
// the scanners are the slower side, and a wait would leave a core idle.
void read_on_walk_thread(scan_pool& p, std::unique_lock<std::mutex>& lock, scan_slot& slot) {
  take(p.ring, slot);
  lock.unlock();
  read_slot(p, p.walk_scan, slot);
  lock.lock();
  mark_done(p, slot);
}

// Under the lock: the file the walk's thread may read itself while it waits, or
// null. After an interrupt, the head whatever its size: it then ends after one
// read, and the run need not wait for a scanner to be free. Never once memory ran
// out: a read allocates.
scan_slot* file_for_walk_thread(scan_pool& p) {
  if (p.memory_ran_out) return nullptr;
  if (interrupt_pending()) {
    if (p.ring.written == p.ring.handed) return nullptr;
    scan_slot& head = slot_of(p.ring, p.ring.written);
    return head.taken ? nullptr : &head;
  }
  return file_to_take(p.ring, false, over_record_budget(p));
}

// Waits (under `lock`) until the writer may go on, reading files itself
// meanwhile; files still waiting for a scanner must not also wait for a wake-up.
// Looks at the interrupt flag at least every k_interrupt_poll.
void wait_for_writable_files(scan_pool& p, std::unique_lock<std::mutex>& lock) {
  wake_for_writer(p);
  while (!writer_can_go_on(p)) {
    if (scan_slot* slot = file_for_walk_thread(p)) {
      read_on_walk_thread(p, lock, *slot);
      continue;
    }
    p.writer_waiting = true;
    p.slot_done.wait_for(lock, k_interrupt_poll);
    p.writer_waiting = false;
  }
}

// Writes the `count` files collected at the head. Their slots are given back the
// next time the writer takes the lock (publish_walk), which it does before it
// ever waits: one lock a file for the writer, not two.
void write_files(scan_pool& p, uint64_t count) {
  for (uint64_t i = 0; i < count; ++i) write_slot(p, slot_of(p.ring, p.ring.writer_at++));
}

// Under the lock: the files filled are the scanners' now; returns the scanner to
// wake once the lock is let go.
std::condition_variable* hand_over(scan_pool& p) {
  publish_walk(p.ring);
#ifndef NDEBUG
  if (const char* fault = ring_fault(p.ring)) {
    std::fprintf(stderr, "scan ring broken: %s\n", fault);
    std::abort();
  }
#endif
  wake_choice choice = scanner_to_wake(wake_view_of(p, p.batch_has_large));
  p.batch_has_large = false;
  p.walk_saw_waits = reads_wait_for_storage(p.reads_waited);
  p.walk_saw_reads_waited = p.reads_waited;
  if (choice == wake_choice::small) return &p.work_ready;
  if (choice == wake_choice::wide) return &p.wide_ready;
  return nullptr;
}

// Without the lock, after a hand-over: the scanners the reads now call for.
void after_hand_over(scan_pool& p, std::condition_variable* to_wake) {
  if (to_wake) to_wake->notify_one();
  if (g_scanner_fault_points.walk_handed_over) g_scanner_fault_points.walk_handed_over();
  start_wanted_scanners(p);
}

// Gives back the slots written, waits until the files at the head may be
// written, and writes them; nothing when no file is on its way.
void wait_and_write(scan_pool& p) {
  std::unique_lock<std::mutex> lock(p.lock);
  std::condition_variable* to_wake = hand_over(p);
  if (p.ring.written == p.ring.handed) {
    lock.unlock();
    after_hand_over(p, to_wake);
    return;
  }
  wait_for_writable_files(p, lock);
  uint64_t writable = collect_done_files(p);
  lock.unlock();
  after_hand_over(p, to_wake);
  write_files(p, writable);
}

// Writes what is done until fewer than `limit` files are on their way, or a
// record stopped the run.
void wait_for_room(scan_pool& p, uint64_t limit) {
  while (p.stop == stop_reason::go_on && p.ring.filled - p.ring.writer_at >= limit) {
    wait_and_write(p);
  }
}

// wait_for_room for a file already open: false, with the file closed, when a
// record stopped the run meanwhile.
bool room_for_file(scan_pool& p, uint64_t limit, read_handle file) {
  wait_for_room(p, limit);
  if (p.stop == stop_reason::go_on) return true;
  close_if_open(file);
  return false;
}

// A large file that may be a mailbox, and a large Outlook data file, are read on
// the walk's thread once every file before it is written: its records go straight
// to the listing, however many, where a slot would hold them all.
stop_reason read_on_walk_thread(scan_pool& p, const std::string& path, read_handle file,
                                int64_t size, const file_dates& dates, bool counted,
                                bool outlook) {
  if (!room_for_file(p, 1, file)) return p.stop;
  // The walk's messages since the last file come first, as with one scanner.
  hold_messages(nullptr);
  release_held_messages(p.walk_messages);
  if (counted) ++g_file_count;
  p.walk_scan->record.held = nullptr;
  p.stop = outlook ? list_outlook_file(*p.walk_scan, path, file, size, dates)
                   : scan_opened_message(*p.walk_scan, path, file, size, dates);
  if (p.stop != stop_reason::go_on) p.abandoned.store(true);
  hold_messages(&p.walk_messages);
  return p.stop;
}

bool scanners_at_work(const scan_pool& p) {
  return !p.scanners.empty() && std::this_thread::get_id() == p.walk_thread;
}

}  // namespace

int scanner_count() { return settled_scan_options().scanners; }

stop_reason make_room_to_open(int64_t directories_held) {
  scan_pool& p = pool();
  if (!scanners_at_work(p)) return stop_reason::go_on;
  int64_t room = descriptor_room(p.open_files_limit, directories_held);
  // The file about to be opened is one on its way too.
  uint64_t limit = room == INT64_MAX ? UINT64_MAX : static_cast<uint64_t>(room) + 1;
  if (limit != p.descriptor_limit) {
    std::lock_guard<std::mutex> lock(p.lock);
    p.descriptor_limit = limit;
  }
  wait_for_room(p, on_their_way_now(p));
  return p.stop;
}

stop_reason list_selected_file(const std::string& path, read_handle file, int64_t size,
                               const file_dates& dates, bool counted) {
  int count = scanner_count();
  scan_pool& p = pool();
  if (count > 1 && !p.started) start_scanners(p, count);
  const scan_options& options = settled_scan_options();
  bool outlook = options.outlook && file != k_no_file && is_outlook_file(path);
  // One scanner, or the system had no thread to spare: read on the walk's thread.
  if (p.scanners.empty()) {
    if (counted) ++g_file_count;
    if (outlook) return list_outlook_file(run_scan(), path, file, size, dates);
    return scan_opened_message(path, file, size, dates);
  }
  if ((outlook && size > k_outlook_slot_size) || (options.mailbox && size > k_large_file)) {
    return read_on_walk_thread(p, path, file, size, dates, counted, outlook);
  }
  // As many files on their way as may be: room comes from writing those at the head.
  if (!room_for_file(p, on_their_way_now(p), file)) return p.stop;
  // Filled whole before it counts: what allocates comes first.
  scan_slot& slot = next_free_slot(p.ring);
  slot.path.assign(path);
  move_held_messages(slot.before, p.walk_messages);
  slot.file = file;
  slot.size = size;
  slot.dates = dates;
  slot.counted = counted;
  slot.outlook = outlook;
  commit_slot(p.ring);
  p.batch_has_large |= is_large(slot);
  if (p.ring.filled - p.ring.handed >= hand_over_batch(p.walk_saw_waits)) {
    std::unique_lock<std::mutex> lock(p.lock);
    std::condition_variable* to_wake = hand_over(p);
    uint64_t writable = collect_done_files(p);
    lock.unlock();
    after_hand_over(p, to_wake);
    write_files(p, writable);
  }
  if (p.stop != stop_reason::go_on) return p.stop;
  if (interrupt_pending()) return stop_reason::interrupted;
  return stop_reason::go_on;
}

stop_reason finish_scans(bool memory_ran_out) {
  scan_pool& p = pool();
  if (!scanners_at_work(p)) return p.stop;
  p.memory_ran_out = p.memory_ran_out || memory_ran_out;
  // A failure of the walk after the last file handed over is held with its
  // messages: the files before it are written first, without it.
  hold_messages(nullptr);
  {
    std::lock_guard<std::mutex> lock(p.lock);
    hand_over(p);
    p.closing = true;
    wake_all(p);
  }
  while (p.ring.writer_at < p.ring.handed) wait_and_write(p);
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
