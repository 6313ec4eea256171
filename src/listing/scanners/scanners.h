// Several files read at once: the walk hands each selected file to one of several
// scanner threads and goes on, and one writer (the walk's own thread) writes the
// records and their messages in walk order. The listing, the messages and the
// counts are those of a run that reads one file after another.
#pragma once

#include <cstdint>
#include <string>

#include "INCLUDE_U/dates.h"
#include "INCLUDE_U/stops.h"
#include "platform/platform.h"


// The number of scanners this run uses: the setting, which start-up sets to the
// default; one for a record that no start-up filled (0).
int scanner_count();

// Waits, writing the records that are done, until one more file (or directory)
// may be opened: the files on their way hold their descriptors, and
// `directories_held` (the walk's open directories) hold theirs. Returns the stop
// of the records written meanwhile (go_on while there is none).
stop_reason make_room_to_open(int64_t directories_held);

// Lists one selected file, opened by the caller (k_no_file when its open failed;
// the file is closed here); `counted` when it counts among the files listed. With
// one scanner it is read here and now; otherwise it waits for a scanner, and what
// is returned is the stop of the records written so far (go_on while there is
// none), or interrupted when an interrupt is pending.
stop_reason list_selected_file(const std::string& path, read_handle file, int64_t size,
                               const file_dates& dates, bool counted);

// Waits for every file handed over and writes their records in walk order, then
// the walk's messages still held; a record that stops the run ends the writing,
// and the files after it are not listed. Returns that stop (go_on when none). No
// scanner runs afterwards. Does nothing off the thread that handed the files over.
// After memory ran out (`memory_ran_out`) the walk's thread neither reads nor
// starts a thread meanwhile: nothing on the way to the end allocates.
stop_reason finish_scans(bool memory_ran_out = false);

// Where a test program injects a fault (an allocation failure, a slow read):
// each is called, when set, on the thread named. Null in the program.
struct scanner_fault_points {
  void (*scanner_took_file)() = nullptr;  // a scanner, before it reads the file it took
  void (*walk_handed_over)() = nullptr;   // the walk, after it handed files over
  void (*starting_scanner)() = nullptr;   // the walk, before it starts a thread
};
extern scanner_fault_points g_scanner_fault_points;
