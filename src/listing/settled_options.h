// The scan options of the run: made once from the settings when they are settled,
// and copied into every scan the run makes.
#pragma once

#include "listing/record/scan_options.h"

// Makes the scan options from the settled settings; start-up calls it once the
// settings are settled, a test after it has set them.
void settle_scan_options();
// The scan options of the run, as settle_scan_options made them.
const scan_options& settled_scan_options();
