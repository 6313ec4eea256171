#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/platform.h"
#include "test_util.h"

namespace {

#ifndef _WIN32
// Lowers the limit on open descriptors to `spare` above those open now, until
// scope end.
class scoped_descriptor_limit {
 public:
  explicit scoped_descriptor_limit(int spare) {
    getrlimit(RLIMIT_NOFILE, &saved_);
    int lowest_free = fcntl(0, F_DUPFD, 0);
    close(lowest_free);
    struct rlimit tight = saved_;
    tight.rlim_cur = static_cast<rlim_t>(lowest_free + spare);
    setrlimit(RLIMIT_NOFILE, &tight);
  }
  ~scoped_descriptor_limit() { setrlimit(RLIMIT_NOFILE, &saved_); }
  scoped_descriptor_limit(const scoped_descriptor_limit&) = delete;
  scoped_descriptor_limit& operator=(const scoped_descriptor_limit&) = delete;

 private:
  struct rlimit saved_ {};
};
#endif

// Built by appending: GCC 12 warns falsely on a literal + std::string here.
std::string message_name(int i) {
  std::string name = "d";
  name += std::to_string(i % 10);
  name += "/m";
  name += std::to_string(i);
  name += ".eml";
  return name;
}

std::string message_text(int i) {
  std::string text = "x";
  text += std::to_string(i);
  return text;
}

}  // namespace

// Handles given back may be closed later, in batches: opens must not fail for
// the descriptors that wait to be closed.
TEST(file_handles, many_files_open_and_read_whatever_waits_to_be_closed) {
  temp_tree tree;
  for (int i = 0; i < 100; ++i) tree.write(message_name(i), message_text(i));
#ifndef _WIN32
  // Fewer spare descriptors than may wait to be closed.
  scoped_descriptor_limit limit(6);
#endif
  for (bool looked_up : {false, true}) {
    for (int i = 0; i < 100; ++i) {
      std::string path = tree.path(message_name(i));
      dir_entry entry;
      read_handle file =
          looked_up ? g_platform.open_and_look_up(path, entry) : g_platform.open_for_reading(path);
      ASSERT_NE(file, k_no_file) << path;
      char bytes[8];
      int64_t n = g_platform.read_bytes(file, bytes, sizeof bytes);
      EXPECT_EQ(std::string(bytes, n > 0 ? static_cast<std::size_t>(n) : 0), message_text(i));
      if (looked_up) {
        EXPECT_EQ(entry.size, static_cast<int64_t>(message_text(i).size()));
      }
      g_platform.close_file(file);
    }
  }
}

// Settings, lists and logs are opened only when they are regular files: a FIFO
// would block the open, a device could be read for ever.
TEST(open_regular_stream, only_regular_files_are_opened) {
  temp_tree tree;
  tree.write("plain.txt", "text\n");
  tree.make_dir("folder");
  struct row {
    std::string path;
    const char* mode;
    bool opened;
  };
  std::vector<row> rows = {
      {tree.path("plain.txt"), "r", true},    {tree.path("plain.txt"), "r+b", true},
      {tree.path("plain.txt"), "a+", true},   {tree.path("created.log"), "ab", true},
      {tree.path("missing.txt"), "r", false}, {tree.path("folder"), "r", false},
      {tree.path("folder"), "ab", false},     {k_windows ? "NUL" : "/dev/null", "r", false},
  };
#ifndef _WIN32
  ASSERT_EQ(mkfifo(tree.path("fifo").c_str(), 0666), 0);
  rows.push_back({tree.path("fifo"), "r", false});
  rows.push_back({tree.path("fifo"), "a+", false});
  rows.push_back({"/dev/zero", "rb", false});
#endif
  for (const row& r : rows) {
    std::FILE* stream = g_platform.open_regular_stream(r.path, r.mode);
    EXPECT_EQ(stream != nullptr, r.opened) << r.path << " " << r.mode;
    if (stream) std::fclose(stream);
  }
  // Opened for reading, the file reads as it should, blocking reads and all.
  std::FILE* stream = g_platform.open_regular_stream(tree.path("plain.txt"), "r");
  ASSERT_NE(stream, nullptr);
  char line[16] = {};
  EXPECT_NE(std::fgets(line, sizeof line, stream), nullptr);
  EXPECT_STREQ(line, "text\n");
  std::fclose(stream);
}

// A run knows its own output file by identity: the stream it writes, a handle
// that reads the same file and a look-up that gives the identity agree, under any
// name; another file differs.
TEST(file_identity, a_stream_and_a_read_handle_of_one_file_agree) {
  temp_tree tree;
  tree.write("out.txt", "");
  tree.write("other.txt", "x");
  std::FILE* out = g_platform.open_stream(tree.path("out.txt"), "a+");
  ASSERT_NE(out, nullptr);
  dir_identity written;
  ASSERT_TRUE(g_platform.stream_identity(out, written));
  struct {
    const char* name;
    bool same;
  } cases[] = {{"out.txt", true}, {"other.txt", false}};
  for (const auto& c : cases) {
    read_handle file = g_platform.open_for_reading(tree.path(c.name));
    ASSERT_NE(file, k_no_file) << c.name;
    dir_identity read;
    EXPECT_TRUE(g_platform.read_handle_identity(file, read)) << c.name;
    EXPECT_EQ(read == written, c.same) << c.name;
    dir_identity by_path;
    EXPECT_TRUE(g_platform.directory_identity(tree.path(c.name), by_path)) << c.name;
    EXPECT_EQ(by_path == written, c.same) << c.name;
    dir_entry entry;
    ASSERT_TRUE(g_platform.lookup_file(tree.path(c.name), entry)) << c.name;
    if (entry.identity_known) {
      EXPECT_EQ(entry.identity == written, c.same) << c.name;
    }
    g_platform.close_file(file);
  }
  std::fclose(out);
  dir_identity none;
  EXPECT_FALSE(g_platform.stream_identity(nullptr, none));
  EXPECT_FALSE(g_platform.read_handle_identity(k_no_file, none));
}

#ifndef _WIN32
// A charset's converter that cannot be loaded for want of a descriptor is not a
// charset the system lacks. With no descriptor to spare the system's "no such
// charset" cannot be told from a module it could not load, so neither is an
// answer; glibc then refuses that charset for the rest of the process, which is
// why such a run must end rather than go on with the charset taken as unknown.
TEST(convert_charset, descriptors_running_out_are_no_answer_about_the_charset) {
  // Charsets of modules no other test loads: their loading needs a descriptor.
  const char* const charsets[] = {"koi8-t", "euc-tw", "x-no-such-charset"};
  charset_converters* converters = nullptr;
  std::string out;
  // The system's charset database is read at the first conversion: a process
  // that cannot read it then converts nothing, ever.
  ASSERT_EQ(g_platform.convert_charset(converters, "koi8-r", "\xC1", out),
            charset_conversion::converted);
  ASSERT_EQ(out, "\xD0\xB0");
  out.clear();
  for (const char* charset : charsets) {
    SCOPED_TRACE(charset);
    scoped_descriptor_limit none_spare(0);
    EXPECT_EQ(g_platform.convert_charset(converters, charset, "\xA4\xA1", out),
              charset_conversion::no_resources);
    EXPECT_EQ(out, "");
  }
  EXPECT_EQ(g_platform.convert_charset(converters, "x-no-such-charset", "a", out),
            charset_conversion::unknown);
  g_platform.free_charset_converters(converters);
  EXPECT_EQ(converters, nullptr);
}
#endif
