// The portable half of the test harness.
#include "runlog/run_log.h"
#include "settings/run_log_request.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <random>
#include <regex>
#include <string>

namespace {

int64_t days_from_civil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// Day of the month of the n-th Sunday (n = 1, 2) of a month.
int nth_sunday(int year, int month, int n) {
  int64_t first = days_from_civil(year, static_cast<unsigned>(month), 1);
  int weekday = static_cast<int>(((first % 7) + 11) % 7);  // 1970-01-01 was a Thursday (4)
  int first_sunday = 1 + (7 - weekday) % 7;
  return first_sunday + 7 * (n - 1);
}

// The build passes POSIX paths; under wine the Linux root is drive Z:.
std::string platform_form(std::string path) {
  if (k_windows && !path.empty() && path[0] == '/') {
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    path = "Z:" + path;
  }
  return path;
}

}  // namespace

// The settings readers' run-log requests are carried out as the program's
// start-up has them carried out, in every test.
[[maybe_unused]] const bool k_run_log_handler_installed =
    (set_run_log_handler(carry_out_run_log_request), true);

std::string mailsift_binary() { return platform_form(MAILSIFT_BINARY); }
std::string faulty_binary() { return platform_form(MAILSIFT_FAULTY_BINARY); }

std::string source_dir() { return platform_form(MAILSIFT_SOURCE_DIR); }

std::string source_path(std::string_view relative) {
  std::string path = source_dir();
  path += k_path_separator;
  for (char c : relative) path += c == '/' ? k_path_separator : c;
  return path;
}

std::string temp_tree::path(std::string_view relative) const {
  std::string out = root_;
  out += k_path_separator;
  for (char c : relative) out += c == '/' ? k_path_separator : c;
  return out;
}

std::string describe(const std::vector<std::string>& words) {
  std::string out;
  for (const std::string& w : words) out += " " + w;
  return out;
}

std::vector<std::string> sorted(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::string file_bytes(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  std::string bytes;
  if (!f) return bytes;
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) bytes.append(buffer, n);
  std::fclose(f);
  return bytes;
}

