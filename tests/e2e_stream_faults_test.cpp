// Streams and signals: a full disk, a file-size limit, a hang-up or Ctrl-\ in the
// middle of a run, closed standard streams and settings files that are not files.
// Whatever happens, the listing ends at a whole record and the run says so.
#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "test_util.h"

#ifndef _WIN32
#include <poll.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

constexpr std::size_t k_fields = 14;

std::size_t field_count(const std::string& record) {
  std::size_t n = 1;
  for (char c : record) n += c == '|';
  return n;
}

// `directories` folders of `files` messages each, with a subject of `subject_length`.
void write_messages(const temp_tree& tree, int directories, int files,
                    std::size_t subject_length = 20) {
  for (int d = 0; d < directories; ++d) {
    for (int f = 0; f < files; ++f) {
      tree.write(
          numbered("m/d", d, "/message-") + std::to_string(f) + ".eml",
          "From: someone@example.com\nSubject: " + std::string(subject_length, 's') + "\n\nbody\n");
    }
  }
}

// The records of a listing, each checked to be whole.
std::vector<std::string> whole_records(const std::string& listing) {
  std::vector<std::string> records = listing_records(listing);
  for (const std::string& record : records) {
    EXPECT_EQ(field_count(record), k_fields) << record.substr(0, 300);
  }
  return records;
}

// A write that fails part-way ends the run with reason 9; the listing is cut back to
// its last whole record, and the message and the summary give its record count.
void expect_cut_back_listing(const run_result& r, const std::string& listing) {
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 9) << r.err;
  EXPECT_NE(r.err.find("Abnormal termination. Reason: WRITE_ERROR"), std::string::npos) << r.err;
  std::vector<std::string> records = whole_records(listing);
  EXPECT_GT(records.size(), 0u);
  EXPECT_NE(listing.back(), '\n');
  std::smatch m;
  ASSERT_TRUE(std::regex_search(
      r.err, m, std::regex(R"(ends at its last whole record: the listing holds (\d+) records)")))
      << r.err;
  EXPECT_EQ(std::stoul(m[1].str()), records.size());
  EXPECT_EQ(summary_file_count(r.err), static_cast<long>(records.size())) << r.err;
}

TEST(stream_faults_e2e, a_file_size_limit_ends_the_run_with_whole_records_and_reason_9) {
  if (k_windows) GTEST_SKIP() << "file-size limits are a POSIX resource limit";
  temp_tree tree;
  write_messages(tree, 2, 150);
  run_options options;
  options.file_size_limit = 20000;  // far less than the 300 records take
  run_result r = run_mailsift({tree.path("m"), "-o", tree.path("out.txt")}, options);
  expect_cut_back_listing(r, normalise_line_ends(tree.read("out.txt")));
}

// Records with fields longer than the record writer's own buffer: the cut still
// falls between records, and at the same record for one scanner and for many.
TEST(stream_faults_e2e, a_file_size_limit_cuts_wide_records_back_whole_for_any_scanner_count) {
  if (k_windows) GTEST_SKIP() << "file-size limits are a POSIX resource limit";
  temp_tree tree;
  write_messages(tree, 1, 20, 10000);
  run_options options;
  options.file_size_limit = 50000;  // about five of the twenty 10 KB records
  std::string one_scanner;
  for (const char* scanners : {"--SCANNERS=1", "--SCANNERS=16"}) {
    SCOPED_TRACE(scanners);
    run_result r = run_mailsift({tree.path("m"), scanners, "-o", tree.path("out.txt")}, options);
    std::string listing = normalise_line_ends(tree.read("out.txt"));
    expect_cut_back_listing(r, listing);
    if (one_scanner.empty())
      one_scanner = listing;
    else
      EXPECT_EQ(listing, one_scanner);
  }
}

