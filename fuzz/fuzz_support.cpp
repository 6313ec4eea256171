#include "fuzz_support.h"

#include <cstdio>
#include <cstring>

#include "INCLUDE_U/text.h"
#include "listing/eml_program.h"
#include "platform/platform.h"
#include "platform/wide.h"
#include "runlog/run_log.h"
#include "settings/path_lists.h"
#include "settings/run_settings.h"

namespace {

std::string_view s_file;
std::size_t s_offset = 0;
bool s_whole_reads = false;
std::size_t s_longest_read = 4093;
int64_t s_fail_at = -1;

void throwing_exit(int status) { throw fuzz_exit{status}; }
void no_sleep(int) {}
int no_key() { return -1; }
bool no_key_waiting() { return false; }
bool fixed_computer_name(std::string& out) {
  out = "FUZZHOST";
  return true;
}
bool refuse_path(const std::string&) { return false; }
bool no_such_path(const std::string&) { return false; }
std::FILE* refuse_stream(const std::string&, const char*) { return nullptr; }
bool refuse_truncate(const std::string&, int64_t) { return false; }

read_handle open_served(const std::string&) {
  s_offset = 0;
  return 1;
}
int64_t read_served(read_handle, void* buffer, int64_t size) {
  // Short reads of varying length exercise the reader's refills at every offset;
  // whole reads serve as much as is asked for, as a file on disk does.
  std::size_t left = s_file.size() - s_offset;
  std::size_t chunk = s_whole_reads ? left : 1 + (s_offset * 7919 + 13) % s_longest_read;
  std::size_t take = left < chunk ? left : chunk;
  if (take > static_cast<std::size_t>(size)) take = static_cast<std::size_t>(size);
  if (s_fail_at >= 0) {
    std::size_t fail_at = static_cast<std::size_t>(s_fail_at);
    if (s_offset >= fail_at) return -1;
    if (s_offset + take > fail_at) take = fail_at - s_offset;
  }
  std::memcpy(buffer, s_file.data() + s_offset, take);
  s_offset += take;
  return static_cast<int64_t>(take);
}
void close_served(read_handle) {}
failure_kind served_failure(std::string& reason) {
  reason = "fuzz";
  return failure_kind::other;
}

// The strict JSON parser: recursive descent over `text` from `at`.
struct json_parser {
  std::string_view text;
  std::size_t at = 0;
  int depth = 0;

