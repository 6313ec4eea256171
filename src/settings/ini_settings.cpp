#include "settings/ini_settings.h"

#include "INCLUDE_U/text.h"
#include "platform/platform.h"

bool env_contains(const char* word, const char* name) {
  std::string value;
  if (!g_platform.get_environment(name, value)) return false;
  return ascii_ifind(value, word) != std::string::npos;
}

// Stand-ins until the environment and INI readers exist.
void read_environment() {}

void read_ini_settings(const std::vector<std::string>& args) { (void)args; }
