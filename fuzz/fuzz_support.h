// Shared set-up of the fuzz targets: a quiet, self-contained process state in
// which an ending run unwinds back to the target instead of leaving the process.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Thrown by the replaced process exit; carries the status the run ended with.
struct fuzz_exit {
  int status;
};

// Puts settings, lists and streams into their start state and replaces the
// platform entries that would wait, exit or touch the real file system.
void fuzz_reset();
// Serves `data` as the content of every file the program opens for reading, in
// short reads of varying length, or in reads as large as asked for, as from a
// file on disk, when `whole_reads`.
void fuzz_serve_file(std::string_view data, bool whole_reads = false);
// Splits the input into words at NUL bytes.
std::vector<std::string> fuzz_words(const uint8_t* data, size_t size);
