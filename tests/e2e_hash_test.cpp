// The hash columns through the built program: which settings ask for them, and
// that each is the digest of the file's bytes as stored.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "test_util.h"

namespace {

// 100 KB with a CR as the last byte of the first 64 KB read and its LF as the
// first of the next: the held-back CR must be hashed once.
std::string hundred_kilobytes() {
  std::string text;
  for (int i = 0; text.size() < 65535; ++i) {
    text += numbered("body line ", i, " of the big message\n");
  }
  text.resize(65535);
  text += "\r\n";
  for (int i = 0; text.size() < 102400; ++i) {
    text += numbered("Received: from host", i, " [10.0.0.1]\r\n");
  }
  return text;
}

struct hashed_file {
  const char* name;
  std::string content;
  // Known digests of the content, so that the Windows build's are checked too.
  const char* md5;
  const char* sha1;
  const char* sha256;
};

std::vector<hashed_file> hashed_files() {
  return {
      {"empty.eml", "", "d41d8cd98f00b204e9800998ecf8427e",
       "da39a3ee5e6b4b0d3255bfef95601890afd80709",
       "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"small.eml", "From: Ann Lee <ann@example.com>\nSubject: small\n\nbody\n",
       "0bb5dc22323e932d437634bb84f61360", "68d12ef4676226b2a77f4742e64f61d958eff51d",
       "2eb0442df58cc489e9d85980f0d8d3550738887caf7b81bef3e353147c8a6e13"},
      {"crlf.eml", "From: Ann Lee <ann@example.com>\r\nSubject: small\r\n\r\nbody\r\n",
       "68e7d3253765771fe256bca6f8beaf6d", "a825e7665ecdedc74f680b2afdf772b5991eae14",
       "86cdf04112a491f14a14776a45a618e5d397d03f386ee9e2fc645f255e19c5db"},
      {"big.eml", hundred_kilobytes(), "b275c797a6dc34924d8d0ebb94733364",
       "8c2d54e6f9d1c27d02a974a5ac0fb42b674eb86c",
       "7c801012ef8e60808260ab5573e440a4f33a0a13b439542032553ae7b698c141"},
      {"longline.eml", "Subject: long\n" + std::string(40000, 'x') + "\n",
       "a099a92ba21039aa7922326e5732c662", "e55b8660c022d606310b60311166ae83e48d4231",
       "f6c0094d76df0fc076c0cd1ed79dfddb5ec04e572904786c8db562bcda83e3ad"},
  };
}

// The fields of each record after the 14 of every listing, by file name.
std::map<std::string, std::vector<std::string>> hash_fields(const std::string& listing) {
  std::map<std::string, std::vector<std::string>> out;
  for (const std::string& record : listing_records(listing)) {
    std::vector<std::string> fields = split(record, '|');
    if (fields.size() < 14) continue;
    out[fields[0]] = std::vector<std::string>(fields.begin() + 14, fields.end());
  }
  return out;
}

// The listing's column header line.
std::string header_of(const std::string& listing) {
  std::string text = normalise_line_ends(listing);
  std::size_t start = text.find("Filename");
  if (start == std::string::npos) return "";
  return text.substr(start, text.find('\n', start) - start);
}

#ifndef _WIN32
// What `tool` (md5sum, sha1sum, sha256sum) prints as the digest of `path`.
std::string digest_by_tool(const std::string& tool, const std::string& path) {
  std::string command = tool + " '" + path + "'";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return "";
  char buffer[256] = {};
  std::string out = std::fgets(buffer, sizeof buffer, pipe) ? buffer : "";
  pclose(pipe);
  return out.substr(0, out.find(' '));
}
#endif

constexpr const char* k_plain_header =
    "Filename|Size|File-(MOD)Date|From|To|CC|Bcc|Date|Date-Time|Forward Date|Subject|"
    "Message Read|Attachment Info|Recent IP";

}  // namespace

