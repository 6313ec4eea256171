// Long options: --name[=value].
#pragma once

#include <string_view>
#include <vector>

// Applies one long option (the text after "--"); 0 when accepted (also for an
// unknown keyword, after a warning), nonzero when rejected.
int parse_long_option(std::string_view option);
// The keywords of the long options, in the order they are tested.
std::vector<std::string_view> long_option_keywords();
