// POSIX backend of the platform layer.
#include <dirent.h>
#include <fcntl.h>
#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "INCLUDE_U/text.h"
#include "platform/kept_listing.h"
#include "platform/platform.h"

platform_table g_platform = native_platform();

namespace {

// Files read to their end are closed in batches: a run of consecutive
// descriptors goes in one close_range call, where closing each would cost a
// system call per file. A descriptor waiting here stays open, so no other file
// can be given its number, and a run holds only descriptors of this list.
// Scanners close the files they read while the walk opens more: the list has a
// lock, and a close that would wait for it closes at once instead.
constexpr std::size_t k_close_batch = 32;
std::mutex s_closing_lock;
int s_closing[k_close_batch];
std::size_t s_closing_count = 0;

bool close_run(int first, int last) {
// ThreadSanitizer sees no close in a raw system call, and would take a number
// given out again for a race: its builds close one descriptor at a time.
#if defined(__linux__) && defined(SYS_close_range) && !defined(__SANITIZE_THREAD__)
  return syscall(SYS_close_range, static_cast<unsigned>(first), static_cast<unsigned>(last), 0u) ==
         0;
#else
  (void)first;
  (void)last;
  return false;
#endif
}

void close_waiting_files() {
  std::sort(s_closing, s_closing + s_closing_count);
  for (std::size_t i = 0; i < s_closing_count;) {
    std::size_t end = i + 1;
    while (end < s_closing_count && s_closing[end] == s_closing[end - 1] + 1) ++end;
    if (end - i < 2 || !close_run(s_closing[i], s_closing[end - 1])) {
      for (std::size_t j = i; j < end; ++j) close(s_closing[j]);
    }
    i = end;
  }
  s_closing_count = 0;
}

// The errno of this thread's last failing call, for last_failure; 0 once a search
// ends normally. Per thread: a scanner's failed read is not the walk's failure.
thread_local int s_failed_errno = 0;

void note_failure(int error) { s_failed_errno = error; }

bool open_failed(int fd) { return fd < 0; }
bool open_failed(const void* handle) { return handle == nullptr; }

// Runs `open_once` (an open of any kind, giving -1 or null when it fails), and
// once more when it failed for want of descriptors and the files waiting to be
// closed can give some back.
template <typename opener>
auto open_freeing_descriptors(opener open_once) {
  auto opened = open_once();
  if (open_failed(opened) && (errno == EMFILE || errno == ENFILE)) {
    std::unique_lock<std::mutex> lock(s_closing_lock);
    if (s_closing_count == 0) return opened;
    close_waiting_files();
    lock.unlock();
    opened = open_once();
  }
  return opened;
}

// Longest path handed to the system in one call: the kernel refuses longer
// ones, while a tree may go deeper. Longer paths are reached piece by piece.
constexpr std::size_t k_path_piece = PATH_MAX - 1;

// A path made reachable whatever its length: `name` relative to the directory
// `at`. A path short enough goes whole, against the current directory;
// otherwise `at` is an open directory on the way, owned here.
struct reached_path {
  int at = AT_FDCWD;
  const char* name = "";
  reached_path() = default;
  reached_path(const reached_path&) = delete;
  reached_path& operator=(const reached_path&) = delete;
  ~reached_path() {
    if (at >= 0) close(at);
  }
};

// Opens the directories of a long path a piece at a time, each relative to the
// one before. False, with errno set, when one of them cannot be opened.
bool reach(const std::string& path, reached_path& out) {
  std::size_t start = 0;
  while (path.size() - start > k_path_piece) {
    std::size_t cut = path.rfind('/', start + k_path_piece);
    if (cut == std::string::npos || cut <= start) {
      errno = ENAMETOOLONG;  // one name longer than any the system allows
      return false;
    }
    std::string piece = path.substr(start, cut - start);
    int next = open_freeing_descriptors(
        [&] { return openat(out.at, piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); });
    int error = errno;
    if (out.at >= 0) close(out.at);
    out.at = next;
    if (next < 0) {
      errno = error;
      return false;
    }
    start = cut + 1;
  }
  out.name = start == path.size() ? "." : path.c_str() + start;
  return true;
}

// stat of a path of any length; false with the failure noted.
bool stat_path(const std::string& path, struct stat& st) {
  reached_path reached;
  if (reach(path, reached) && fstatat(reached.at, reached.name, &st, 0) == 0) return true;
  note_failure(errno);
  return false;
}

// Off reads every directory once per search, as the system gives it.
constexpr bool k_keep_directory_listings = true;

dir_identity identity_of(const struct stat& st) {
  dir_identity id;
  id.volume = static_cast<uint64_t>(st.st_dev);
  id.index_low = static_cast<uint64_t>(st.st_ino);
  return id;
}

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

struct find_state_posix {
  DIR* dir = nullptr;
  std::string directory;
  std::string pattern;
  bool names_only = false;  // only the name and the directory bit are wanted
  directory_stamp stamp;
  listing_replay replay;
};

bool stamp_directory(DIR* dir, directory_stamp& stamp) {
  struct stat st;
  if (fstat(dirfd(dir), &st) != 0) return false;
  stamp.identity = identity_of(st);
  stamp.changed_seconds = static_cast<int64_t>(st.st_mtim.tv_sec);
  stamp.changed_nanoseconds = st.st_mtim.tv_nsec;
  return true;
}

// One entry of the listing: its name and the type the listing gives.
struct listed_name {
  const char* name;
  unsigned char type;
};

bool next_listed_name(find_state_posix* search, listed_name& out) {
  if (search->replay.replaying) {
    if (next_replayed_name(search->replay, out.name, out.type)) return true;
    note_failure(0);
    return false;
  }
  errno = 0;
  struct dirent* d = readdir(search->dir);
  if (!d) {
    // A listing cut short by an error is not complete, and is not kept.
    note_failure(errno);
    end_listing_read(search, errno == 0);
    return false;
  }
  keep_listed_name(search, d->d_name, d->d_type);
  out.name = d->d_name;
  out.type = d->d_type;
  return true;
}

// Serves the search from the kept listing of its directory when there is one
// and the directory is unchanged, else makes it the listing's recorder.
void start_listing(find_state_posix* search) {
  if (!k_keep_directory_listings) return;
  bool stamped = stamp_directory(search->dir, search->stamp);
  start_kept_listing(search, search->directory, stamped ? &search->stamp : nullptr, search->replay);
}

void end_listing(find_state_posix* search) {
  if (!k_keep_directory_listings) return;
  finish_kept_listing(search, search->directory, search->stamp, search->replay);
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

// '*' and '?' without regard to case; '?' takes one character, not one byte.
bool glob_match(const char* p, const char* pend, const char* n, const char* nend) {
  const char* star_p = nullptr;
  const char* star_n = nullptr;
  while (n < nend) {
    if (p < pend && *p == '?') {
      ++p;
      n += utf8_sequence_length(std::string_view(n, static_cast<std::size_t>(nend - n)));
    } else if (p < pend && *p == '*') {
      star_p = ++p;
      star_n = n;
    } else if (p < pend && lower(*p) == lower(*n)) {
      ++p;
      ++n;
    } else if (star_p) {
      p = star_p;
      star_n +=
          utf8_sequence_length(std::string_view(star_n, static_cast<std::size_t>(nend - star_n)));
      n = star_n;
    } else {
      return false;
    }
  }
  while (p < pend && *p == '*') ++p;
  return p == pend;
}

// The file-type patterns users type from Windows habit: "*.*" is every name,
// a pattern ending in "." wants names without an extension, and a trailing ".*"
// may also match nothing.
bool name_matches(const std::string& pattern, std::string_view name) {
  if (pattern == "*" || pattern == "*.*") return true;
  const char* nb = name.data();
  const char* ne = nb + name.size();
  if (pattern.size() > 1 && pattern.back() == '.' && pattern[pattern.size() - 2] != '.') {
    if (name.find('.') != std::string_view::npos) return false;
    return glob_match(pattern.data(), pattern.data() + pattern.size() - 1, nb, ne);
  }
  if (glob_match(pattern.data(), pattern.data() + pattern.size(), nb, ne)) return true;
  if (pattern.size() > 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0) {
    return glob_match(pattern.data(), pattern.data() + pattern.size() - 2, nb, ne);
  }
  return false;
}

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

std::string_view base_name(std::string_view path) {
  std::size_t slash = path.find_last_of('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

file_ticks ticks_of(const struct statx_timestamp& t) {
  struct timespec s;
  s.tv_sec = t.tv_sec;
  s.tv_nsec = t.tv_nsec;
  return to_ticks(s);
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
  // Creation times exist only where the file system keeps them; 0 reads as never set.
  entry.create_ticks = (sx.stx_mask & STATX_BTIME) ? ticks_of(sx.stx_btime) : 0;
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

// The name and the directory bit from the directory listing's own type where it
// gives one; links and unknown types need the look-up that follows them.
bool fill_name_entry(int at, const listed_name& listed, dir_entry& entry) {
  switch (listed.type) {
    case DT_DIR:
    case DT_REG:
      entry.name.assign(listed.name);
      entry.attributes = listed.type == DT_DIR ? k_attr_directory : 0;
      entry.size = 0;
      entry.create_ticks = entry.access_ticks = entry.write_ticks = 0;
      return true;
    case DT_LNK:
    case DT_UNKNOWN:
      return fill_entry(at, listed.name, listed.name, entry);
    default:
      return false;  // FIFOs, devices and sockets, as fill_entry refuses them
  }
}

bool next_match(find_state_posix* search, dir_entry& entry) {
  // Looking entries up relative to the open directory spares walking the whole
  // path again for each of them.
  int at = dirfd(search->dir);
  listed_name listed;
  while (next_listed_name(search, listed)) {
    if (!name_matches(search->pattern, listed.name)) continue;
    bool filled = search->names_only ? fill_name_entry(at, listed, entry)
                                     : fill_entry(at, listed.name, listed.name, entry);
    if (filled) return true;
  }
  return false;
}

void posix_find_close(find_state* handle) {
  auto* search = reinterpret_cast<find_state_posix*>(handle);
  if (!search) return;
  end_listing(search);
  if (search->dir) closedir(search->dir);
  delete search;
}

find_state* start_search(const std::string& pattern, bool names_only, dir_entry& entry) {
  std::size_t slash = pattern.find_last_of('/');
  auto* search = new find_state_posix;
  search->directory = slash == std::string::npos ? std::string("./") : pattern.substr(0, slash + 1);
  search->pattern = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
  search->names_only = names_only;
  // Opened even for a kept listing: a directory that can no longer be read is
  // not searched, and links and unknown types are looked up relative to it.
  int fd = open_path_keeping_access_time(search->directory,
                                         O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC, true);
  if (fd >= 0) {
    search->dir = fdopendir(fd);
    if (!search->dir) {
      note_failure(errno);
      close(fd);
    }
  }
  if (search->dir) start_listing(search);
  if (!search->dir || !next_match(search, entry)) {
    posix_find_close(reinterpret_cast<find_state*>(search));
    return nullptr;
  }
  return reinterpret_cast<find_state*>(search);
}

find_state* posix_find_first(const std::string& pattern, dir_entry& entry) {
  return start_search(pattern, false, entry);
}

find_state* posix_find_first_names(const std::string& pattern, dir_entry& entry) {
  return start_search(pattern, true, entry);
}

bool posix_find_next(find_state* handle, dir_entry& entry) {
  return next_match(reinterpret_cast<find_state_posix*>(handle), entry);
}

bool posix_lookup_file(const std::string& path, dir_entry& entry) {
  std::size_t length = path.size();
  while (length > 1 && path[length - 1] == '/') --length;
  std::string_view trimmed(path.data(), length);
  // Most paths end in a name, and need no copy.
  static std::string copy;
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

int64_t posix_current_time() { return static_cast<int64_t>(time(nullptr)); }

void fill_calendar(const struct tm& t, int millisecond, calendar_time& out) {
  out.year = t.tm_year + 1900;
  out.month = t.tm_mon + 1;
  out.day = t.tm_mday;
  out.hour = t.tm_hour;
  out.minute = t.tm_min;
  out.second = t.tm_sec;
  out.millisecond = millisecond;
  out.weekday = t.tm_wday;
}

bool posix_seconds_to_calendar(int64_t seconds, bool local, calendar_time& out) {
  time_t t = static_cast<time_t>(seconds);
  struct tm parts;
  if (!(local ? localtime_r(&t, &parts) : gmtime_r(&t, &parts))) return false;
  fill_calendar(parts, 0, out);
  return true;
}

bool posix_ticks_to_calendar(file_ticks ticks, bool local, calendar_time& out) {
  int64_t seconds = ticks_to_seconds(ticks);
  int millisecond = static_cast<int>((ticks / 10000) % 1000);
  time_t t = static_cast<time_t>(seconds);
  struct tm parts;
  if (!(local ? localtime_r(&t, &parts) : gmtime_r(&t, &parts))) return false;
  fill_calendar(parts, millisecond, out);
  return true;
}

bool posix_local_calendar_to_seconds(int year, int month, int day, int hour, int minute, int second,
                                     int64_t& out) {
  struct tm parts {};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  parts.tm_isdst = -1;
  errno = 0;
  time_t t = mktime(&parts);
  if (t == static_cast<time_t>(-1) && errno != 0) return false;
  out = static_cast<int64_t>(t);
  return true;
}

bool posix_time_zone(zone_state& out) {
  tzset();
  out.offset_seconds_west = timezone;
  out.has_daylight = daylight != 0;
  out.standard_name = tzname[0] ? tzname[0] : "";
  out.daylight_name = tzname[1] ? tzname[1] : "";
  return true;
}

bool posix_current_directory(std::string& out) {
  std::vector<char> buffer(PATH_MAX + 1);
  while (!getcwd(buffer.data(), buffer.size())) {
    if (errno != ERANGE || buffer.size() > (1u << 20)) return false;
    buffer.resize(buffer.size() * 2);
  }
  out = buffer.data();
  return true;
}

// Lexical absolute form, as GetFullPathName gives it: "." and ".." components
// resolved without touching the file system, a trailing separator kept.
bool posix_full_path(const std::string& name, std::string& out) {
  if (name.empty()) return false;
  std::string joined;
  if (name[0] == '/') {
    joined = name;
  } else {
    if (!posix_current_directory(joined)) return false;
    joined += '/';
    joined += name;
  }
  bool trailing = joined.size() > 1 && joined.back() == '/';
  std::vector<std::string> parts;
  std::size_t i = 0;
  while (i < joined.size()) {
    std::size_t next = joined.find('/', i);
    if (next == std::string::npos) next = joined.size();
    std::string part = joined.substr(i, next - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = next + 1;
  }
  out.clear();
  for (const std::string& part : parts) {
    out += '/';
    out += part;
  }
  if (out.empty() || trailing) out += '/';
  return true;
}

bool posix_program_path(std::string& out) {
  std::vector<char> buffer(PATH_MAX + 1);
  ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) return false;
  out.assign(buffer.data(), static_cast<std::size_t>(n));
  return true;
}

bool posix_is_directory(const std::string& path) {
  struct stat st;
  return stat_path(path, st) && S_ISDIR(st.st_mode);
}

bool posix_path_exists(const std::string& path) {
  struct stat st;
  return stat_path(path, st);
}

bool posix_create_directory(const std::string& path) { return mkdir(path.c_str(), 0777) == 0; }

bool posix_computer_name(std::string& out) {
  char buffer[256] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0) return false;
  out = buffer;
  return !out.empty();
}

// No registry here: the mount options of the file system holding `path` tell
// whether access dates are updated (relatime and strictatime both update).
int posix_last_access_setting(const std::string& path) {
  struct statvfs vfs;
  if (statvfs(path.c_str(), &vfs) != 0) return -1;
  return (vfs.f_flag & ST_NOATIME) ? 1 : 0;
}

std::FILE* posix_open_stream(const std::string& path, const char* mode) {
  return open_freeing_descriptors([&] { return std::fopen(path.c_str(), mode); });
}

// The open(2) flags of an fopen mode ("r", "r+b", "a", "a+", "w", ...).
int open_flags_of(const char* mode) {
  bool update = std::strchr(mode, '+') != nullptr;
  switch (mode[0]) {
    case 'r':
      return update ? O_RDWR : O_RDONLY;
    case 'w':
      return (update ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
    default:
      return (update ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
  }
}

std::FILE* posix_open_regular_stream(const std::string& path, const char* mode) {
  // Non-blocking, so that a FIFO without a writer is refused instead of waited for;
  // the type is known only once the file is open.
  int flags = open_flags_of(mode) | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  int fd = open_freeing_descriptors([&] { return open(path.c_str(), flags, 0666); });
  if (fd < 0) return nullptr;
  struct stat st;
  bool looked_up = fstat(fd, &st) == 0;
  bool regular = looked_up && S_ISREG(st.st_mode);
  std::FILE* stream = nullptr;
  int status_flags = regular ? fcntl(fd, F_GETFL) : -1;
  if (status_flags != -1 && fcntl(fd, F_SETFL, status_flags & ~O_NONBLOCK) == 0) {
    stream = fdopen(fd, mode);
  }
  if (!stream) {
    close(fd);
    // What the caller tells the user: a directory is named as one.
    if (!regular) errno = looked_up && S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  }
  return stream;
}

// Descriptors are given lowest first, so each open in turn takes the closed number.
void posix_open_standard_streams() {
  for (int fd = 0; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int opened = open("/dev/null", O_RDWR);
    if (opened >= 0 && opened != fd) close(opened);
  }
}

read_handle posix_open_for_reading(const std::string& path) {
  // Non-blocking open: a FIFO without a writer must not hang the walk.
  int fd = open_path_keeping_access_time(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC, false);
  return fd < 0 ? k_no_file : static_cast<read_handle>(fd);
}

// The directory of the last file opened, held open: the files of one directory
// come one after another, and each is then opened by its name alone instead of
// walking the whole path again. A directory replaced since is no longer found
// through the old one, and the caller then looks the file up by its path.
struct held_directory {
  std::string path;
  int fd = -1;
};
held_directory s_held_directory;

int directory_for(std::string_view directory) {
  held_directory& held = s_held_directory;
  if (held.fd >= 0 && held.path == directory) return held.fd;
  if (held.fd >= 0) close(held.fd);
  held.path.assign(directory);
  // An O_PATH open reads nothing (the system drops O_NOATIME from it), so it
  // neither changes nor counts an access time.
  held.fd = open_path_keeping_access_time(held.path, O_PATH | O_DIRECTORY | O_CLOEXEC, true);
  return held.fd;
}

read_handle posix_open_and_look_up(const std::string& path, dir_entry& entry) {
  std::size_t slash = path.find_last_of('/');
  int at = AT_FDCWD;
  const char* name = path.c_str();
  if (slash != std::string::npos && slash > 0 && slash + 1 < path.size()) {
    at = directory_for(std::string_view(path).substr(0, slash));
    if (at < 0) return k_no_file;
    name += slash + 1;
  }
  // No controlling terminal, no wait for a FIFO's writer: the type is known only
  // once the file is open.
  int fd = open_keeping_access_time(at, name, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, false);
  if (fd < 0) {
    note_failure(errno);
    return k_no_file;
  }
  struct statx sx;
  bool looked_up = statx(fd, "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT,
                         STATX_BASIC_STATS | STATX_BTIME, &sx) == 0;
  note_failure(looked_up ? 0 : errno);
  bool regular = looked_up && S_ISREG(sx.stx_mode) && fill_entry_from(sx, base_name(path), entry);
  if (!regular) {
    close(fd);
    return k_no_file;
  }
  return static_cast<read_handle>(fd);
}

int64_t posix_read_bytes(read_handle file, void* buffer, int64_t size) {
  for (;;) {
    ssize_t n = read(static_cast<int>(file), buffer, static_cast<std::size_t>(size));
    if (n >= 0) return static_cast<int64_t>(n);
    if (errno != EINTR) {
      note_failure(errno);
      return -1;
    }
  }
}

void posix_close_file(read_handle file) {
  if (file == k_no_file) return;
  // While another thread has the list, closing at once costs less than waiting.
  std::unique_lock<std::mutex> lock(s_closing_lock, std::try_to_lock);
  if (!lock.owns_lock()) {
    close(static_cast<int>(file));
    return;
  }
  s_closing[s_closing_count++] = static_cast<int>(file);
  if (s_closing_count == k_close_batch) close_waiting_files();
}

bool posix_file_size(const std::string& path, int64_t& size) {
  struct stat st;
  if (!stat_path(path, st)) return false;
  size = static_cast<int64_t>(st.st_size);
  return true;
}

bool posix_truncate_file(const std::string& path, int64_t size) {
  return truncate(path.c_str(), static_cast<off_t>(size)) == 0;
}

int64_t posix_read_at(const std::string& path, int64_t offset, void* buffer, int64_t size) {
  int fd = open_freeing_descriptors([&] { return open(path.c_str(), O_RDONLY | O_CLOEXEC); });
  if (fd < 0) return -1;
  ssize_t n;
  do {
    n = pread(fd, buffer, static_cast<std::size_t>(size), static_cast<off_t>(offset));
  } while (n < 0 && errno == EINTR);
  close(fd);
  return n;
}

bool posix_get_environment(const char* name, std::string& out) {
  const char* value = std::getenv(name);
  if (!value) return false;
  out = value;
  return true;
}

struct termios g_saved_terminal;
bool g_terminal_changed = false;
// Read by every scanner; a lock-free atomic may be set from a signal handler.
std::atomic<int> g_interrupt_flag{0};
static_assert(std::atomic<int>::is_always_lock_free);

void posix_console_restore() {
  if (g_terminal_changed) {
    tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
    g_terminal_changed = false;
  }
}

void posix_console_start() {
  if (g_terminal_changed || !isatty(STDIN_FILENO)) return;
  if (tcgetattr(STDIN_FILENO, &g_saved_terminal) != 0) return;
  struct termios raw = g_saved_terminal;
  // Single keys without echo; Ctrl-C still raises the interrupt.
  raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
  raw.c_cc[VMIN] = 1;
  raw.c_cc[VTIME] = 0;
  if (tcsetattr(STDIN_FILENO, TCSANOW, &raw) == 0) {
    g_terminal_changed = true;
    std::atexit(posix_console_restore);
  }
}

bool posix_stdin_is_terminal() { return isatty(STDIN_FILENO) != 0; }

bool posix_is_terminal(std::FILE* stream) { return stream && isatty(fileno(stream)) != 0; }

bool posix_key_waiting() {
  if (!g_terminal_changed) return false;
  struct pollfd p = {STDIN_FILENO, POLLIN, 0};
  return poll(&p, 1, 0) > 0 && (p.revents & POLLIN);
}

int posix_read_key() {
  for (;;) {
    if (g_interrupt_flag) return 3;
    struct pollfd p = {STDIN_FILENO, POLLIN, 0};
    int ready = poll(&p, 1, 200);
    if (ready < 0 && errno != EINTR) return -1;
    if (ready <= 0) continue;
    unsigned char c;
    ssize_t n = read(STDIN_FILENO, &c, 1);
    if (n == 1) return c;
    if (n == 0) return -1;
    if (errno != EINTR && errno != EAGAIN) return -1;
  }
}

// Time the run has to end by itself after an interrupt: far more than finishing a
// record and the run log takes, unless a write blocks (a pipe nobody reads).
constexpr unsigned k_interrupt_grace_seconds = 10;

void leave_at_once(int) {
  if (g_terminal_changed) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
  _exit(2);
}

// Interrupts received; a lock-free atomic may be changed from a signal handler.
std::atomic<int> g_interrupts_received{0};
// The run ends within a read of the first interrupt; a second one meanwhile
// (Ctrl-C pressed twice) must not cut the record being written. Only a third, from
// someone who insists, leaves at once.
constexpr int k_interrupts_to_leave = 3;

void on_interrupt(int signal_number) {
  int received = g_interrupts_received.fetch_add(1) + 1;
  if (received >= k_interrupts_to_leave) leave_at_once(signal_number);
  g_interrupt_flag = 1;
  if (received == 1) alarm(k_interrupt_grace_seconds);
}

// A signal that ends the process: the terminal gets its modes back, then the
// signal takes its default course.
void on_fatal_signal(int signal_number) {
  if (g_terminal_changed) tcsetattr(STDIN_FILENO, TCSANOW, &g_saved_terminal);
  raise(signal_number);  // the action is back to the default (SA_RESETHAND)
}

// Only signals still at their default action: a handler someone else installed
// (a sanitizer's, say) is left in place.
void restore_terminal_on(int signal_number) {
  struct sigaction current {};
  if (sigaction(signal_number, nullptr, &current) != 0 || current.sa_handler != SIG_DFL) return;
  struct sigaction action {};
  action.sa_handler = on_fatal_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  sigaction(signal_number, &action, nullptr);
}

void posix_install_interrupt_handler() {
  struct sigaction action {};
  action.sa_handler = on_interrupt;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  // A closed terminal window (SIGHUP) and Ctrl-\ (SIGQUIT) end the run as an
  // interrupt does: whole records, and the run log's trailer.
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) {
    sigaction(signal_number, &action, nullptr);
  }
  // A run stuck where it cannot look at the flag ends when the grace runs out.
  action.sa_handler = leave_at_once;
  sigaction(SIGALRM, &action, nullptr);
  for (int signal_number : {SIGABRT, SIGBUS, SIGFPE, SIGILL, SIGIO, SIGPROF, SIGSEGV, SIGSYS,
                            SIGTRAP, SIGUSR1, SIGUSR2, SIGVTALRM, SIGXCPU}) {
    restore_terminal_on(signal_number);
  }
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
    restore_terminal_on(signal_number);
  }
}

bool posix_interrupt_requested() { return g_interrupt_flag != 0; }

void posix_sleep_milliseconds(int milliseconds) {
  // In short steps, so that an interrupt is acted on soon.
  while (milliseconds > 0 && !g_interrupt_flag) {
    int step = milliseconds < 50 ? milliseconds : 50;
    struct timespec ts = {0, static_cast<long>(step) * 1000000L};
    nanosleep(&ts, nullptr);
    milliseconds -= step;
  }
}

void posix_ignore_write_signals() {
  signal(SIGPIPE, SIG_IGN);
  // Over the file-size limit a write then fails with EFBIG, which the listing
  // reports, instead of the process dying in the middle of a record.
  signal(SIGXFSZ, SIG_IGN);
}

void posix_share_one_heap() {
#if defined(__GLIBC__)
  mallopt(M_ARENA_MAX, 1);
#endif
}

void posix_give_back_pages(void* start, std::size_t size) {
  auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  auto first = (reinterpret_cast<uintptr_t>(start) + page - 1) / page * page;
  auto end = (reinterpret_cast<uintptr_t>(start) + size) / page * page;
  if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_DONTNEED);
}

int64_t posix_open_files_limit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
      limit.rlim_cur > static_cast<rlim_t>(INT64_MAX))
    return INT64_MAX;
  return static_cast<int64_t>(limit.rlim_cur);
}

[[noreturn]] void posix_exit_process(int status) { std::exit(status); }

// POSIX names are bytes: nothing to convert.
bool posix_ansi_text_to_utf8(const std::string& bytes, std::string& out) {
  out = bytes;
  return true;
}

bool posix_can_read_file(const std::string& path) {
  reached_path reached;
  if (!reach(path, reached)) return true;  // left to the open that follows
  if (faccessat(reached.at, reached.name, R_OK, AT_EACCESS) == 0) return true;
  return errno != EACCES;
}

failure_kind posix_last_failure(std::string& reason) {
  int error = s_failed_errno;
  reason = error == 0 ? "" : std::strerror(error);
  switch (error) {
    case 0:
      return failure_kind::none;
    case ENOENT:
    case ENOTDIR:
      return failure_kind::not_found;
    case ENOMEM:
    case EMFILE:
    case ENFILE:
      return failure_kind::no_resources;
    default:
      return failure_kind::other;
  }
}

access_time_counts posix_access_times_not_kept() { return s_access_times; }

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

}  // namespace

const platform_table& native_platform() {
  static const platform_table table = {
      .find_first = posix_find_first,
      .find_next = posix_find_next,
      .find_close = posix_find_close,
      .lookup_file = posix_lookup_file,
      .directory_identity = posix_directory_identity,
      .get_attributes = posix_get_attributes,
      .set_attributes = posix_set_attributes,
      .current_time = posix_current_time,
      .seconds_to_calendar = posix_seconds_to_calendar,
      .ticks_to_calendar = posix_ticks_to_calendar,
      .local_calendar_to_seconds = posix_local_calendar_to_seconds,
      .time_zone = posix_time_zone,
      .full_path = posix_full_path,
      .current_directory = posix_current_directory,
      .program_path = posix_program_path,
      .is_directory = posix_is_directory,
      .path_exists = posix_path_exists,
      .create_directory = posix_create_directory,
      .computer_name = posix_computer_name,
      .last_access_setting = posix_last_access_setting,
      .open_stream = posix_open_stream,
      .open_for_reading = posix_open_for_reading,
      .read_bytes = posix_read_bytes,
      .close_file = posix_close_file,
      .file_size = posix_file_size,
      .truncate_file = posix_truncate_file,
      .read_at = posix_read_at,
      .get_environment = posix_get_environment,
      .console_start = posix_console_start,
      .console_restore = posix_console_restore,
      .key_waiting = posix_key_waiting,
      .read_key = posix_read_key,
      .stdin_is_terminal = posix_stdin_is_terminal,
      .is_terminal = posix_is_terminal,
      .install_interrupt_handler = posix_install_interrupt_handler,
      .interrupt_requested = posix_interrupt_requested,
      .sleep_milliseconds = posix_sleep_milliseconds,
      .ignore_write_signals = posix_ignore_write_signals,
      .share_one_heap = posix_share_one_heap,
      .open_files_limit = posix_open_files_limit,
      .exit_process = posix_exit_process,
      .ansi_text_to_utf8 = posix_ansi_text_to_utf8,
      .can_read_file = posix_can_read_file,
      .find_first_names = posix_find_first_names,
      .open_and_look_up = posix_open_and_look_up,
      .last_failure = posix_last_failure,
      .open_regular_stream = posix_open_regular_stream,
      .open_standard_streams = posix_open_standard_streams,
      .access_times_not_kept = posix_access_times_not_kept,
      .stream_identity = posix_stream_identity,
      .read_handle_identity = posix_read_handle_identity,
      .give_back_pages = posix_give_back_pages,
  };
  return table;
}
