// The portable half of the test harness.
#include "test_util.h"

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

std::string mailsift_binary() { return platform_form(MAILSIFT_BINARY); }

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

std::vector<std::string> listed_files(const std::string& listing, char delimiter) {
  std::vector<std::string> files;
  for (const std::string& record : listing_records(listing)) {
    files.push_back(record.substr(0, record.find(delimiter)));
  }
  return files;
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
