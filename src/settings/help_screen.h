// The paged help screen and the -@ notice.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

// Shows the help pages on standard error; may end the process with status 6 when
// the user leaves the pager (x, Escape, Ctrl-C or the end of input at a prompt).
void show_help();
// --help: writes the option lines of the help pages once, unpaged and without the
// banner, to standard output, then ends the process: status 0, or 9 when the text
// could not be written.
[[noreturn]] void show_plain_help();
// --version: writes the version report to standard output and ends the process
// as show_plain_help does.
[[noreturn]] void show_version();
// The option lines of the help pages, in order, as one text.
std::string help_option_text();
// The option lines --help prints: those of the pages on Windows; on POSIX its own,
// with POSIX paths and every long option that acts.
std::string plain_help_option_text();
// Writes the code notice to standard output and ends the process with status 6.
[[noreturn]] void show_code_notice();
// Writes (width - length) / 2 spaces and the text, without a line end; the length
// counts characters, not bytes.
void print_centred(int width, std::string_view text, std::FILE* stream);
// Number of characters of `text` as the console shows them: bytes on Windows (the
// console's code page), UTF-8 characters elsewhere.
int text_width(std::string_view text);
// Date ("Aug 14 2013") and time ("09:30:21") of this build; one build builds
// every module together, so this stamp stands for all of them.
const char* build_date();
const char* build_time();
// The version text from a build date ("Aug 14 2013") and time ("09:30:21"):
// "13.08.14.09.30" and a check mark; an unknown month name contributes nothing.
std::string version_text(const char* date_text, const char* time_text);
// The five lines of the program's box banner, each centred in 80 columns and ended
// by "\n", without the blank lines that precede it.
std::string help_banner(std::string_view version);