#ifndef _WIN32
// A small file system of its own, mounted for one test and unmounted after it.
class small_tmpfs {
 public:
  explicit small_tmpfs(const temp_tree& tree) : path_(tree.path("small")) {
    tree.make_dir("small");
    mounted_ = mount("tmpfs", path_.c_str(), "tmpfs", 0, "size=64k") == 0;
  }
  ~small_tmpfs() {
    if (mounted_) umount2(path_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string path_;
  bool mounted_ = false;
};
#endif

TEST(stream_faults_e2e, a_full_file_system_leaves_whole_records_and_a_true_count) {
#ifdef _WIN32
  GTEST_SKIP() << "needs a POSIX tmpfs mount";
#else
  if (geteuid() != 0) GTEST_SKIP() << "mounting a small tmpfs needs root";
  temp_tree tree;
  small_tmpfs room(tree);
  if (!room.mounted()) GTEST_SKIP() << "this system refuses a tmpfs mount (no CAP_SYS_ADMIN?)";
  write_messages(tree, 4, 250, 150);
  run_result r = run_mailsift({tree.path("m"), "-o", tree.path("small/out.txt")});
  expect_cut_back_listing(r, normalise_line_ends(tree.read("small/out.txt")));
#endif
}

// A hang-up (the terminal window closed) or Ctrl-\ mid-run ends it as an interrupt
// does: reason 2, whole records, the run log's trailer, and the terminal back in
// line mode with echo. The log's start is on the disk before the end.
TEST(stream_faults_e2e, hangup_and_quit_end_the_run_like_an_interrupt) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX signals on a pseudo-terminal";
#else
  for (int signal_number : {SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(signal_number);
    temp_tree tree;
    write_messages(tree, 10, 200);
    spawned_program program = start_mailsift_on_terminal(
        {tree.path("m"), "-o", tree.path("list.txt"), "-1", tree.path("run.log")});
    ASSERT_GT(program.id, 0);
    // Progress on the terminal shows the walk under way; unread, it soon blocks.
    struct pollfd fds[1] = {{program.out_fd, POLLIN, 0}};
    ASSERT_GT(poll(fds, 1, 30000), 0) << "no progress from the program";
    std::string log_so_far = normalise_line_ends(tree.read("run.log"));
    EXPECT_NE(log_so_far.find("****************************************\n"), std::string::npos);
    EXPECT_NE(log_so_far.find(" Started "), std::string::npos) << log_so_far;
    EXPECT_NE(log_so_far.find(" Command Line: "), std::string::npos) << log_so_far;
    send_signal(program, signal_number);
    run_result r = wait_for(program);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 2) << r.out.substr(r.out.size() > 500 ? r.out.size() - 500 : 0);
    std::vector<std::string> records = whole_records(normalise_line_ends(tree.read("list.txt")));
    EXPECT_LT(records.size(), 2000u);
    std::string log = normalise_line_ends(tree.read("run.log"));
    EXPECT_NE(log.find("\n Abnormal termination. Reason: USER_ABORTED"), std::string::npos) << log;
    EXPECT_NE(log.find("  Finished: "), std::string::npos) << log;
    struct termios modes {};
    ASSERT_EQ(tcgetattr(program.terminal_fd, &modes), 0);
    EXPECT_NE(modes.c_lflag & ECHO, 0u);
    EXPECT_NE(modes.c_lflag & ICANON, 0u);
    close(program.terminal_fd);
  }
#endif
}

// Descriptor 1 closed at start-up: the run log must not take its number and with
// it the listing.
TEST(stream_faults_e2e, a_closed_standard_output_keeps_the_listing_out_of_the_run_log) {
  if (k_windows) GTEST_SKIP() << "closing a descriptor for the child needs POSIX";
  temp_tree tree;
  write_messages(tree, 1, 3);
  run_options options;
  options.stdout_closed = true;
  run_result r = run_mailsift({tree.path("m"), "-1", tree.path("run.log")}, options);
  EXPECT_EQ(r.status, 0) << r.err;
  std::string log = normalise_line_ends(tree.read("run.log"));
  EXPECT_EQ(log.find("Filename|Size"), std::string::npos) << log;
  EXPECT_EQ(log.find("message-0.eml"), std::string::npos) << log;
  EXPECT_NE(log.find("  Finished: "), std::string::npos) << log;
}

// A settings file that is a FIFO or a device is not opened (nor waited on): the run
// says it could not open it and goes on, and SIGTERM then ends it at once.
TEST(stream_faults_e2e, an_ini_file_that_is_not_a_regular_file_is_refused_without_a_hang) {
#ifdef _WIN32
  GTEST_SKIP() << "FIFOs and /dev/zero are POSIX";
#else
  for (bool fifo : {true, false}) {
    SCOPED_TRACE(fifo ? "FIFO" : "link to /dev/zero");
    temp_tree tree;
    write_messages(tree, 10, 200);
    tree.make_dir("cwd");
    std::string ini = tree.path("cwd/mailsift.ini");
    ASSERT_EQ(fifo ? mkfifo(ini.c_str(), 0666) : symlink("/dev/zero", ini.c_str()), 0);
    run_options options;
    options.cwd = tree.path("cwd");
    options.no_ini_word = false;
    spawned_program program = start_mailsift({tree.path("m")}, options);
    // Unread, the listing fills the pipe and the run blocks before its end.
    struct pollfd fds[1] = {{program.out_fd, POLLIN, 0}};
    EXPECT_GT(poll(fds, 1, 10000), 0) << "no output: the run is stuck on the settings file";
    send_terminate(program);
    run_result r = wait_for(program, 20);
    ASSERT_FALSE(r.timed_out) << "SIGTERM did not end the run";
    EXPECT_EQ(r.status, 2) << r.err;
    // With the listing on standard output, the settings' messages go to standard error.
    EXPECT_NE(r.err.find("Couldn't open .ini file"), std::string::npos) << r.err.substr(0, 300);
  }
#endif
}

// SIGTERM while the listing goes to a pipe nobody reads: the run cannot reach a
// point where it looks at the interrupt, and still ends on the first signal.
TEST(stream_faults_e2e, a_run_blocked_on_an_unread_pipe_ends_on_the_first_terminate) {
#ifdef _WIN32
  GTEST_SKIP() << "POSIX signals";
#else
  temp_tree tree;
  write_messages(tree, 5, 200);
  spawned_program program = start_mailsift({tree.path("m")});
  struct pollfd fds[1] = {{program.out_fd, POLLIN, 0}};
  ASSERT_GT(poll(fds, 1, 30000), 0) << "no output from the program";
  send_terminate(program);
  run_result r = wait_without_reading(program, 60);
  ASSERT_FALSE(r.timed_out) << "one SIGTERM did not end the run";
  EXPECT_EQ(r.status, 2);
#endif
}

// A run log named on a file that ends in far more NUL bytes than a log of ours
// could: nothing of it is cut, the block goes after it.
TEST(stream_faults_e2e, a_long_run_of_nul_bytes_is_not_trimmed_from_the_run_log) {
  temp_tree tree;
  write_messages(tree, 1, 1);
  const std::string archive = "archive header\n" + std::string(10240, '\0');
  tree.write("archive.tar", archive);
  run_result r = run_mailsift({tree.path("m"), "-1", tree.path("archive.tar")});
  EXPECT_EQ(r.status, 0) << r.err;
  std::string after = tree.read("archive.tar");
  ASSERT_GT(after.size(), archive.size());
  EXPECT_EQ(after.substr(0, archive.size()), archive);
  EXPECT_NE(normalise_line_ends(after.substr(archive.size())).find("  Finished: "),
            std::string::npos);
}

}  // namespace
