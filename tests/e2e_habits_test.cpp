// What users of everyday command-line tools expect: --help and --version on
// standard output, and no waiting when nobody watches the screen.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "settings/help_screen.h"
#include "settings/version.h"
#include "test_util.h"

namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end = text.find('\n'); end != std::string::npos; end = text.find('\n', start)) {
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

bool is_plain_ascii(const std::string& text) {
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (byte >= 0x80 || (byte < 0x20 && c != '\n')) return false;
  }
  return true;
}

// Runs the program and reports the wall-clock seconds the run took.
run_result timed_run(const std::vector<std::string>& words, const run_options& options,
                     double& seconds) {
  auto start = std::chrono::steady_clock::now();
  run_result r = run_mailsift(words, options);
  seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return r;
}

}  // namespace

TEST(plain_help, goes_once_to_standard_output_and_ends_with_status_0) {
  temp_tree tree;
  std::vector<std::vector<std::string>> cases = {
      {"--help"}, {"--HELP"}, {"--HeLp"}, {"-r", "--help"}, {"-p", tree.root(), "--help"}};
  for (const auto& words : cases) {
    run_options options;
    options.cwd = tree.root();
    // No keys to give: a pager would stop at its first prompt.
    options.input = "";
    run_result r = run_mailsift(words, options);
    EXPECT_FALSE(r.timed_out) << describe(words);
    EXPECT_EQ(r.status, 0) << describe(words);
    EXPECT_EQ(r.err, "") << describe(words);
    EXPECT_EQ(r.out.rfind(std::string("mailsift ") + program_version() + ": ", 0), 0u) << r.out;
    EXPECT_NE(r.out.find(plain_help_option_text()), std::string::npos) << describe(words);
    EXPECT_EQ(r.out.find("RETURN TO CONTINUE"), std::string::npos) << describe(words);
    EXPECT_EQ(r.out.find("last updated"), std::string::npos) << describe(words);
    EXPECT_TRUE(is_plain_ascii(r.out)) << describe(words);
    // Nothing was listed: the help ends the run before the walk.
    EXPECT_EQ(r.out.find("Filename|"), std::string::npos) << describe(words);
  }
}

TEST(plain_help, has_the_option_lines_of_the_pages_in_their_order) {
  if (!k_windows) GTEST_SKIP() << "POSIX has option lines of its own";
  run_options paged_options;
  paged_options.no_ini_word = false;
  paged_options.input = std::string(8, '\n');
  run_result paged = run_mailsift({}, paged_options);
  ASSERT_EQ(paged.status, 0);
  run_result plain = run_mailsift({"--help"});
  ASSERT_EQ(plain.status, 0);
  std::size_t in_pages = 0;
  std::size_t in_plain = 0;
  for (const std::string& line : lines_of(help_option_text())) {
    if (line.empty()) continue;
    in_pages = paged.err.find(line + "\n", in_pages);
    in_plain = plain.out.find(line + "\n", in_plain);
    ASSERT_NE(in_pages, std::string::npos) << line;
    ASSERT_NE(in_plain, std::string::npos) << line;
  }
}

// POSIX readers get POSIX paths and every long option that changes what a run does.
TEST(plain_help, on_posix_names_the_long_options_that_act_with_posix_examples) {
  if (k_windows) GTEST_SKIP() << "Windows shows the option lines of the pages";
  run_result r = run_mailsift({"--help"});
  ASSERT_EQ(r.status, 0);
  for (const char* word : {"--PATH=",
                           "--FILE=",
                           "--EXC=",
                           "--REC",
                           "--LEV=",
                           "--SOUR=",
                           "--OLD=",
                           "--BEF=",
                           "--NEW=",
                           "--YOU=",
                           "--GRE=",
                           "--BIG=",
                           "--LES=",
                           "--SMA=",
                           "--OUT=",
                           "--APP",
                           "--DEL=",
                           "--QUOTE",
                           "--MD5",
                           "--SHA1",
                           "--SHA2",
                           "--HASH",
                           "--SHA",
                           "--SCANNERS=",
                           "--MBOX",
                           "--SENT-AFTER=",
                           "--SENT-BEFORE=",
                           "--IM",
                           "--VER=",
                           "--ACC=",
                           "--LOG=",
                           "~/mail",
                           "ACCT=~/",
                           "changes the files",
                           "not for evidence"}) {
    EXPECT_NE(r.out.find(word), std::string::npos) << word;
  }
  // Windows forms and the old misspellings of the pages stay there.
  for (const char* word : {"c:\\", "d:\\", "SET ACCT", "seperated", "delimeters"}) {
    EXPECT_EQ(r.out.find(word), std::string::npos) << word;
  }
  for (const std::string& line : lines_of(r.out)) EXPECT_LE(line.size(), 80u) << line;
}

