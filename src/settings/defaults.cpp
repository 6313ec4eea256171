#include "settings/defaults.h"

#include "settings/ini_settings.h"
#include "settings/run_settings.h"

void set_default_settings() {
  g_settings->zulu = 0;
  g_settings->time_type = 'w';
  if (env_contains("ON", "RESET")) g_settings->reset = 1;
  g_settings->military = 1;
  if (env_contains("ON", "SILENT")) g_settings->silent = 1;
  g_settings->scanners = k_default_scanners;
  g_settings->width = 32;
  g_settings->stream = 1;
  g_settings->pause = 0;
  g_settings->recurse = 1;
}

void settle_settings() {
  // --IM, IMMEDIATE and NO_COUNT ask for the counting pass (the names are the
  // tool family's; the pass is what they have always meant here).
  g_settings->counting_pass = g_settings->no_count != 0;
  // A time letter's three columns come off the name's width.
  if (g_settings->time_letter_given || g_settings->time_type == '3') g_settings->width -= 3;
  // JSON is UTF-8 text by definition.
  if (g_settings->json) g_settings->utf = 1;
}
