// The header rules: the rule actions that fill the ten fields, and the table of
// rules (by name) tried in order on each line.
#pragma once

#include <string_view>

#include "listing/scan/scan_state.h"
#include "listing/sources/mark_filter.h"

// The marks worth a look for the rule table: the line reader passes over lines
// without one.
const mark_filter& header_mark_filter();
// Tests one line against the rules. `text` lies in the reader's buffer or in the
// scan's line; it is copied into that line only when a rule takes it, since the
// rules change the line and read further lines.
void scan_text(scan_state& scan, std::string_view text);

// What a store other than a message file knows for certain, written as the rules
// write it. The read flag's answer replaces Message Read as a read-flag line does
// (" YES " or " NO/Unknown "); an attachment's name is an Attachment Info entry
// `filename="NAME"`, numbered on from the attachment lines the scan met.
void take_read_answer(scan_state& scan, bool read);
void take_attachment_name(scan_state& scan, std::string_view name);
