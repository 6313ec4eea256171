// Win32 backend: charset conversion to UTF-8 by MultiByteToWideChar, the code page
// found in the system's MIME database where it has the charset's name.
#include "platform/charset_names.h"
#include "platform/wide.h"
#include "platform/win32/backend.h"

// The registry is slow to ask per field: a caller keeps its last few answers,
// "no such charset" (0) among them, and the UTF-16 room its conversions work in,
// so that a field costs no allocation but its UTF-8.
struct charset_converters {
  charset_answers<UINT, 8> code_pages;
  std::wstring units;
  std::wstring part;
  std::wstring one;
  // A call of the system failed for want of memory: the conversion says so.
  bool ran_out = false;
};

namespace win32_backend {

namespace {

// Whether the last failure of a system call was for want of memory or handles.
bool last_error_ran_out() {
  switch (GetLastError()) {
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_COMMITMENT_LIMIT:
    case ERROR_TOO_MANY_OPEN_FILES:
      return true;
    default:
      return false;
  }
}

struct charset_code_page {
  std::string_view name;
  UINT code_page;
};

// The common MIME names, by the spelling charset_names agrees on, for a system
// whose MIME database lacks them (wine's has no cp932, cp949, cp950, koi8-u or
// iso-8859-15, for one).
constexpr charset_code_page k_code_pages[] = {
    {"utf-8", 65001},       {"iso-8859-2", 28592},  {"iso-8859-3", 28593},  {"iso-8859-4", 28594},
    {"iso-8859-5", 28595},  {"iso-8859-6", 28596},  {"iso-8859-7", 28597},  {"iso-8859-8", 28598},
    {"iso-8859-13", 28603}, {"iso-8859-15", 28605}, {"windows-1250", 1250}, {"windows-1251", 1251},
    {"windows-1252", 1252}, {"windows-1253", 1253}, {"windows-1254", 1254}, {"windows-1255", 1255},
    {"windows-1256", 1256}, {"windows-1257", 1257}, {"windows-1258", 1258}, {"windows-874", 874},
    {"koi8-r", 20866},      {"koi8-u", 21866},      {"gbk", 936},           {"gb18030", 54936},
    {"cp950", 950},         {"cp932", 932},         {"euc-jp", 20932},      {"iso-2022-jp", 50220},
    {"cp949", 949},         {"iso-2022-kr", 50225}, {"utf-7", 65000},       {"ibm850", 850},
    {"ibm437", 437},        {"ibm866", 866},        {"macintosh", 10000},
};

// Code pages the database names that MultiByteToWideChar does not take, or that
// both systems read as a wider code page (as charset_names does by name).
UINT fixed_code_page(UINT code_page) {
  switch (code_page) {
    case 51932:
      return 20932;
    case 51936:
      return 936;
    case 51949:
      return 949;
    case 38598:
      return 28598;
    default:
      return code_page;
  }
}

bool read_dword(HKEY key, const wchar_t* value, DWORD& out) {
  DWORD type = 0, size = sizeof out;
  return RegQueryValueExW(key, value, nullptr, &type, reinterpret_cast<BYTE*>(&out), &size) ==
             ERROR_SUCCESS &&
         type == REG_DWORD;
}

// The code page the MIME database gives `name`, following AliasForCharset a few
// steps; 0 when the database does not have it.
UINT database_code_page(std::string_view name, bool& ran_out) {
  std::wstring current = wide(std::string(name));
  for (int step = 0; step < 4; ++step) {
    HKEY key;
    std::wstring path = L"MIME\\Database\\Charset\\" + current;
    LONG opened = RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key);
    if (opened != ERROR_SUCCESS) {
      SetLastError(static_cast<DWORD>(opened));
      ran_out = last_error_ran_out();
      return 0;
    }
    wchar_t alias[64] = {};
    DWORD type = 0, size = sizeof alias - sizeof(wchar_t);
    bool has_alias = RegQueryValueExW(key, L"AliasForCharset", nullptr, &type,
                                      reinterpret_cast<BYTE*>(alias), &size) == ERROR_SUCCESS &&
                     type == REG_SZ;
    DWORD code_page = 0;
    // InternetEncoding is the charset's own code page; Codepage that of its family
    // (iso-8859-1 belongs to 1252's).
    bool found = !has_alias && (read_dword(key, L"InternetEncoding", code_page) ||
                                read_dword(key, L"Codepage", code_page));
    RegCloseKey(key);
    if (found) return code_page;
    if (!has_alias) return 0;
    current = alias;
  }
  return 0;
}

UINT table_code_page(std::string_view name) {
  for (const auto& entry : k_code_pages) {
    if (entry.name == name) return entry.code_page;
  }
  return 0;
}

UINT code_page_for(charset_converters& state, const charset_name& name) {
  if (UINT* kept = state.code_pages.find(name)) return *kept;
  // The agreed name first: where the two systems would read a name differently,
  // that name says how both read it.
  std::string_view agreed = agreed_charset_name(name.view());
  UINT code_page = database_code_page(agreed, state.ran_out);
  // Not kept: the next field asks again.
  if (state.ran_out) return 0;
  if (code_page == 0) code_page = table_code_page(agreed);
  code_page = fixed_code_page(code_page);
  // A system without GB18030 (wine) still reads its two-byte characters, GBK's.
  if (code_page == 54936 && !IsValidCodePage(code_page)) code_page = 936;
  if (code_page != 0 && !IsValidCodePage(code_page)) code_page = 0;
  bool held = false;
  state.code_pages.oldest_for(name, held) = code_page;
  return code_page;
}

// Code pages whose conversion takes no flags (MultiByteToWideChar's rule).
bool takes_no_flags(UINT code_page) {
  return (code_page >= 50220 && code_page <= 50229) || code_page == 52936 ||
         (code_page >= 57002 && code_page <= 57011) || code_page == 65000 || code_page == 42;
}

// UTF-16 of `bytes` in `code_page`; false when one of them is not defined there
// (for code pages that can tell). A failure for want of memory is noted in `state`.
bool to_utf16(charset_converters& state, UINT code_page, std::string_view bytes,
              std::wstring& out) {
  out.clear();
  if (bytes.empty()) return true;
  DWORD flags = takes_no_flags(code_page) ? 0 : MB_ERR_INVALID_CHARS;
  int length = static_cast<int>(bytes.size());
  int units = MultiByteToWideChar(code_page, flags, bytes.data(), length, nullptr, 0);
  if (units > 0) {
    out.resize(static_cast<std::size_t>(units));
    if (MultiByteToWideChar(code_page, flags, bytes.data(), length, out.data(), units) == units)
      return true;
  }
  if (last_error_ran_out()) state.ran_out = true;
  return false;
}

bool is_private_use(wchar_t unit) { return unit >= 0xE000 && unit <= 0xF8FF; }

// Whether a conversion holds a private-use character: the code pages give those
// to bytes they do not define (single-byte pages) and to user-defined areas that
// glibc mostly refuses. Taken as undefined, as the POSIX backend does.
bool holds_private_use(const std::wstring& units) {
  for (wchar_t unit : units) {
    if (is_private_use(unit)) return true;
  }
  return false;
}

void append_utf16(std::string& out, const std::wstring& units) {
  out += utf16_to_utf8(
      std::u16string_view(reinterpret_cast<const char16_t*>(units.data()), units.size()));
}

constexpr std::string_view k_replacement = "\xEF\xBF\xBD";

// A single-byte code page: one unit per byte, the undefined bytes U+FFFD.
void convert_single_bytes(charset_converters& state, UINT code_page, std::string_view bytes,
                          std::string& out) {
  std::wstring& units = state.part;
  if (!to_utf16(state, code_page, bytes, units) || units.size() != bytes.size()) {
    // A byte the system refuses spoils the whole call: one byte a call then.
    units.assign(bytes.size(), L'\xFFFD');
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (to_utf16(state, code_page, bytes.substr(i, 1), state.one) && state.one.size() == 1)
        units[i] = state.one[0];
    }
  }
  for (wchar_t& unit : units) {
    if (is_private_use(unit)) unit = L'\xFFFD';
  }
  append_utf16(out, units);
}

