#include "platform/kept_listing.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const directory_stamp k_stamp = {{1, 0, 42}, 1000, 5};
const directory_stamp k_changed = {{1, 0, 42}, 1000, 6};

// Reads a listing of `names` for `search` as the directory would give it.
void read_directory(const void* search, const std::vector<std::string>& names, bool complete) {
  for (const std::string& name : names) keep_listed_name(search, name.c_str(), 8);
  end_listing_read(search, complete);
}

std::vector<std::string> replayed_names(listing_replay& replay) {
  std::vector<std::string> out;
  const char* name = nullptr;
  unsigned char type = 0;
  while (next_replayed_name(replay, name, type)) out.push_back(name);
  return out;
}

// A first search reads "d/" whole; returns whether a second search is then served.
bool second_search_replays(const std::string& second_dir, const directory_stamp& second_stamp,
                           bool first_complete) {
  forget_kept_listing();
  int first = 0;
  listing_replay first_replay;
  EXPECT_FALSE(start_kept_listing(&first, "d/", &k_stamp, first_replay));
  read_directory(&first, {".", "..", "a.eml"}, first_complete);
  finish_kept_listing(&first, "d/", k_stamp, first_replay);
  int second = 0;
  listing_replay replay;
  return start_kept_listing(&second, second_dir, &second_stamp, replay);
}

}  // namespace

TEST(kept_listing, serves_only_the_same_unchanged_directory_read_to_its_end) {
  struct {
    const char* what;
    const char* dir;
    directory_stamp stamp;
    bool complete;
    bool replays;
  } cases[] = {
      {"same directory, unchanged", "d/", k_stamp, true, true},
      {"changed since", "d/", k_changed, true, false},
      {"another directory", "e/", k_stamp, true, false},
      {"first read ended by an error", "d/", k_stamp, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(second_search_replays(c.dir, c.stamp, c.complete), c.replays) << c.what;
  }
}

TEST(kept_listing, replay_gives_the_names_in_order_and_comes_back_for_the_next_pattern) {
  forget_kept_listing();
  int first = 0;
  listing_replay reading;
  start_kept_listing(&first, "d/", &k_stamp, reading);
  read_directory(&first, {".", "..", "a.eml"}, true);
  finish_kept_listing(&first, "d/", k_stamp, reading);
  for (int pattern = 0; pattern < 2; ++pattern) {
    int next = 0;
    listing_replay replay;
    ASSERT_TRUE(start_kept_listing(&next, "d/", &k_stamp, replay)) << pattern;
    EXPECT_EQ(replayed_names(replay), (std::vector<std::string>{".", "..", "a.eml"}));
    finish_kept_listing(&next, "d/", k_stamp, replay);
  }
}

TEST(kept_listing, keeps_nothing_unstamped_or_beyond_the_limit) {
  forget_kept_listing();
  int unstamped = 0;
  listing_replay replay;
  EXPECT_FALSE(start_kept_listing(&unstamped, "d/", nullptr, replay));
  read_directory(&unstamped, {"a.eml"}, true);
  finish_kept_listing(&unstamped, "d/", k_stamp, replay);
  int next = 0;
  EXPECT_FALSE(start_kept_listing(&next, "d/", &k_stamp, replay));

  forget_kept_listing();
  int big = 0;
  listing_replay big_replay;
  start_kept_listing(&big, "d/", &k_stamp, big_replay);
  std::string long_name(1000, 'x');
  for (std::size_t n = 0; n <= k_kept_listing_limit / long_name.size(); ++n) {
    keep_listed_name(&big, long_name.c_str(), 8);
    EXPECT_LE(kept_listing_memory(), k_kept_listing_limit) << n;
  }
  // A listing that outgrew the limit gives its memory back.
  EXPECT_LT(kept_listing_memory(), long_name.size());
  end_listing_read(&big, true);
  finish_kept_listing(&big, "d/", k_stamp, big_replay);
  listing_replay after;
  EXPECT_FALSE(start_kept_listing(&next, "d/", &k_stamp, after));
  forget_kept_listing();
}
