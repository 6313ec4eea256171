// Text from the files reaches a terminal without its control characters.
#include <gtest/gtest.h>

#include <string>

#include "test_util.h"

namespace {

const std::string k_escape_title = "\x1b]0;owned\x07";

void write_crafted_message(const temp_tree& tree) {
  tree.write("mail/crafted.eml",
             "From: someone@example.org\nSubject: " + k_escape_title + "\x1b[2J hello\n");
}

}  // namespace

TEST(terminal_safety, controls_from_messages_are_shown_as_question_marks_on_a_terminal) {
  if (!can_use_terminal()) GTEST_SKIP() << "no pseudo-terminal on this platform";
  temp_tree tree;
  write_crafted_message(tree);
  tree.write("mail/name\x1b[31m.eml", "Subject: red name\n");
  run_result r = run_mailsift_on_terminal({tree.path("mail")});
  ASSERT_EQ(r.status, 0) << r.out;
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos) << r.out;
  EXPECT_EQ(r.out.find('\x07'), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("(#1:) Subject: ?]0;owned??[2J hello  "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("name?[31m.eml"), std::string::npos) << r.out;
}

TEST(terminal_safety, files_and_pipes_get_the_bytes_unchanged) {
  temp_tree tree;
  write_crafted_message(tree);
  run_result r = run_mailsift({tree.path("mail"), "-o", tree.path("list.txt")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(tree.read("list.txt").find("Subject: " + k_escape_title + "\x1b[2J hello"),
            std::string::npos);
  r = run_mailsift({tree.path("mail")});
  EXPECT_NE(r.out.find(k_escape_title), std::string::npos);
}
