// The message scan over any file content: every rule, the From join, folding, the
// look-ahead and its step back, with reads that end at every possible offset.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "discovery/select_file.h"
#include "fuzz_support.h"
#include "listing/new_do_eml.h"
#include "listing/settled_options.h"
#include "settings/run_settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_reset();
  std::string_view content(reinterpret_cast<const char*>(data), size);
  // The first byte picks the record form, so both writers see every input.
  if (size > 0 && (data[0] & 1)) {
    g_delimiter = ',';
    g_settings->quote_fields = 1;
  }
  settle_scan_options();
  fuzz_serve_file(content);
  file_dates dates;
  try {
    scan_message(std::string(k_long_path_prefix) + "/fuzz/message.eml",
                 static_cast<int64_t>(size), dates);
  } catch (const fuzz_exit&) {
  }
  return 0;
}
