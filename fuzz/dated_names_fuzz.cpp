// Output-name masks over any name.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz_support.h"
#include "settings/dated_names.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static bool once = (fuzz_reset(), true);
  (void)once;
  std::string name(reinterpret_cast<const char*>(data), size);
  has_dated_mask(name);
  expand_dated_name(name);
  return 0;
}
