// The command line over any words: option letters, values, lists and long
// options. Inputs that end the run unwind back here.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "settings/eml_options.h"
#include "settings/long_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_reset();
  std::vector<std::string> words = fuzz_words(data, size);
  try {
    if (!words.empty() && words[0] == "LONG") {
      // One long option alone, as the parser hands it over.
      for (std::size_t i = 1; i < words.size(); ++i) parse_long_option(words[i]);
    } else {
      std::vector<std::string> args{"/fuzz/bin/mailsift"};
      args.insert(args.end(), words.begin(), words.end());
      parse_command_line(args);
    }
  } catch (const fuzz_exit&) {
  }
  return 0;
}