TEST(hash_columns, each_digest_is_that_of_every_byte_as_stored) {
  temp_tree tree;
  const std::vector<hashed_file> files = hashed_files();
  for (const hashed_file& f : files) tree.write(std::string("m/") + f.name, f.content);
  run_result r = run_mailsift({tree.path("m"), "--MD5", "--SHA1", "--SHA2"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::map<std::string, std::vector<std::string>> listed = hash_fields(r.out);
  ASSERT_EQ(listed.size(), files.size()) << r.out;
  for (const hashed_file& f : files) {
    std::string path = tree.path(std::string("m/") + f.name);
    EXPECT_EQ(listed[path], (std::vector<std::string>{f.md5, f.sha1, f.sha256})) << f.name;
#ifndef _WIN32
    // And what the system's own tools say of the same file.
    EXPECT_EQ(listed[path], (std::vector<std::string>{digest_by_tool("md5sum", path),
                                                      digest_by_tool("sha1sum", path),
                                                      digest_by_tool("sha256sum", path)}))
        << f.name;
#endif
  }
}

TEST(hash_columns, every_source_of_the_settings_chooses_columns_in_a_fixed_order) {
  temp_tree tree;
  tree.write("m/a.eml", "Subject: one\n");
  struct row {
    std::vector<std::string> args;
    const char* ini;  // the program's own INI file, or none
    std::string added;
  };
  const row rows[] = {
      {{}, nullptr, ""},
      {{"--MD5"}, nullptr, "|MD5"},
      {{"--HASH"}, nullptr, "|MD5"},
      {{"--SHA"}, nullptr, "|SHA-1"},
      {{"--SHA2", "--SHA1"}, nullptr, "|SHA-1|SHA-256"},
      {{"--SHA2", "--SHA1", "--md5"}, nullptr, "|MD5|SHA-1|SHA-256"},
      // -c asks for a CRC instead, which clears MD5 and SHA-1.
      {{"--MD5", "--SHA1", "-c"}, nullptr, ""},
      {{"--SHA2"}, "HASH=ON\n", "|MD5|SHA-256"},
      {{}, "SHA=ON\n", "|SHA-1"},
      {{}, "ALL_HT=ON\n", "|MD5"},
  };
  for (const row& r : rows) {
    run_options options;
    options.cwd = tree.root();
    if (r.ini) {
      tree.write("mailsift.ini", r.ini);
      options.no_ini_word = false;
    } else if (tree.exists("mailsift.ini")) {
      tree.remove("mailsift.ini");
    }
    std::vector<std::string> args = {tree.path("m")};
    args.insert(args.end(), r.args.begin(), r.args.end());
    run_result run = run_mailsift(args, options);
    ASSERT_EQ(run.status, 0) << run.err;
    std::string header = header_of(run.out);
    EXPECT_EQ(header, k_plain_header + r.added) << (r.ini ? r.ini : "") << run.out;
    // Every record has the header's columns.
    std::vector<std::string> records = listing_records(run.out);
    ASSERT_EQ(records.size(), 1u) << run.out;
    EXPECT_EQ(split(records[0], '|').size(), split(header, '|').size()) << records[0];
  }
}

TEST(hash_columns, the_quoted_form_quotes_names_and_digests) {
  temp_tree tree;
  const hashed_file small = hashed_files()[1];
  tree.write(std::string("m/") + small.name, small.content);
  run_result r = run_mailsift({tree.path("m"), "-d", ",", "--MD5", "--SHA2"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string header = header_of(r.out);
  EXPECT_TRUE(header.ends_with("\"Recent IP\",\"MD5\",\"SHA-256\"")) << header;
  std::vector<std::string> records = listing_records(r.out);
  ASSERT_EQ(records.size(), 1u) << r.out;
  EXPECT_TRUE(records[0].ends_with(std::string(",\"") + small.md5 + "\",\"" + small.sha256 + "\""))
      << records[0];
}

TEST(hash_columns, a_source_list_run_hashes_the_same_way) {
  temp_tree tree;
  const std::vector<hashed_file> files = hashed_files();
  std::string list;
  for (const hashed_file& f : files) {
    tree.write(std::string("m/") + f.name, f.content);
    list += tree.path(std::string("m/") + f.name) + "\n";
  }
  tree.write("list.txt", list);
  run_result r = run_mailsift({"--SOUR=" + tree.path("list.txt"), "--SHA2"});
  ASSERT_EQ(r.status, 0) << r.err;
  std::string out = normalise_line_ends(r.out);
  for (const hashed_file& f : files) {
    std::string expected = tree.path(std::string("m/") + f.name);
    std::size_t at = out.find(expected + "|");
    ASSERT_NE(at, std::string::npos) << f.name << "\n" << out;
    std::string record = out.substr(at, out.find('\n', at) - at);
    EXPECT_TRUE(record.ends_with(std::string("|") + f.sha256)) << record;
  }
}
