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
// short reads of varying length up to `longest_read` bytes, or in reads as large
// as asked for, as from a file on disk, when `whole_reads`.
void fuzz_serve_file(std::string_view data, bool whole_reads = false,
                     std::size_t longest_read = 4093);
// Makes the read that reaches byte `offset` of the served file fail (-1, and
// last_failure says "fuzz"); negative for none.
void fuzz_fail_reads_at(int64_t offset);

// A JSON value as a strict parser reads it: strings decoded to UTF-8, an object's
// members in order.
struct json_value {
  enum class kind { null, boolean, number, string, array, object } type = kind::null;
  std::string text;                // a string's text, a number's or literal's spelling
  std::vector<std::string> names;  // an object's member names
  std::vector<json_value> items;   // an array's items, an object's member values
};
// Whether `text` is exactly one JSON value as RFC 8259 has it (well-formed UTF-8,
// escapes, numbers, white space between tokens only), parsed into `out`.
bool parse_strict_json(std::string_view text, json_value& out);
// Splits the input into words at NUL bytes.
std::vector<std::string> fuzz_words(const uint8_t* data, size_t size);
