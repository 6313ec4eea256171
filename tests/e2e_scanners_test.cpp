// Several files read at once: whatever the number of scanners, a run writes the
// listing, standard error and the run log of a run that reads one file after
// another; an interrupt leaves whole records in walk order; counts outside 1 to
// 64 are refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "INCLUDE_U/text.h"
#include "platform/platform.h"
#include "test_util.h"

#ifndef _WIN32
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using words = std::vector<std::string>;

// A way to run the program over a tree: its words, and whether the files come
// from a source list (an earlier listing) with the listing on standard output.
struct option_set {
  const char* label;
  words options;
  bool source_list;
};

const option_set k_option_sets[] = {
    {"plain", {}, false},
    {"quoted", {"-d", ","}, false},
    {"digests", {"--MD5", "--SHA2"}, false},
    {"source list", {}, true},
};

// What one run left: its status and streams, the listing and the run log.
struct run_outputs {
  run_result result;
  std::string listing;
  std::string log;
};

// The outputs of each run go below "out" of `work`, under the same names every
// time, so that the command lines differ in the scanner count alone.
run_outputs run_with_scanners(const temp_tree& work, const words& inputs, const option_set& set,
                              int scanners, const run_options& options) {
  work.remove("out/list.txt");
  work.remove("out/run.log");
  words args;
  if (set.source_list)
    args.push_back("--SOUR=" + work.path("out/sources.txt"));
  else
    args = inputs;
  args.insert(args.end(), set.options.begin(), set.options.end());
  args.push_back(numbered("--SCANNERS=", scanners));
  if (!set.source_list) args.insert(args.end(), {"-o", work.path("out/list.txt")});
  args.insert(args.end(), {"-1", work.path("out/run.log")});
  run_outputs outputs;
  outputs.result = run_mailsift(args, options);
  outputs.listing = set.source_list ? outputs.result.out : work.read("out/list.txt");
  outputs.log = work.read("out/run.log");
  return outputs;
}

// Two runs over the same tree differ only in the clock and in the scanner count
// the run log echoes from the command line: both are masked, nothing else.
std::string masked(const std::string& text) {
  return std::regex_replace(mask_run_times(text), std::regex(R"(--SCANNERS=\d+)"),
                            "--SCANNERS=<n>");
}

// Byte for byte; a difference is shown where it starts, not as megabytes of listing.
void expect_same_bytes(const std::string& got, const std::string& want, const std::string& what) {
  if (got == want) return;
  auto [g, w] = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
  std::size_t at = static_cast<std::size_t>(g - got.begin());
  std::size_t from = at > 200 ? at - 200 : 0;
  ADD_FAILURE() << what << ": " << got.size() << " bytes instead of " << want.size()
                << ", first difference at byte " << at << "\n--- got:\n"
                << got.substr(from, 400) << "\n--- expected:\n"
                << want.substr(from, 400);
}

// Runs every option set with one scanner and with each of `counts`, and expects
// each run to give the one-scanner run's listing, standard error, run log and
// status. A walk's summary counts its records. The source list is the plain
// listing, and `extra_sources` after it.
void expect_same_runs(const temp_tree& work, const words& inputs, const std::vector<int>& counts,
                      const run_options& options, const std::string& extra_sources = "") {
  for (const option_set& set : k_option_sets) {
    SCOPED_TRACE(set.label);
    run_outputs one = run_with_scanners(work, inputs, set, 1, options);
    ASSERT_EQ(one.result.status, 0) << one.result.err.substr(0, 2000);
    ASSERT_FALSE(listing_records(one.listing).empty()) << one.result.err.substr(0, 2000);
    if (set.source_list) {
      EXPECT_EQ(one.result.err.find("Abnormal termination"), std::string::npos) << one.result.err;
    } else {
      EXPECT_EQ(summary_file_count(one.result.err),
                static_cast<long>(listing_records(one.listing).size()))
          << one.result.err.substr(0, 2000);
    }
    if (std::string(set.label) == "plain")
      work.write("out/sources.txt", one.listing + "\n" + extra_sources);
    for (int count : counts) {
      SCOPED_TRACE(numbered("scanners: ", count));
      run_outputs many = run_with_scanners(work, inputs, set, count, options);
      EXPECT_EQ(many.result.status, one.result.status) << many.result.err.substr(0, 2000);
      expect_same_bytes(many.listing, one.listing, "listing");
      expect_same_bytes(masked(many.result.err), masked(one.result.err), "standard error");
      expect_same_bytes(masked(many.log), masked(one.log), "run log");
    }
  }
}

