// The message fields of one record and where a mailbox's message stands: what a
// scan fills and every form of the record reads.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "INCLUDE_U/text.h"
#include "listing/sources/message_line.h"

// The date parsed from the first Date (or Sent) line of a file, and for the sent
// time (asked for alone) that header's value with its folds joined; a value too
// long for it is left empty, as one cut short could read as another time.
struct parsed_date {
  int year = 0;
  int month = 0;
  int day = 0;
  bounded_text<19> time_text;
  bounded_text<256> sent_text;
};

// The start value of Message Read: nothing said whether the message was read.
inline constexpr std::string_view k_unknown_read_flag = " Unknown  ";

// The number of a body entry ("(#body:) ", a header line met after the header block).
inline constexpr int32_t k_body_entry = -1;

// Where one entry of a field stands: its head "(#3:) " from `head`, its text from
// `text` up to the next entry's head (or the field's end), the two spaces that end
// it included. Offsets are below the field's capacity.
struct entry_place {
  uint16_t head;
  uint16_t text;
  int32_t number;  // k_body_entry for a body entry
};

// Every entry but the last ends in two spaces, and the shortest head is 6 bytes,
// so a field holds no more entries than this.
inline constexpr std::size_t k_most_entries = (k_field_capacity - 6) / 8 + 1;

// A field made of entries: its text as the delimited listing shows it (heads and
// padding included), and where each entry whose head fitted whole stands, so that
// a writer takes the entries from where the scan put them. The places are set only
// as entries are added, from the end of their array down: the first places, the
// count and the start of the text lie side by side, so that a field that stays
// short touches one page.
struct entry_field {
  std::array<entry_place, k_most_entries> places_down;
  uint16_t count = 0;
  field_text text;

  std::string_view view() const { return text.view(); }
  entry_place& place(std::size_t i) { return places_down[k_most_entries - 1 - i]; }
};

// A field's text and its entries as a writer reads them: a message's own field, or
// its text made readable. Entry i's place is at `places + i * step`.
struct entries_view {
  std::string_view text;
  const entry_place* places = nullptr;
  std::size_t count = 0;
  std::ptrdiff_t step = 1;

  const entry_place& place(std::size_t i) const {
    return places[static_cast<std::ptrdiff_t>(i) * step];
  }
};

inline entries_view view_of(const entry_field& field) {
  return {field.text.view(), &field.places_down[k_most_entries - 1], field.count, -1};
}

// One entry as read from an entries_view: its number (absent for text before the
// first head, as the start value of Message Read is), its text, and its padding.
struct field_entry {
  bool numbered = false;
  int32_t number = 0;
  std::string_view head;
  std::string_view text;
  std::string_view padding;
};

// Calls `visit` with each entry of `field`, in order: head, text and padding of all
// of them together are the field.
template <typename visitor>
void visit_entries(entries_view field, visitor visit) {
  auto body_of = [&](std::size_t from, std::size_t to, field_entry& entry) {
    // A fold joined to a field may have taken back the padding after a head.
    from = from < field.text.size() ? from : field.text.size();
    to = to < field.text.size() ? to : field.text.size();
    std::string_view body = field.text.substr(from, to > from ? to - from : 0);
    std::size_t padding = body.ends_with("  ") ? 2 : 0;
    entry.text = body.substr(0, body.size() - padding);
    entry.padding = body.substr(body.size() - padding);
  };
  std::size_t first_head = field.count != 0 ? field.place(0).head : field.text.size();
  if (first_head != 0) {
    field_entry entry;
    body_of(0, first_head, entry);
    visit(entry);
  }
  for (std::size_t i = 0; i < field.count; ++i) {
    const entry_place& place = field.place(i);
    std::size_t end = i + 1 < field.count ? field.place(i + 1).head : field.text.size();
    field_entry entry;
    entry.numbered = true;
    entry.number = place.number;
    entry.head = field.text.substr(std::min<std::size_t>(place.head, field.text.size()),
                                   place.text - place.head);
    body_of(place.text, end, entry);
    visit(entry);
  }
}

// Appends "(#" number ":) " (or "(#body:) " when `body`) to the field and advances
// the counter: the head of an entry whose text and two spaces follow. A head that
// does not fit whole is kept as far as it fits, as text of the entry before it.
void append_entry_head(entry_field& field, int& counter, bool body);
// Appends "(#" counter ":) " text "  " and advances the counter.
void append_entry(entry_field& field, int& counter, std::string_view text);
// Makes the field empty.
void clear_entries(entry_field& field);

// The ten message fields of one file and the date parsed from its first Date
// (or Sent) line, in record order.
struct message_fields {
  // Asked for by the readable listing alone: the first Message-ID of the header
  // block, white space removed, and the first charset a Content-Type line names.
  // First, on the page the From field starts on: a scan touches no page more for
  // them.
  bounded_text<1000> message_id;
  bounded_text<64> charset;
  entry_field from;
  entry_field to;
  entry_field cc;
  entry_field bcc;
  entry_field date;
  parsed_date date_time;
  entry_field forward_date;
  entry_field subject;
  entry_field message_read;
  entry_field attachment_info;
  entry_field recent_ip;
};

// Sets every field to its value at the start of a file.
void reset_message_fields(message_fields& fields);

// Where a record's message stands in its file: the Message and Offset columns of
// a run that lists mailboxes (1 and 0 for a file that is no mailbox), and the
// Folder column of a run that lists Outlook data files (empty for other files).
// An Outlook message's offset is its item identifier.
struct message_place {
  int64_t number = 1;
  int64_t offset = 0;
  std::string_view folder;
};
