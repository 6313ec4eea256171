// The header rules: the state of one file's scan, the rule actions that fill the
// ten fields, and the table of rules (by name) tried in order on each line.
#pragma once

#include <string_view>

#include "listing/line_reader.h"
#include "listing/matcher.h"
#include "listing/record.h"

// Per-file state of the header scan.
struct scan_state {
  line_reader* reader;
  message_fields* fields;
  message_line* line;         // the line a rule takes
  message_line* second_line;  // the line after a short From line
  message_line* look_ahead;   // the line after a Received line
  message_line* continuation;  // the lines that continue an address line
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
  // The readable listing's extra facts: what is still looked for, and how far
  // the header block was searched for its end (file offsets; -1 while unknown).
  bool want_message_id = false;
  bool want_charset = false;
  bool want_sent_time = false;  // the first Date (or Sent) header's whole value
  int64_t message_start = 0;  // the message's offset in its file
  // The readable listing: an entry taken from a header line grows by the line's
  // folded continuation lines, which the scan reads whole while `unfolding`
  // names the field whose last entry they go on.
  bool unfold = false;
  field_text* unfolding = nullptr;
};

// Which of the extra facts the settings ask for; the scan of each message starts
// with them. `message_start` is the message's offset in its file.
void want_extra_facts(scan_state& scan, int64_t message_start);

// The marks worth a look for the rule table: the line reader passes over lines
// without one.
const mark_filter& header_mark_filter();
// The same, also admitting the Message-ID lines, for a scan that wants them.
const mark_filter& header_mark_filter_with_message_ids();
// Tests one line against the rules. `text` lies in the reader's buffer or in the
// scan's line; it is copied into that line only when a rule takes it, since the
// rules change the line and read further lines.
void scan_text(scan_state& scan, std::string_view text);
