// Site settings: environment variables and the INI file.
#pragma once

#include <string>
#include <vector>

// True when the environment variable `name` is set and its value contains
// `word`, ignoring case.
bool env_contains(const char* word, const char* name);
// ACCT and DELIMETER.
void read_environment();
// Finds and reads the INI file, unless an argument is exactly "-.ini".
void read_ini_settings(const std::vector<std::string>& args);
