// The installed layout, the manual page and the packages, on the POSIX build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <iostream>
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

bool is_executable(const std::string& path) {
#ifdef _WIN32
  (void)path;
  return true;
#else
  return access(path.c_str(), X_OK) == 0;
#endif
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
  for (const char* page : {"doc/mailsift.1", "doc/mailsift-parallel.1"}) {
    run_result r = run_program(groff, {"-ww", "-man", "-z", source_path(page)});
    EXPECT_EQ(r.status, 0) << page;
    EXPECT_EQ(r.err, "") << page;
  }
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
       {"usr/bin/mailsift", "usr/bin/mailsift-parallel", "usr/share/doc/mailsift/README.md",
        "usr/share/doc/mailsift/LICENSE", "usr/share/doc/mailsift/copyright"}) {
    EXPECT_TRUE(root.exists(file)) << file;
  }
  EXPECT_TRUE(is_executable(root.path("usr/bin/mailsift-parallel")));
  // Manual pages and changelog gzipped as Debian wants them, without a name or a
  // time in the gzip header, so that two builds agree.
  for (const char* file : {"usr/share/man/man1/mailsift.1.gz",
                           "usr/share/man/man1/mailsift-parallel.1.gz",
                           "usr/share/doc/mailsift/changelog.gz"}) {
    SCOPED_TRACE(file);
    ASSERT_TRUE(root.exists(file));
    std::string gz = root.read(file);
    ASSERT_GE(gz.size(), 10u);
    EXPECT_EQ(gz.substr(0, 2), "\x1f\x8b");
    EXPECT_EQ(gz[3] & 0x08, 0) << "a file name is stored";
    EXPECT_EQ(gz.substr(4, 4), std::string(4, '\0')) << "a time is stored";
  }
  r = run_program(root.path("usr/bin/mailsift"), {"--version"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, version_report());
}

namespace {

// Empty where the C library's start-up object carries the x86 IBT and SHSTK
// property; otherwise why the program cannot carry it.
std::string why_start_up_lacks_cf_protection() {
  std::string compiler = find_program("cc");
  std::string readelf = find_program("readelf");
  if (compiler.empty() || readelf.empty()) return "";
  std::string start = run_program(compiler, {"-print-file-name=Scrt1.o"}).out;
  start = start.substr(0, start.find('\n'));
  if (run_program(readelf, {"-n", start}).out.find("IBT, SHSTK") != std::string::npos) return "";
  return start + " carries no IBT and SHSTK property";
}

// The .deb, unpacked into a scratch root by the test that uses it.
struct unpacked_deb {
  package_under_test deb = find_package("MAILSIFT_DEB", "dpkg-deb");
  temp_tree root;
  bool unpacked = deb.why_not.empty() &&
                  run_program(deb.tool, {"-x", deb.file, root.root()}).status == 0;
};

}  // namespace

