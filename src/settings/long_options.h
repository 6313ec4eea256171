// Long options: --name[=value].
#pragma once

#include <string_view>

// Applies one long option (the text after "--"); 0 when accepted (also for an
// unknown keyword, after a warning), nonzero when rejected.
int parse_long_option(std::string_view option);
