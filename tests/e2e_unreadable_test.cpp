// Nothing the run meant to read is lost without a word: deep trees are walked to
// the bottom, exhausted descriptors end the run, and every path that cannot be
// read is named on standard error and counted.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "test_util.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using names = std::vector<std::string>;

std::string address_of_level(int level) { return numbered("level", level, "@example.com"); }

#ifdef _WIN32
bool create_directory(const std::string& path) {
  std::wstring wide(path.begin(), path.end());  // the test's names are ASCII
  return CreateDirectoryW((L"\\\\?\\" + wide).c_str(), nullptr) != 0;
}

bool create_file(const std::string& path, std::string_view bytes) {
  std::wstring wide(path.begin(), path.end());
  HANDLE h = CreateFileW((L"\\\\?\\" + wide).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) != 0;
  CloseHandle(h);
  return ok && written == bytes.size();
}
#else
// Paths beyond the system's limit cannot be handed over whole: each level is
// created relative to the one above it.
bool create_deep_levels(const std::string& root, const std::string& name, int levels,
                        std::vector<int>& fds) {
  int at = open(root.c_str(), O_RDONLY | O_DIRECTORY);
  if (at < 0) return false;
  fds.push_back(at);
  for (int level = 1; level <= levels; ++level) {
    if (mkdirat(at, name.c_str(), 0755) != 0) return false;
    at = openat(at, name.c_str(), O_RDONLY | O_DIRECTORY);
    if (at < 0) return false;
    fds.push_back(at);
  }
  return true;
}
#endif

// A chain of `levels` directories, each named by `name_length` copies of a
// letter, with one message per level; the messages' full paths, the deepest
// first, as a walk that enters subdirectories first lists them. Empty when the
// system refuses to create the tree.
names make_deep_tree(const temp_tree& tree, int levels, std::size_t name_length) {
  std::string name(name_length, 'd');
  names expected;
  std::string dir = tree.root();
#ifdef _WIN32
  for (int level = 1; level <= levels; ++level) {
    dir += '\\' + name;
    if (!create_directory(dir)) return {};
    std::string file = dir + "\\m.eml";
    if (!create_file(file, "From: " + address_of_level(level) + "\n")) return {};
    expected.insert(expected.begin(), file);
  }
#else
  std::vector<int> fds;
  bool made = create_deep_levels(tree.root(), name, levels, fds);
  for (std::size_t level = 1; made && level < fds.size(); ++level) {
    dir += '/' + name;
    int file = openat(fds[level], "m.eml", O_WRONLY | O_CREAT | O_EXCL, 0644);
    std::string text = "From: " + address_of_level(static_cast<int>(level)) + "\n";
    made = file >= 0 && write(file, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (file >= 0) close(file);
    expected.insert(expected.begin(), dir + "/m.eml");
  }
  for (int fd : fds) close(fd);
  if (!made) return {};
#endif
  return expected;
}

// Removes a tree too deep for the harness's own clean-up, bottom up.
void remove_deep_tree(const temp_tree& tree, int levels, std::size_t name_length) {
  std::string name(name_length, 'd');
#ifdef _WIN32
  std::string dir = tree.root();
  for (int level = 1; level <= levels; ++level) dir += '\\' + name;
  for (int level = levels; level >= 1; --level) {
    std::wstring wide(dir.begin(), dir.end());
    DeleteFileW((L"\\\\?\\" + wide + L"\\m.eml").c_str());
    RemoveDirectoryW((L"\\\\?\\" + wide).c_str());
    dir.resize(dir.size() - name.size() - 1);
  }
#else
  std::vector<int> fds;
  int at = open(tree.root().c_str(), O_RDONLY | O_DIRECTORY);
  while (at >= 0 && static_cast<int>(fds.size()) <= levels) {
    fds.push_back(at);
    at = openat(at, name.c_str(), O_RDONLY | O_DIRECTORY);
  }
  if (at >= 0) close(at);
  for (std::size_t i = fds.size(); i-- > 0;) {
    unlinkat(fds[i], "m.eml", 0);
    if (i + 1 < fds.size()) unlinkat(fds[i], name.c_str(), AT_REMOVEDIR);
    close(fds[i]);
  }
#endif
}

}  // namespace

