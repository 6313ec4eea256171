#include "platform/kept_listing.h"

#include <cstring>

namespace {

// Empty; or being read by `recorder`; or, once its reader reached the end,
// complete, with no recorder.
struct kept_listing {
  std::string directory;
  directory_stamp stamp;
  std::vector<char> records;       // per entry: the name, a NUL, the listing's type byte
  const void* recorder = nullptr;  // the search that is reading it, until its end
};
kept_listing s_kept;

bool kept_listing_complete() { return !s_kept.directory.empty() && s_kept.recorder == nullptr; }

void keep_listing_of(const std::string& directory, const directory_stamp& stamp) {
  s_kept.directory = directory;
  s_kept.stamp = stamp;
}

}  // namespace

void forget_kept_listing() {
  s_kept.directory.clear();
  s_kept.records.clear();
  s_kept.recorder = nullptr;
}

std::size_t kept_listing_memory() { return s_kept.records.capacity(); }

bool start_kept_listing(const void* search, const std::string& directory,
                        const directory_stamp* stamp, listing_replay& replay) {
  replay.replaying =
      stamp && kept_listing_complete() && s_kept.directory == directory && s_kept.stamp == *stamp;
  if (replay.replaying) replay.records.swap(s_kept.records);
  forget_kept_listing();
  if (replay.replaying || !stamp) return replay.replaying;
  keep_listing_of(directory, *stamp);
  s_kept.recorder = search;
  return false;
}

// The buffer is taken at the limit's size at once, since only the pages a listing
// fills count; grown by doubling, it would hold the old and the new copy at once
// and end near twice the limit. A listing that outgrew the limit gives it back: a
// directory of 100,000 names keeps nothing in memory.
void reserve_the_limit() {
  if (s_kept.records.capacity() < k_kept_listing_limit)
    s_kept.records.reserve(k_kept_listing_limit);
}

void keep_listed_name(const void* search, const char* name, unsigned char type) {
  if (s_kept.recorder != search) return;
  std::size_t length = std::strlen(name);
  if (s_kept.records.size() + length + 2 > k_kept_listing_limit) {
    forget_kept_listing();
    std::vector<char>().swap(s_kept.records);
    return;
  }
  reserve_the_limit();
  s_kept.records.insert(s_kept.records.end(), name, name + length + 1);
  s_kept.records.push_back(static_cast<char>(type));
}

void end_listing_read(const void* search, bool complete) {
  if (s_kept.recorder != search) return;
  if (complete)
    s_kept.recorder = nullptr;
  else
    forget_kept_listing();
}

bool next_replayed_name(listing_replay& replay, const char*& name, unsigned char& type) {
  if (replay.at >= replay.records.size()) return false;
  name = replay.records.data() + replay.at;
  std::size_t length = std::strlen(name);
  type = static_cast<unsigned char>(replay.records[replay.at + length + 1]);
  replay.at += length + 2;
  return true;
}

void finish_kept_listing(const void* search, const std::string& directory,
                         const directory_stamp& stamp, listing_replay& replay) {
  if (s_kept.recorder == search) forget_kept_listing();
  if (replay.replaying && s_kept.directory.empty()) {
    keep_listing_of(directory, stamp);
    s_kept.records.swap(replay.records);
  }
}
