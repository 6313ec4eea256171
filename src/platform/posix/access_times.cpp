// POSIX backend: opens that keep the last-access time, and the count of those
// that could not.
#include <set>
#include <utility>

#include "platform/posix/backend.h"

namespace posix_backend {

namespace {

// Files and directories whose last-access time an open could not keep.
access_time_counts s_access_times;
// Device and inode of the directories counted there: a directory is opened
// once per search of it, but counted once.
std::set<std::pair<uint64_t, uint64_t>> s_counted_directories;

void count_access_time_not_kept(int fd, bool directory) {
  if (!directory) {
    ++s_access_times.files;
    return;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) return;
  dir_identity id = identity_of(st);
  if (s_counted_directories.insert({id.volume, id.index_low}).second) ++s_access_times.directories;
}

}  // namespace

// Opens for reading without changing the last-access time: O_NOATIME, which
// the system grants only to the owner (or a process that may act as owner).
// Refused (EPERM), the open is made plainly and counted.
int open_keeping_access_time(int at, const char* name, int flags, bool directory) {
#ifdef O_NOATIME
  int kept = open_freeing_descriptors([&] { return openat(at, name, flags | O_NOATIME); });
  if (kept >= 0 || errno != EPERM) return kept;
#endif
  int fd = open_freeing_descriptors([&] { return openat(at, name, flags); });
  if (fd >= 0) count_access_time_not_kept(fd, directory);
  return fd;
}

// Opens a path of any length without changing its last-access time; -1 with
// the failure noted.
int open_path_keeping_access_time(const std::string& path, int flags, bool directory) {
  reached_path reached;
  int fd = -1;
  if (reach(path, reached))
    fd = open_keeping_access_time(reached.at, reached.name, flags, directory);
  if (fd < 0) note_failure(errno);
  return fd;
}

access_time_counts posix_access_times_not_kept() { return s_access_times; }

}  // namespace posix_backend
