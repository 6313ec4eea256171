#include "settings/setting_messages.h"

#include <gtest/gtest.h>

#include <string>

#include "settings/run_settings.h"
#include "test_util.h"

namespace {

// The unit tests call the readers without a run: their messages are settled on
// standard output from the start, as with an output file, so that each test sees
// them as it writes them.
class settled_on_standard_output : public testing::Environment {
 public:
  void SetUp() override { settle_setting_messages(false); }
};
const testing::Environment* const k_settled =
    testing::AddGlobalTestEnvironment(new settled_on_standard_output);

// Output and error text of `action`.
template <typename action_type>
std::pair<std::string, std::string> screens_of(action_type action) {
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  action();
  std::string err = testing::internal::GetCapturedStderr();
  return {testing::internal::GetCapturedStdout(), err};
}

bool s_terminal = false;
bool fake_is_terminal(std::FILE*) { return s_terminal; }

class setting_messages_test : public testing::Test {
 protected:
  void SetUp() override {
    create_run_settings();
    reset_setting_messages();
    g_platform.is_terminal = fake_is_terminal;
    s_terminal = false;
  }
  void TearDown() override {
    reset_setting_messages();
    settle_setting_messages(false);
    create_run_settings();
  }
  scoped_platform swap_;
};

}  // namespace

TEST_F(setting_messages_test, are_held_until_the_listing_s_place_is_known) {
  struct {
    bool listing_on_standard_output;
    std::string out, err;
  } cases[] = {{false, "held 5\nlater\n", ""}, {true, "", "held 5\nlater\n"}};
  for (const auto& c : cases) {
    reset_setting_messages();
    auto held = screens_of([] {
      say_setting("held");
      say_setting_formatted(" %d\n", 5);
    });
    EXPECT_EQ(held.first + held.second, "");
    auto settled = screens_of([&] {
      settle_setting_messages(c.listing_on_standard_output);
      say_setting("later\n");
    });
    EXPECT_EQ(settled.first, c.out);
    EXPECT_EQ(settled.second, c.err);
  }
}

TEST_F(setting_messages_test, a_wait_shows_them_only_where_someone_watches) {
  struct {
    bool terminal;
    int32_t output_mode;
    std::string out, err;
  } cases[] = {
      {false, 0, "", ""},
      {true, 0, "", "wait\n"},
      {true, 1, "wait\n", ""},
  };
  for (const auto& c : cases) {
    reset_setting_messages();
    s_terminal = c.terminal;
    g_settings->output_mode = c.output_mode;
    auto shown = screens_of([] {
      say_setting("wait\n");
      show_setting_messages();
    });
    EXPECT_EQ(shown.first, c.out) << c.terminal << c.output_mode;
    EXPECT_EQ(shown.second, c.err) << c.terminal << c.output_mode;
    // An end of the run lets out what is still held, where the settings so far say.
    auto released = screens_of([] { release_setting_messages(); });
    EXPECT_EQ(shown.first + shown.second + released.first + released.second, "wait\n");
    EXPECT_EQ(released.first.empty() && shown.first.empty(), c.output_mode == 0);
  }
}
