// UTF-16 <-> UTF-8 at the Windows boundary. WTF-8 is used so that file names
// holding unpaired surrogates survive the round trip. Only the Windows backend
// and the program entry include this header.
#pragma once

#include <string>
#include <string_view>

std::string utf16_to_utf8(std::u16string_view text);
std::u16string utf8_to_utf16(std::string_view text);
