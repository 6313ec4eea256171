// The paged help screen and the -@ notice.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// Shows the help pages on standard error; may end the process with status 6 when
// the user leaves the pager.
void show_help();
// Writes the code notice to standard output and ends the process with status 6.
[[noreturn]] void show_code_notice();
// Writes (width - length) / 2 spaces and the text, without a line end.
void print_centred(int width, std::string_view text, std::FILE* stream);
// The version text from a build date ("Aug 14 2013") and time ("09:30:21").
std::string version_text(const char* build_date, const char* build_time);
