// A run split over machines: tools/mailsift-parallel cuts a file list into shards,
// runs one source-list run per shard through GNU parallel and joins the shard
// listings under one header line. The hosts here are this machine (-S :).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "test_util.h"

#ifndef _WIN32
#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>
#endif

namespace {

// Empty where the recipe can run here; otherwise why not.
std::string why_no_split_runs() {
  if (k_windows) return "the recipe is a POSIX shell script around GNU parallel";
  if (std::system("command -v parallel > /dev/null 2>&1") != 0) {
    return "GNU parallel is not installed (Debian package parallel; make test installs it)";
  }
  return "";
}

// Names with spaces and shell characters, and the odd contents of a real
// collection: an empty file, a long line, NUL bytes.
const std::string k_names[] = {
    "plain.eml", "with space.eml", "quote\"and$dollar.eml", "back\\slash 'single'.eml", "empty.eml",
    "long.eml",  "nul.eml"};
const char* const k_dirs[] = {"mail/", "mail/deep/er/"};

void make_collection(const temp_tree& tree) {
  int64_t when = eastern_seconds(2013, 8, 14, 9, 30, 0);
  int n = 0;
  for (const char* dir : k_dirs) {
    for (const std::string& name : k_names) {
      std::string message = numbered("From: Ann <ann@example.com>\nSubject: number ", n, "\n");
      if (name == "empty.eml") message.clear();
      if (name == "long.eml") message += "Subject: " + std::string(70000, 'x') + "\n";
      static const char nul_line[] = "To: b\0ob@example.com\n";
      if (name == "nul.eml") message += std::string(nul_line, sizeof nul_line - 1);
      if (!message.empty()) message += "\nbody\n";
      std::string path = dir + name;
      tree.write(path, message);
      tree.set_times(path, when + n, when + n);
      ++n;
    }
  }
  tree.make_dir("empty");
}

// A list naming every message, one missing file, one file twice, a relative name
// and, first, the header line of an earlier listing.
std::string full_list(const temp_tree& tree) {
  std::string list = "Filename|Size|File-(MOD)Date\n";
  for (const char* dir : k_dirs) {
    for (const std::string& name : k_names) {
      list += tree.path(dir + name) + "|1|2\n";
    }
  }
  list += tree.path("mail/missing.eml") + "\n";
  list += tree.path("mail/plain.eml") + "   \r\n";
  list += "mail/deep/../with space.eml\n";
  return list;
}

// The script under test: the one a package installed, which `make test-package`
// names, or else the source tree's.
std::string split_script() {
  const char* installed = std::getenv("MAILSIFT_SPLIT_RUN");
  return installed && *installed ? installed : source_path("tools/mailsift-parallel");
}

// Its temporary files go below the tree, where a test can look for them.
run_options split_options(const temp_tree& tree) {
  tree.make_dir("tmp");
  run_options options;
  options.program = split_script();
  options.env = {{"MAILSIFT", mailsift_binary()}, {"TMPDIR", tree.path("tmp")}};
  options.cwd = tree.root();
  return options;
}

run_result run_split(const temp_tree& tree, const std::vector<std::string>& words) {
  return run_mailsift(words, split_options(tree));
}

// A message that starts a line of its own: at the start of the text or after a
// line end.
bool begins_a_line(const std::string& text, const std::string& message) {
  std::size_t at = text.find(message);
  return at != std::string::npos && (at == 0 || text[at - 1] == '\n');
}

run_result run_in(const temp_tree& tree, const std::vector<std::string>& words) {
  run_options options;
  options.cwd = tree.root();
  return run_mailsift(words, options);
}

}  // namespace

