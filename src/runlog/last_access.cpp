#include "runlog/last_access.h"

#include "platform/platform.h"

int g_last_access_setting = -1;

// Stand-ins until the last-access report exists.
int read_last_access_setting() { return g_platform.last_access_setting(); }

void report_last_access(std::FILE* stream, int value) {
  (void)stream;
  (void)value;
}