std::string normalise_line_ends(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

std::vector<std::string> listing_records(const std::string& listing) {
  std::vector<std::string> lines;
  std::size_t start = listing.find('\n');
  while (start != std::string::npos) {
    std::size_t end = listing.find('\n', start + 1);
    lines.push_back(listing.substr(start + 1, end == std::string::npos ? end : end - start - 1));
    start = end;
  }
  return lines;
}

std::vector<std::string> split(const std::string& text, char delimiter) {
  std::vector<std::string> out(1);
  for (char c : text) {
    if (c == delimiter)
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

bool is_strict_utf8(std::string_view text) {
  for (std::size_t i = 0; i < text.size();) {
    auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
    if (lead == 0 || length == 0 || i + length > text.size()) return false;
    char32_t code = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t k = 1; k < length; ++k) {
      auto next = static_cast<unsigned char>(text[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    static constexpr char32_t k_least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < k_least[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
      return false;
    i += length;
  }
  return true;
}

std::vector<std::string> listed_files(const std::string& listing, char delimiter) {
  std::vector<std::string> files;
  for (const std::string& record : listing_records(listing)) {
    files.push_back(record.substr(0, record.find(delimiter)));
  }
  return files;
}

long summary_file_count(const std::string& err) {
  std::smatch m;
  if (!std::regex_search(err, m, std::regex(R"(\n  \d+ director(y|ies), (\d+) files\n)")))
    return -1;
  return std::stol(m[2].str());
}

std::string mask_run_times(std::string_view text) {
  std::string out = normalise_line_ends(text);
  const struct {
    const char* pattern;
    const char* mark;
  } masks[] = {
      {R"(Started .{24} GMT, \d\d:\d\d )", "Started <utc> GMT, <hh:mm> "},
      {R"(Started .{24} Local Time: )", "Started <local> Local Time: "},
      {R"(Finished: .{24}\n)", "Finished: <local>\n"},
      {R"(Elapsed:  \d+ hrs\. \d+ mins\. \d+ secs\.)", "Elapsed: <elapsed>"},
  };
  for (const auto& m : masks) out = std::regex_replace(out, std::regex(m.pattern), m.mark);
  return out;
}

std::vector<odd_file> awkward_message_files() {
  std::mt19937 random(20261208);
  std::string noise(64 * 1024, '\0');
  for (char& c : noise) c = static_cast<char>(random());
  return {
      {"long-line.eml", "Subject: " + std::string(1024 * 1024, 'x') + "\nTo: later@example.org\n"},
      // Past the 32 KB of a field and past a 64 KB read chunk.
      {"line-40k.eml", "To: " + std::string(40 * 1024, 'a') + "\nSubject: after 40 KB\n"},
      {"line-70k.eml", "CC: " + std::string(70 * 1024, 'b') + "\nSubject: after 70 KB\n"},
      {"noise.eml", noise},
      {"nuls.eml", "From: someone@example.org\n" + std::string(5000, '\0') + "\nSubject: after\n"},
      {"only-newline.eml", "\n"},
      {"empty.eml", ""},
      {"cr-only.eml", "From: someone@example.org\rSubject: no line feeds\r"},
      {"ctrl-z.eml", "From: someone@example.org\nX-Note: \x1a\nSubject: after the mark\n"},
  };
}

std::vector<std::string> awkward_file_names() {
  std::vector<std::string> names = {"with space.eml", "comma,name.eml", "caf\xc3\xa9.eml",
                                    "-dash.eml"};
  if (!k_windows) {
    for (const char* name :
         {"quote\"d.eml", "bad\xff\xfe.eml", "new\nline.eml", "carriage\rreturn.eml"})
      names.push_back(name);
  }
  return names;
}

std::string numbered(std::string text, long long number, std::string_view suffix) {
  text += std::to_string(number);
  text += suffix;
  return text;
}

int64_t utc_seconds(int year, int month, int day, int hour, int minute, int second) {
  return days_from_civil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
         hour * 3600 + minute * 60 + second;
}

int64_t eastern_seconds(int year, int month, int day, int hour, int minute, int second) {
  bool daylight = false;
  if (month > 3 && month < 11) daylight = true;
  if (month == 3) {
    int start = nth_sunday(year, 3, 2);
    daylight = day > start || (day == start && hour >= 2);
  }
  if (month == 11) {
    int end = nth_sunday(year, 11, 1);
    daylight = day < end || (day == end && hour < 1);
  }
  int offset_hours = daylight ? 4 : 5;
  return utc_seconds(year, month, day, hour, minute, second) + offset_hours * 3600;
}

namespace {

struct civil_date {
  int year, month, day;
};

// Calendar date of a day count since 1970-01-01.
civil_date civil_from_days(int64_t days) {
  days += 719468;
  const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const int64_t day_of_era = days - era * 146097;
  const int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const int64_t day_of_year =
      day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const int64_t mp = (5 * day_of_year + 2) / 153;
  const int day = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
  const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  return {static_cast<int>(year_of_era + era * 400 + (month <= 2)), month, day};
}

}  // namespace

int64_t eastern_noon_days_back(int days_back) {
  int64_t now = static_cast<int64_t>(std::time(nullptr));
  // The local date is that of four or five hours earlier in UTC.
  int64_t day = (now - 4 * 3600) / 86400;
  civil_date today = civil_from_days(day);
  if (eastern_seconds(today.year, today.month, today.day, 0, 0, 0) > now) --day;
  civil_date date = civil_from_days(day - days_back);
  return eastern_seconds(date.year, date.month, date.day, 12, 0, 0);
}

namespace {
int64_t (*s_real_read)(read_handle, void*, int64_t) = nullptr;
int64_t s_read_limit = 1;

int64_t read_a_little(read_handle file, void* buffer, int64_t size) {
  return s_real_read(file, buffer, size < s_read_limit ? size : s_read_limit);
}
}  // namespace

scoped_short_reads::scoped_short_reads(int64_t limit) {
  s_real_read = g_platform.read_bytes;
  g_platform.read_bytes = read_a_little;
  s_read_limit = limit;
}

void scoped_short_reads::set_limit(int64_t limit) { s_read_limit = limit; }

void write_small_messages(const temp_tree& tree, int count) {
  for (int file = 0; file < count; ++file) {
    tree.write(numbered(numbered("m/d", file / 100, "/message-"), file, ".eml"),
               "From: someone@example.com\nSubject: " + std::string(120, 's') + "\n\nbody\n");
  }
}

std::string hex_digest(digest_kind kind, std::string_view bytes) {
  digest_state* state = nullptr;
  digest_value value;
  EXPECT_EQ(digest_start(state, kind), digest_start_result::started);
  digest_add(state, bytes.data(), bytes.size());
  digest_finish(state, value);
  digest_free(state);
  std::string hex;
  char pair[3];
  for (std::size_t i = 0; i < value.size; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", value.bytes[i]);
    hex += pair;
  }
  return hex;
}
