// The release version and the build's platform, fixed by the build.
#pragma once

#include <string>

// The release number, such as "1.0.0".
const char* program_version();
// The platform this build runs on, such as "Linux x86_64" or "Windows x86_64".
const char* build_platform();
// What --version prints: the program and its version, the platform, the licence.
std::string version_report();
