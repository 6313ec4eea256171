#include "listing/scanners/scan_ring.h"

#include <algorithm>

#include "listing/scanners/scan_policy.h"

void make_ring(scan_ring& ring, uint64_t count) {
  ring.slots.clear();
  for (uint64_t i = 0; i < count; ++i) ring.slots.push_back(std::make_unique<scan_slot>());
  ring.written = ring.writer_at = ring.untaken = ring.untaken_small = 0;
  ring.handed = ring.filled = 0;
}

scan_slot& slot_of(scan_ring& ring, uint64_t sequence) {
  return *ring.slots[sequence % ring.slots.size()];
}

bool is_large(const scan_slot& slot) { return slot.size > k_wide_file; }

scan_slot* file_to_take(scan_ring& ring, bool takes_large, bool only_the_head) {
  uint64_t first = takes_large ? ring.untaken : ring.untaken_small;
  for (uint64_t sequence = first; sequence < ring.handed; ++sequence) {
    if (only_the_head && sequence != ring.written) return nullptr;
    scan_slot& slot = slot_of(ring, sequence);
    if (!slot.taken && (takes_large || !is_large(slot))) return &slot;
  }
  return nullptr;
}

void take(scan_ring& ring, scan_slot& slot) {
  slot.taken = true;
  while (ring.untaken < ring.handed && slot_of(ring, ring.untaken).taken) ++ring.untaken;
  ring.untaken_small = std::max(ring.untaken_small, ring.untaken);
  while (ring.untaken_small < ring.handed) {
    const scan_slot& next = slot_of(ring, ring.untaken_small);
    if (!next.taken && !is_large(next)) break;
    ++ring.untaken_small;
  }
}

scan_slot& next_free_slot(scan_ring& ring) { return slot_of(ring, ring.filled); }

void commit_slot(scan_ring& ring) {
  scan_slot& slot = slot_of(ring, ring.filled);
  slot.taken = false;
  slot.done = false;
  slot.skipped = false;
  slot.waited = false;
  slot.result = scan_result::done;
  ++ring.filled;
}

void publish_walk(scan_ring& ring) {
  ring.written = ring.writer_at;
  ring.handed = ring.filled;
}

const char* ring_fault(const scan_ring& ring) {
  if (ring.slots.empty()) return "the ring has no slots";
  if (ring.written > ring.writer_at) return "written is past writer_at";
  if (ring.writer_at > ring.untaken) return "writer_at is past untaken";
  if (ring.untaken > ring.untaken_small) return "untaken is past untaken_small";
  if (ring.untaken_small > ring.handed) return "untaken_small is past handed";
  if (ring.handed > ring.filled) return "handed is past filled";
  if (ring.filled - ring.writer_at > ring.slots.size()) return "more on their way than slots";
  auto slot = [&](uint64_t sequence) -> const scan_slot& {
    return *ring.slots[sequence % ring.slots.size()];
  };
  for (uint64_t s = ring.writer_at; s < ring.untaken; ++s) {
    if (!slot(s).taken) return "a file before untaken is not taken";
  }
  for (uint64_t s = ring.untaken; s < ring.untaken_small; ++s) {
    if (!slot(s).taken && !is_large(slot(s))) return "a small file before untaken_small waits";
  }
  for (uint64_t s = ring.writer_at; s < ring.handed; ++s) {
    if (slot(s).done && !slot(s).taken) return "a file is done that nobody took";
  }
  for (uint64_t s = ring.handed; s < ring.filled; ++s) {
    if (slot(s).taken || slot(s).done) return "a file not handed over is taken";
  }
  if (ring.untaken < ring.handed && slot(ring.untaken).taken) return "untaken is taken";
  return nullptr;
}
