#include "settings/dated_names.h"

// Stand-ins until the dated names exist.
bool has_dated_mask(const std::string& name) {
  (void)name;
  return false;
}

int expand_dated_name(std::string& name) {
  (void)name;
  return 0;
}

int computer_name_into(std::string& out) {
  (void)out;
  return 0;
}