// A character at a time for a multi-byte code page: the shortest run of 1 to 4
// bytes that converts is one character; where none does, or it is a private-use
// one, the first byte is U+FFFD and the conversion goes on after it, as on POSIX.
void convert_characters(charset_converters& state, UINT code_page, std::string_view bytes,
                        std::string& out) {
  std::wstring& units = state.part;
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t length = 1;
    bool converted = false;
    for (; length <= 4 && i + length <= bytes.size(); ++length) {
      if (to_utf16(state, code_page, bytes.substr(i, length), units)) {
        converted = true;
        break;
      }
    }
    if (converted && holds_private_use(units)) converted = false;
    if (converted) {
      append_utf16(out, units);
      i += length;
    } else {
      out += k_replacement;
      ++i;
    }
  }
}

// ISO-2022-JP, read here rather than by code page 50220: wine's passes the bytes
// through with their escapes, and Windows' reads a few characters otherwise than
// iconv does. Its two-byte characters (JIS X 0208) are turned into Shift-JIS by
// arithmetic and read by code page 932, where the two tables agree; the handful
// where they do not are given as iconv gives them. What iconv refuses becomes
// U+FFFD and the reading goes on one byte later in ASCII, as the POSIX backend's.
enum class jis_set { ascii, roman, kanji };

// The JIS X 0208 characters that code page 932 reads otherwise than iconv.
struct jis_difference {
  unsigned code;
  const char* utf8;
};
constexpr jis_difference k_jis_differences[] = {
    {0x2141, "\u301C"}, {0x2142, "\u2016"}, {0x215D, "\u2212"},
    {0x2171, "\u00A2"}, {0x2172, "\u00A3"}, {0x224C, "\u00AC"},
};

