// Last-access times through the built program: what it reads keeps them, and
// the run log says so, or says for how many it could not.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_util.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {

const int64_t k_access_2020 = utc_seconds(2020, 6, 1, 12, 0, 0);
const int64_t k_write_2019 = utc_seconds(2019, 6, 1, 12, 0, 0);

int64_t access_seconds(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_atim.tv_sec);
}

// A tmpfs mounted with strictatime, where every read updates the access time
// unless the reader asked otherwise; unmounted at scope end.
class strictatime_mount {
 public:
  explicit strictatime_mount(const std::string& where) : where_(where) {
    if (mount("tmpfs", where.c_str(), "tmpfs", MS_STRICTATIME, "size=4m") == 0) {
      mounted_ = true;
    } else {
      error_ = std::strerror(errno);
    }
  }
  ~strictatime_mount() {
    if (mounted_) umount2(where_.c_str(), MNT_DETACH);
  }
  strictatime_mount(const strictatime_mount&) = delete;
  strictatime_mount& operator=(const strictatime_mount&) = delete;
  bool mounted() const { return mounted_; }
  const std::string& error() const { return error_; }

 private:
  std::string where_;
  bool mounted_ = false;
  std::string error_;
};

// Reads a file as any program would, without asking to keep its access time.
void read_plainly(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY);
  char buffer[64];
  while (fd >= 0 && read(fd, buffer, sizeof buffer) > 0) {
  }
  if (fd >= 0) close(fd);
}

}  // namespace

TEST(access_times, files_and_directories_read_keep_their_access_times) {
  if (geteuid() != 0) GTEST_SKIP() << "mounting a strictatime tmpfs needs root";
  temp_tree tree;
  tree.make_dir("mnt");
  strictatime_mount mount_point(tree.path("mnt"));
  if (!mount_point.mounted()) GTEST_SKIP() << "cannot mount a tmpfs here: " << mount_point.error();
  const std::vector<std::string> kept = {"mnt/m/a.eml", "mnt/m/sub/b.eml", "mnt/m/sub", "mnt/m"};
  tree.write("mnt/m/a.eml", "From: a@b\nSubject: kept\n\nbody\n");
  tree.write("mnt/m/sub/b.eml", "Subject: also kept\n");
  tree.write("mnt/control.eml", "Subject: read plainly\n");
  for (const std::string& name : kept) tree.set_times(name, k_write_2019, k_access_2020);
  tree.set_times("mnt/control.eml", k_write_2019, k_access_2020);

  run_options options;
  options.cwd = tree.root();
  run_result r = run_mailsift({tree.path("mnt/m"), "--SHA2", "-1", tree.path("run.log")}, options);
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(listing_records(r.out).size(), 2u) << r.out;
  for (const std::string& name : kept) {
    EXPECT_EQ(access_seconds(tree.path(name)), k_access_2020) << name;
  }
  // The mount does update access times: a plain read of the same kind of file
  // moves its time, so the times kept above are the program's doing.
  read_plainly(tree.path("mnt/control.eml"));
  EXPECT_GT(access_seconds(tree.path("mnt/control.eml")), k_access_2020);

  EXPECT_NE(tree.read("run.log").find("    Last Access Dates of the message files and directories "
                                      "read: left unchanged\n"),
            std::string::npos)
      << tree.read("run.log");
  EXPECT_EQ(r.err.find("could not be kept"), std::string::npos) << r.err;
}

TEST(access_times, a_user_who_does_not_own_the_files_reads_them_and_counts_them) {
  if (std::string why = why_no_unprivileged_runs(); !why.empty()) GTEST_SKIP() << why;
  temp_tree tree;
  // Root's files and directories, readable by all; one file of the user's own.
  tree.write("m/a.eml", "Subject: root's\n");
  tree.write("m/sub/b.eml", "Subject: root's too\n");
  tree.write("m/sub/own.eml", "Subject: nobody's\n");
  ASSERT_EQ(chown(tree.path("m/sub/own.eml").c_str(), 65534, 65534), 0);
  tree.make_dir("out");
  chmod(tree.root().c_str(), 0755);
  chmod(tree.path("out").c_str(), 0777);
  run_options options;
  options.unprivileged = true;
  options.cwd = tree.root();
  // With an output file, so that the run ends with the screen summary.
  run_result r = run_mailsift(
      {tree.path("m"), "--MD5", "-1", tree.path("out/run.log"), "-o", tree.path("out/list.txt")},
      options);
  ASSERT_EQ(r.status, 0) << r.err;
  // Every file is listed, and hashed: the plain open that follows the refusal
  // reads it like any other.
  std::string listing = normalise_line_ends(tree.read("out/list.txt"));
  std::vector<std::string> records = listing_records(listing);
  ASSERT_EQ(records.size(), 3u) << listing;
  for (const std::string& record : records) {
    EXPECT_EQ(record.size() - record.find_last_of('|') - 1, 32u) << record;
  }
  const std::string line =
      "Last Access Dates could not be kept for 2 files and 2 directories read: only a file's "
      "owner (or root) may ask the system to keep it\n";
  std::string log = normalise_line_ends(tree.read("out/run.log"));
  EXPECT_NE(log.find("\n    " + line + "\n"), std::string::npos) << log;
  EXPECT_NE(r.err.find("\n  " + line), std::string::npos) << r.err;
}
#else
TEST(access_times, files_and_directories_read_keep_their_access_times) {
  GTEST_SKIP() << "under wine the host system's reads set access times whatever the handle asked "
                  "for; the Windows build's request is checked by the run-log line of every run";
}
#endif
