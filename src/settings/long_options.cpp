#include "settings/long_options.h"

// Stand-in until the long options exist.
int parse_long_option(std::string_view option) {
  (void)option;
  return 0;
}