// A tree of `levels` nested directories with one message at the bottom.
void write_deep_message(const temp_tree& tree, const std::string& top, int levels) {
  std::string path = top;
  for (int level = 1; level <= levels; ++level) path += numbered("/d", level);
  tree.write(path + "/deep.eml", "Subject: at the bottom\n");
}

// Every odd case of the suite in one tree below "m": odd contents and names, a
// deep path, and 40 files over 64 KB whose To and CC lines fill their records,
// more than the 1 MB that finished records may hold between them, with small files
// among them so that the wide files' few scanners fall behind the others. On POSIX
// also a link loop.
void make_odd_tree(const temp_tree& tree) {
  for (const odd_file& file : awkward_message_files())
    tree.write("m/odd/" + file.name, file.content);
  for (const std::string& name : awkward_file_names())
    tree.write("m/names/" + name, "Subject: n\n");
  std::string wide_header;
  for (int line = 0; wide_header.size() < 200 * 1024; ++line) {
    wide_header += numbered("To: recipient-", line, "@example.org\n");
    wide_header += numbered("CC: copy-", line, "@example.org\n");
  }
  for (int file = 0; file < 40; ++file) {
    tree.write(numbered("m/wide/wide-", file, ".eml"),
               numbered("From: sender-", file, "@example.org\n") + wide_header + "Subject: wide\n");
    for (int small = 0; small < 5; ++small) {
      tree.write(numbered(numbered("m/wide/small-", file, "-"), small, ".eml"),
                 numbered("From: small-", file, "@example.org\nSubject: small\n"));
    }
  }
  // 200 levels run past Windows' old 260-character limit, which the Windows
  // harness cannot write beyond: there the path stays short of it.
  write_deep_message(tree, "m/deep", k_windows ? 20 : 200);
#ifndef _WIN32
  tree.write("m/loop/in-loop.eml", "Subject: in the loop\n");
  ASSERT_EQ(symlink("..", tree.path("m/loop/up").c_str()), 0);
  ASSERT_EQ(symlink(tree.path("m").c_str(), tree.path("m/loop/top").c_str()), 0);
#endif
}

#ifndef _WIN32
// The files a run's progress lines name, in order: the lines that begin with `top`.
words progress_names(const std::string& err, const std::string& top) {
  words names;
  for (std::size_t at = err.find("\n" + top); at != std::string::npos;
       at = err.find("\n" + top, at + 1)) {
    std::size_t end = err.find(' ', at + 1);
    names.push_back(err.substr(at + 1, end - at - 1));
  }
  return names;
}

std::string joined_lines(const words& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

// Waits, looking every few milliseconds, until the file holds a whole record; false
// after `seconds`.
bool wait_for_records(const temp_tree& tree, const std::string& file, int seconds) {
  for (int waited = 0; waited < seconds * 100; ++waited) {
    if (listing_records(tree.read(file)).size() > 1) return true;
    poll(nullptr, 0, 10);
  }
  return false;
}
#endif

}  // namespace

TEST(scanners_identity, the_shared_corpus_is_listed_alike_by_one_scanner_and_by_sixteen) {
  const std::string corpus = source_path("../shared/corpus");
  if (!g_platform.is_directory(corpus)) GTEST_SKIP() << "no shared corpus at " << corpus;
  temp_tree work;
  work.make_dir("out");
  expect_same_runs(work, {corpus}, {16}, run_options{});
}

TEST(scanners_identity, odd_files_and_trees_are_listed_alike_by_any_number_of_scanners) {
  temp_tree tree;
  make_odd_tree(tree);
  if (HasFatalFailure()) return;
  tree.make_dir("out");
  expect_same_runs(tree, {tree.path("m")}, {2, 5, 16, 64}, run_options{});
}

