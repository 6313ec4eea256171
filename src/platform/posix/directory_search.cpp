// POSIX backend: the directory search, FindFirstFile-style, over readdir and the
// kept listing of platform/kept_listing.
#include <dirent.h>

#include "platform/kept_listing.h"
#include "platform/posix/backend.h"
#include "platform/utf8.h"

namespace posix_backend {

namespace {

// Off reads every directory once per search, as the system gives it.
constexpr bool k_keep_directory_listings = true;

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
      entry.identity_known = false;
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

}  // namespace

void posix_find_close(find_state* handle) {
  auto* search = reinterpret_cast<find_state_posix*>(handle);
  if (!search) return;
  end_listing(search);
  if (search->dir) closedir(search->dir);
  delete search;
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

}  // namespace posix_backend
