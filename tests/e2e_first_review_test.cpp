// What a reviewer meets on a first run, through the built program: old mail under an
// age filter, dates without letters, comma and quoted output, the run's own files in
// the walked tree, source lists with missing names, quoted headers, the INI pause.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#ifndef _WIN32
#include <unistd.h>
#endif

#include "test_util.h"

namespace {

using names = std::vector<std::string>;

bool wine_runs_in_another_zone() {
  zone_state zone;
  return k_windows && !(g_platform.time_zone(zone) && zone.offset_seconds_west == 18000);
}

void write_written_at(const temp_tree& tree, const std::string& name, int64_t written) {
  tree.write(name, "Subject: s\n");
  tree.set_times(name, written, written);
}

names paths_of(const temp_tree& tree, const names& relative) {
  names out;
  for (const std::string& name : relative) out.push_back(tree.path(name));
  return sorted(out);
}

}  // namespace

// Old mail stays under an age filter in days unless a newer bound was given.
TEST(first_review, an_age_in_days_keeps_old_mail_unless_a_newer_bound_is_given) {
  temp_tree tree;
  struct {
    const char* name;
    int64_t written;
  } files[] = {
      {"m/1999.eml", eastern_seconds(1999, 6, 1, 12, 0, 0)},
      {"m/2004.eml", eastern_seconds(2004, 6, 1, 12, 0, 0)},
      {"m/2005.eml", eastern_seconds(2005, 6, 1, 12, 0, 0)},
      {"m/2020.eml", eastern_seconds(2020, 6, 1, 12, 0, 0)},
      {"m/age7999.eml", eastern_noon_days_back(7999)},
      {"m/age8000.eml", eastern_noon_days_back(8000)},
      {"m/recent.eml", eastern_noon_days_back(3)},
  };
  for (const auto& f : files) write_written_at(tree, f.name, f.written);
  // With -l 8000 a file is listed while younger than 8,000 days.
  names younger_than_8000;
  for (const auto& f : files) {
    if (f.written > eastern_noon_days_back(8000) && f.written <= eastern_noon_days_back(30)) {
      younger_than_8000.push_back(f.name);
    }
  }
  struct {
    std::vector<std::string> options;
    names files;
  } cases[] = {
      {{"-g", "30"},
       {"m/1999.eml", "m/2004.eml", "m/2005.eml", "m/2020.eml", "m/age7999.eml", "m/age8000.eml"}},
      {{"--OLD=30"},
       {"m/1999.eml", "m/2004.eml", "m/2005.eml", "m/2020.eml", "m/age7999.eml", "m/age8000.eml"}},
      {{"-g", "30", "-l", "8000"}, younger_than_8000},
      {{"-g", "30", "--YOU=8000"}, younger_than_8000},
      {{"-l", "30"}, {"m/recent.eml"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {tree.path("m")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    run_result r = run_mailsift(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(sorted(listed_files(r.out)), paths_of(tree, c.files)) << describe(c.options);
  }
  // The INI file's NEWER is a newer bound given too.
  tree.write("cwd/mailsift.ini", "OLDER=30\nNEWER=8000\n");
  run_options options;
  options.cwd = tree.path("cwd");
  options.no_ini_word = false;
  run_result r = run_mailsift({tree.path("m")}, options);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(sorted(listed_files(r.out)), paths_of(tree, younger_than_8000));
}

// A date without letters selects exactly what the same date with w selects.
TEST(first_review, a_date_without_letters_selects_as_with_w) {
  if (wine_runs_in_another_zone()) GTEST_SKIP() << "the wine server runs in another zone";
  temp_tree tree;
  write_written_at(tree, "m/dec04.eml", eastern_seconds(2005, 12, 4, 12, 0, 0));
  write_written_at(tree, "m/dec05_0000.eml", eastern_seconds(2005, 12, 5, 0, 0, 0));
  write_written_at(tree, "m/dec05_1200.eml", eastern_seconds(2005, 12, 5, 12, 0, 0));
  write_written_at(tree, "m/dec06.eml", eastern_seconds(2005, 12, 6, 12, 0, 0));
  write_written_at(tree, "m/1979.eml", eastern_seconds(1979, 6, 1, 12, 0, 0));
  struct {
    std::vector<std::string> bare;
    std::vector<std::string> with_w;
    names files;
  } cases[] = {
      // The day itself is not counted by -g, and counts for -l after its first second.
      {{"-g", "12-05-2005"}, {"-g", "12-05-2005w"}, {"m/dec04.eml"}},
      {{"-l", "12-05-2005"}, {"-l", "12-05-2005w"}, {"m/dec05_1200.eml", "m/dec06.eml"}},
      {{"-l", "12-04-2005", "-g", "12-06-2005"},
       {"-l", "12-04-2005w", "-g", "12-06-2005w"},
       {"m/dec04.eml", "m/dec05_0000.eml", "m/dec05_1200.eml"}},
      {{"--OLDER=12-05-2005"}, {"--OLDER=12-05-2005W"}, {"m/dec04.eml"}},
      // With other letters a date without any means w beside them.
      {{"-g", "12-05-2005", "-l", "01-01-2005a"},
       {"-g", "12-05-2005w", "-l", "01-01-2005a"},
       {"m/dec04.eml"}},
  };
  for (const auto& c : cases) {
    for (const auto* words : {&c.bare, &c.with_w}) {
      std::vector<std::string> args = {tree.path("m")};
      args.insert(args.end(), words->begin(), words->end());
      run_result r = run_mailsift(args);
      ASSERT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(sorted(listed_files(r.out)), paths_of(tree, c.files)) << describe(*words);
    }
  }
  // A bound in days beside a date without letters keeps its test in days.
  write_written_at(tree, "n/old.eml", eastern_noon_days_back(40));
  write_written_at(tree, "n/new.eml", eastern_noon_days_back(10));
  run_result r = run_mailsift({tree.path("n"), "-l", "01-01-2005", "-g", "30"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listed_files(r.out), names{tree.path("n/old.eml")});
}

// A comma makes the quoted form by whichever source it came; other delimiters stay bare.
TEST(first_review, a_comma_from_any_source_quotes_the_fields) {
  temp_tree tree;
  tree.write("m/a.eml", "To: Ann <ann@example.org>, Bob <bob@example.org>\nSubject: say \"hi\"\n");
  tree.set_times("m/a.eml", eastern_seconds(2012, 3, 12, 14, 7, 0),
                 eastern_seconds(2012, 3, 12, 14, 7, 0));
  run_result reference = run_mailsift({tree.path("m"), "-d", ","});
  ASSERT_EQ(reference.status, 0) << reference.err;
  ASSERT_NE(reference.out.find(",\"(#1:) Subject: say \"\"hi\"\"  \","), std::string::npos)
      << reference.out;
  struct {
    std::vector<std::string> options;
    const char* ini;
    const char* environment;
  } cases[] = {
      {{"--DEL=,"}, nullptr, nullptr},
      {{"--delimeter=44"}, nullptr, nullptr},
      {{}, "DELIM=,\n", nullptr},
      {{}, nullptr, ","},
      {{}, nullptr, "\","},
  };
  for (const auto& c : cases) {
    temp_tree cwd;
    run_options options;
    options.cwd = cwd.root();
    if (c.ini) {
      cwd.write("mailsift.ini", c.ini);
      options.no_ini_word = false;
    }
    if (c.environment) options.env.push_back({"DELIMETER", c.environment});
    std::vector<std::string> args = {tree.path("m")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    run_result r = run_mailsift(args, options);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, reference.out)
        << describe(c.options) << (c.ini ? c.ini : "") << (c.environment ? c.environment : "");
  }
  // A semicolon by the same sources stays bare, as before.
  run_result bare = run_mailsift({tree.path("m"), "--DEL=;"});
  ASSERT_EQ(bare.status, 0);
  EXPECT_EQ(bare.out.find('"'), bare.out.find("\"hi\""));
  EXPECT_NE(bare.out.find(";(#1:) Subject: say \"hi\"  ;"), std::string::npos) << bare.out;
  // Quoted with a semicolon: the quotes inside are doubled as with a comma.
  run_result quoted = run_mailsift({tree.path("m"), "--QUOTE", "-d", ";"});
  ASSERT_EQ(quoted.status, 0);
  std::string expected_quoted = reference.out;
  std::string comma_separator = "\",\"";
  for (std::size_t at = expected_quoted.find(comma_separator); at != std::string::npos;
       at = expected_quoted.find(comma_separator, at + 3)) {
    expected_quoted[at + 1] = ';';
  }
  EXPECT_EQ(quoted.out, expected_quoted);
}

// The run's own output file and run log are left out wherever the walk meets them;
// files of the same names elsewhere are listed.
TEST(first_review, the_listing_leaves_out_its_own_output_file_and_run_log) {
  temp_tree tree;
  tree.write("m/a.eml", "Subject: a\n");
  tree.write("other/list.txt", "Subject: other list\n");
  tree.write("other/run.log", "Subject: other log\n");
  tree.write("m/kept.txt", "");
  names expected = paths_of(tree, {"m/a.eml", "other/list.txt", "other/run.log"});
  struct {
    std::vector<std::string> options;
    const char* output;
    names also_listed;
  } cases[] = {
      {{"-o", tree.path("m/list.txt"), "-1", tree.path("m/run.log")}, "m/list.txt", {"m/kept.txt"}},
      {{"-a", "-o", tree.path("m/kept.txt"), "-1", tree.path("m/sub/run.log")},
       "m/kept.txt",
       {"m/list.txt", "m/run.log"}},
      // Without a run log, the old one is a file like any other.
      {{"-o", tree.path("m/list.txt")}, "m/list.txt", {"m/kept.txt", "m/run.log", "m/sub/run.log"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = {tree.path("m"), tree.path("other")};
    args.insert(args.end(), c.options.begin(), c.options.end());
    run_result r = run_mailsift(args);
    ASSERT_EQ(r.status, 0) << r.err;
    names want = expected;
    for (const std::string& name : paths_of(tree, c.also_listed)) want.push_back(name);
    EXPECT_EQ(sorted(listed_files(tree.read(c.output))), sorted(want)) << describe(c.options);
    EXPECT_EQ(r.err.find("cannot read"), std::string::npos) << r.err;
  }
#ifndef _WIN32
  // The same file under another name is the same file.
  tree.remove("m/kept.txt");
  tree.remove("m/run.log");
  tree.remove("m/sub/run.log");
  tree.write("m/list.txt", "");
  ASSERT_EQ(link(tree.path("m/list.txt").c_str(), tree.path("m/alias.txt").c_str()), 0);
  run_result r = run_mailsift({tree.path("m"), "-o", tree.path("m/list.txt")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listed_files(tree.read("m/list.txt")), names{tree.path("m/a.eml")});
#endif
}

// A source-list line naming a missing file is named and counted like an unreadable
// one; the column line of an earlier listing stays silent.
TEST(first_review, a_source_list_names_its_missing_files) {
  temp_tree tree;
  tree.write("m/a.eml", "Subject: a\n");
  tree.write("m/b.eml", "Subject: b\n");
  std::string list = "Filename|Size|File-(MOD)Date\n" + tree.path("m/a.eml") + "|12|x\n" +
                     tree.path("m/gone.eml") + "\n" + tree.path("m/b.eml") + "\n";
  tree.write("list.txt", list);
  run_options options;
  options.cwd = tree.root();
  run_result r = run_mailsift({"--SOUR=" + tree.path("list.txt")}, options);
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(listed_files(r.out), (names{tree.path("m/a.eml"), tree.path("m/b.eml")}));
  std::string missing =
      "mailsift: cannot read " + tree.path("m/gone.eml") + ": No such file or directory\n";
  EXPECT_NE(r.err.find(missing), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("cannot read"), r.err.rfind("cannot read")) << r.err;
  EXPECT_EQ(r.err.find("Filename"), std::string::npos) << r.err;
}

// In a forwarded message quoted in the body, the quoted To line ends at the next
// quoted header, which is read as its own line; a quoted folded address still joins.
TEST(first_review, a_quoted_to_line_does_not_swallow_the_quoted_headers_after_it) {
  temp_tree tree;
  const std::string message =
      "From: Ann Lee <ann@example.org>\n"
      "To: devel@lists.example.org\n"
      "Subject: Re: Creating a policy\n"
      "\n"
      "Bob Roe wrote:\n"
      "> From: Bob Roe <bob@example.org>\n"
      "> To: ann@example.org; devel@lists.example.org\n"
      "> User-Agent: Mutt/1.5.21 (2010-09-15)\n"
      "> X-Spam-Status: No, score=-1.0\n"
      "> Subject: [devel] Creating a policy suitable for a modern\n"
      "> system\n"
      "> \n"
      "> Cc: cy@example.org,\n"
      ">  dee@example.org\n"
      "> Date: Mon, 12 Mar 2012 14:05:33 -0400\n";
  tree.write("m/reply.eml", message);
  run_result r = run_mailsift({tree.path("m")});
  ASSERT_EQ(r.status, 0) << r.err;
  std::vector<std::string> records = listing_records(r.out);
  ASSERT_EQ(records.size(), 1u) << r.out;
  EXPECT_NE(records[0].find("|(#1:) To: devel@lists.example.org  "
                            "(#body:) To: ann@example.org; devel@lists.example.org  |"
                            "(#body:) Cc: cy@example.org>  dee@example.org  |"),
            std::string::npos)
      << records[0];
  EXPECT_NE(records[0].find("|(#1:) Subject: Re: Creating a policy  "
                            "(#2:) Subject: [devel] Creating a policy suitable for a modern  |"),
            std::string::npos)
      << records[0];
}

// The INI file that cannot be opened waits for a key only at a terminal: with
// standard input on a pipe the run goes on at once.
TEST(first_review, an_unopened_ini_file_does_not_wait_on_a_pipe) {
  temp_tree tree;
  tree.write("m/a.eml", "Subject: a\n");
  tree.make_dir("cwd/mailsift.ini");
  run_options options;
  options.cwd = tree.path("cwd");
  options.no_ini_word = false;
  options.input = "x\n";
  options.timeout_seconds = 30;
  run_result r = run_mailsift({tree.path("m")}, options);
  ASSERT_FALSE(r.timed_out);
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("\nCouldn't open .ini file\n"), std::string::npos) << r.err;
  EXPECT_EQ(listed_files(r.out), names{tree.path("m/a.eml")});
}