// Paths that cannot be read are named on standard error, in walk order among the
// progress lines, and counted, alike for any number of scanners: a file that
// cannot be opened, a directory that cannot be entered, and a starting path.
TEST(scanners_identity, unreadable_paths_are_named_and_counted_alike_by_any_number_of_scanners) {
#ifdef _WIN32
  GTEST_SKIP() << "permissions that shut a reader out are POSIX modes here";
#else
  if (std::string why = why_no_unprivileged_runs(); !why.empty()) GTEST_SKIP() << why;
  temp_tree tree;
  write_small_messages(tree, 300);
  tree.write("m/d0/secret.eml", "Subject: secret\n");
  tree.write("m/d1/closed/hidden.eml", "Subject: hidden\n");
  tree.write("m/d2/zz-last/secret.eml", "Subject: secret\n");
  tree.write("locked/x.eml", "Subject: locked\n");
  for (const char* shut : {"m/d0/secret.eml", "m/d1/closed", "m/d2/zz-last/secret.eml", "locked"})
    ASSERT_EQ(chmod(tree.path(shut).c_str(), 0), 0);
  ASSERT_EQ(chmod(tree.root().c_str(), 0755), 0);
  tree.make_dir("out");
  ASSERT_EQ(chmod(tree.path("out").c_str(), 0777), 0);
  run_options options;
  options.unprivileged = true;
  options.cwd = tree.root();
  expect_same_runs(tree, {tree.path("locked"), tree.path("m")}, {2, 16}, options,
                   tree.path("m/d0/secret.eml") + "\n");
  run_result r = run_mailsift(
      {tree.path("locked"), tree.path("m"), "--SCANNERS=16", "-o", tree.path("out/check.txt")},
      options);
  EXPECT_NE(r.err.find("  4 paths could not be read\n"), std::string::npos) << r.err;
#endif
}

// SIGINT or SIGTERM during a run with many scanners: status 2, and the listing is
// the one-scanner listing cut after a whole record, with no record missing before
// it; the progress lines name exactly the files listed.
TEST(scanners_interrupt, the_listing_is_a_whole_record_prefix_of_the_full_listing) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX signals: the harness cannot interrupt a child here";
#else
  temp_tree tree;
  write_small_messages(tree, 4000);
  run_result full = run_mailsift({tree.path("m"), "--SCANNERS=1", "-o", tree.path("full.txt")});
  ASSERT_EQ(full.status, 0) << full.err.substr(0, 2000);
  const words all = listing_records(tree.read("full.txt"));
  ASSERT_EQ(all.size(), 4000u);
  for (int signal_number : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal_number);
    tree.remove("cut.txt");
    // Standard error is not read until the signal is sent: the run blocks on its
    // progress lines long before its end, so it cannot finish first.
    spawned_program program =
        start_mailsift({tree.path("m"), "--SCANNERS=16", "-o", tree.path("cut.txt")});
    ASSERT_GT(program.id, 0);
    bool listing_begun = wait_for_records(tree, "cut.txt", 60);
    send_signal(program, signal_number);
    run_result r = wait_for(program, 120);
    ASSERT_TRUE(listing_begun) << "no record reached the listing";
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 2) << r.err.substr(0, 2000);
    std::string listing = normalise_line_ends(tree.read("cut.txt"));
    const words cut = listing_records(listing);
    ASSERT_LT(cut.size(), all.size());
    EXPECT_EQ(listing.substr(0, listing.find('\n')),
              "Filename|Size|File-(MOD)Date|From|To|CC|Bcc|"
              "Date|Date-Time|Forward Date|Subject|"
              "Message Read|Attachment Info|Recent IP");
    for (std::size_t i = 0; i < cut.size(); ++i) ASSERT_EQ(cut[i], all[i]) << "record " << i;
    expect_same_bytes(joined_lines(progress_names(r.err, tree.path("m"))),
                      joined_lines(listed_files(listing)), "files named by progress lines");
    EXPECT_NE(r.err.find("\nAbnormal termination. Reason: USER_ABORTED\n"), std::string::npos);
  }
#endif
}

