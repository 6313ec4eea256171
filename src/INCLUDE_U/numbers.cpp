#include "INCLUDE_U/numbers.h"

#include <cstdio>
#include <cstring>

namespace {

// Writes the digits of `magnitude` with a comma after every third digit from
// the right into the end of `buffer`; returns the first character.
char* format_digits(uint64_t magnitude, char* buffer, std::size_t size) {
  std::memset(buffer, 0, size);
  char* p = buffer + size - 1;
  int digits = 0;
  do {
    if (digits > 0 && digits % 3 == 0) *--p = ',';
    *--p = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
    ++digits;
  } while (magnitude != 0);
  return p;
}

}  // namespace

// Each thread has its own buffers: scanners format progress lines side by side.
const char* format_thousands(uint32_t value) {
  thread_local char buffer[49];
  return format_digits(value, buffer, sizeof buffer);
}

const char* format_thousands64(int64_t value) {
  thread_local char buffer[49];
  // The magnitude as unsigned, so that the most negative value is handled.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  char* p = format_digits(magnitude, buffer, sizeof buffer);
  if (value < 0) *--p = '-';
  return p;
}

std::string directory_count_text(long directories, long files) {
  char text[96];
  int n = std::snprintf(text, sizeof text, "\n  %ld director%s, %ld files\n", directories,
                        directories == 1 ? "y" : "ies", files);
  return std::string(text, n > 0 && static_cast<std::size_t>(n) < sizeof text ? n : 0);
}

std::string message_count_text(long directories, long files, int64_t messages) {
  std::string text = "\n  ";
  text += format_thousands64(directories);
  text += directories == 1 ? " directory, " : " directories, ";
  text += format_thousands64(messages);
  text += messages == 1 ? " message in " : " messages in ";
  text += format_thousands64(files);
  text += files == 1 ? " file\n" : " files\n";
  return text;
}

std::string elapsed_text(int64_t seconds) {
  char text[96];
  int n = std::snprintf(
      text, sizeof text, " %lld hrs. %lld mins. %lld secs.", static_cast<long long>(seconds / 3600),
      static_cast<long long>((seconds % 3600) / 60), static_cast<long long>((seconds % 3600) % 60));
  return std::string(text, n > 0 && static_cast<std::size_t>(n) < sizeof text ? n : 0);
}
