// The header-text decoder over any text and charset: the result must be valid
// UTF-8 without a NUL, and a cut by utf8_prefix_length must stay valid.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "INCLUDE_U/text.h"
#include "listing/record/readable_text.h"
#include "platform/utf8.h"

namespace {

bool is_clean_utf8(std::string_view text) {
  return is_valid_utf8(text) && text.find('\0') == std::string_view::npos;
}

}  // namespace

// The input is "charset NUL text"; without a NUL, all of it is the text.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view all(reinterpret_cast<const char*>(data), size);
  std::size_t cut = all.find('\0');
  std::string_view charset = cut == std::string_view::npos ? std::string_view() : all.substr(0, cut);
  std::string_view text = cut == std::string_view::npos ? all : all.substr(cut + 1);
  std::string out;
  static readable_work work;
  append_readable_text(out, text, charset, work);
  if (!is_clean_utf8(out)) std::abort();
  if (!needs_decoding(text) && out != text) std::abort();
  if (!is_clean_utf8(out.substr(0, utf8_prefix_length(out, out.size() / 2)))) std::abort();
  std::string valid;
  append_valid_utf8(valid, text);
  if (!is_clean_utf8(valid)) std::abort();
  content_type_charset(text);
  return 0;
}
