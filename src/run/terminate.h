// The end of every run that got past start-up.
#pragma once

#include "INCLUDE_U/stops.h"

// Ends every run that got past start-up: reason line, screen summary, closes the
// listing and the run log (with its trailer), exit status `reason`. Called by
// program_main, directly or through the start-up ending it installs, and by the
// out-of-memory handler, which cannot return.
[[noreturn]] void terminate_run(int reason);
