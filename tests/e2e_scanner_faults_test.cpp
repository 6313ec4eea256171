// Many scanners fail as safely as one: out of memory on any thread, tight
// descriptor limits, slow storage with an interrupt, a second interrupt soon after
// the first, and the once-a-run digest note. Each run is held against a run of
// the same input with one scanner: the same records (a whole-record prefix where
// the run ended early), the same reason, and a run log with its trailer.
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "test_util.h"

#ifndef _WIN32
#include <signal.h>
#include <unistd.h>
#endif

namespace {

using words = std::vector<std::string>;

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool k_sanitized = true;
#else
constexpr bool k_sanitized = false;
#endif

struct outputs {
  run_result result;
  std::string listing;
  std::string log;
};

// Runs differ in the clock, the scanner count and the program (the one with
// faults injected); all three are masked.
std::string masked(const std::string& text) {
  std::string out = std::regex_replace(mask_run_times(text), std::regex(R"(--SCANNERS=\d+)"),
                                       "--SCANNERS=<n>");
  return std::regex_replace(out, std::regex("mailsift_faulty"), "mailsift");
}

// One run over `inputs` with `scanners`, its listing and run log below "out".
outputs run_over(const temp_tree& work, const words& inputs, int scanners,
                 const run_options& options = {}, const words& extra = {}) {
  work.remove("out/list.txt");
  work.remove("out/run.log");
  words args = inputs;
  args.insert(args.end(), extra.begin(), extra.end());
  args.insert(args.end(), {numbered("--SCANNERS=", scanners), "-o", work.path("out/list.txt"),
                           "-1", work.path("out/run.log")});
  outputs out;
  out.result = run_mailsift(args, options);
  out.listing = normalise_line_ends(work.read("out/list.txt"));
  out.log = work.read("out/run.log");
  return out;
}

size_t count_of(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// The run ended early but soundly: its listing is the header and whole records
// of the full listing, in order; the reason is said once; the run log has its
// trailer.
void expect_whole_record_prefix(const outputs& cut, const outputs& full, const char* reason) {
  words got = listing_records(cut.listing);
  words all = listing_records(full.listing);
  ASSERT_LE(got.size(), all.size()) << cut.result.err.substr(0, 2000);
  for (size_t i = 0; i < got.size(); ++i) ASSERT_EQ(got[i], all[i]) << "record " << i;
  EXPECT_EQ(cut.listing.substr(0, cut.listing.find('\n')),
            full.listing.substr(0, full.listing.find('\n')));
  EXPECT_EQ(count_of(cut.result.err, std::string("Abnormal termination. Reason: ") + reason), 1u)
      << cut.result.err.substr(cut.result.err.size() > 2000 ? cut.result.err.size() - 2000 : 0);
  EXPECT_NE(cut.log.find("Finished:"), std::string::npos) << "no trailer in the run log";
}

// The run ended for want of memory as one scanner would: status 7, whole records
// of the full listing, the reason and its one line.
void expect_memory_ran_out(const outputs& cut, const outputs& full) {
  EXPECT_EQ(cut.result.status, 7) << cut.result.err.substr(0, 2000);
  expect_whole_record_prefix(cut, full, "MEMORY ERROR");
  EXPECT_EQ(count_of(cut.result.err, "\nError obtaining memory\n"), 1u);
}

void expect_same_outputs(const outputs& many, const outputs& one) {
  EXPECT_EQ(many.result.status, one.result.status) << many.result.err.substr(0, 2000);
  EXPECT_EQ(many.listing, one.listing);
  EXPECT_EQ(masked(many.result.err), masked(one.result.err));
  EXPECT_EQ(masked(many.log), masked(one.log));
}

// Files that only the first scanners take (over 64 KB), so that a scanner, not
// the walk's thread, reads each, and whose records are longer than a slot keeps
// room for, so that each allocates; and small files with long names, whose paths
// the walk's thread allocates.
void write_fault_tree(const temp_tree& tree) {
  std::string body;
  while (body.size() < 80 * 1024) body += "a body line of a large message\n";
  const std::string subject(2000, 's');
  for (int i = 0; i < 24; ++i) {
    tree.write(numbered("m/large/large-", i, ".eml"),
               numbered("From: sender-", i, "@example.org\nSubject: ") + subject + "\n\n" + body);
  }
  const std::string long_name(90, 'n');
  for (int i = 0; i < 300; ++i) {
    tree.write(numbered("m/small/" + long_name + "-", i, ".eml"),
               numbered("From: small-", i, "@example.org\nSubject: small\n\nbody\n"));
  }
}

TEST(scanner_faults, memory_running_out_on_any_thread_ends_as_one_scanner_would) {
  struct fault_case {
    const char* label;
    const char* faults;
    bool may_succeed;  // the failure meets a step the run can do without
  };
  const fault_case cases[] = {
      {"a scanner's first file", "alloc=scanner:1:0", false},
      {"a scanner's later file", "alloc=scanner:5:0", false},
      {"the walk's thread", "alloc=walk:2:64", false},
      {"the first thread's start", "alloc=start:1", true},
      {"a later thread's start", "alloc=start:2", true},
  };
  temp_tree tree;
  write_fault_tree(tree);
  outputs one = run_over(tree, {tree.path("m")}, 1);
  ASSERT_EQ(one.result.status, 0) << one.result.err.substr(0, 2000);
  run_options options;
  options.program = faulty_binary();
  for (const fault_case& c : cases) {
    SCOPED_TRACE(c.label);
    options.env = {{"MAILSIFT_FAULTS", c.faults}};
    outputs many = run_over(tree, {tree.path("m")}, 16, options);
    if (c.may_succeed) {
      expect_same_outputs(many, one);
      continue;
    }
    expect_memory_ran_out(many, one);
  }
}

// A scanner that reads an Outlook data file meets the same rule: the files before
// it are listed whole, then the run ends for want of memory.
TEST(scanner_faults, memory_running_out_while_a_scanner_reads_an_outlook_file) {
  const std::string shared = source_path("../shared/pst");
  if (!g_platform.is_directory(shared)) GTEST_SKIP() << "no Outlook data files at " << shared;
  temp_tree tree;
  for (const char* name : {"test-account.ost", "sample1.pst", "test-account-pdf.ost"}) {
    tree.write(std::string("m/") + name, file_bytes(shared + "/" + name));
    tree.write(std::string("m/") + name + ".eml", "Subject: beside it\n\n");
  }
  outputs one = run_over(tree, {tree.path("m")}, 1, {}, {"--PST"});
  ASSERT_EQ(one.result.status, 0) << one.result.err.substr(0, 2000);
  run_options options;
  options.program = faulty_binary();
  options.env = {{"MAILSIFT_FAULTS", "alloc=scanner:1:0"}};
  outputs many = run_over(tree, {tree.path("m")}, 16, options, {"--PST"});
  expect_memory_ran_out(many, one);
}

// Memory or descriptors that run out for a charset's converter or a digest say
// nothing about the message: the run ends as when an allocation fails (the
// table above), not with text taken in the wrong charset or an empty digest
// said to be missing from the system.
TEST(scanner_faults, resources_a_record_needs_end_the_run_as_memory_running_out) {
  struct resource_case {
    const char* label;
    const char* faults;
    words settings;
  };
  const resource_case cases[] = {
      {"the first charset conversion", "charsets=1", {"--UTF"}},
      {"a later charset conversion", "charsets=7", {"--UTF", "--MBOX"}},
#ifndef _WIN32
      {"the digest library's memory", "crypto_memory", {"--SHA2"}},
      {"a mailbox's digests", "crypto_memory", {"--MBOX", "--MD5"}},
#endif
  };
  temp_tree tree;
  std::string body;
  while (body.size() < 80 * 1024) body += "a body line of a large message\n";
  for (int i = 0; i < 40; ++i) {
    tree.write(numbered("m/message-", i, ".eml"),
               numbered("From: sender-", i, "@example.org\nSubject: caf\xE9\n") +
                   "Content-Type: text/plain; charset=windows-1252\n\n" +
                   (i % 4 == 0 ? body : "body\n"));
  }
  run_options options;
  options.program = faulty_binary();
  for (const resource_case& c : cases) {
    outputs full = run_over(tree, {tree.path("m")}, 1, {}, c.settings);
    ASSERT_EQ(full.result.status, 0) << full.result.err.substr(0, 2000);
    options.env = {{"MAILSIFT_FAULTS", c.faults}};
    for (int scanners : {1, 16}) {
      SCOPED_TRACE(numbered(std::string(c.label) + ", scanners ", scanners));
      outputs cut = run_over(tree, {tree.path("m")}, scanners, options, c.settings);
      expect_memory_ran_out(cut, full);
      EXPECT_EQ(cut.result.err.find("gives no"), std::string::npos);
    }
  }
}

// A file that shrinks or grows while it is read keeps its record, and is named
// in walk order, counted in the summary and in the run log's trailer: its
// digests are of neither version of the file.
TEST(scanner_faults, a_file_that_changes_while_it_is_read_is_named_and_counted) {
  struct change_case {
    const char* label;
    const char* faults;
    words settings;
  };
  const change_case cases[] = {
      {"files that shrink", "changing=10", {"--MD5"}},
      {"files that grow", "changing=-3", {"--SHA2"}},
      {"mailboxes that shrink", "changing=10", {"--MBOX", "--MD5"}},
  };
  temp_tree tree;
  for (int i = 0; i < 30; ++i) {
    std::string name = numbered(i % 10 == 3 ? "m/changing-" : "m/steady-", i, ".eml");
    const std::string separator = "From x Mon Jan  1 10:00:00 2024\n";
    tree.write(name, separator + numbered("From: s-", i, "@example.org\nSubject: one\n\nbody\n\n") +
                         separator + "Subject: two\n\nbody\n");
  }
  run_options options;
  options.program = faulty_binary();
  for (const change_case& c : cases) {
    SCOPED_TRACE(c.label);
    options.env = {{"MAILSIFT_FAULTS", c.faults}};
    outputs one = run_over(tree, {tree.path("m")}, 1, options, c.settings);
    EXPECT_EQ(one.result.status, 0) << one.result.err.substr(0, 2000);
    EXPECT_EQ(count_of(one.result.err, " changed while it was read\n"), 3u) << one.result.err;
    for (int i : {3, 13, 23}) {
      std::string line = "\nmailsift: " + tree.path(numbered("m/changing-", i, ".eml")) +
                         " changed while it was read\n";
      EXPECT_NE(one.result.err.find(line), std::string::npos) << line;
    }
    EXPECT_NE(one.result.err.find("\n  3 files changed while they were read\n"), std::string::npos);
    EXPECT_NE(normalise_line_ends(one.log).find("\n  3 files changed while they were read\n"),
              std::string::npos)
        << one.log;
    outputs steady = run_over(tree, {tree.path("m")}, 1, {}, c.settings);
    EXPECT_EQ(listing_records(one.listing).size(), listing_records(steady.listing).size());
    EXPECT_EQ(steady.result.err.find("changed while"), std::string::npos);
    expect_same_outputs(run_over(tree, {tree.path("m")}, 16, options, c.settings), one);
  }
}

// A thread the system refuses is not asked for again: the run reads on with the
// scanners it has (here none), and lists what one scanner lists.
TEST(scanner_faults, a_refused_thread_is_asked_for_once) {
  temp_tree tree;
  write_fault_tree(tree);
  outputs one = run_over(tree, {tree.path("m")}, 1);
  run_options options;
  options.program = faulty_binary();
  options.env = {{"MAILSIFT_FAULTS", "alloc=start:1"},
                 {"MAILSIFT_FAULT_REPORT", tree.path("report.txt")}};
  expect_same_outputs(run_over(tree, {tree.path("m")}, 16, options), one);
  EXPECT_EQ(tree.read("report.txt"), "starts=1\n");
}

// Under an address-space limit, wherever one scanner lists everything, many list
// the same or end soundly; never a crash.
TEST(scanner_faults, an_address_space_limit_that_one_scanner_lives_with_crashes_no_run) {
#ifdef _WIN32
  GTEST_SKIP() << "address-space limits are a POSIX resource limit";
#else
  if (k_sanitized) GTEST_SKIP() << "the sanitizers reserve more address space than any limit";
  temp_tree tree;
  std::string addresses;
  for (int i = 0; i < 300; ++i) addresses += numbered("person", i, "@example.com, ");
  for (int i = 0; i < 200; ++i) {
    tree.write(numbered("m/wide-", i, ".eml"), "From: " + addresses + "\nTo: " + addresses +
                                                   "\nCC: " + addresses + "\nSubject: wide\n");
  }
  outputs full = run_over(tree, {tree.path("m")}, 1);
  ASSERT_EQ(full.result.status, 0);
  // The smallest limit, in steps of 256 KB, under which one scanner lists everything.
  run_options options;
  int64_t lowest = -1;
  for (int64_t limit = 4 << 20; limit < (256 << 20) && lowest < 0; limit += 256 << 10) {
    options.address_space_limit = limit;
    if (run_over(tree, {tree.path("m")}, 1, options).result.status == 0) lowest = limit;
  }
  ASSERT_GT(lowest, 0) << "one scanner never ran";
  for (int64_t limit = lowest; limit < lowest + (6 << 20); limit += 128 << 10) {
    SCOPED_TRACE(numbered("limit in KB: ", limit >> 10));
    options.address_space_limit = limit;
    outputs one = run_over(tree, {tree.path("m")}, 1, options);
    if (one.result.status != 0) continue;
    outputs many = run_over(tree, {tree.path("m")}, 16, options);
    ASSERT_TRUE(many.result.status == 0 || many.result.status == 7)
        << "status " << many.result.status << "\n"
        << many.result.err.substr(0, 2000);
    if (many.result.status == 0)
      EXPECT_EQ(many.listing, one.listing);
    else
      expect_whole_record_prefix(many, one, "MEMORY ERROR");
  }
#endif
}

// A limit on descriptors that one scanner lives with: many list the same, with
// the same summary and run log.
TEST(scanner_faults, descriptor_limits_that_one_scanner_lives_with_do_not_stop_many) {
#ifdef _WIN32
  GTEST_SKIP() << "descriptor limits are a POSIX resource limit";
#else
  struct limit_case {
    int nesting;       // directories the walk holds open at the bottom
    int files;         // small messages at the top
    bool files_first;  // in a starting path walked before the deep one, read slowly,
                       // so that they are still on their way as the walk goes down
  };
  const limit_case cases[] = {{0, 300, false}, {8, 30, false},   {24, 30, false},
                              {56, 30, false}, {160, 30, false}, {160, 60, true}};
  for (const limit_case& c : cases) {
    SCOPED_TRACE(numbered("nesting ", c.nesting, c.files_first ? ", files first" : ""));
    temp_tree tree;
    std::string deep = "m";
    for (int level = 1; level <= c.nesting; ++level) deep += numbered("/d", level);
    for (int i = 0; i < 3; ++i) tree.write(deep + numbered("/deep-", i, ".eml"), "Subject: deep\n");
    std::string top = c.files_first ? "s" : "m";
    for (int i = 0; i < c.files; ++i)
      tree.write(numbered(top + "/top-", i, ".eml"), numbered("Subject: top ", i, "\n"));
    words inputs = {tree.path("m")};
    run_options options;
    if (c.files_first) {
      inputs.insert(inputs.begin(), tree.path("s"));
      options.program = faulty_binary();
      options.env = {{"MAILSIFT_FAULTS", "slow_reads=5"}};
    }
    // The tightest limit one scanner lives with, and one a little wider.
    outputs one;
    // The sanitizers need descriptors of their own to start a thread.
    for (options.open_files_limit = c.nesting + (k_sanitized ? 16 : 4);
         options.open_files_limit < c.nesting + 64;
         ++options.open_files_limit) {
      one = run_over(tree, inputs, 1, options);
      if (one.result.status == 0) break;
    }
    ASSERT_EQ(one.result.status, 0) << one.result.err.substr(0, 2000);
    ASSERT_EQ(listing_records(one.listing).size(), static_cast<size_t>(c.files + 3));
    for (long wider : {0, 2}) {
      options.open_files_limit += wider;
      SCOPED_TRACE(numbered("limit ", options.open_files_limit));
      one = run_over(tree, inputs, 1, options);
      for (int scanners : {2, 16, 64}) {
        SCOPED_TRACE(numbered("scanners: ", scanners));
        expect_same_outputs(run_over(tree, inputs, scanners, options), one);
      }
    }
  }
#endif
}

// The digest note is said once, after the progress line of the first file in walk
// order, whichever scanner met the missing digest first.
TEST(scanner_faults, the_missing_digest_note_follows_the_first_file_with_any_scanners) {
#ifdef _WIN32
  GTEST_SKIP() << "the library's configuration that withholds digests is OpenSSL's";
#else
  temp_tree tree;
  tree.write("openssl.cnf",
             "openssl_conf = init\n[init]\nalg_section = algorithms\n"
             "[algorithms]\ndefault_properties = fips=yes\n");
  for (int i = 0; i < 400; ++i)
    tree.write(numbered("m/d", i / 50, numbered("/message-", i, ".eml")), "Subject: s\n");
  run_options options;
  options.env = {{"OPENSSL_CONF", tree.path("openssl.cnf")}};
  const words digests = {"--MD5", "--SHA2"};
  outputs one = run_over(tree, {tree.path("m")}, 1, options, digests);
  ASSERT_EQ(count_of(one.result.err, "gives no MD5 digest"), 1u) << one.result.err.substr(0, 500);
  ASSERT_EQ(count_of(one.result.err, "gives no SHA-256 digest"), 1u);
  for (int round = 0; round < 10; ++round) {
    SCOPED_TRACE(numbered("round ", round));
    expect_same_outputs(run_over(tree, {tree.path("m")}, 16, options, digests), one);
  }
#endif
}

#ifndef _WIN32
outputs interrupted_run(const temp_tree& tree, const words& args, const run_options& options,
                        int first_wait_ms, int second_wait_ms) {
  tree.remove("out/list.txt");
  tree.remove("out/run.log");
  words all = args;
  all.insert(all.end(), {"-o", tree.path("out/list.txt"), "-1", tree.path("out/run.log")});
  spawned_program program = start_mailsift(all, options);
  // The handlers are in place once the run log is open: a signal before that
  // would end the process as any program's, not the run.
  for (int waited = 0; waited < 3000 && !tree.exists("out/run.log"); ++waited)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  std::this_thread::sleep_for(std::chrono::milliseconds(first_wait_ms));
  send_signal(program, SIGINT);
  if (second_wait_ms >= 0) {
    std::this_thread::sleep_for(std::chrono::milliseconds(second_wait_ms));
    send_signal(program, SIGINT);
  }
  outputs out;
  out.result = wait_for(program, 60);
  out.listing = normalise_line_ends(tree.read("out/list.txt"));
  out.log = tree.read("out/run.log");
  return out;
}
#endif

// Reads that each take a second: after Ctrl-C the run ends within about one read,
// not after the files on their way or the grace that ends a stuck run.
TEST(scanner_faults, an_interrupt_on_slow_storage_ends_the_run_within_a_read) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX signals: the harness cannot interrupt a child here";
#else
  temp_tree tree;
  for (int i = 0; i < 60; ++i)
    tree.write(numbered("m/message-", i, ".eml"), numbered("Subject: slow ", i, "\n"));
  tree.make_dir("out");
  outputs full = run_over(tree, {tree.path("m")}, 1);
  run_options options;
  options.program = faulty_binary();
  options.env = {{"MAILSIFT_FAULTS", "slow_reads=1000"}};
  for (int scanners : {1, 16}) {
    SCOPED_TRACE(numbered("scanners: ", scanners));
    auto started = std::chrono::steady_clock::now();
    outputs cut = interrupted_run(tree, {tree.path("m"), numbered("--SCANNERS=", scanners)},
                                  options, 2500, -1);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() - 2.5;
    EXPECT_EQ(cut.result.status, 2);
    expect_whole_record_prefix(cut, full, "USER_ABORTED");
    // One read is a second; the grace for a stuck run is ten.
    EXPECT_LT(seconds, 4.0);
  }
#endif
}

// Ctrl-C pressed twice: the second interrupt during the wind-down never cuts a
// record, and the reason line and the trailer are written.
TEST(scanner_faults, a_second_interrupt_soon_after_the_first_cuts_no_record) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX signals: the harness cannot interrupt a child here";
#else
  temp_tree tree;
  write_small_messages(tree, 4000);
  tree.make_dir("out");
  outputs full = run_over(tree, {tree.path("m")}, 1);
  ASSERT_EQ(listing_records(full.listing).size(), 4000u);
  for (int round = 0; round < 30; ++round) {
    int apart = 1 + round % 30;
    SCOPED_TRACE(numbered("milliseconds apart: ", apart));
    outputs cut =
        interrupted_run(tree, {tree.path("m"), "--SCANNERS=16"}, run_options{}, 40, apart);
    EXPECT_EQ(cut.result.status, 2);
    expect_whole_record_prefix(cut, full, "USER_ABORTED");
    if (HasFailure()) break;
  }
#endif
}

}  // namespace
