// The ring of files on their way from the walk to the listing: its slots, and
// the sequence numbers that say whose turn each slot is.
//
// Every file selected gets the next sequence number; its slot is number modulo
// the ring's size. The numbers only grow, and always
//
//     written <= writer_at <= untaken <= handed <= filled,   filled - writer_at <= slots
//
//   [writer_at, filled)  files on their way, the walk's count of them;
//   [handed, filled)     filled by the walk, not yet handed over: the walk's alone;
//   [untaken, handed)    handed over: a scanner may take one that is not `taken`
//                        (files before `untaken` all are; before `untaken_small`,
//                        all are taken or large);
//   taken, not done      the scanner that took it reads it, and it alone;
//   done                 read: its record and messages wait for the writer;
//   [written, writer_at) collected by the writer, who writes them without the lock;
//   before `written`     written: the slot is free again.
//
// The walk's thread is the writer. It fills slot `filled` only while fewer than
// the ring's size are on their way: the slot's last file is then written.
// `handed`, `untaken`, `untaken_small`, `written` and the slots' `taken` and
// `done` change under the pool's lock; `filled` and `writer_at` belong to the
// walk's thread, which publishes them as `handed` and `written` under the lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "INCLUDE_U/dates.h"
#include "INCLUDE_U/messages.h"
#include "listing/new_do_eml.h"
#include "listing/outlook_listing.h"
#include "platform/platform.h"

// One file on its way. The walk fills it, one scanner reads it, the writer
// writes it; the sequence numbers say whose turn it is, so its fields need no
// lock of their own.
struct scan_slot {
  std::string path;
  read_handle file = k_no_file;
  int64_t size = 0;
  file_dates dates;
  bool counted = false;
  bool outlook = false;  // an Outlook data file, to be read through libpff
  bool taken = false;    // a scanner has it (under the lock)
  bool done = false;     // the scanner has finished with it (under the lock)
  bool skipped = false;  // the run was being abandoned: it was not read
  bool waited = false;   // its reads took longer than the page cache would need
  scan_result result = scan_result::done;
  std::string record;    // the record (a mailbox's records) as the listing gets it
  bool by_message = false;  // the records are an Outlook file's, one per message
  outlook_counts outlook_gave;  // what the Outlook file gave, counted once written
  int64_t undated = 0;   // messages left out for want of a sent date
  held_messages before;  // the walk's messages since the last file, the progress line
  held_messages after;   // the failed read
};

struct scan_ring {
  std::vector<std::unique_ptr<scan_slot>> slots;
  uint64_t written = 0;        // under the lock
  uint64_t writer_at = 0;      // the walk's thread
  uint64_t untaken = 0;        // under the lock
  uint64_t untaken_small = 0;  // under the lock
  uint64_t handed = 0;         // under the lock; only the walk's thread moves it
  uint64_t filled = 0;         // the walk's thread
};

// Makes the ring's `count` slots, every number at 0.
void make_ring(scan_ring& ring, uint64_t count);
scan_slot& slot_of(scan_ring& ring, uint64_t sequence);
bool is_large(const scan_slot& slot);

// Under the lock: the first waiting file a scanner may take, or null. Past the
// records' budget only the file the writer needs next (`written`, the head): the
// budget must never hold back the one file that lets the writer free it.
scan_slot* file_to_take(scan_ring& ring, bool takes_large, bool only_the_head);
// Under the lock: the scanner takes `slot`.
void take(scan_ring& ring, scan_slot& slot);
// The walk's thread: the slot the next file goes in (the caller has checked that
// fewer than the ring's size are on their way); once its file's facts are in,
// commit_slot counts it as filled.
scan_slot& next_free_slot(scan_ring& ring);
void commit_slot(scan_ring& ring);
// Under the lock: the files filled are the scanners' now, and the slots written
// are free again.
void publish_walk(scan_ring& ring);

// Null when the numbers and slots keep the rules above; otherwise the first rule
// broken. Under the lock (it allocates nothing); checked after every hand-over in
// debug builds.
const char* ring_fault(const scan_ring& ring);
