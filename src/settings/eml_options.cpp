#include "settings/eml_options.h"

#include "discovery/path_lists.h"

// Stand-in until the command-line reader exists: bare words are starting paths.
void parse_command_line(std::vector<std::string>& args) {
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (!args[i].empty() && args[i][0] != '-' && args[i][0] != '+') add_path_argument(args[i]);
  }
}

void take_time_letters(std::string& value) { (void)value; }

void apply_age_value(std::string value, bool older) {
  (void)value;
  (void)older;
}
