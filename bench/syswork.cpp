// The least a full run has to do, with nothing of the message scan beyond one
// pass over the bytes: open each directory once and each file relative to it,
// take the file's size and date from the open file, read it once into one reused
// buffer, look at every 64-byte block once for ':', '=' or NUL, and write a short
// record per file (path, size, local date) to OUT. What a full run costs above
// this is the work of its lines, rules and records.
//
// Usage: syswork TREE OUT
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#if defined(__GNUC__) && defined(__x86_64__)
#include <immintrin.h>
#endif

namespace {

alignas(64) char g_buffer[1 << 16];
unsigned long long g_files = 0;
unsigned long long g_busy_blocks = 0;
FILE* g_out = nullptr;
// Descriptors still open, closed a run of neighbouring numbers at a time, as a
// full run does.
int g_held[32];
int g_held_count = 0;

#if defined(__GNUC__) && defined(__x86_64__)
unsigned long long busy_blocks_sse2(const char* bytes, size_t n) {
  unsigned long long busy = 0;
  for (size_t i = 0; i + 64 <= n; i += 64) {
    __m128i hits = _mm_setzero_si128();
    for (size_t j = 0; j < 64; j += 16) {
      __m128i b = _mm_load_si128(reinterpret_cast<const __m128i*>(bytes + i + j));
      hits = _mm_or_si128(hits, _mm_cmpeq_epi8(b, _mm_set1_epi8(':')));
      hits = _mm_or_si128(hits, _mm_cmpeq_epi8(b, _mm_set1_epi8('=')));
      hits = _mm_or_si128(hits, _mm_cmpeq_epi8(b, _mm_setzero_si128()));
    }
    busy += _mm_movemask_epi8(hits) != 0;
  }
  return busy;
}

__attribute__((target("avx2"))) unsigned long long busy_blocks_avx2(const char* bytes, size_t n) {
  // Indexed by a byte's low four bits: the one byte with those bits looked for.
  const __m256i wanted = _mm256_setr_epi8(
      0, -128, -128, -128, -128, -128, -128, -128, -128, -128, ':', -128, -128, '=', -128, -128, 0,
      -128, -128, -128, -128, -128, -128, -128, -128, -128, ':', -128, -128, '=', -128, -128);
  unsigned long long busy = 0;
  for (size_t i = 0; i + 64 <= n; i += 64) {
    __m256i a = _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes + i));
    __m256i b = _mm256_load_si256(reinterpret_cast<const __m256i*>(bytes + i + 32));
    __m256i hits = _mm256_or_si256(_mm256_cmpeq_epi8(_mm256_shuffle_epi8(wanted, a), a),
                                   _mm256_cmpeq_epi8(_mm256_shuffle_epi8(wanted, b), b));
    busy += !_mm256_testz_si256(hits, hits);
  }
  return busy;
}

bool has_avx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

unsigned long long busy_blocks(const char* bytes, size_t n) {
  static const bool avx2 = has_avx2();
  return avx2 ? busy_blocks_avx2(bytes, n) : busy_blocks_sse2(bytes, n);
}
#else
unsigned long long busy_blocks(const char* bytes, size_t n) {
  unsigned long long busy = 0;
  for (size_t i = 0; i + 64 <= n; i += 64) {
    bool hit = false;
    for (size_t j = i; j < i + 64; ++j) hit |= bytes[j] == ':' || bytes[j] == '=' || bytes[j] == 0;
    busy += hit;
  }
  return busy;
}
#endif

void close_held() {
  std::sort(g_held, g_held + g_held_count);
  for (int i = 0; i < g_held_count;) {
    int last = i;
    while (last + 1 < g_held_count && g_held[last + 1] == g_held[last] + 1) ++last;
    close_range(static_cast<unsigned>(g_held[i]), static_cast<unsigned>(g_held[last]), 0);
    i = last + 1;
  }
  g_held_count = 0;
}

void hold_open(int fd) {
  g_held[g_held_count++] = fd;
  if (g_held_count == 32) close_held();
}

void read_file(int dir, const char* name, const std::string& path) {
  int fd = openat(dir, name, O_RDONLY | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close(fd);
    return;
  }
  long long total = 0;
  ssize_t n;
  // A read that brings the file to its size is its last.
  while (total < st.st_size && (n = read(fd, g_buffer, sizeof g_buffer)) > 0) {
    total += n;
    size_t whole = static_cast<size_t>(n) & ~size_t{63};
    g_busy_blocks += busy_blocks(g_buffer, whole);
  }
  hold_open(fd);
  ++g_files;
  struct tm local;
  localtime_r(&st.st_mtime, &local);
  std::fprintf(g_out, "%s/%s\t%lld\t%02d/%02d/%04d %02d:%02d\n", path.c_str(), name,
               static_cast<long long>(st.st_size), local.tm_mday, local.tm_mon + 1,
               local.tm_year + 1900, local.tm_hour, local.tm_min);
}

void walk(int parent, const char* name, const std::string& path) {
  int fd = openat(parent, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  DIR* dir = fdopendir(fd);
  if (!dir) {
    close(fd);
    return;
  }
  while (struct dirent* entry = readdir(dir)) {
    std::string entry_name = entry->d_name;
    if (entry_name == "." || entry_name == "..") continue;
    unsigned char type = entry->d_type;
    if (type == DT_UNKNOWN) {
      struct stat st;
      if (fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
      type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISREG(st.st_mode) ? DT_REG : DT_UNKNOWN;
    }
    if (type == DT_DIR) {
      close_held();
      walk(fd, entry->d_name, path + "/" + entry_name);
    } else if (type == DT_REG) {
      read_file(fd, entry->d_name, path);
    }
  }
  close_held();
  closedir(dir);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: syswork TREE OUT\n");
    return 2;
  }
  g_out = std::fopen(argv[2], "w");
  if (!g_out) {
    std::perror(argv[2]);
    return 1;
  }
  std::setvbuf(g_out, nullptr, _IOFBF, 1 << 16);
  walk(AT_FDCWD, argv[1], argv[1]);
  if (std::fclose(g_out) != 0) {
    std::perror(argv[2]);
    return 1;
  }
  std::printf("%llu files, %llu busy blocks\n", g_files, g_busy_blocks);
  return 0;
}
