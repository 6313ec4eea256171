// The state of one message's scan: what the header rules and the extra facts
// read and change while the lines of one message go by.
#pragma once

#include <cstdint>

#include "listing/record/message_fields.h"
#include "listing/record/scan_options.h"
#include "listing/sources/line_reader.h"

// Per-file state of the header scan.
struct scan_state {
  line_reader* reader;
  message_fields* fields;
  message_line* line;         // the line a rule takes
  message_line* second_line;  // the line after a short From line
  message_line* look_ahead;   // the line after a Received line
  message_line* continuation;  // the lines that continue an address line
  const scan_options* options;  // the scan's
  int from_count = 1;
  int to_count = 1;
  int cc_count = 1;
  int bcc_count = 1;
  int date_count = 1;
  int sent_count = 1;
  int subject_count = 1;
  int read_count = 1;        // both read-flag rules
  int attachment_count = 1;  // attachment marker and forwarded message
  int content_type_count = 1;
  int ip_count = 1;          // the Received and X-Originating-IP rules
  bool header_phase = true;  // until the first Subject line
  bool from_seen = false;
  bool to_seen = false;
  bool date_parsed = false;
  bool content_type_armed = false;
  // The readable listing's extra facts still looked for; a Message-ID only until
  // the header block's end.
  bool want_message_id = false;
  bool want_charset = false;
  bool want_sent_time = false;  // the first Date (or Sent) header's whole value
  // The readable listing: an entry taken from a header line grows by the line's
  // folded continuation lines, which the scan reads whole while `unfolding`
  // names the field whose last entry they go on.
  bool unfold = false;
  field_text* unfolding = nullptr;
};
