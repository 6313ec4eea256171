// The installed layout, the manual page and the packages, on the POSIX build.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "settings/eml_options.h"
#include "settings/ini_keys.h"
#include "settings/long_options.h"
#include "settings/version.h"
#include "test_util.h"

#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

// Absolute path of a program found on PATH; empty when there is none.
std::string find_program(const std::string& name) {
#ifdef _WIN32
  (void)name;
  return "";
#else
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string candidate = dirs.substr(start, end - start) + "/" + name;
    if (end > start && access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
#endif
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

run_result run_program(const std::string& program, const std::vector<std::string>& args,
                       run_options options = {}) {
  options.program = program;
  options.no_ini_word = false;
  return run_mailsift(args, options);
}

// The manual page as a terminal shows it, without bold or underlining.
std::string rendered_manual(const std::string& groff) {
  run_options options;
  options.env.push_back({"MANWIDTH", "80"});
  return run_program(groff, {"-man", "-Tascii", "-P-cbou", source_path("doc/mailsift.1")}, options)
      .out;
}

bool names_letter(const std::string& manual, char letter) {
  std::string tag = std::string("-") + letter;
  return manual.find("\n       " + tag) != std::string::npos ||
         manual.find(", " + tag) != std::string::npos;
}

// A built package named by an environment variable and the tool that opens it.
struct package_under_test {
  std::string file;
  std::string tool;
  std::string why_not;  // why the test cannot run; empty when it can
};

package_under_test find_package(const char* variable, const char* tool) {
  package_under_test p;
  const char* file = std::getenv(variable);
  p.file = file ? file : "";
  p.tool = find_program(tool);
  if (p.file.empty())
    p.why_not =
        std::string("no package named: `make test-package` builds one and sets ") + variable;
  else if (p.tool.empty())
    p.why_not = std::string(tool) + " is not installed";
  return p;
}

}  // namespace

TEST(manual_page, renders_without_warnings) {
  if (k_windows) GTEST_SKIP() << "the manual page is checked by the POSIX build";
  std::string groff = find_program("groff");
  if (groff.empty()) GTEST_SKIP() << "groff is not installed (Debian package groff-base)";
  run_result r = run_program(groff, {"-ww", "-man", "-z", source_path("doc/mailsift.1")});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
}

TEST(manual_page, names_every_option_letter_long_option_and_ini_key) {
  if (k_windows) GTEST_SKIP() << "the manual page is checked by the POSIX build";
  std::string groff = find_program("groff");
  if (groff.empty()) GTEST_SKIP() << "groff is not installed (Debian package groff-base)";
  std::string manual = rendered_manual(groff);
  ASSERT_NE(manual.find("NAME"), std::string::npos) << manual;
  for (char letter : option_letters()) {
    if (letter == '-') continue;
    EXPECT_TRUE(names_letter(manual, letter)) << "-" << letter;
  }
  for (std::string_view keyword : long_option_keywords()) {
    EXPECT_NE(manual.find("--" + std::string(keyword)), std::string::npos) << keyword;
  }
  for (std::string_view key : ini_key_names()) {
    EXPECT_NE(manual.find(std::string(key)), std::string::npos) << key;
  }
  for (const char* word : {"--help", "--version", "-.ini", "ACCT", "DELIMETER", "RESET", "SILENT",
                           "TOLVERIN.INI", "EXIT STATUS", "EXAMPLES", "WINDOWS NOTES"}) {
    EXPECT_NE(manual.find(word), std::string::npos) << word;
  }
}

TEST(install, puts_the_program_manual_and_documents_where_they_belong) {
  if (k_windows) GTEST_SKIP() << "the install layout is checked by the POSIX build";
  temp_tree root;
  run_options options;
  options.env.push_back({"DESTDIR", root.root()});
  run_result r =
      run_program(MAILSIFT_CMAKE, {"--install", MAILSIFT_BUILD_DIR, "--prefix", "/usr"}, options);
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  for (const char* file :
       {"usr/bin/mailsift", "usr/share/man/man1/mailsift.1", "usr/share/doc/mailsift/README.md",
        "usr/share/doc/mailsift/LICENSE", "usr/share/doc/mailsift/copyright"}) {
    EXPECT_TRUE(root.exists(file)) << file;
  }
  EXPECT_EQ(root.read("usr/share/man/man1/mailsift.1"), read_file(source_path("doc/mailsift.1")));
  r = run_program(root.path("usr/bin/mailsift"), {"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, version_report());
}

TEST(debian_package, installs_into_a_scratch_root_and_lists_the_samples) {
  package_under_test deb = find_package("MAILSIFT_DEB", "dpkg-deb");
  if (!deb.why_not.empty()) GTEST_SKIP() << deb.why_not;
  temp_tree root;
  run_result r = run_program(deb.tool, {"-x", deb.file, root.root()});
  ASSERT_EQ(r.status, 0) << r.err;
  r = run_program(deb.tool, {"-f", deb.file, "Package", "Version", "Depends"});
  EXPECT_NE(r.out.find("Package: mailsift\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(std::string("Version: ") + program_version() + "\n"), std::string::npos)
      << r.out;
  // Found by dpkg-shlibdeps from what the program was linked against.
  EXPECT_NE(r.out.find("libc6"), std::string::npos) << r.out;
  EXPECT_NE(root.read("usr/share/doc/mailsift/copyright").find("License: Apache-2.0"),
            std::string::npos);
  EXPECT_TRUE(root.exists("usr/share/man/man1/mailsift.1"));

  std::vector<std::string> args = {source_path("samples"), "-.ini"};
  run_result packaged = run_program(root.path("usr/bin/mailsift"), args);
  run_result built = run_mailsift({source_path("samples")});
  ASSERT_EQ(packaged.status, 0) << packaged.err;
  EXPECT_EQ(listed_files(packaged.out).size(), 12u) << packaged.out;
  EXPECT_EQ(packaged.out, built.out);
}

TEST(windows_package, holds_the_program_readme_and_licence) {
  package_under_test zip = find_package("MAILSIFT_ZIP", "unzip");
  if (!zip.why_not.empty()) GTEST_SKIP() << zip.why_not;
  run_result r = run_program(zip.tool, {"-Z1", zip.file});
  ASSERT_EQ(r.status, 0) << r.err;
  for (const char* name : {"/mailsift.exe\n", "/README.md\n", "/LICENSE\n"}) {
    EXPECT_NE(r.out.find(name), std::string::npos) << name << r.out;
  }
}
