// The exclude matcher over any pattern and name.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "discovery/wildcard.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view all(reinterpret_cast<const char*>(data), size);
  std::size_t cut = all.find('\0');
  std::string_view pattern = all.substr(0, cut);
  std::string_view name = cut == std::string_view::npos ? std::string_view() : all.substr(cut + 1);
  // Views that end exactly at the input's end let the sanitizer catch any read past it.
  wildcard_match(pattern, name);
  return 0;
}
