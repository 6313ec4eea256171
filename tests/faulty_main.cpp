// The program with the faults a test asks for, for tests that must meet a fault
// at a chosen place rather than by luck. MAILSIFT_FAULTS holds one of:
//   alloc=scanner:N:MIN   from the Nth file a scanner takes, every allocation of
//                         MIN bytes or more on that scanner's thread fails
//   alloc=walk:N:MIN      the same on the walk's thread, from its Nth hand-over
//   alloc=start:N         the allocation of the Nth scanner thread's start fails
//   slow_reads=MS         every read of a message file takes MS milliseconds more
//   interrupt_after=N     the Nth look at the interrupt flag and every later one
//                         find it set, as if an interrupt had come just then
// With MAILSIFT_FAULT_REPORT naming a file, the number of scanner starts asked for
// is written there at exit ("starts=N").
// A failed allocation goes through the memory handler exactly as one the system
// refused. Only tests link this; the program is built from run/main.cpp alone.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "listing/scanners/scanners.h"
#include "platform/platform.h"
#include "run/eml_base.h"

#ifdef _WIN32
#include <malloc.h>

#include "platform/wide.h"
#endif

namespace {

// Allocations of this thread of at least g_min_bytes fail while it is set.
thread_local bool t_failing = false;
// Only the next allocation fails (alloc=start).
thread_local bool t_failing_once = false;
std::size_t g_min_bytes = 0;
bool g_once = false;
std::atomic<long> g_countdown{0};
std::atomic<long> g_starts_asked{0};
std::string g_report_path;
int g_read_delay_ms = 0;
int64_t (*g_real_read_bytes)(read_handle, void*, int64_t) = nullptr;

void arm_when_counted() {
  if (g_countdown.fetch_sub(1) != 1) return;
  if (g_once)
    t_failing_once = true;
  else
    t_failing = true;
}

void count_start() {
  ++g_starts_asked;
  arm_when_counted();
}

void write_report() {
  if (std::FILE* report = std::fopen(g_report_path.c_str(), "wb")) {
    std::fprintf(report, "starts=%ld\n", g_starts_asked.load());
    std::fclose(report);
  }
}

std::atomic<long> g_interrupt_countdown{0};
bool (*g_real_interrupt_requested)() = nullptr;

bool interrupt_after_countdown() {
  if (g_interrupt_countdown.fetch_sub(1) <= 1) return true;
  return g_real_interrupt_requested();
}

int64_t slow_read_bytes(read_handle file, void* buffer, int64_t size) {
  std::this_thread::sleep_for(std::chrono::milliseconds(g_read_delay_ms));
  return g_real_read_bytes(file, buffer, size);
}

bool allocation_refused(std::size_t size) {
  if (t_failing_once) {
    t_failing_once = false;
    return true;
  }
  return t_failing && size >= g_min_bytes;
}

void* allocate(std::size_t size, std::size_t alignment) {
  for (;;) {
    void* memory = nullptr;
    if (!allocation_refused(size)) {
      std::size_t bytes = size ? size : 1;
#ifdef _WIN32
      memory = alignment ? _aligned_malloc(bytes, alignment) : std::malloc(bytes);
#else
      memory = alignment ? std::aligned_alloc(alignment, (bytes + alignment - 1) / alignment *
                                                             alignment)
                         : std::malloc(bytes);
#endif
    }
    if (memory) return memory;
    std::new_handler handler = std::get_new_handler();
    if (!handler) throw std::bad_alloc();
    handler();
  }
}

void release(void* memory, std::size_t alignment) {
#ifdef _WIN32
  if (alignment) {
    _aligned_free(memory);
    return;
  }
#endif
  (void)alignment;
  std::free(memory);
}

void read_faults() {
  if (g_platform.get_environment("MAILSIFT_FAULT_REPORT", g_report_path)) std::atexit(write_report);
  std::string faults;
  if (!g_platform.get_environment("MAILSIFT_FAULTS", faults)) return;
  char where[16] = {};
  long count = 0;
  unsigned long min_bytes = 0;
  int delay = 0;
  if (std::sscanf(faults.c_str(), "slow_reads=%d", &delay) == 1) {
    g_read_delay_ms = delay;
    g_real_read_bytes = g_platform.read_bytes;
    g_platform.read_bytes = slow_read_bytes;
    return;
  }
  if (std::sscanf(faults.c_str(), "interrupt_after=%ld", &count) == 1) {
    g_interrupt_countdown = count;
    g_real_interrupt_requested = g_platform.interrupt_requested;
    g_platform.interrupt_requested = interrupt_after_countdown;
    return;
  }
  if (std::sscanf(faults.c_str(), "alloc=%15[a-z]:%ld:%lu", where, &count, &min_bytes) < 2) {
    std::fprintf(stderr, "unknown MAILSIFT_FAULTS: %s\n", faults.c_str());
    std::exit(64);
  }
  g_countdown = count;
  g_min_bytes = min_bytes;
  if (std::strcmp(where, "scanner") == 0) {
    g_scanner_fault_points.scanner_took_file = arm_when_counted;
  } else if (std::strcmp(where, "walk") == 0) {
    g_scanner_fault_points.walk_handed_over = arm_when_counted;
  } else if (std::strcmp(where, "start") == 0) {
    g_once = true;
    g_scanner_fault_points.starting_scanner = count_start;
  }
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size, 0); }
void* operator new[](std::size_t size) { return allocate(size, 0); }
void* operator new(std::size_t size, std::align_val_t alignment) {
  return allocate(size, static_cast<std::size_t>(alignment));
}
void* operator new[](std::size_t size, std::align_val_t alignment) {
  return allocate(size, static_cast<std::size_t>(alignment));
}
void operator delete(void* memory) noexcept { release(memory, 0); }
void operator delete[](void* memory) noexcept { release(memory, 0); }
void operator delete(void* memory, std::size_t) noexcept { release(memory, 0); }
void operator delete[](void* memory, std::size_t) noexcept { release(memory, 0); }
void operator delete(void* memory, std::align_val_t alignment) noexcept {
  release(memory, static_cast<std::size_t>(alignment));
}
void operator delete[](void* memory, std::align_val_t alignment) noexcept {
  release(memory, static_cast<std::size_t>(alignment));
}
void operator delete(void* memory, std::size_t, std::align_val_t alignment) noexcept {
  release(memory, static_cast<std::size_t>(alignment));
}
void operator delete[](void* memory, std::size_t, std::align_val_t alignment) noexcept {
  release(memory, static_cast<std::size_t>(alignment));
}

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) {
    std::wstring_view w(argv[i]);
    args.push_back(
        utf16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(w.data()), w.size())));
  }
  read_faults();
  program_main(std::move(args));
}
#else
int main(int argc, char** argv) {
  std::vector<std::string> args(argv, argv + argc);
  read_faults();
  program_main(std::move(args));
}
#endif
