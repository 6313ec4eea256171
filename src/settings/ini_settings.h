// Site settings: environment variables and the INI file.
#pragma once

#include <string>
#include <vector>

// True when the environment variable `name` is set and its value contains
// `word`, ignoring case.
bool env_contains(const char* word, const char* name);
// ACCT opens the run log at once ("ON" names ACCT-ING in the current directory);
// DELIMETER sets the delimiter from its first character after one leading quote.
void read_environment();
// Finds and reads the INI file (the program's own, or its section of TOLVERIN.INI),
// unless an argument is exactly "-.ini". Problems are reported, never fatal.
void read_ini_settings(const std::vector<std::string>& args);
