#include "listing/eml_program.h"

#include <cstdio>

#include "listing/new_do_eml.h"
#include "run/run_state.h"
#include "settings/run_settings.h"

// Stand-ins until the output file and listing start exist.
void reserve_output_buffers() { g_output_name.clear(); }

void open_output_file() {}

void start_listing() {
  g_settings->no_count = !g_settings->no_count;
  write_listing_header(g_out_file);
}

flush_result flush_listing_output() {
  return std::fflush(g_out_file) == 0 ? flush_result::ok : flush_result::failed;
}