  void skip_space() {
    while (at < text.size() &&
           (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r'))
      ++at;
  }
  bool take(char c) {
    if (at >= text.size() || text[at] != c) return false;
    ++at;
    return true;
  }
  bool hex4(unsigned& code) {
    if (text.size() - at < 4) return false;
    code = 0;
    for (int i = 0; i < 4; ++i) {
      char c = text[at++];
      unsigned digit = c >= '0' && c <= '9'   ? static_cast<unsigned>(c - '0')
                       : c >= 'a' && c <= 'f' ? static_cast<unsigned>(c - 'a' + 10)
                       : c >= 'A' && c <= 'F' ? static_cast<unsigned>(c - 'A' + 10)
                                              : 16u;
      if (digit == 16) return false;
      code = code * 16 + digit;
    }
    return true;
  }
  bool escape(std::string& out) {
    if (at >= text.size()) return false;
    char c = text[at++];
    static constexpr std::string_view k_from = "\"\\/bfnrt", k_to = "\"\\/\b\f\n\r\t";
    if (std::size_t i = k_from.find(c); i != std::string_view::npos) {
      out += k_to[i];
      return true;
    }
    unsigned code = 0;
    if (c != 'u' || !hex4(code)) return false;
    if (code >= 0xDC00 && code <= 0xDFFF) return false;
    // An escape is a UTF-16 unit: one that leads a surrogate pair needs its second.
    char16_t units[2] = {static_cast<char16_t>(code), 0};
    std::size_t count = 1;
    if (code >= 0xD800 && code <= 0xDBFF) {
      unsigned low = 0;
      if (!take('\\') || !take('u') || !hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
      units[count++] = static_cast<char16_t>(low);
    }
    out += utf16_to_utf8(std::u16string_view(units, count));
    return true;
  }
  bool string(std::string& out) {
    if (!take('"')) return false;
    out.clear();
    while (at < text.size()) {
      unsigned char c = static_cast<unsigned char>(text[at]);
      if (c == '"') {
        ++at;
        return true;
      }
      if (c < 0x20) return false;
      if (c == '\\') {
        ++at;
        if (!escape(out)) return false;
        continue;
      }
      std::size_t length = well_formed_utf8_length(text, at);
      if (length == 0) return false;
      out.append(text.substr(at, length));
      at += length;
    }
    return false;
  }
  bool digits() {
    std::size_t start = at;
    while (at < text.size() && is_ascii_digit(text[at])) ++at;
    return at > start;
  }
  bool number(std::string& out) {
    std::size_t start = at;
    take('-');
    if (take('0')) {
      if (at < text.size() && is_ascii_digit(text[at])) return false;
    } else if (!digits()) {
      return false;
    }
    if (take('.') && !digits()) return false;
    if (take('e') || take('E')) {
      if (!take('+')) take('-');
      if (!digits()) return false;
    }
    out.assign(text.substr(start, at - start));
    return true;
  }
  bool literal(std::string_view word, json_value& out, json_value::kind type) {
    if (text.substr(at, word.size()) != word) return false;
    at += word.size();
    out.type = type;
    out.text.assign(word);
    return true;
  }
  bool value(json_value& out) {
    if (++depth > 64) return false;
    skip_space();
    if (at >= text.size()) return false;
    bool ok = false;
    switch (text[at]) {
      case '"':
        out.type = json_value::kind::string;
        ok = string(out.text);
        break;
      case '[':
        out.type = json_value::kind::array;
        ok = items(out, ']');
        break;
      case '{':
        out.type = json_value::kind::object;
        ok = items(out, '}');
        break;
      case 't':
        ok = literal("true", out, json_value::kind::boolean);
        break;
      case 'f':
        ok = literal("false", out, json_value::kind::boolean);
        break;
      case 'n':
        ok = literal("null", out, json_value::kind::null);
        break;
      default:
        out.type = json_value::kind::number;
        ok = number(out.text);
    }
    skip_space();
    --depth;
    return ok;
  }
  // An array's items or an object's members, up to `close`.
  bool items(json_value& out, char close) {
    ++at;
    skip_space();
    if (take(close)) return true;
    do {
      if (close == '}') {
        skip_space();
        out.names.emplace_back();
        if (!string(out.names.back())) return false;
        skip_space();
        if (!take(':')) return false;
      }
      out.items.emplace_back();
      if (!value(out.items.back())) return false;
    } while (take(','));
    return take(close);
  }
};

}  // namespace

void fuzz_reset() {
  // The listing goes to a sink that stays open for the whole fuzzing run.
  static std::FILE* sink = std::fopen("/dev/null", "w");
  g_platform = native_platform();
  g_platform.exit_process = throwing_exit;
  g_platform.sleep_milliseconds = no_sleep;
  g_platform.read_key = no_key;
  g_platform.key_waiting = no_key_waiting;
  g_platform.computer_name = fixed_computer_name;
  g_platform.create_directory = refuse_path;
  g_platform.path_exists = no_such_path;
  g_platform.open_stream = refuse_stream;
  g_platform.open_regular_stream = refuse_stream;
  g_platform.truncate_file = refuse_truncate;
  create_run_settings();
  clear_path_lists();
  g_out_file = sink;
  g_msg_file = stderr;
  g_acct_file = nullptr;
}

void fuzz_serve_file(std::string_view data, bool whole_reads, std::size_t longest_read) {
  s_file = data;
  s_offset = 0;
  s_whole_reads = whole_reads;
  s_longest_read = longest_read == 0 ? 1 : longest_read;
  s_fail_at = -1;
  g_platform.open_for_reading = open_served;
  g_platform.read_bytes = read_served;
  g_platform.close_file = close_served;
  g_platform.last_failure = served_failure;
}

void fuzz_fail_reads_at(int64_t offset) { s_fail_at = offset; }

bool parse_strict_json(std::string_view text, json_value& out) {
  json_parser parser{text};
  out = json_value{};
  return parser.value(out) && parser.at == text.size();
}

std::vector<std::string> fuzz_words(const uint8_t* data, size_t size) {
  std::vector<std::string> words;
  std::string word;
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == 0) {
      words.push_back(word);
      word.clear();
    } else {
      word += static_cast<char>(data[i]);
    }
  }
  words.push_back(word);
  return words;
}
