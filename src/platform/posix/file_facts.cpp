// POSIX backend: the facts of a file (statx), its identity and attributes.
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <time.h>

#include "platform/posix/backend.h"

namespace posix_backend {

namespace {

file_ticks to_ticks(const struct timespec& ts) {
  int64_t seconds = static_cast<int64_t>(ts.tv_sec) + k_seconds_1601_to_1970;
  if (seconds < 0) return 0;
  return static_cast<file_ticks>(seconds) * k_ticks_per_second +
         static_cast<file_ticks>(ts.tv_nsec / 100);
}

uint32_t attributes_of(std::string_view name, mode_t mode) {
  uint32_t attributes = 0;
  if (S_ISDIR(mode)) attributes |= k_attr_directory;
  if ((mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) attributes |= k_attr_readonly;
  if (name.size() > 1 && name[0] == '.' && name != "..") attributes |= k_attr_hidden;
  return attributes;
}

file_ticks ticks_of(const struct statx_timestamp& t) {
  struct timespec s;
  s.tv_sec = t.tv_sec;
  s.tv_nsec = t.tv_nsec;
  return to_ticks(s);
}

// The device and inode as identity_of gives them from a stat record.
dir_identity identity_from(const struct statx& sx) {
  dir_identity id;
  id.volume = static_cast<uint64_t>(makedev(sx.stx_dev_major, sx.stx_dev_minor));
  id.index_low = static_cast<uint64_t>(sx.stx_ino);
  return id;
}

file_ticks created_ticks_of(const struct statx& sx) {
  // Creation times exist only where the file system keeps them; 0 reads as never set.
  return (sx.stx_mask & STATX_BTIME) ? ticks_of(sx.stx_btime) : 0;
}

}  // namespace

dir_identity identity_of(const struct stat& st) {
  dir_identity id;
  id.volume = static_cast<uint64_t>(st.st_dev);
  id.index_low = static_cast<uint64_t>(st.st_ino);
  return id;
}

std::string_view base_name(std::string_view path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// Fills `entry` from the facts of a file. FIFOs, devices and sockets are refused:
// reading them could block or never end. The name is assigned in place, so a
// reused entry allocates nothing.
bool fill_entry_from(const struct statx& sx, std::string_view name, dir_entry& entry) {
  mode_t mode = sx.stx_mode;
  if (!S_ISREG(mode) && !S_ISDIR(mode)) return false;
  entry.name.assign(name);
  entry.attributes = attributes_of(name, mode);
  entry.size = S_ISDIR(mode) ? 0 : static_cast<int64_t>(sx.stx_size);
  entry.access_ticks = ticks_of(sx.stx_atime);
  entry.write_ticks = ticks_of(sx.stx_mtime);
  entry.create_ticks = created_ticks_of(sx);
  // The identity comes with the other facts: telling the run's own files apart
  // costs no call of its own.
  entry.identity = identity_from(sx);
  entry.identity_known = true;
  return true;
}

// The same for the file `path` names relative to the directory `at` (links followed).
bool fill_entry(int at, const char* path, std::string_view name, dir_entry& entry) {
  struct statx sx;
  if (statx(at, path, AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) {
    note_failure(errno);
    return false;
  }
  note_failure(0);
  return fill_entry_from(sx, name, entry);
}

bool posix_lookup_file(const std::string& path, dir_entry& entry) {
  std::size_t length = path.size();
  while (length > 1 && path[length - 1] == '/') --length;
  std::string_view trimmed(path.data(), length);
  // Most paths end in a name, and need no copy. A local, not a static: a
  // static copy would be shared by threads looking files up at once.
  std::string copy;
  if (length != path.size()) copy.assign(trimmed);
  reached_path reached;
  if (!reach(length == path.size() ? path : copy, reached)) {
    note_failure(errno);
    return false;
  }
  return fill_entry(reached.at, reached.name, base_name(trimmed), entry);
}

bool posix_directory_identity(const std::string& path, dir_identity& id) {
  struct stat st;
  if (!stat_path(path, st)) return false;
  id = identity_of(st);
  return true;
}

bool posix_get_attributes(const std::string& path, uint32_t& attributes) {
  struct stat st;
  if (!stat_path(path, st)) return false;
  attributes = attributes_of(base_name(path), st.st_mode);
  return true;
}

// Only read-only has a POSIX meaning: it maps to the write permission bits.
bool posix_set_attributes(const std::string& path, uint32_t attributes) {
  reached_path reached;
  struct stat st;
  if (!reach(path, reached) || fstatat(reached.at, reached.name, &st, 0) != 0) return false;
  mode_t mode = st.st_mode & 07777;
  bool writable = (mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
  bool want_readonly = (attributes & k_attr_readonly) != 0;
  if (want_readonly && writable)
    return fchmodat(reached.at, reached.name, mode & ~(S_IWUSR | S_IWGRP | S_IWOTH), 0) == 0;
  if (!want_readonly && !writable)
    return fchmodat(reached.at, reached.name, mode | S_IWUSR, 0) == 0;
  return true;
}

// No registry here: the mount options of the file system holding `path` tell
// whether access dates are updated (relatime and strictatime both update).
int posix_last_access_setting(const std::string& path) {
  struct statvfs vfs;
  if (statvfs(path.c_str(), &vfs) != 0) return -1;
  return (vfs.f_flag & ST_NOATIME) ? 1 : 0;
}

bool posix_stream_identity(std::FILE* stream, dir_identity& id) {
  struct stat st;
  if (!stream || fstat(fileno(stream), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  id = identity_of(st);
  return true;
}

bool posix_read_handle_identity(read_handle file, dir_identity& id) {
  struct stat st;
  if (file == k_no_file || fstat(static_cast<int>(file), &st) != 0) return false;
  id = identity_of(st);
  return true;
}

}  // namespace posix_backend
