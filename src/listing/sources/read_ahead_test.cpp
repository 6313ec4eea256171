#include "listing/sources/read_ahead.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>

#include "test_util.h"

namespace {

// A file of `size` bytes in memory, read by the fake read_bytes below: at most
// `step` bytes a read (as a pipe or a share may hand them out), and a failure
// once `fail_at` bytes were read (-1: never).
struct fake_file {
  std::string bytes;
  std::size_t at = 0;
  std::size_t step = 1 << 20;
  int64_t fail_at = -1;
};
fake_file* g_fake = nullptr;
std::atomic<int> g_reads{0};

int64_t fake_read(read_handle, void* into, int64_t size) {
  ++g_reads;
  fake_file& f = *g_fake;
  if (f.fail_at >= 0 && static_cast<int64_t>(f.at) >= f.fail_at) return -1;
  std::size_t n = std::min({static_cast<std::size_t>(size), f.step, f.bytes.size() - f.at});
  if (f.fail_at >= 0) n = std::min(n, static_cast<std::size_t>(f.fail_at) - f.at);
  std::memcpy(into, f.bytes.data() + f.at, n);
  f.at += n;
  return static_cast<int64_t>(n);
}

failure_kind fake_failure(std::string& reason) {
  reason = "Input/output error";
  return failure_kind::other;
}

std::string pattern(std::size_t size) {
  std::string out(size, '\0');
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<char>(i * 7 + i / 251);
  return out;
}

// Reads everything through the read-ahead in calls of the given sizes, in turn;
// `last` is what the last call gave (0 at the end, -1 after a failure).
std::string read_all(read_ahead& ahead, const std::vector<int64_t>& sizes, int64_t& last) {
  std::string out;
  std::string buffer(1 << 20, '\0');
  bool was_short = false;
  for (std::size_t i = 0;; ++i) {
    int64_t wanted = sizes[i % sizes.size()];
    last = read_ahead_bytes(ahead, buffer.data(), wanted);
    if (last <= 0) return out;
    // Short only at the end or before a failure, as a regular file's read is.
    EXPECT_FALSE(was_short) << "a short read before " << out.size();
    was_short = last < wanted;
    out.append(buffer.data(), static_cast<std::size_t>(last));
  }
}

}  // namespace

TEST(read_ahead, hands_out_the_bytes_in_order_however_they_are_asked_for) {
  scoped_platform restore;
  g_platform.read_bytes = fake_read;
  g_platform.last_failure = fake_failure;
  struct read_case {
    std::size_t size;
    std::size_t step;
    std::vector<int64_t> wanted;
  } cases[] = {
      {0, 1 << 20, {65536}},
      {1, 1 << 20, {65536}},
      {(1 << 18) - 1, 1 << 20, {65536}},
      {1 << 18, 1 << 20, {65536}},
      {(5 << 20) + 17, 1 << 20, {65536, 65535, 1, 65000}},
      {(3 << 20) + 5, 4093, {65536, 300000}},
  };
  for (const read_case& c : cases) {
    fake_file file{pattern(c.size), 0, c.step, -1};
    g_fake = &file;
    read_ahead* ahead = start_read_ahead(3);
    ASSERT_NE(ahead, nullptr);
    int64_t last = 0;
    std::string got = read_all(*ahead, c.wanted, last);
    EXPECT_EQ(last, 0) << c.size;
    EXPECT_TRUE(got == file.bytes) << c.size << " " << got.size();
    std::string reason;
    EXPECT_EQ(stop_read_ahead(ahead, reason), failure_kind::none);
  }
}

TEST(read_ahead, a_failed_read_comes_after_the_bytes_before_it_with_its_reason) {
  scoped_platform restore;
  g_platform.read_bytes = fake_read;
  g_platform.last_failure = fake_failure;
  for (int64_t fail_at : {int64_t{0}, int64_t{1000}, int64_t{1} << 18, (int64_t{1} << 20) + 3}) {
    fake_file file{pattern(4 << 20), 0, 1 << 20, fail_at};
    g_fake = &file;
    read_ahead* ahead = start_read_ahead(3);
    ASSERT_NE(ahead, nullptr);
    int64_t last = 0;
    std::string got = read_all(*ahead, {65536}, last);
    EXPECT_EQ(last, -1) << fail_at;
    EXPECT_EQ(got, file.bytes.substr(0, static_cast<std::size_t>(fail_at)));
    std::string reason;
    EXPECT_EQ(stop_read_ahead(ahead, reason), failure_kind::other);
    EXPECT_EQ(reason, "Input/output error");
  }
}

TEST(read_ahead, stops_at_once_with_parts_unread_and_reads_no_further_ahead_than_its_parts) {
  scoped_platform restore;
  g_platform.read_bytes = fake_read;
  fake_file file{pattern(64 << 20), 0, 1 << 20, -1};
  g_fake = &file;
  g_reads = 0;
  read_ahead* ahead = start_read_ahead(3);
  ASSERT_NE(ahead, nullptr);
  std::string buffer(65536, '\0');
  ASSERT_EQ(read_ahead_bytes(*ahead, buffer.data(), 65536), 65536);
  g_platform.sleep_milliseconds(50);
  // A megabyte ahead of what was taken, not the whole file.
  EXPECT_LE(file.at, std::size_t{5} << 18);
  std::string reason;
  EXPECT_EQ(stop_read_ahead(ahead, reason), failure_kind::none);
  EXPECT_EQ(stop_read_ahead(nullptr, reason), failure_kind::none);
  EXPECT_EQ(start_read_ahead(k_no_file), nullptr);
}
