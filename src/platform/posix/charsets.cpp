// POSIX backend: charset conversion to UTF-8 by iconv.
#include <fcntl.h>
#include <iconv.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/charset_names.h"
#include "platform/posix/backend.h"

// iconv_open reads the system's converter modules, far too slow to repeat per
// field: a caller keeps its last few converters, and the names the system does
// not know, so that those are not asked for again either.
struct charset_converters {
  charset_answers<iconv_t, 6> kept;
};

namespace posix_backend {

namespace {

// What iconv_open gives for a charset it does not know.
const iconv_t k_no_converter = reinterpret_cast<iconv_t>(-1);

// The room a charset's module needs to load, and more: the largest of glibc's is
// under 500 KB.
constexpr std::size_t k_module_room = 1 << 20;

// glibc's iconv_open says EINVAL also where it could not load the charset's
// module for want of a descriptor or of memory: a name counts as unknown only
// while the system has both to spare.
bool resources_to_spare() {
  int probe = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (probe < 0 && (errno == EMFILE || errno == ENFILE || errno == ENOMEM)) return false;
  if (probe >= 0) close(probe);
  void* room = mmap(nullptr, k_module_room, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                    -1, 0);
  if (room == MAP_FAILED) return false;
  munmap(room, k_module_room);
  return true;
}

// The converter from `name` (normalized) to UTF-8 into `converter`. A converter
// that could not be made for want of resources is not kept: the name is asked
// for again next time.
charset_conversion converter_for(charset_converters& cache, const charset_name& name,
                                 iconv_t& converter) {
  if (iconv_t* kept = cache.kept.find(name)) {
    converter = *kept;
    return converter == k_no_converter ? charset_conversion::unknown
                                       : charset_conversion::converted;
  }
  std::string_view agreed = agreed_charset_name(name.view());
  char terminated[charset_name::capacity + 1] = {};
  std::memcpy(terminated, agreed.data(), agreed.size());
  converter = iconv_open("UTF-8", terminated);
  if (converter == k_no_converter && !(errno == EINVAL && resources_to_spare()))
    return charset_conversion::no_resources;
  bool held = false;
  iconv_t& slot = cache.kept.oldest_for(name, held);
  if (held && slot != k_no_converter) iconv_close(slot);
  slot = converter;
  return converter == k_no_converter ? charset_conversion::unknown : charset_conversion::converted;
}

constexpr std::string_view k_replacement = "\xEF\xBF\xBD";

// Runs `converter` over `bytes`, appending to `out`: a sequence it cannot take (or
// one cut short at the end) gives U+FFFD and the conversion goes on one byte later.
void convert_with(iconv_t converter, std::string_view bytes, std::string& out) {
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(bytes.data());
  std::size_t in_left = bytes.size();
  std::size_t start = out.size();
  // Most text grows by at most half again; E2BIG grows it further.
  out.resize(start + bytes.size() + bytes.size() / 2 + 16);
  std::size_t written = start;
  bool flushing = false;
  for (;;) {
    char* to = out.data() + written;
    std::size_t to_left = out.size() - written;
    std::size_t result = flushing ? iconv(converter, nullptr, nullptr, &to, &to_left)
                                  : iconv(converter, &in, &in_left, &to, &to_left);
    written = static_cast<std::size_t>(to - out.data());
    if (result != static_cast<std::size_t>(-1)) {
      if (flushing) break;
      // Stateful charsets (ISO-2022-JP) may owe a last shift back.
      flushing = true;
      continue;
    }
    if (errno == E2BIG) {
      out.resize(out.size() * 2 + 16);
    } else if (!flushing && in_left > 0) {
      // EILSEQ, or EINVAL for a sequence cut short at the end.
      out.replace(written, k_replacement.size(), k_replacement);
      written += k_replacement.size();
      ++in;
      --in_left;
      iconv(converter, nullptr, nullptr, nullptr, nullptr);
    } else {
      break;
    }
  }
  out.resize(written);
}

// Whether UTF-8 `text` holds a private-use character (U+E000-U+F8FF).
bool holds_private_use(std::string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    auto lead = static_cast<unsigned char>(text[i]);
    if (lead == 0xEE) return true;
    if (lead == 0xEF && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) <= 0xA3)
      return true;
  }
  return false;
}

// A character at a time: the shortest run of 1 to 4 bytes that converts is one
// character. Where none does, or the character is a private-use one (which some
// tables give the user-defined areas glibc's others refuse, as Windows' do), the
// first byte is U+FFFD and the conversion goes on after it.
void convert_characters(iconv_t converter, std::string_view bytes, std::string& out) {
  iconv(converter, nullptr, nullptr, nullptr, nullptr);
  std::size_t i = 0;
  while (i < bytes.size()) {
    char buffer[32];
    std::size_t produced = 0;
    bool converted = false;
    for (std::size_t length = 1; length <= 4 && i + length <= bytes.size(); ++length) {
      char* in = const_cast<char*>(bytes.data() + i);
      std::size_t in_left = length;
      char* to = buffer;
      std::size_t to_left = sizeof buffer;
      std::size_t result = iconv(converter, &in, &in_left, &to, &to_left);
      produced = static_cast<std::size_t>(to - buffer);
      if (result != static_cast<std::size_t>(-1) && in_left == 0) {
        converted = !holds_private_use(std::string_view(buffer, produced));
        if (converted) i += length;
        break;
      }
      if (errno != EINVAL) break;
    }
    if (converted) {
      out.append(buffer, produced);
    } else {
      out += k_replacement;
      ++i;
      iconv(converter, nullptr, nullptr, nullptr, nullptr);
    }
  }
}

}  // namespace

charset_conversion posix_convert_charset(charset_converters*& converters, std::string_view charset,
                                         std::string_view bytes, std::string& out) {
  charset_name name;
  if (!normalize_charset_name(charset, name)) return charset_conversion::unknown;
  if (!converters) converters = new charset_converters;
  iconv_t converter = k_no_converter;
  charset_conversion found = converter_for(*converters, name, converter);
  if (found != charset_conversion::converted) return found;
  std::size_t start = out.size();
  convert_with(converter, bytes, out);
  if (holds_private_use(std::string_view(out).substr(start))) {
    out.resize(start);
    convert_characters(converter, bytes, out);
  }
  return charset_conversion::converted;
}

void posix_free_charset_converters(charset_converters*& converters) {
  if (!converters) return;
  for (int i = 0; i < 6; ++i) {
    iconv_t kept = converters->kept.answers[i];
    if (converters->kept.used[i] && kept != k_no_converter) iconv_close(kept);
  }
  delete converters;
  converters = nullptr;
}

}  // namespace posix_backend