TEST(debian_package, installs_into_a_scratch_root_and_lists_the_samples) {
  unpacked_deb p;
  if (!p.deb.why_not.empty()) GTEST_SKIP() << p.deb.why_not;
  ASSERT_TRUE(p.unpacked);
  run_result r = run_program(p.deb.tool, {"-f", p.deb.file, "Package", "Version", "Depends"});
  EXPECT_NE(r.out.find("Package: mailsift\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(std::string("Version: ") + program_version() + "\n"), std::string::npos)
      << r.out;
  // Found by dpkg-shlibdeps from what the program was linked against.
  EXPECT_NE(r.out.find("libc6"), std::string::npos) << r.out;
  // Named by hand: libcrypto is loaded only by a run that asks for a digest.
  EXPECT_NE(r.out.find("libssl3"), std::string::npos) << r.out;
  EXPECT_NE(p.root.read("usr/share/doc/mailsift/copyright").find("License: Apache-2.0"),
            std::string::npos);
  for (const char* file :
       {"usr/bin/mailsift-parallel", "usr/share/man/man1/mailsift.1.gz",
        "usr/share/man/man1/mailsift-parallel.1.gz", "usr/share/doc/mailsift/changelog.gz"}) {
    EXPECT_TRUE(p.root.exists(file)) << file;
  }
  EXPECT_EQ(p.root.read("usr/bin/mailsift-parallel"),
            read_file(source_path("tools/mailsift-parallel")));
  EXPECT_TRUE(is_executable(p.root.path("usr/bin/mailsift-parallel")));

  std::vector<std::string> args = {source_path("samples"), "-.ini"};
  run_result packaged = run_program(p.root.path("usr/bin/mailsift"), args);
  run_result built = run_mailsift({source_path("samples")});
  ASSERT_EQ(packaged.status, 0) << packaged.err;
  EXPECT_EQ(listed_files(packaged.out).size(), 12u) << packaged.out;
  EXPECT_EQ(packaged.out, built.out);
}

TEST(debian_package, lintian_reports_no_error_and_no_warning) {
  package_under_test deb = find_package("MAILSIFT_DEB", "lintian");
  if (!deb.why_not.empty()) GTEST_SKIP() << deb.why_not << " (Debian package lintian)";
  run_result r = run_program(deb.tool, {"--pedantic", deb.file});
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    EXPECT_NE(line.rfind("E: ", 0), 0u) << line;
    EXPECT_NE(line.rfind("W: ", 0), 0u) << line;
  }
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

TEST(debian_package, the_installed_program_is_hardened) {
  constexpr std::size_t npos = std::string::npos;
  unpacked_deb p;
  if (!p.deb.why_not.empty()) GTEST_SKIP() << p.deb.why_not;
  std::string check = find_program("hardening-check");
  if (check.empty()) GTEST_SKIP() << "hardening-check is not installed (Debian package devscripts)";
  ASSERT_TRUE(p.unpacked);
  // PIE, stack protector, fortified calls, read-only relocations bound at start,
  // stack-clash probes and control-flow protection; a failed check sets the status.
  // The last is marked on a program only when every object linked carries it; a C
  // library whose start-up objects do not (Debian 12's) leaves it unmarked however
  // the program is compiled, so the check is left out there, and only there.
  std::vector<std::string> args = {p.root.path("usr/bin/mailsift")};
  std::string why_no_cf = why_start_up_lacks_cf_protection();
  if (!why_no_cf.empty()) {
    std::cout << "hardening-check --nocfprotection: " << why_no_cf << "\n";
    args.insert(args.begin(), "--nocfprotection");
  }
  run_result r = run_program(check, args);
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  std::istringstream lines(r.out);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(": no") != npos) {
      EXPECT_NE(line.find("(ignored)"), npos) << line;
    }
  }
  // Our code is compiled for it all the same: its functions begin with endbr64.
  std::string program = p.root.read("usr/bin/mailsift");
  std::string endbr64 = "\xf3\x0f\x1e\xfa";
  std::size_t marks = 0;
  for (std::size_t at = program.find(endbr64); at != npos; at = program.find(endbr64, at + 4)) {
    ++marks;
  }
  if (!why_no_cf.empty()) {
    EXPECT_GE(marks, 100u);
  }
  // No compiler notes are left in the packaged binary.
  std::string readelf = find_program("readelf");
  if (!readelf.empty()) {
    r = run_program(readelf, {"-S", "-W", p.root.path("usr/bin/mailsift")});
    EXPECT_EQ(r.out.find(".comment"), std::string::npos) << r.out;
  }
}

namespace {

// The zip unpacked into a scratch folder: its files below the one top folder.
struct unpacked_zip {
  package_under_test zip = find_package("MAILSIFT_ZIP", "unzip");
  temp_tree root;
  std::string folder;  // the top folder's name, the zip's name without ".zip"
  bool unpacked = false;
  unpacked_zip() {
    if (!zip.why_not.empty()) return;
    std::string name = zip.file.substr(zip.file.find_last_of('/') + 1);
    folder = name.substr(0, name.size() - 4);
    unpacked = run_program(zip.tool, {"-q", zip.file, "-d", root.root()}).status == 0;
  }
  std::string read(const std::string& file) const { return root.read(folder + "/" + file); }
};

uint32_t little_endian(const std::string& bytes, std::size_t at, int size) {
  uint32_t value = 0;
  for (int i = size - 1; i >= 0; --i) {
    value = value << 8 | static_cast<unsigned char>(bytes[at + static_cast<std::size_t>(i)]);
  }
  return value;
}

// The DllCharacteristics of a PE image (offset 70 of the optional header, in
// PE32 and PE32+ alike); -1 when the bytes are no PE image.
long dll_characteristics(const std::string& image) {
  if (image.size() < 0x40 || image.compare(0, 2, "MZ") != 0) return -1;
  std::size_t header = little_endian(image, 0x3c, 4);
  if (header + 24 + 72 > image.size() || image.compare(header, 4, std::string("PE\0\0", 4)) != 0)
    return -1;
  return static_cast<long>(little_endian(image, header + 24 + 70, 2));
}

}  // namespace

