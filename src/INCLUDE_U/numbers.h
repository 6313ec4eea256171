// Decimal text with comma thousands separators.
#pragma once

#include <cstdint>
#include <string>

// Each formatter returns text in its own buffer, valid until its next call; the
// two do not share a buffer, so one result of each can be printed together.
const char* format_thousands(uint32_t value);
const char* format_thousands64(int64_t value);

// The counts line of the run summary: "\n  %ld director%s, %ld files\n".
std::string directory_count_text(long directories, long files);
// The same for a run that lists messages: "\n  1 directory, 11,391 messages in 1 file\n".
std::string message_count_text(long directories, long files, int64_t messages);
// The elapsed-time text: " %d hrs. %d mins. %d secs." (hours are not folded into days).
std::string elapsed_text(int64_t seconds);