TEST(split_run, the_joined_listing_holds_the_records_of_one_source_list_run) {
  std::string why = why_no_split_runs();
  if (!why.empty()) GTEST_SKIP() << why;
  temp_tree tree;
  make_collection(tree);
  std::string list = full_list(tree);
  struct {
    const char* name;
    std::string list;
    std::vector<std::string> options;
    const char* files_per_shard;
  } cases[] = {
      {"several shards", list, {}, "4"},
      {"comma form", list, {"-d", ","}, "3"},
      {"one shard", list, {}, "1000"},
      {"one file per shard", list, {}, "1"},
      // A single run stops at the empty line; so do the shards.
      {"empty line ends the list",
       list.substr(0, list.find("long.eml")) + "long.eml\n\n" + list,
       {},
       "2"},
      {"empty list", "", {}, "5"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    tree.write("list.txt", c.list);
    std::vector<std::string> single_words = {"--SOUR=" + tree.path("list.txt")};
    single_words.insert(single_words.end(), c.options.begin(), c.options.end());
    run_result single = run_in(tree, single_words);
    ASSERT_EQ(single.status, 0) << single.err;
    std::vector<std::string> header_words = {tree.path("empty")};
    header_words.insert(header_words.end(), c.options.begin(), c.options.end());
    run_result header_run = run_in(tree, header_words);
    ASSERT_EQ(header_run.status, 0) << header_run.err;
    std::string header = header_run.out;

    std::vector<std::string> split_words = {"-n", c.files_per_shard, "list.txt"};
    split_words.insert(split_words.end(), c.options.begin(), c.options.end());
    run_result split = run_split(tree, split_words);
    ASSERT_EQ(split.status, 0) << split.err;
    EXPECT_EQ(split.err.find("mailsift-parallel:"), std::string::npos) << split.err;
    std::string first_line = split.out.substr(0, split.out.find('\n'));
    EXPECT_EQ(first_line, header);
    std::vector<std::string> records = listing_records(split.out);
    EXPECT_EQ(std::count(records.begin(), records.end(), header), 0);
    EXPECT_EQ(sorted(records), sorted(listing_records(single.out)));
    // The shards are joined in list order, so the records come as one run gives them.
    EXPECT_EQ(split.out, header + single.out);
  }
}

TEST(split_run, a_failed_run_is_reported_and_ends_with_a_failure_status) {
  std::string why = why_no_split_runs();
  if (!why.empty()) GTEST_SKIP() << why;
#ifndef _WIN32
  temp_tree tree;
  make_collection(tree);
  tree.write("list.txt", full_list(tree));
  // Writes a header line, then fails on every shard after a progress line, which
  // has no line end.
  tree.write("failing",
             "#!/bin/sh\ncase \"$*\" in *--SOUR=*) printf '\\n/m/a.eml   28 Bytes' >&2; exit 3 ;; "
             "esac\nprintf 'Filename'\n");
  ASSERT_EQ(chmod(tree.path("failing").c_str(), 0755), 0);
  struct {
    const char* name;
    std::vector<std::string> words;
    const char* message;
  } cases[] = {
      {"every shard fails",
       {"-m", tree.path("failing"), "-n", "5", "list.txt"},
       "mailsift-parallel: 4 shard run(s) failed; the listing is incomplete"},
      {"a starting path among the options",
       {"list.txt", "-p", tree.path("mail")},
       "mailsift-parallel: no lone header line on standard output"},
      {"the program is missing",
       {"-m", tree.path("nowhere"), "list.txt"},
       "mailsift-parallel: the run that writes the header line failed"},
      {"the list is missing", {"nothing.txt"}, "mailsift-parallel: cannot read the list"},
      {"no files per shard", {"-n", "0", "list.txt"}, "mailsift-parallel: -n wants a number"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    run_result r = run_split(tree, c.words);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_TRUE(begins_a_line(r.err, c.message)) << r.err;
  }
#endif
}

TEST(split_run, options_that_write_a_file_are_refused_before_anything_runs) {
  std::string why = why_no_split_runs();
  if (!why.empty()) GTEST_SKIP() << why;
  temp_tree tree;
  make_collection(tree);
  tree.write("list.txt", full_list(tree));
  // The words are read as mailsift reads them: letters run together, a letter's
  // value is the rest of its word or the next word, '+' undoes.
  struct {
    std::vector<std::string> options;
    const char* refused;  // the word named, or null where the run goes ahead
  } cases[] = {
      {{"-o", "out.txt"}, "-o"},
      {{"-ro", "out.txt"}, "-ro"},
      {{"-Oout.txt"}, "-Oout.txt"},
      {{"-d", ",", "-a"}, "-a"},
      {{"--OUT=out.txt"}, "--OUT=out.txt"},
      {{"--output=out.txt"}, "--output=out.txt"},
      {{"--app"}, "--app"},
      {{"-r-OUT=out.txt"}, "-r-OUT=out.txt"},
      {{"-t", "o", "-o", "out.txt"}, "-o"},
      {{"-do"}, nullptr},
      {{"-d", "o"}, nullptr},
      {{"-to"}, nullptr},
      {{"+o"}, nullptr},
      {{"+a"}, nullptr},
      {{"--QUOTE"}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.options.front());
    std::vector<std::string> words = {"list.txt"};
    words.insert(words.end(), c.options.begin(), c.options.end());
    run_result r = run_split(tree, words);
    EXPECT_FALSE(tree.exists("out.txt"));
    if (!c.refused) {
      EXPECT_EQ(r.status, 0) << r.err;
      continue;
    }
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(begins_a_line(r.err, std::string("mailsift-parallel: ") + c.refused +
                                         " would write a file"))
        << r.err;
    tree.remove("out.txt");
  }
}

#ifndef _WIN32
namespace {

// Processes whose command line names something below `root`, as "pid: command".
std::vector<std::string> processes_naming(const std::string& root) {
  std::vector<std::string> found;
  DIR* proc = opendir("/proc");
  if (!proc) return found;
  std::string own = std::to_string(getpid());
  while (struct dirent* d = readdir(proc)) {
    std::string pid = d->d_name;
    if (pid.empty() || pid.find_first_not_of("0123456789") != std::string::npos || pid == own)
      continue;
    std::ifstream in("/proc/" + pid + "/cmdline", std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    std::string command = bytes.str();
    std::replace(command.begin(), command.end(), '\0', ' ');
    if (command.find(root) != std::string::npos) found.push_back(pid + ": " + command);
  }
  closedir(proc);
  return found;
}

std::vector<std::string> entries_of(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* e = readdir(d)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(d);
  }
  return names;
}

}  // namespace
#endif

TEST(split_run, a_signal_ends_parallel_every_shard_and_the_temporary_files) {
  std::string why = why_no_split_runs();
  if (!why.empty()) GTEST_SKIP() << why;
#ifndef _WIN32
  temp_tree tree;
  make_collection(tree);
  tree.write("list.txt", full_list(tree));
  // Each shard run says it started, then waits in a sleeper named below the tree,
  // so that one left behind shows in /proc.
  ASSERT_EQ(symlink("/bin/sleep", tree.path("sleeper").c_str()), 0);
  tree.write("slow", "#!/bin/sh\ncase \"$*\" in *--SOUR=*) : > '" + tree.path("started") +
                         "'; '" + tree.path("sleeper") + "' 60 ;; esac\nexec '" +
                         mailsift_binary() + "' \"$@\"\n");
  ASSERT_EQ(chmod(tree.path("slow").c_str(), 0755), 0);
  struct {
    int signal_number;
    int status;
  } cases[] = {{SIGTERM, 143}, {SIGINT, 130}, {SIGHUP, 129}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.signal_number);
    if (tree.exists("started")) tree.remove("started");
    spawned_program split =
        start_mailsift({"-m", tree.path("slow"), "-n", "1", "list.txt"}, split_options(tree));
    for (int i = 0; i < 400 && !tree.exists("started"); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_TRUE(tree.exists("started"));
    auto signalled = std::chrono::steady_clock::now();
    send_signal(split, c.signal_number);
    run_result r = wait_for(split, 30);
    std::this_thread::sleep_until(signalled + std::chrono::seconds(1));
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_TRUE(begins_a_line(r.err, "mailsift-parallel: ended by a signal")) << r.err;
    EXPECT_EQ(processes_naming(tree.root()), std::vector<std::string>());
    EXPECT_EQ(entries_of(tree.path("tmp")), std::vector<std::string>());
  }
#endif
}
