// The spine of a run, through the built program.
#include <gtest/gtest.h>

#include "test_util.h"

TEST(program_run, a_run_with_nothing_to_do_ends_with_status_0) {
  temp_tree tree;
  run_options options;
  options.cwd = tree.root();
  run_result r = run_mailsift({tree.root()}, options);
  EXPECT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err.find("Abnormal termination"), std::string::npos) << r.err;
}
