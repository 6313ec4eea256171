// POSIX backend: the process and its machine: heap, open-files limit, exit,
// environment, host name, the text of names.
#include "platform/posix/backend.h"

#if defined(__GLIBC__)
#include <malloc.h>
#endif
#include <sys/mman.h>
#include <sys/resource.h>

#include <climits>
#include <cstdlib>

namespace posix_backend {

bool posix_computer_name(std::string& out) {
  char buffer[256] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0) return false;
  out = buffer;
  return !out.empty();
}

bool posix_get_environment(const char* name, std::string& out) {
  const char* value = std::getenv(name);
  if (!value) return false;
  out = value;
  return true;
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

}  // namespace posix_backend
