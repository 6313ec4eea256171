// The message fields of one record, the table of their columns, and where a
// mailbox's message stands: what a scan fills and every form of the record reads.
#pragma once

#include <cstdint>

#include "INCLUDE_U/text.h"
#include "listing/scan/header_values.h"

// The ten message fields of one file and the date parsed from its first Date
// (or Sent) line, in record order.
struct message_fields {
  // Asked for by the readable listing alone: the first Message-ID of the header
  // block, white space removed, and the first charset a Content-Type line names.
  // First, on the page the From field starts on: a scan touches no page more for
  // them.
  bounded_text<1000> message_id;
  bounded_text<64> charset;
  field_text from;
  field_text to;
  field_text cc;
  field_text bcc;
  field_text date;
  parsed_date date_time;
  field_text forward_date;
  field_text subject;
  field_text message_read;
  field_text attachment_info;
  field_text recent_ip;
};

// One column after the file's own three (name, size, last-write date): its name in
// the header line and the field it shows; null for the date parsed from the Date line.
struct field_column {
  const char* name;
  field_text message_fields::*field;
};

// The message columns in record order: the header line, the record, the reset and
// the quoted form all go by this table.
inline constexpr field_column k_field_columns[] = {
    {"From", &message_fields::from},
    {"To", &message_fields::to},
    {"CC", &message_fields::cc},
    {"Bcc", &message_fields::bcc},
    {"Date", &message_fields::date},
    {"Date-Time", nullptr},
    {"Forward Date", &message_fields::forward_date},
    {"Subject", &message_fields::subject},
    {"Message Read", &message_fields::message_read},
    {"Attachment Info", &message_fields::attachment_info},
    {"Recent IP", &message_fields::recent_ip},
};

// Where a record's message stands in its file: the Message and Offset columns of
// a run that lists mailboxes (1 and 0 for a file that is no mailbox).
struct message_place {
  int64_t number = 1;
  int64_t offset = 0;
};