TEST(version, prints_the_version_and_the_platform_with_status_0) {
  temp_tree tree;
  std::vector<std::vector<std::string>> cases = {
      {"--version"}, {"--VERSION"}, {"--Version"}, {"-r", "--version"}};
  for (const auto& words : cases) {
    run_options options;
    options.cwd = tree.root();
    run_result r = run_mailsift(words, options);
    EXPECT_EQ(r.status, 0) << describe(words);
    EXPECT_EQ(r.err, "") << describe(words);
    EXPECT_EQ(r.out, version_report()) << describe(words);
  }
  std::vector<std::string> lines = lines_of(version_report());
  ASSERT_GE(lines.size(), 2u);
  // The number set by the build, not the fallback of a build that forgot it.
  std::string number = lines[0].substr(std::string("mailsift ").size());
  EXPECT_EQ(lines[0].rfind("mailsift ", 0), 0u) << lines[0];
  EXPECT_NE(number, "0.0.0");
  int dots = 0;
  for (char c : number) {
    if (c == '.')
      ++dots;
    else
      EXPECT_TRUE(c >= '0' && c <= '9') << number;
  }
  EXPECT_EQ(dots, 2) << number;
  EXPECT_EQ(lines[1], std::string("built for ") + build_platform());
  EXPECT_NE(lines[1].find(k_windows ? "Windows" : "Linux"), std::string::npos) << lines[1];
}

TEST(version, other_words_beginning_with_VER_still_set_silence) {
  temp_tree tree;
  tree.write("box/a.eml", "Subject: a\n");
  struct {
    std::string word;
    bool silent_environment;
    int status;
    bool summary;
  } cases[] = {
      {"--verbose", false, 0, false},  {"--VER=OFF", true, 0, true},
      {"--Ver=on", false, 0, false},   {"--VERS", false, 0, false},
      {"--versions", false, 0, false}, {"--VER=maybe", false, 6, true},
  };
  for (const auto& c : cases) {
    run_options options;
    options.cwd = tree.root();
    if (c.silent_environment) options.env.push_back({"SILENT", "on"});
    run_result r = run_mailsift({tree.path("box"), "-o", tree.path("out.txt"), c.word}, options);
    EXPECT_EQ(r.status, c.status) << c.word << r.err;
    EXPECT_EQ(r.out.find("mailsift "), std::string::npos) << c.word << r.out;
    EXPECT_EQ(r.err.find("Elapsed:") != std::string::npos, c.summary) << c.word << r.err;
  }
}

TEST(warnings, do_not_wait_when_standard_error_is_a_pipe) {
  temp_tree tree;
  tree.write("box/a.eml", "Subject: a\n");
  // A key without its value: at a terminal the reader waits 3 seconds.
  tree.write("ini/mailsift.ini", "GREATER\n");
  struct {
    std::vector<std::string> words;
    std::string cwd;
    int status;
    std::string warning;
  } cases[] = {
      {{tree.path("box"), "--bogus"},
       "",
       0,
       "\nIllegal or incomplete minusminus option of \"--bogus\" IGNORED\n"},
      {{tree.path("box")}, "ini", 0, "\nMissing ini file modifier at: GREATER"},
      {{tree.path("box"), "-k"}, "", 6, "\nIllegal option k\n"},
  };
  double baseline = 0;
  run_options plain;
  plain.cwd = tree.root();
  ASSERT_EQ(timed_run({tree.path("box")}, plain, baseline).status, 0);
  for (const auto& c : cases) {
    run_options options;
    options.cwd = tree.path(c.cwd);
    options.no_ini_word = c.cwd.empty();
    double seconds = 0;
    run_result r = timed_run(c.words, options, seconds);
    EXPECT_EQ(r.status, c.status) << describe(c.words) << r.err;
    // The message itself is unchanged; with the listing on standard output it
    // goes to standard error.
    EXPECT_NE((r.out + r.err).find(c.warning), std::string::npos)
        << describe(c.words) << r.out << r.err;
    // Under an emulator even a plain run takes a while: only the wait must go.
    EXPECT_LT(seconds, baseline + 1.0) << describe(c.words);
  }
}
