// The exclude matcher: '?', '*', '\' escapes and [sets], compared exactly.
#pragma once

#include <string_view>

// True when `name` matches `pattern`; never reads past the end of either.
bool wildcard_match(std::string_view pattern, std::string_view name);
