// The end of every run that got past start-up.
#pragma once

#include "INCLUDE_U/stops.h"

// Ends every run that got past start-up: reason line, screen summary, closes the
// listing and the run log (with its trailer), exit status `reason`. Only
// program_main calls it (and the out-of-memory handler, which cannot return).
[[noreturn]] void terminate_run(int reason);