// Each file waiting for a scanner holds a descriptor: under a limit that one
// scanner lives with, many must not run out. Files of 1 MB (sparse) go to the few
// wide scanners only, so the walk gets ahead of them.
TEST(scanners_identity, a_descriptor_limit_that_one_scanner_lives_with_does_not_stop_many) {
#ifdef _WIN32
  GTEST_SKIP() << "descriptor limits are a POSIX resource limit";
#else
  temp_tree tree;
  for (int file = 0; file < 200; ++file) {
    std::string name = numbered("m/large-", file, ".eml");
    tree.write(name, "From: someone@example.com\nSubject: large\n");
    ASSERT_EQ(truncate(tree.path(name).c_str(), 1024 * 1024), 0);
  }
  run_options options;
  options.open_files_limit = 48;
  std::string one_scanner;
  for (const char* scanners : {"--SCANNERS=1", "--SCANNERS=16", "--SCANNERS=64"}) {
    SCOPED_TRACE(scanners);
    run_result r = run_mailsift({tree.path("m"), scanners, "-o", tree.path("list.txt")}, options);
    EXPECT_EQ(r.status, 0) << r.err.substr(r.err.size() > 1000 ? r.err.size() - 1000 : 0);
    std::string listing = tree.read("list.txt");
    EXPECT_EQ(listing_records(listing).size(), 200u);
    if (one_scanner.empty())
      one_scanner = listing;
    else
      EXPECT_EQ(listing, one_scanner);
  }
#endif
}

// Where the system has no thread to spare, a run with many scanners reads every
// file on the walk's thread and lists what one scanner lists.
TEST(scanners_identity, a_system_without_threads_to_spare_lists_as_one_scanner_does) {
#ifdef _WIN32
  GTEST_SKIP() << "process limits are a POSIX resource limit";
#else
  if (std::string why = why_no_unprivileged_runs(); !why.empty()) GTEST_SKIP() << why;
  temp_tree tree;
  write_small_messages(tree, 200);
  tree.write("m/large.eml",
             "From: someone@example.com\nSubject: large\n" + std::string(100000, 'x'));
  ASSERT_EQ(chmod(tree.root().c_str(), 0755), 0);
  run_options options;
  options.unprivileged = true;
  run_result one = run_mailsift({tree.path("m"), "--SCANNERS=1"}, options);
  ASSERT_EQ(one.status, 0) << one.err.substr(0, 2000);
  ASSERT_EQ(listing_records(one.out).size(), 201u);
  // The program itself is the one process its user may run. (A sanitizer build's
  // leak check at exit needs a thread of its own.)
  options.process_limit = 1;
  options.env.push_back({"ASAN_OPTIONS", "detect_leaks=0"});
  run_result many = run_mailsift({tree.path("m"), "--SCANNERS=16"}, options);
  EXPECT_EQ(many.status, 0) << many.err.substr(0, 2000);
  expect_same_bytes(many.out, one.out, "listing");
  expect_same_bytes(masked(many.err), masked(one.err), "standard error");
#endif
}

// Large files wait for the few scanners that take them, while small files with
// long records fill the budget of finished records: the file the writer needs
// next must still be read, or every thread waits for another and the run hangs.
TEST(scanners_identity, large_files_at_the_head_are_read_past_the_record_budget) {
  temp_tree tree;
  // The subdirectory is walked first: its large files come first in walk order.
  std::string body;
  for (int i = 0; i < 80000; ++i) body += "a body line that is long enough to count\n";
  for (int i = 0; i < 6; ++i) {
    tree.write(numbered("m/a/large", i, ".eml"), "From: a@example.com\nSubject: large\n\n" + body);
  }
  std::string addresses;
  for (int i = 0; i < 600; ++i) addresses += numbered("person", i) + "@example.com, ";
  std::string small;
  for (const char* name : {"From", "To", "CC", "Bcc"})
    small += std::string(name) + ": " + addresses + "\n";
  small += "Subject: small\n\nbody\n";
  for (int i = 0; i < 100; ++i) tree.write(numbered("m/small", i, ".eml"), small);
  // Digests make the large files slow to read, so that the small ones finish first.
  std::vector<std::string> args = {"-p", tree.path("m"), "--MD5", "--SHA1", "--SHA2", "-o"};
  run_options patient;
  patient.timeout_seconds = 60;
  std::vector<std::string> one = args, many = args;
  one.insert(one.end(), {tree.path("one.txt"), "--SCANNERS=1"});
  many.insert(many.end(), {tree.path("many.txt"), "--SCANNERS=16"});
  run_result first = run_mailsift(one, patient);
  run_result second = run_mailsift(many, patient);
  ASSERT_FALSE(second.timed_out);
  EXPECT_EQ(first.status, 0);
  EXPECT_EQ(second.status, 0);
  EXPECT_EQ(tree.read("many.txt"), tree.read("one.txt"));
}