TEST(windows_package, holds_the_program_manual_readme_and_licence) {
  unpacked_zip z;
  if (!z.zip.why_not.empty()) GTEST_SKIP() << z.zip.why_not;
  ASSERT_TRUE(z.unpacked);
  for (const char* name : {"mailsift.exe", "mailsift.html", "README.md", "LICENSE"}) {
    EXPECT_TRUE(z.root.exists(z.folder + "/" + name)) << name;
  }
  // The README as Windows editors show it: every line end CR LF.
  std::string readme = z.read("README.md");
  std::string expected;
  for (char c : read_file(source_path("README.md"))) {
    if (c == '\n') expected += '\r';
    expected += c;
  }
  EXPECT_TRUE(readme == expected) << "README.md in the zip is not the README with CR LF";
  // The manual page rendered, every option with it.
  std::string html = z.read("mailsift.html");
  EXPECT_NE(html.find("<html"), std::string::npos);
  for (const char* word : {"MAILSIFT(1)", "SCANNERS", "EXIT_STATUS", "WINDOWS_NOTES"}) {
    EXPECT_NE(html.find(word), std::string::npos) << word;
  }
  EXPECT_EQ(html.find(".TH"), std::string::npos) << "unrendered manual source";
}

TEST(windows_package, the_program_takes_aslr_with_high_entropy_and_no_executable_data) {
  unpacked_zip z;
  if (!z.zip.why_not.empty()) GTEST_SKIP() << z.zip.why_not;
  ASSERT_TRUE(z.unpacked);
  const long high_entropy_va = 0x0020, dynamic_base = 0x0040, nx_compat = 0x0100;
  long flags = dll_characteristics(z.read("mailsift.exe"));
  ASSERT_GE(flags, 0) << "mailsift.exe is no PE image";
  EXPECT_EQ(flags & high_entropy_va, high_entropy_va) << std::hex << flags;
  EXPECT_EQ(flags & dynamic_base, dynamic_base) << std::hex << flags;
  EXPECT_EQ(flags & nx_compat, nx_compat) << std::hex << flags;
}

TEST(package_rebuild, two_builds_in_two_directories_agree_byte_for_byte) {
  const char* again = std::getenv("MAILSIFT_REBUILT");
  package_under_test deb = find_package("MAILSIFT_DEB", "dpkg-deb");
  package_under_test zip = find_package("MAILSIFT_ZIP", "unzip");
  if (!again || !*again || deb.file.empty() || zip.file.empty())
    GTEST_SKIP() << "no second build: `make test-package` makes one and sets MAILSIFT_REBUILT";
  auto folder = [](const std::string& file) { return file.substr(0, file.find_last_of('/')); };
  auto name = [](const std::string& file) { return file.substr(file.find_last_of('/') + 1); };
  std::string second = std::string(again) + "/mailsift";
  struct {
    std::string first;
    std::string second;
  } pairs[] = {
      {folder(deb.file) + "/mailsift", second + "/build/mailsift"},
      {deb.file, second + "/build/" + name(deb.file)},
      {folder(zip.file) + "/mailsift.exe", second + "/build-windows/mailsift.exe"},
      {zip.file, second + "/build-windows/" + name(zip.file)},
  };
  for (const auto& p : pairs) {
    SCOPED_TRACE(p.first);
    std::string one = read_file(p.first);
    std::string two = read_file(p.second);
    ASSERT_FALSE(one.empty());
    std::size_t differ = std::mismatch(one.begin(), one.end(), two.begin(), two.end()).first -
                         one.begin();
    EXPECT_TRUE(one == two) << p.second << " differs from byte " << differ;
  }
  // No path of either build machine's tree is in the programs.
  for (const auto& p : {pairs[0], pairs[2]}) {
    EXPECT_EQ(read_file(p.first).find(source_dir()), std::string::npos) << p.first;
    EXPECT_EQ(read_file(p.second).find(second), std::string::npos) << p.second;
  }
}
