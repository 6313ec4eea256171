#include "listing/eml_s_list.h"

// Stand-in until the source-list mode exists.
void process_source_list() {}
