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
// Serves `data` as the content of every file the program opens for reading.
void fuzz_serve_file(std::string_view data);
// Splits the input into words at NUL bytes.
std::vector<std::string> fuzz_words(const uint8_t* data, size_t size);
