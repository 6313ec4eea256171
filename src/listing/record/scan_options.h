// What the scan, its record writers and the scanners need to know of the
// settings, in one record: made once when the settings are settled
// (settle_scan_options), and held by every scan, so that a reader or a test can
// follow a setting from the command line to the byte it changes.
#pragma once

#include <cstdint>

// The two writers of a record (record.h).
struct record_form;
extern const record_form k_delimited_form;
extern const record_form k_json_form;

struct scan_options {
  // --MBOX: a file that starts with a separator line gives one record per
  // message, with the Message and Offset columns.
  bool mailbox = false;
  // --PST: an Outlook data file gives one record per message, and every record
  // has the Message, Offset and Folder columns; --PST-RECOVER: the items libpff
  // recovers are listed after the rest.
  bool outlook = false;
  bool outlook_recover = false;
  // --MSGID: the Message-ID column, and the lines it comes from looked for.
  bool message_id = false;
  // --SENT-UTC: the Sent (UTC) column.
  bool sent_utc = false;
  // --SENT-AFTER / --SENT-BEFORE: a message is listed when sent at or after
  // `sent_after` and before `sent_before` (seconds since 1970 UTC), each bound
  // while it is set.
  bool sent_after_set = false;
  bool sent_before_set = false;
  int64_t sent_after = 0;
  int64_t sent_before = 0;
  // --UTF: fields decoded and converted to UTF-8.
  bool utf = false;
  // --JSON: JSON Lines instead of the header line and delimited records.
  bool json = false;
  // The hash columns.
  bool md5 = false;
  bool sha1 = false;
  bool sha256 = false;
  // The delimited form: the delimiter, and whether every field is quoted.
  char delimiter = '|';
  bool quoted = false;
  // How many files are read at once (1 to the most scanners a run may have).
  int scanners = 1;
  // The writer of the records, chosen once with the rest: k_json_form for JSON.
  const record_form* form = &k_delimited_form;
};

// Whether a file may give several records, or none: mailboxes are split, or the
// sent date selects messages. Each record is then marked whole as it is written.
// Whether records have the Message and Offset columns: a mailbox's messages, an
// Outlook data file's.
inline bool has_message_columns(const scan_options& options) {
  return options.mailbox || options.outlook;
}

inline bool lists_by_message(const scan_options& options) {
  return options.mailbox || options.sent_after_set || options.sent_before_set;
}
