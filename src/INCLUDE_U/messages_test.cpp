#include "INCLUDE_U/messages.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "INCLUDE_U/unreadable.h"

namespace {

// A message as the walk and the scans write it: program text around a name
// from the files, with a control character that a terminal must not get.
void write_sample_message() {
  write_message("\nmailsift: cannot read ");
  write_untrusted_message("/m/na\x1bme.eml");
  write_message(": gone");
}

std::string stderr_of(void (*write)()) {
  testing::internal::CaptureStderr();
  write();
  std::fflush(stderr);
  return testing::internal::GetCapturedStderr();
}

}  // namespace

TEST(held_messages, held_text_is_what_standard_error_would_have_got) {
  const std::string at_once = stderr_of(write_sample_message);
  ASSERT_NE(at_once, "");
  held_messages held;
  hold_messages(&held);
  EXPECT_EQ(messages_held(), &held);
  std::string while_held = stderr_of(write_sample_message);
  hold_messages(nullptr);
  EXPECT_EQ(messages_held(), nullptr);
  EXPECT_EQ(while_held, "");
  EXPECT_EQ(held.text, at_once);
}

// A scanner names its slot's messages to every writer: what it says stays apart
// from what the walk's thread holds meanwhile, and nothing reaches standard error.
TEST(held_messages, a_thread_that_names_its_messages_holds_them_apart) {
  held_messages mine;
  held_messages theirs;
  hold_messages(&mine);
  testing::internal::CaptureStderr();
  std::thread other([&theirs] {
    write_message(&theirs, "theirs");
    write_untrusted_message(&theirs, " too");
  });
  other.join();
  write_message("mine");
  std::fflush(stderr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  hold_messages(nullptr);
  EXPECT_EQ(mine.text, "mine");
  EXPECT_EQ(theirs.text, "theirs too");
}

TEST(held_messages, a_move_appends_text_and_adds_counts_and_empties_the_source) {
  struct row {
    held_messages to;
    held_messages from;
    held_messages expected;
  };
  const row rows[] = {
      {{"", 0, false}, {"b", 2, true}, {"b", 2, true}},
      {{"a", 1, true}, {"b", 2, false}, {"ab", 3, true}},
      {{"a", 1, false}, {"", 0, false}, {"a", 1, false}},
      {{"", 0, false}, {"", 0, false}, {"", 0, false}},
  };
  for (row r : rows) {
    SCOPED_TRACE(r.to.text + "+" + r.from.text);
    move_held_messages(r.to, r.from);
    EXPECT_EQ(r.to.text, r.expected.text);
    EXPECT_EQ(r.to.unreadable, r.expected.unreadable);
    EXPECT_EQ(r.to.resources_ran_out, r.expected.resources_ran_out);
    EXPECT_EQ(r.from.text, "");
    EXPECT_EQ(r.from.unreadable, 0);
    EXPECT_FALSE(r.from.resources_ran_out);
  }
  held_messages dropped{"lost", 3, true};
  drop_held_messages(dropped);
  EXPECT_EQ(dropped.text, "");
  EXPECT_EQ(dropped.unreadable, 0);
  EXPECT_FALSE(dropped.resources_ran_out);
}

// Failures met while holding are counted in what is held, not in the run's own
// counts, until the writer releases them.
TEST(held_messages, failures_are_counted_where_held_and_released_into_the_run) {
  int32_t before = g_unreadable_count;
  held_messages held;
  hold_messages(&held);
  testing::internal::CaptureStderr();
  EXPECT_TRUE(act_on_failure("/m/a.eml", failure_kind::other, "gone", true));
  EXPECT_TRUE(act_on_failure("/m/b", failure_kind::no_resources, "Too many open files", true));
  // The thread's own stop, from what it holds.
  EXPECT_EQ(failure_stop(), stop_reason::out_of_memory);
  hold_messages(nullptr);
  std::fflush(stderr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(g_unreadable_count, before);
  EXPECT_EQ(failure_stop(), stop_reason::go_on);
  EXPECT_EQ(held.unreadable, 2);
  EXPECT_TRUE(held.resources_ran_out);
  EXPECT_EQ(held.text,
            "\nmailsift: cannot read /m/a.eml: gone"
            "\nmailsift: cannot read /m/b: Too many open files");
  // Released without the resources flag, which would stay for the whole process.
  held.resources_ran_out = false;
  std::string text = held.text;
  testing::internal::CaptureStderr();
  release_held_messages(held);
  std::fflush(stderr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), text);
  EXPECT_EQ(g_unreadable_count, before + 2);
  EXPECT_EQ(held.text, "");
  EXPECT_EQ(held.unreadable, 0);
  EXPECT_EQ(failure_stop(), stop_reason::go_on);
  g_unreadable_count = before;
}

namespace {

// Releases a held resource failure and exits with 3 when it stops the run.
void release_a_resource_failure() {
  held_messages held;
  held.unreadable = 1;
  held.resources_ran_out = true;
  release_held_messages(held);
  std::exit(failure_stop() == stop_reason::out_of_memory ? 3 : 4);
}

}  // namespace

TEST(held_messages_death, a_released_resource_failure_stops_the_run) {
  // In a child: the flag, once the run's, stays for the rest of the process.
  EXPECT_EXIT(release_a_resource_failure(), testing::ExitedWithCode(3), "");
}
