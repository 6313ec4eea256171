#include "listing/sources/read_ahead.h"

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>

#include "INCLUDE_U/stops.h"

namespace {

// Four parts of 256 KB: the reads keep a few parts ahead of the scan, in memory
// that stays in the processor's caches.
constexpr std::size_t k_part_bytes = std::size_t{1} << 18;
constexpr std::size_t k_parts = 4;

}  // namespace

struct read_ahead {
  read_handle file = k_no_file;
  std::unique_ptr<char[]> bytes;  // k_parts parts of k_part_bytes
  std::mutex lock;
  std::condition_variable changed;
  // Under the lock: parts filled by the reader, parts the scan has used up, how
  // many bytes each part holds, and how the reads ended.
  uint64_t filled = 0;
  uint64_t used = 0;
  std::array<std::size_t, k_parts> sizes{};
  bool finished = false;
  bool failed = false;
  bool stopping = false;
  // Set by the reader before `finished`, read after it.
  failure_kind failure = failure_kind::none;
  std::string reason;
  // The scan's own: how much of the part at `used` it has taken.
  std::size_t taken = 0;
  std::thread reader;
};

namespace {

// Fills one part: whole, unless the file ends or a read fails. Returns the bytes
// read; `last` is what the last read gave.
std::size_t fill_part(read_ahead& ahead, char* into, int64_t& last) {
  std::size_t size = 0;
  while (size < k_part_bytes) {
    last = g_platform.read_bytes(ahead.file, into + size, static_cast<int64_t>(k_part_bytes - size));
    if (last <= 0) break;
    size += static_cast<std::size_t>(last);
  }
  return size;
}

// What a failed read met, said in words; a lack of memory for the words is
// one of the things that can be said.
failure_kind failure_of_read(std::string& reason) {
  try {
    return g_platform.last_failure(reason);
  } catch (const std::bad_alloc&) {
    reason.clear();
    return failure_kind::no_resources;
  }
}

void read_parts(read_ahead& ahead) {
  // This thread allocates only the failure's words, and a failure there must not
  // end the run from here: only the walk's thread does that.
  local_allocation_failures whole_thread;
  for (uint64_t part = 0;; ++part) {
    {
      std::unique_lock<std::mutex> hold(ahead.lock);
      ahead.changed.wait(hold, [&] { return ahead.stopping || ahead.filled - ahead.used < k_parts; });
      if (ahead.stopping) return;
    }
    int64_t last = 0;
    std::size_t size = fill_part(ahead, ahead.bytes.get() + (part % k_parts) * k_part_bytes, last);
    if (last < 0) ahead.failure = failure_of_read(ahead.reason);
    std::lock_guard<std::mutex> hold(ahead.lock);
    ahead.sizes[part % k_parts] = size;
    if (size > 0) ++ahead.filled;
    if (last <= 0) {
      ahead.finished = true;
      ahead.failed = last < 0;
    }
    ahead.changed.notify_all();
    if (ahead.finished) return;
  }
}

}  // namespace

read_ahead* start_read_ahead(read_handle file) {
  if (file == k_no_file) return nullptr;
  // Memory and a thread are asked for here, where their lack only means the file
  // is read without them.
  local_allocation_failures local;
  std::unique_ptr<read_ahead> ahead(new (std::nothrow) read_ahead);
  if (!ahead) return nullptr;
  ahead->file = file;
  ahead->bytes.reset(new (std::nothrow) char[k_parts * k_part_bytes]);
  if (!ahead->bytes) return nullptr;
  try {
    ahead->reader = std::thread(read_parts, std::ref(*ahead));
  } catch (const std::system_error&) {
    return nullptr;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  return ahead.release();
}

int64_t read_ahead_bytes(read_ahead& ahead, char* into, int64_t wanted) {
  int64_t given = 0;
  while (given < wanted) {
    std::size_t size = 0;
    uint64_t part = 0;
    {
      std::unique_lock<std::mutex> hold(ahead.lock);
      ahead.changed.wait(hold, [&] { return ahead.filled > ahead.used || ahead.finished; });
      if (ahead.filled == ahead.used) return given == 0 && ahead.failed ? -1 : given;
      part = ahead.used;
      size = ahead.sizes[part % k_parts];
    }
    std::size_t n = std::min(size - ahead.taken, static_cast<std::size_t>(wanted - given));
    std::memcpy(into + given, ahead.bytes.get() + (part % k_parts) * k_part_bytes + ahead.taken, n);
    ahead.taken += n;
    given += static_cast<int64_t>(n);
    if (ahead.taken == size) {
      ahead.taken = 0;
      std::lock_guard<std::mutex> hold(ahead.lock);
      ++ahead.used;
      ahead.changed.notify_all();
    }
  }
  return given;
}

failure_kind stop_read_ahead(read_ahead* ahead, std::string& reason) {
  if (!ahead) return failure_kind::none;
  {
    std::lock_guard<std::mutex> hold(ahead->lock);
    ahead->stopping = true;
    ahead->changed.notify_all();
  }
  ahead->reader.join();
  failure_kind failure = ahead->failed ? ahead->failure : failure_kind::none;
  if (ahead->failed) reason.swap(ahead->reason);
  delete ahead;
  return failure;
}
