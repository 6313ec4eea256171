// In-process set-up shared by the walk and file-selection tests: fresh settings,
// empty lists and counters, the listing into a scratch file, and a record of the
// files handed to the selection (through the look-up it starts with).
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "dates_test_support.h"
#include "discovery/walk.h"
#include "listing/eml_program.h"
#include "listing/scanners/scanners.h"
#include "platform/platform.h"
#include "settings/path_lists.h"
#include "settings/run_settings.h"
#include "test_util.h"

// Paths the selection looked up, in order.
inline std::vector<std::string> g_looked_up;

inline bool recording_lookup(const std::string& path, dir_entry& entry) {
  g_looked_up.push_back(path);
  return native_platform().lookup_file(path, entry);
}

inline read_handle recording_open_and_look_up(const std::string& path, dir_entry& entry) {
  g_looked_up.push_back(path);
  return native_platform().open_and_look_up(path, entry);
}

// The listing, wired to the selection as run/ wires it.
inline constexpr file_sink k_listing_sink = {.make_room_to_open = make_room_to_open,
                                             .take_file = list_selected_file};

class discovery_test : public ::testing::Test {
 protected:
  void SetUp() override {
    create_run_settings();
    g_settings->recurse = 1;
    g_settings->time_type = 'w';
    clear_path_lists();
    g_walk.counted_files = 0;
    g_walk.counted_bytes = 0;
    g_walk.longest_path = 0;
    g_walk.dir_count = 0;
    g_file_count = 0;
    g_walk.depth = 0;
    g_looked_up.clear();
    listing_ = std::fopen(scratch_.path("listing.txt").c_str(), "w");
    g_out_file = listing_;
    g_msg_file = stderr;
    g_platform.lookup_file = recording_lookup;
    g_platform.open_and_look_up = recording_open_and_look_up;
  }
  void TearDown() override {
    g_out_file = nullptr;
    if (listing_) std::fclose(listing_);
    clear_path_lists();
  }

  // A directory string as the walk hands it around: prefix, trailing separator.
  std::string dir(std::string_view relative = "") const {
    std::string path = relative.empty() ? tree.root() : tree.path(relative);
    return std::string(k_long_path_prefix) + path + k_path_separator;
  }
  // The complete path of a file as the selection looks it up.
  std::string file(std::string_view relative) const {
    return std::string(k_long_path_prefix) + tree.path(relative);
  }
  // Selected files, relative to the tree, '/' separated, in the order looked up.
  std::vector<std::string> looked_up_relative() const {
    std::vector<std::string> out;
    std::string root = std::string(k_long_path_prefix) + tree.root() + k_path_separator;
    for (const std::string& path : g_looked_up) {
      std::string relative = path.rfind(root, 0) == 0 ? path.substr(root.size()) : path;
      for (char& c : relative) {
        if (c == k_path_separator) c = '/';
      }
      out.push_back(relative);
    }
    return out;
  }

  scoped_platform swap_;
  temp_tree tree;
  temp_tree scratch_;
  std::FILE* listing_ = nullptr;
};