// Whether JIS X 0208 has row `row` at all: code page 932 adds rows 13 and 89-92.
bool jis_row_defined(unsigned row) {
  return (row >= 0x21 && row <= 0x28) || (row >= 0x30 && row <= 0x74);
}

// Appends the JIS X 0208 character `first second` (0x21-0x7E each); false when
// it has none.
bool append_jis_character(charset_converters& state, unsigned first, unsigned second,
                          std::string& out) {
  if (!jis_row_defined(first)) return false;
  unsigned code = first << 8 | second;
  for (const jis_difference& difference : k_jis_differences) {
    if (difference.code == code) {
      out += difference.utf8;
      return true;
    }
  }
  char sjis[2];
  sjis[0] = static_cast<char>(((first + 1) >> 1) + (first <= 0x5E ? 0x70 : 0xB0));
  sjis[1] = static_cast<char>(second + ((first & 1) != 0 ? (second > 0x5F ? 0x20 : 0x1F) : 0x7E));
  std::wstring& units = state.one;
  if (!to_utf16(state, 932, std::string_view(sjis, 2), units) || units.size() != 1 ||
      holds_private_use(units)) {
    return false;
  }
  append_utf16(out, units);
  return true;
}

// The set an escape sequence at `at` chooses and its length; 0 for none iconv's
// ISO-2022-JP takes.
std::size_t jis_escape(std::string_view bytes, std::size_t at, jis_set& set) {
  constexpr struct {
    std::string_view escape;
    jis_set set;
  } k_escapes[] = {{"\x1B(B", jis_set::ascii},
                   {"\x1B(J", jis_set::roman},
                   {"\x1B$@", jis_set::kanji},
                   {"\x1B$B", jis_set::kanji}};
  for (const auto& known : k_escapes) {
    if (bytes.substr(at).starts_with(known.escape)) {
      set = known.set;
      return known.escape.size();
    }
  }
  return 0;
}

void convert_iso_2022_jp(charset_converters& state, std::string_view bytes, std::string& out) {
  jis_set set = jis_set::ascii;
  std::size_t i = 0;
  while (i < bytes.size()) {
    auto c = static_cast<unsigned char>(bytes[i]);
    if (c == 0x1B) {
      std::size_t length = jis_escape(bytes, i, set);
      if (length != 0) {
        i += length;
        continue;
      }
    } else if (c < 0x80 && (set == jis_set::ascii || c < 0x21 || c == 0x7F)) {
      out += static_cast<char>(c);
      ++i;
      continue;
    } else if (c < 0x80 && set == jis_set::roman) {
      out += c == 0x5C ? "\u00A5" : c == 0x7E ? "\u203E" : std::string(1, static_cast<char>(c));
      ++i;
      continue;
    } else if (c < 0x80 && i + 1 < bytes.size()) {
      auto second = static_cast<unsigned char>(bytes[i + 1]);
      if (second >= 0x21 && second <= 0x7E && append_jis_character(state, c, second, out)) {
        i += 2;
        continue;
      }
    }
    out += k_replacement;
    ++i;
    set = jis_set::ascii;
  }
}

}  // namespace

charset_conversion win_convert_charset(charset_converters*& converters, std::string_view charset,
                                       std::string_view bytes, std::string& out) {
  charset_name name;
  if (!normalize_charset_name(charset, name)) return charset_conversion::unknown;
  if (!converters) converters = new charset_converters;
  charset_converters& state = *converters;
  state.ran_out = false;
  if (agreed_charset_name(name.view()) == "iso-2022-jp") {
    convert_iso_2022_jp(state, bytes, out);
    return state.ran_out ? charset_conversion::no_resources : charset_conversion::converted;
  }
  UINT code_page = code_page_for(state, name);
  if (state.ran_out) return charset_conversion::no_resources;
  if (code_page == 0 || bytes.size() > 0x7FFFFFFF) return charset_conversion::unknown;
  CPINFO info;
  bool single_byte = GetCPInfo(code_page, &info) && info.MaxCharSize == 1;
  std::size_t start = out.size();
  std::wstring& units = state.units;
  if (single_byte) {
    convert_single_bytes(state, code_page, bytes, out);
  } else if (to_utf16(state, code_page, bytes, units) && !holds_private_use(units)) {
    append_utf16(out, units);
  } else if (state.ran_out) {
    // Said below.
  } else if (takes_no_flags(code_page)) {
    // These code pages cannot say where they failed, nor be taken apart.
    if (units.empty()) {
      out += k_replacement;
    } else {
      append_utf16(out, units);
    }
  } else {
    convert_characters(state, code_page, bytes, out);
  }
  // Bytes made U+FFFD for want of memory would pass for bytes the charset lacks.
  if (state.ran_out) {
    out.resize(start);
    return charset_conversion::no_resources;
  }
  return charset_conversion::converted;
}

void win_free_charset_converters(charset_converters*& converters) {
  delete converters;
  converters = nullptr;
}

}  // namespace win32_backend
