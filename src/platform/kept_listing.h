// The kept directory listing of the POSIX directory search.
//
// The walk reads a directory for its subdirectories and then once more for each
// file-type pattern. A directory read to its end is kept here, so that the next
// searches of that directory, when no other directory was searched in between (a
// directory without subdirectories), take its names from memory instead of
// reading it again. A listing larger than the limit is not kept. The directory's
// identity and last change are noted before it is read: a directory replaced or
// changed since is read again. (A change within the same tick of the file
// system's clock may go unnoticed, as a change made while a directory is read may
// go unseen by that read.)
//
// Plain C++ without system headers, so that its rules are tested on every build.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

// What is noted of a directory before it is read.
struct directory_stamp {
  dir_identity identity;
  int64_t changed_seconds = 0;
  long changed_nanoseconds = 0;
  bool operator==(const directory_stamp&) const = default;
};

// A search's own side: a search served from the kept listing owns it while it
// runs, so a search of another directory meanwhile cannot change it.
struct listing_replay {
  bool replaying = false;
  std::vector<char> records;  // per entry: the name, a NUL, the listing's type byte
  std::size_t at = 0;
};

// Listings kept beyond this many bytes are dropped.
inline constexpr std::size_t k_kept_listing_limit = 256 * 1024;

// Starts the search `search` of `directory`, stamped (null when it could not be):
// true when the kept listing of that directory, unchanged, serves it from `replay`;
// otherwise a stamped search records what it reads.
bool start_kept_listing(const void* search, const std::string& directory,
                        const directory_stamp* stamp, listing_replay& replay);
// Records one name the search read from the directory itself.
void keep_listed_name(const void* search, const char* name, unsigned char type);
// The search read its directory to the end (`complete`) or stopped at an error,
// which leaves nothing kept.
void end_listing_read(const void* search, bool complete);
// The next name of a replayed listing; false at its end.
bool next_replayed_name(listing_replay& replay, const char*& name, unsigned char& type);
// The search is done. A listing it replayed is kept again when no other search
// replaced it meanwhile: the next file-type pattern of the same directory may use it.
void finish_kept_listing(const void* search, const std::string& directory,
                         const directory_stamp& stamp, listing_replay& replay);
// Forgets the kept listing.
void forget_kept_listing();
// The bytes the kept listing holds allocated, at most the limit.
std::size_t kept_listing_memory();
