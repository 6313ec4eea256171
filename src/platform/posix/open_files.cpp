// POSIX backend: opens, reads and the batched close of files read to their end,
// and the last failure a thread met.
#include <sys/syscall.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/posix/backend.h"

namespace posix_backend {

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

}  // namespace

void note_failure(int error) { s_failed_errno = error; }

bool close_waiting_files_now() {
  std::lock_guard<std::mutex> lock(s_closing_lock);
  if (s_closing_count == 0) return false;
  close_waiting_files();
  return true;
}

std::FILE* posix_open_stream(const std::string& path, const char* mode) {
  return open_freeing_descriptors([&] { return std::fopen(path.c_str(), mode); });
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

void posix_prepare_thread_storage() {
  // Kept in a volatile: an access whose result goes nowhere the compiler may drop.
  int* volatile touched = &s_failed_errno;
  (void)touched;
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

}  // namespace posix_backend