TEST(deep_trees, files_below_every_path_length_limit_are_listed_with_their_full_paths) {
  struct deep_case {
    int levels;
    std::size_t name_length;
  };
  // Past Windows' old 260-character limit, well on towards 4,096, and past the
  // 4,096 bytes that POSIX calls take whole.
  for (deep_case c : {deep_case{2, 150}, deep_case{15, 200}, deep_case{30, 200}}) {
    SCOPED_TRACE(numbered("levels ", c.levels));
    temp_tree tree;
    names expected = make_deep_tree(tree, c.levels, c.name_length);
    if (expected.empty()) {
      remove_deep_tree(tree, c.levels, c.name_length);
      // Wine keeps its files on the host's file system, and stops where it does.
      if (k_windows) GTEST_SKIP() << "the system refuses to create a path this long";
      FAIL() << "cannot create the tree";
    }
    ASSERT_GT(expected.front().size(), c.levels == 30 ? 4096u : 260u);
    run_result r = run_mailsift({tree.root()});
    remove_deep_tree(tree, c.levels, c.name_length);
    EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
    EXPECT_EQ(listed_files(r.out), expected);
    // Each file was read, not only found: its record holds its own sender.
    std::vector<std::string> records = listing_records(r.out);
    ASSERT_EQ(records.size(), expected.size());
    for (std::size_t i = 0; i < records.size(); ++i) {
      int level = static_cast<int>(records.size() - i);
      EXPECT_NE(records[i].find(address_of_level(level)), std::string::npos) << level;
    }
    EXPECT_EQ(r.err.find("cannot read"), std::string::npos);
  }
}

#ifndef _WIN32
namespace {

std::size_t delimiters_in(std::string_view line) {
  return static_cast<std::size_t>(std::count(line.begin(), line.end(), '|'));
}

}  // namespace

TEST(exhausted_resources, running_out_of_descriptors_ends_the_run_after_whole_records) {
  struct limit_case {
    const char* tree_shape;
    long limit;
  };
  // A flat directory runs out when a file is opened; a deep one when the walk
  // opens the next level. (Fewer than 5 leave the loader itself short.)
  for (limit_case c : {limit_case{"flat", 5}, limit_case{"deep", 5}, limit_case{"deep", 8},
                       limit_case{"deep", 12}}) {
    SCOPED_TRACE(std::string(c.tree_shape) + numbered(" limit ", c.limit));
    temp_tree tree;
    std::string dir = "m";
    for (int level = 1; level <= 14; ++level) {
      tree.write(dir + "/a.eml", "From: " + address_of_level(level) + "\n");
      tree.write(dir + "/b.eml", "From: " + address_of_level(level) + "\n");
      if (std::string_view(c.tree_shape) == "flat") break;
      dir += "/d";
    }
    run_options options;
    options.open_files_limit = c.limit;
    // A sanitizer build's leak check at exit needs descriptors the limit takes.
    options.env.push_back({"ASAN_OPTIONS", "detect_leaks=0"});
    run_result r = run_mailsift({tree.path("m")}, options);
    EXPECT_EQ(r.status, 7) << r.err;
    EXPECT_NE(r.err.find("\nmailsift: cannot read " + tree.path("m")), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(": Too many open files\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("\nAbnormal termination. Reason: MEMORY ERROR\n"), std::string::npos);
    // No record stands for a file that was not read: each has its whole 14
    // fields and its file's own sender.
    std::size_t header_end = r.out.find('\n');
    for (const std::string& record : listing_records(r.out)) {
      EXPECT_EQ(delimiters_in(record), delimiters_in(r.out.substr(0, header_end))) << record;
      EXPECT_NE(record.find("@example.com"), std::string::npos) << record;
    }
  }
}
#endif

TEST(unreadable_paths, missing_paths_are_named_and_counted_in_summary_and_run_log) {
  struct missing_case {
    const char* label;
    std::vector<std::string> words;  // below the tree; "-p" stays as it is
    std::string named;               // the path the message names; empty when none
  };
  const missing_case cases[] = {
      {"starting directory", {"-p", "gone", "m"}, "gone"},
      {"file named as a word", {"m/gone.eml", "m"}, "m/gone.eml"},
      {"nothing missing", {"m"}, ""},
  };
  for (const missing_case& c : cases) {
    SCOPED_TRACE(c.label);
    temp_tree tree;
    tree.write("m/a.eml", "From: a@example.com\n");
    std::vector<std::string> args;
    for (const std::string& word : c.words) args.push_back(word == "-p" ? word : tree.path(word));
    args.insert(args.end(), {"-o", tree.path("out.txt"), "-1", tree.path("run.log")});
    run_result r = run_mailsift(args);
    EXPECT_EQ(r.status, 0) << r.err;
    std::string log = normalise_line_ends(tree.read("run.log"));
    if (c.named.empty()) {
      EXPECT_EQ(r.err.find("could not be read"), std::string::npos) << r.err;
      EXPECT_EQ(log.find("could not be read"), std::string::npos) << log;
      continue;
    }
    std::string message =
        "\nmailsift: cannot read " + tree.path(c.named) + ": No such file or directory\n";
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" files\n  1 path could not be read\n  Elapsed: "), std::string::npos)
        << r.err;
    EXPECT_NE(log.find(" files\n  1 path could not be read\n"), std::string::npos) << log;
  }
}
