#include "platform/charset_names.h"

namespace {

struct charset_alias {
  std::string_view name;
  std::string_view agreed;
};

// Mail programs read these as the wider charset of the same family: a message
// labelled gb2312 often holds GBK characters, big5 cp950's, and one labelled
// iso-8859-1 or us-ascii windows-1252's (the web's encoding standard reads those
// labels so too, and so does the Windows MIME database).
constexpr charset_alias k_agreed_aliases[] = {
    {"gb2312", "gbk"},
    {"csgb2312", "gbk"},
    {"x-gbk", "gbk"},
    {"euc-cn", "gbk"},
    {"cp936", "gbk"},
    {"windows-936", "gbk"},
    {"gb_2312-80", "gbk"},
    {"big5", "cp950"},
    {"big-5", "cp950"},
    {"cn-big5", "cp950"},
    {"x-x-big5", "cp950"},
    {"csbig5", "cp950"},
    {"shift_jis", "cp932"},
    {"shift-jis", "cp932"},
    {"sjis", "cp932"},
    {"x-sjis", "cp932"},
    {"ms_kanji", "cp932"},
    {"csshiftjis", "cp932"},
    {"windows-31j", "cp932"},
    {"euc-kr", "cp949"},
    {"ks_c_5601-1987", "cp949"},
    {"ks_c_5601", "cp949"},
    {"ks_c_5601-1989", "cp949"},
    {"ksc_5601", "cp949"},
    {"ksc5601", "cp949"},
    {"csksc56011987", "cp949"},
    {"uhc", "cp949"},
    {"x-euc-jp", "euc-jp"},
    {"iso-8859-1", "windows-1252"},
    {"latin1", "windows-1252"},
    {"l1", "windows-1252"},
    {"iso8859-1", "windows-1252"},
    {"iso_8859-1", "windows-1252"},
    {"cp819", "windows-1252"},
    {"us-ascii", "windows-1252"},
    {"ascii", "windows-1252"},
    {"us", "windows-1252"},
    {"ansi_x3.4-1968", "windows-1252"},
    {"iso-8859-9", "windows-1254"},
    {"iso8859-9", "windows-1254"},
    {"latin5", "windows-1254"},
    {"iso-8859-11", "windows-874"},
    {"utf8", "utf-8"},
    {"iso-8859-8-i", "iso-8859-8"},
    {"tis-620", "windows-874"},
    {"cp874", "windows-874"},
    {"cp1250", "windows-1250"},
    {"cp1251", "windows-1251"},
    {"cp1252", "windows-1252"},
    {"cp1253", "windows-1253"},
    {"cp1254", "windows-1254"},
    {"cp1255", "windows-1255"},
    {"cp1256", "windows-1256"},
    {"cp1257", "windows-1257"},
    {"cp1258", "windows-1258"},
    {"x-cp1250", "windows-1250"},
    {"x-cp1251", "windows-1251"},
    {"x-cp1252", "windows-1252"},
    {"cp850", "ibm850"},
    {"cp437", "ibm437"},
    {"cp866", "ibm866"},
};

constexpr bool is_name_character(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' ||
         c == ':' || c == '+' || c == '(' || c == ')';
}

}  // namespace

bool normalize_charset_name(std::string_view name, charset_name& out) {
  if (name.empty() || name.size() > charset_name::capacity) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    char c = name[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (!is_name_character(c)) return false;
    out.bytes[i] = c;
  }
  out.length = name.size();
  return true;
}

std::string_view agreed_charset_name(std::string_view name) {
  for (const auto& alias : k_agreed_aliases) {
    if (alias.name == name) return alias.agreed;
  }
  return name;
}
