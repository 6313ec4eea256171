// Which files a run selects, and in what order, through the built program.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "test_util.h"

#ifndef _WIN32
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using names = std::vector<std::string>;

// m/a.eml and m/s/b.eml, the smallest tree that shows the walk order.
void make_two_level_tree(const temp_tree& tree) {
  tree.write("m/a.eml", "Subject: a\n");
  tree.write("m/s/b.eml", "Subject: b\n");
}

}  // namespace

TEST(discovery_run, subdirectory_files_come_before_the_directory_s_own) {
  temp_tree tree;
  make_two_level_tree(tree);
  run_result r = run_mailsift({tree.path("m")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listed_files(r.out), (names{tree.path("m/s/b.eml"), tree.path("m/a.eml")}));
  EXPECT_EQ(r.err.find("Abnormal termination"), std::string::npos) << r.err;
}

TEST(discovery_run, a_pattern_word_gives_a_starting_path_and_a_file_type) {
  temp_tree tree;
  tree.write("m/a.eml", "x");
  tree.write("m/B.EML", "x");
  tree.write("m/c.txt", "x");
  tree.write("m/sub/d.eml", "x");
  tree.write("m/sub/e.msg", "x");
  run_result r = run_mailsift({tree.path("m/*.eml")});
  ASSERT_EQ(r.status, 0) << r.err;
  names got = listed_files(r.out);
  ASSERT_EQ(got.size(), 3u) << r.out;
  EXPECT_EQ(got[0], tree.path("m/sub/d.eml"));
  EXPECT_EQ(sorted({got[1], got[2]}), sorted({tree.path("m/a.eml"), tree.path("m/B.EML")}));
}

// A word naming a file is its directory plus its name as a pattern, so the
// same name is found in the subdirectories too.
TEST(discovery_run, a_file_word_selects_that_name_throughout_its_tree) {
  temp_tree tree;
  tree.write("m/a.eml", "x");
  tree.write("m/b.eml", "x");
  tree.write("m/sub/a.eml", "x");
  run_result r = run_mailsift({tree.path("m/a.eml")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listed_files(r.out), (names{tree.path("m/sub/a.eml"), tree.path("m/a.eml")}));
}

TEST(discovery_run, a_starting_path_given_twice_is_walked_once) {
  temp_tree tree;
  make_two_level_tree(tree);
  std::vector<std::string> args = {tree.path("m"), tree.path("m") + k_path_separator};
  // Windows names ignore case, so a differently written path is the same one.
  if (k_windows) args.push_back(tree.path("M"));
  run_result r = run_mailsift(args);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listed_files(r.out), (names{tree.path("m/s/b.eml"), tree.path("m/a.eml")}));
}

TEST(discovery_run, starting_paths_are_walked_in_the_order_given) {
  temp_tree tree;
  tree.write("one/1.eml", "x");
  tree.write("two/2.eml", "x");
  run_result r = run_mailsift({tree.path("two"), tree.path("one")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listed_files(r.out), (names{tree.path("two/2.eml"), tree.path("one/1.eml")}));
}

TEST(discovery_run, a_missing_starting_path_is_named_and_the_run_goes_on) {
  temp_tree tree;
  tree.write("m/a.eml", "x");
  run_result r = run_mailsift({tree.path("missing/*.eml"), tree.path("m/*.eml")});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listed_files(r.out), (names{tree.path("m/a.eml")}));
  EXPECT_NE(r.err.find("\nmailsift: cannot read " + tree.path("missing") +
                       ": No such file or directory\n"),
            std::string::npos)
      << r.err;
}

TEST(discovery_run, an_eightieth_starting_path_is_refused) {
  temp_tree tree;
  std::vector<std::string> args;
  for (int i = 1; i <= 80; ++i) args.push_back(tree.path(numbered("d", i)));
  run_result r = run_mailsift(args);
  EXPECT_EQ(r.status, 6);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("at most 79"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("ILLEGAL or INCOMPLETE OPTION"), std::string::npos) << r.err;
  // 79 are accepted.
  args.pop_back();
  EXPECT_EQ(run_mailsift(args).status, 0);
}

TEST(discovery_run, an_eightieth_file_type_is_refused) {
  temp_tree tree;
  std::vector<std::string> args;
  for (int i = 1; i <= 80; ++i) args.push_back(tree.path(numbered("*.e", i)));
  run_result r = run_mailsift(args);
  EXPECT_EQ(r.status, 6);
  EXPECT_NE(r.err.find("at most 79"), std::string::npos) << r.err;
  args.pop_back();
  EXPECT_EQ(run_mailsift(args).status, 0);
}

#ifndef _WIN32
TEST(discovery_run, a_link_loop_lists_each_file_once) {
  temp_tree tree;
  make_two_level_tree(tree);
  ASSERT_EQ(symlink("..", tree.path("m/s/up").c_str()), 0);
  ASSERT_EQ(symlink(tree.path("m").c_str(), tree.path("m/s/top").c_str()), 0);
  run_result r = run_mailsift({tree.path("m")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listed_files(r.out), (names{tree.path("m/s/b.eml"), tree.path("m/a.eml")}));
}

TEST(discovery_run, unreadable_paths_are_named_counted_and_skipped) {
  if (std::string why = why_no_unprivileged_runs(); !why.empty()) GTEST_SKIP() << why;
  temp_tree tree;
  tree.write("locked/x.eml", "x");
  tree.write("m/a.eml", "x");
  tree.write("m/closed/y.eml", "x");
  tree.write("m/secret.eml", "x");
  chmod(tree.root().c_str(), 0755);
  chmod(tree.path("locked").c_str(), 0);
  chmod(tree.path("m/closed").c_str(), 0);
  chmod(tree.path("m/secret.eml").c_str(), 0);
  tree.make_dir("out");
  chmod(tree.path("out").c_str(), 0777);
  // As an ordinary user: root would read everything whatever the permissions say.
  run_options options;
  options.unprivileged = true;
  options.cwd = tree.root();
  run_result r =
      run_mailsift({tree.path("locked"), tree.path("m"), "-o", tree.path("out/list.txt")}, options);
  // Per-file problems do not end the run.
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listed_files(tree.read("out/list.txt")), (names{tree.path("m/a.eml")}));
  for (const char* unreadable : {"locked", "m/closed", "m/secret.eml"}) {
    EXPECT_NE(
        r.err.find("\nmailsift: cannot read " + tree.path(unreadable) + ": Permission denied\n"),
        std::string::npos)
        << unreadable << "\n"
        << r.err;
  }
  EXPECT_NE(r.err.find(" files\n  3 paths could not be read\n"), std::string::npos) << r.err;
}
#endif

// An interrupt during a long walk ends the run with reason 2 after a whole record.
TEST(discovery_run, an_interrupt_during_the_walk_ends_after_a_whole_record) {
  if (!can_interrupt_children()) GTEST_SKIP() << "no interrupts for child processes here";
#ifndef _WIN32
  temp_tree tree;
  const int directories = 40, files_per_directory = 100;
  for (int d = 0; d < directories; ++d) {
    for (int f = 0; f < files_per_directory; ++f) {
      tree.write(numbered(numbered("d", d, "/message-with-a-longer-name-"), f, ".eml"),
                 "From: someone@example.com\nSubject: walk\n\nbody\n");
    }
  }
  spawned_program program = start_mailsift({tree.root()});
  // Output shows that the walk is under way; the program then blocks on the
  // full pipes until wait_for reads them, so it cannot finish before the signal.
  struct pollfd fds[2] = {{program.out_fd, POLLIN, 0}, {program.err_fd, POLLIN, 0}};
  ASSERT_GT(poll(fds, 2, 30000), 0) << "no output from the program";
  send_interrupt(program);
  run_result r = wait_for(program);
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 2);
  EXPECT_NE(r.err.find("\nAbnormal termination. Reason: USER_ABORTED\n\n"), std::string::npos);
  names got = listed_files(r.out);
  EXPECT_LT(got.size(), static_cast<std::size_t>(directories * files_per_directory));
  // Every record, the last one included, has as many fields as the header line.
  std::size_t header_end = r.out.find('\n');
  ASSERT_NE(header_end, std::string::npos);
  auto fields = [](std::string_view line) { return std::count(line.begin(), line.end(), '|'); };
  auto header_fields = fields(std::string_view(r.out).substr(0, header_end));
  std::size_t at = header_end;
  while (at != std::string::npos) {
    std::size_t next = r.out.find('\n', at + 1);
    std::string_view line = std::string_view(r.out).substr(at + 1, next - at - 1);
    ASSERT_EQ(fields(line), header_fields) << line;
    at = next;
  }
#endif
}