TEST(scanners_settings, four_scanners_from_the_command_line_or_the_ini_file_list_alike) {
  temp_tree tree;
  for (int file = 0; file < 30; ++file)
    tree.write(numbered("m/m", file, ".eml"), numbered("Subject: message ", file, "\n"));
  run_options options;
  options.cwd = tree.root();
  run_result one = run_mailsift({tree.path("m"), "--SCANNERS=1"}, options);
  ASSERT_EQ(one.status, 0) << one.err;
  ASSERT_EQ(listing_records(one.out).size(), 30u);
  run_result given = run_mailsift({tree.path("m"), "--SCANNERS=4"}, options);
  EXPECT_EQ(given.status, 0) << given.err;
  EXPECT_EQ(given.out, one.out);
  tree.write("mailsift.ini", "SCANNERS=4\n");
  options.no_ini_word = false;
  run_result from_ini = run_mailsift({tree.path("m")}, options);
  EXPECT_EQ(from_ini.status, 0) << from_ini.err;
  EXPECT_EQ(from_ini.out, one.out);
}

TEST(scanners_settings, a_count_outside_1_to_64_ends_the_run_with_status_6_and_no_listing) {
  const char* const values[] = {"0",   "00", "65", "0065", "100", "99999999999999999999",
                                "abc", "4x", "-1", "+4"};
  const std::string reason = "\nAbnormal termination. Reason: ILLEGAL or INCOMPLETE OPTION\n";
  temp_tree tree;
  tree.write("m/a.eml", "Subject: never listed\n");
  run_options options;
  options.cwd = tree.root();
  for (std::string value : values) {
    SCOPED_TRACE(value);
    std::string message = "\nSCANNERS=" + value + " is not a number of scanners: give 1 to 64\n";
    // With the listing on standard output, the message goes to standard error.
    run_result given = run_mailsift({tree.path("m"), "--SCANNERS=" + value}, options);
    EXPECT_EQ(given.status, 6);
    EXPECT_EQ(given.out, "");
    EXPECT_EQ(given.err, message + reason + "\n");
    // With an output file named first, wherever the settings' messages go: no file.
    given =
        run_mailsift({tree.path("m"), "-o", tree.path("list.txt"), "--SCANNERS=" + value}, options);
    EXPECT_EQ(given.status, 6);
    EXPECT_NE((given.out + given.err).find(message), std::string::npos) << given.out << given.err;
    EXPECT_FALSE(tree.exists("list.txt"));
    // The INI file hands its values over upper-cased.
    tree.write("mailsift.ini", "SCANNERS=" + value + "\n");
    run_options with_ini = options;
    with_ini.no_ini_word = false;
    run_result from_ini = run_mailsift({tree.path("m")}, with_ini);
    tree.remove("mailsift.ini");
    EXPECT_EQ(from_ini.status, 6);
    EXPECT_EQ(from_ini.out, "");
    EXPECT_NE(from_ini.err.find("\nSCANNERS=" + ascii_upper_copy(value) + " is not a number"),
              std::string::npos)
        << from_ini.err;
  }
  // No value at all is an incomplete option, as for every option that needs one.
  run_result empty = run_mailsift({tree.path("m"), "--SCANNERS="}, options);
  EXPECT_EQ(empty.status, 6);
  EXPECT_EQ(empty.out, "");
  EXPECT_EQ(empty.err, "\nIllegal option: SCANNERS=" + reason + "\n");
}
