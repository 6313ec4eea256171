// POSIX backend: paths of any length, reached a piece at a time, and the
// questions asked of a path.
#include <climits>
#include <vector>

#include "platform/posix/backend.h"

namespace posix_backend {

namespace {

// Longest path handed to the system in one call: the kernel refuses longer
// ones, while a tree may go deeper. Longer paths are reached piece by piece.
constexpr std::size_t k_path_piece = PATH_MAX - 1;

}  // namespace

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

bool posix_file_size(const std::string& path, int64_t& size) {
  struct stat st;
  if (!stat_path(path, st)) return false;
  size = static_cast<int64_t>(st.st_size);
  return true;
}

bool posix_can_read_file(const std::string& path) {
  reached_path reached;
  if (!reach(path, reached)) return true;  // left to the open that follows
  if (faccessat(reached.at, reached.name, R_OK, AT_EACCESS) == 0) return true;
  return errno != EACCES;
}

}  // namespace posix_backend
