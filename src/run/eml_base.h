// The spine of a run: start-up order, counting and processing passes, termination.
#pragma once

#include <string>
#include <vector>

// Runs the program with UTF-8 arguments (args[0] is the program). Never returns
// normally: every run ends in terminate_run or a direct exit.
[[noreturn]] void program_main(std::vector<std::string> args);

