#include "settings/version.h"

// The build sets both from the project's single version line; the fallbacks keep
// a build by other means compiling.
#ifndef MAILSIFT_VERSION
#define MAILSIFT_VERSION "0.0.0"
#endif
#ifndef MAILSIFT_PLATFORM
#define MAILSIFT_PLATFORM "unknown platform"
#endif

const char* program_version() { return MAILSIFT_VERSION; }

const char* build_platform() { return MAILSIFT_PLATFORM; }

std::string version_report() {
  std::string out = "mailsift ";
  out += program_version();
  out += "\nbuilt for ";
  out += build_platform();
  out += "\nLicensed under the Apache License, Version 2.0\n";
  return out;
}
